"""``velkor-compile serve``: one answer line for each command line read from stdin."""

from __future__ import annotations

import argparse
import sys
from typing import IO, Any

from .._velkor_compile import Compiler, PanicException
from .shared import OUT_OF_MEMORY, error_document, new_compiler

NAME = "serve"
# Answers are the compiler's documents, written as they come.
RAW_OUTPUT = True


def add_parser(commands: Any) -> argparse.ArgumentParser:
    parser: argparse.ArgumentParser = commands.add_parser(
        NAME,
        help="answer command documents read from stdin, one per line",
        description="Read one command document per line on stdin and write one response per line on stdout, "
        "in order, flushed after each, all on one compiler handle. A blank line is answered with the "
        "envelope error; a line that is not UTF-8, or whose handling fails, with an error document. "
        "Ends at end of input.",
    )
    return parser


def run(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    out.flush()
    return serve(sys.stdin.buffer, sys.stdout.buffer)


def serve(stdin: IO[bytes], stdout: IO[bytes]) -> int:
    """Answers one command document per input line with one response line.

    Every line is answered, in order, and the answer is flushed before the next
    line is read. A line is the text up to a line feed (which is removed; a
    carriage return before it is JSON whitespace and left to the compiler); the
    last line may lack its line feed. A blank line is answered like any other
    text, with the envelope error. A line that is not valid UTF-8 cannot be a
    JSON text and is answered with an error document saying so; a line whose
    reading or handling fails (memory exhausted, an internal fault) is answered
    with an "internal fault" error document, and serving goes on. Only an
    interrupt or a closed output ends it early.
    """
    compiler = new_compiler()
    while (line := _next_line(stdin)) != b"":
        stdout.write(_answer_line(compiler, line))
        stdout.write(b"\n")
        stdout.flush()
    return 0


# Lines are read in pieces of at most this many bytes, so that a line too long
# to hold in memory fails between pieces, where the rest of it can be skipped.
LINE_PIECE = 1 << 20


def _next_line(stdin: IO[bytes]) -> bytes | None:
    """The next line with its line feed, b"" at the end of input, or None for a
    line that could not be held in memory (read and dropped up to its end)."""
    pieces: list[bytes] = []
    ended = False
    try:
        while not ended:
            piece = stdin.readline(LINE_PIECE)
            if not piece:
                break
            ended = piece.endswith(b"\n")
            pieces.append(piece)
        return b"".join(pieces)
    except MemoryError:
        pieces.clear()
        while not ended:
            piece = stdin.readline(LINE_PIECE)
            ended = not piece or piece.endswith(b"\n")
        return None


def _answer_line(compiler: Compiler, line: bytes | None) -> bytes:
    """The UTF-8 answer to one line: the compiler's, or an error document when none can be had."""
    if line is None:
        return error_document(f"internal fault: {OUT_OF_MEMORY}").encode("utf-8")
    try:
        end = len(line) - 1 if line.endswith(b"\n") else len(line)
        try:
            text = str(memoryview(line)[:end], "utf-8")  # no copy of a long line
        except UnicodeDecodeError as fault:
            return error_document(f"invalid command text: not valid UTF-8 at byte {fault.start}").encode("utf-8")
        return compiler.command(text).encode("utf-8")
    except PanicException as fault:
        return error_document(f"internal fault: {fault}").encode("utf-8")
    except MemoryError:
        return error_document(f"internal fault: {OUT_OF_MEMORY}").encode("utf-8")
    except Exception as fault:  # noqa: BLE001 - one line's failure must not end serving
        return error_document(f"internal fault: {type(fault).__name__}: {fault}").encode("utf-8")
