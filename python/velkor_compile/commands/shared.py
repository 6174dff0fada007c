"""What the subcommands share: the failure they raise, the handle they ask,
and how errors and JSON documents are written."""

from __future__ import annotations

import argparse
import json
import re
import sys
from typing import Any, Callable

from .._velkor_compile import Compiler, PanicException
from ..terminal import printable

PROG = "velkor-compile"
OUT_OF_MEMORY = "out of memory"
LONE_SURROGATE = re.compile("[\ud800-\udfff]")


class Failure(Exception):
    """A domain error to report on stderr and exit with status 1.

    `document` is the error document the compiler answered, when it did: with
    --json it is printed as it came. `detail` is the full message when the one
    printed is shorter: the hints are read from it.
    """

    def __init__(self, message: str, document: str | None = None, detail: str | None = None) -> None:
        super().__init__(message)
        self.document = document
        # The whole of a message shortened for the user (cargo's error shown live already), for the hints.
        self.detail = detail


def new_compiler() -> Compiler:
    """A handle for the calling thread (a handle is bound to the thread that made it)."""
    return Compiler()


def command(compiler: Compiler, text: str, stop: Callable[[], bool] | None = None) -> tuple[str, dict[str, Any]]:
    """Runs one command (stopped when `stop` returns true); returns the answer text and the parsed answer."""
    try:
        answer_text = compiler.command(text) if stop is None else compiler.command(text, stop=stop)
    except PanicException as fault:
        raise Failure(f"internal fault: {fault}") from None
    answer: dict[str, Any] = json.loads(answer_text)
    return answer_text, answer


def allowed_mcus() -> list[str]:
    """The mcu allowlist, for a hint; empty when the compiler cannot say."""
    try:
        _, answer = command(new_compiler(), '{"cmd":"targets"}')
    except Failure:  # no hint is better than a second fault
        return []
    return [str(mcu) for mcu in answer["mcus"]]


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
