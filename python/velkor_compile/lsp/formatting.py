"""Formatting: a document in one stable, readable layout, its meaning untouched.

Only the whitespace between tokens changes: every string, number and literal
is kept exactly as written (so `1.0` stays `1.0` and a repeated key stays
repeated), members and elements go on lines of their own indented by two
spaces, and an array of plain values stays on one line when it fits. Text
that is not JSON is left alone: its layout may be all that tells what the
author meant.
"""

from __future__ import annotations

from lsprotocol import types

from ..input_files import value_fault
from ..request import reads_as_json
from .positions import Lines
from .structure import tokens

INDENT = "  "
# An array of plain values stays on one line when the line is no longer than this.
WIDTH = 80


def is_json(text: str) -> bool:
    """Whether the compiler reads `text` as one JSON value: checked first to
    be one as far as its brackets and strings tell, so that the text cannot
    add members to the command it is spliced into."""
    try:
        raw = text.encode("utf-8")
    except UnicodeEncodeError:  # a lone surrogate: no JSON text holds one
        return False
    return value_fault(raw) is None and reads_as_json(text)


def formatted(text: str) -> str | None:
    """The formatted text, or None when `text` is not one JSON value."""
    if not is_json(text):
        return None
    words = [match.group() for match in tokens(text)]
    out: list[str] = []
    depth = column = 0

    def emit(piece: str) -> None:
        nonlocal column
        out.append(piece)
        column += len(piece)

    def new_line() -> None:
        nonlocal column
        out.append("\n" + INDENT * depth)
        column = len(INDENT) * depth

    index = 0
    while index < len(words):
        word = words[index]
        if word in "{[":
            closer = "}" if word == "{" else "]"
            inline = _plain_array(words, index) if word == "[" else None
            if words[index + 1] == closer:
                emit(word + closer)
                index += 1
            elif inline is not None and column + len(inline[0]) <= WIDTH:
                emit(inline[0])
                index = inline[1]
            else:
                emit(word)
                depth += 1
                new_line()
        elif word in "}]":
            depth -= 1
            new_line()
            emit(word)
        elif word == ",":
            emit(",")
            new_line()
        elif word == ":":
            emit(": ")
        else:
            emit(word)
        index += 1
    return "".join(out) + "\n"


def _plain_array(words: list[str], start: int) -> tuple[str, int] | None:
    """The one-line text of the array opening at `start` and the index of its
    closing bracket, when it holds only plain values."""
    parts: list[str] = []
    for index in range(start + 1, len(words)):
        word = words[index]
        if word == "]":
            return "[" + "".join(parts) + "]", index
        if word in "{[":
            return None
        parts.append(", " if word == "," else word)
    return None


def format_edits(text: str, encoding: str) -> list[types.TextEdit] | None:
    """The edits that format a document: none when it is formatted already,
    None when it is not JSON."""
    result = formatted(text)
    if result is None:
        return None
    if result == text:
        return []
    lines = Lines(text, client=True)
    end = lines.position(len(text), encoding)
    return [types.TextEdit(range=types.Range(types.Position(0, 0), end), new_text=result)]
