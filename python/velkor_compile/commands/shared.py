"""What the subcommands share: the handle they ask, and how errors and JSON
documents are written. A failure reaches `main` as the `CompileError` the
answer path raises (with the error document the compiler answered, which
--json prints as it came), or as the `PanicException` of an internal fault."""

from __future__ import annotations

import argparse
import json
import re
import sys
from typing import Any

from .._velkor_compile import Compiler, PanicException
from ..api import CompileError, targets
from ..terminal import printable

PROG = "velkor-compile"
OUT_OF_MEMORY = "out of memory"
LONE_SURROGATE = re.compile("[\ud800-\udfff]")


def new_compiler() -> Compiler:
    """A handle for the calling thread (a handle is bound to the thread that made it)."""
    return Compiler()


def allowed_mcus() -> list[str]:
    """The mcu allowlist, for a hint; empty when the compiler cannot say."""
    try:
        return targets(compiler=new_compiler())["mcus"]
    except (CompileError, PanicException):  # no hint is better than a second fault
        return []


def target_label(target: dict[str, Any]) -> str:
    kind = str(target.get("kind"))
    return f"{kind} ({target['mcu']})" if "mcu" in target else kind


def add_quiet(parser: argparse.ArgumentParser, meaning: str) -> None:
    parser.add_argument("-q", "--quiet", action="store_true", help=meaning)


def error_document(message: str) -> str:
    """An error document in the compiler's own text form.

    A lone surrogate (from a file name that is not UTF-8) is written as its
    escape, so that the text can be written as UTF-8 and read back.
    """
    return json_line({"ok": False, "error": message})


def json_line(value: Any) -> str:
    """Compact JSON text that can be written as UTF-8 whatever the file names in it hold."""
    text = json.dumps(value, ensure_ascii=False, separators=(",", ":"))
    return LONE_SURROGATE.sub(lambda found: f"\\u{ord(found.group()):04x}", text)


def report(message: str, as_json: bool = False, document: str | None = None) -> None:
    """Reports an error: one line on stderr, and with --json one error document on
    stdout (the compiler's own when it answered one)."""
    if as_json:
        print_document(document if document is not None else error_document(message))
    sys.stdout.flush()
    # A failed build's message is cargo's error output: its lines and indents are kept.
    keep = "\n\t" if message.startswith("build: ") else ""
    sys.stderr.write(f"{PROG}: {printable(message.rstrip(), keep)}\n")
    sys.stderr.flush()


def print_document(text: str) -> None:
    sys.stdout.write(text + "\n")
    sys.stdout.flush()
