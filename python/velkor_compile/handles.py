"""The handle each thread uses by default, and the answer path every Python
function takes: a command text to a handle, its answer parsed, an error
document raised as `CompileError`."""

from __future__ import annotations

import json
import threading
from typing import Any

from ._velkor_compile import Compiler
from .errors import CompileError

_per_thread = threading.local()


def default_compiler() -> Compiler:
    """This thread's default handle, created on first use."""
    handle: Compiler | None = getattr(_per_thread, "compiler", None)
    if handle is None:
        handle = Compiler()
        _per_thread.compiler = handle
    return handle


def _answer(compiler: Compiler | None, text: str) -> dict[str, Any]:
    handle = compiler if compiler is not None else default_compiler()
    answer = json.loads(handle.command(text))
    if not isinstance(answer, dict):  # every document the compiler writes is an object
        raise CompileError("error", f"unexpected answer: {answer!r}")
    if answer.get("ok") is False:
        raise CompileError.from_message(str(answer.get("error", "")))
    return answer
