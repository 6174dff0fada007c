"""The handle each thread uses by default, and the answer path every Python
function takes: a command text to a handle, its answer parsed, an error
document raised as `CompileError`."""

from __future__ import annotations

import json
import threading
from typing import Any, Callable

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
    """The parsed answer to a command; an error document is raised as `CompileError`."""
    return _ask(compiler, text)[1]


def _ask(compiler: Compiler | None, text: str, stop: Callable[[], bool] | None = None) -> tuple[str, dict[str, Any]]:
    """The answer to a command (stopped when `stop` returns true) as written and
    as parsed. An error document is raised as `CompileError`, which keeps the
    document as written."""
    handle = compiler if compiler is not None else default_compiler()
    answer_text = handle.command(text) if stop is None else handle.command(text, stop=stop)
    answer = json.loads(answer_text)
    if not isinstance(answer, dict):  # every document the compiler writes is an object
        raise CompileError("error", f"unexpected answer: {answer!r}")
    if answer.get("ok") is False:
        # Raised as made, never held in a local: the traceback would keep this
        # frame, and the handle in it, alive past the thread that owns the handle.
        raise CompileError.from_document(answer_text, str(answer.get("error", "")))
    return answer_text, answer
