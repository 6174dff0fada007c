"""Places in a document: character offsets, the core's lines and columns, and
the client's positions.

The core numbers lines from 1 (a line ends at "\\n") and counts columns in
characters from 1. The protocol numbers both from 0 and counts columns in the
code units of the position encoding agreed at initialisation: UTF-16 unless
the client offered another one, so that a character outside the Basic
Multilingual Plane (an emoji) is two units there, one character here.
"""

from __future__ import annotations

import bisect
import re
from itertools import accumulate

from lsprotocol.types import Position

UTF8 = "utf-8"
UTF16 = "utf-16"
UTF32 = "utf-32"

# The protocol ends a line at "\r\n", "\r" or "\n"; the core only at "\n".
_CLIENT_LINE_END = re.compile("\r\n|\r|\n")


def units(text: str, encoding: str) -> int:
    """How many code units of `encoding` the characters of `text` take."""
    if encoding == UTF32:
        return len(text)
    if encoding == UTF8:
        return len(text.encode("utf-8", "surrogatepass"))
    return len(text.encode("utf-16-le", "surrogatepass")) // 2


def characters(line: str, count: int, encoding: str) -> int:
    """How many characters of `line` the first `count` code units cover (a
    count that splits a character covers it; one past the end stops there)."""
    if encoding == UTF32:
        return min(count, len(line))
    seen = 0
    for index, char in enumerate(line):
        if seen >= count:
            return index
        seen += units(char, encoding)
    return len(line)


class Lines:
    """The lines of a text, as the core counts them or (`client`) as the
    protocol does, to turn offsets into positions and back."""

    def __init__(self, text: str, client: bool = False) -> None:
        self.text = text
        if client and "\r" in text:
            self.starts = [0]
            self.ends: list[int] = []
            for match in _CLIENT_LINE_END.finditer(text):
                self.ends.append(match.start())
                self.starts.append(match.end())
            self.ends.append(len(text))
        else:  # one character ends each line: counted in C, megabytes in milliseconds
            self.starts = list(accumulate(map((1).__add__, map(len, text.split("\n"))), initial=0))[:-1]
            self.ends = [start - 1 for start in self.starts[1:]] + [len(text)]

    def line_text(self, line: int) -> str:
        """Line `line` (0-based) without its line end; "" past the end."""
        if not 0 <= line < len(self.starts):
            return ""
        return self.text[self.starts[line]:self.ends[line]]

    def offset(self, line: int, column: int) -> int:
        """The offset of a 0-based line and character column, kept within the text."""
        if line >= len(self.starts):
            return len(self.text)
        line = max(line, 0)
        return min(self.starts[line] + max(column, 0), self.ends[line])

    def offset_of(self, position: Position, encoding: str) -> int:
        """The offset a client position names."""
        line_text = self.line_text(position.line)
        return self.offset(position.line, characters(line_text, position.character, encoding))

    def position(self, offset: int, encoding: str) -> Position:
        """The client position of an offset."""
        offset = min(max(offset, 0), len(self.text))
        line = bisect.bisect_right(self.starts, offset) - 1
        return Position(line, units(self.text[self.starts[line]:offset], encoding))
