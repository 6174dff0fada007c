"""The shape of a document as an editor holds it: which object member or array
element a place lies in, and where the members of the outer levels are.

The text in an editor is often broken (a member half typed, a quote not yet
closed), so it is read token by token without judging it: a string ends at
its closing quote or at the line's end, anything that is not punctuation or a
string is one word, and brackets open and close levels as they come. The
levels are kept in a list, not by recursion, so no nesting is too deep. The
core remains the judge of what the text means.
"""

from __future__ import annotations

import json
import re
from dataclasses import dataclass, field
from typing import Iterator, Union

Step = Union[str, int]

# The walk takes about half a second for each megabyte: completion, hover and
# the outline are given for documents up to this many characters, diagnostics
# and formatting for every document.
WALK_LIMIT = 2_000_000

TOKEN = re.compile(r'"(?:[^"\\\n]|\\.)*"?|[{}\[\]:,]|[^\s{}\[\]:,"]+')


def tokens(text: str, start: int = 0, end: int | None = None) -> Iterator[re.Match[str]]:
    """The tokens of `text` between two offsets."""
    return TOKEN.finditer(text, start, len(text) if end is None else end)


def token_at(text: str, offset: int) -> tuple[int, int]:
    """The span of the token that starts at `offset`, or an empty span there."""
    match = TOKEN.match(text, offset)
    return (offset, match.end()) if match else (offset, offset)


def string_value(token: str) -> str:
    """The text a string token stands for, as far as it can be read."""
    body = token[1:-1] if len(token) > 1 and token.endswith('"') else token[1:]
    if "\\" not in body:
        return body
    try:
        decoded: str = json.loads('"' + body + '"')
        return decoded
    except ValueError:
        return body


@dataclass
class Level:
    """An open object or array: where it is, and what is expected next in it."""

    kind: str  # "{" or "["
    step: Step | None  # the key or index it is the value of; None at the root
    key: str | None = None
    key_span: tuple[int, int] = (0, 0)
    index: int = 0
    expect: str = "value"  # "key", "colon", "value" or "comma"
    # The members seen so far in an object, with the text of their scalar values.
    present: dict[str, str | None] = field(default_factory=dict)

    def child_step(self) -> Step:
        return self.key if self.kind == "{" and self.key is not None else self.index


@dataclass
class Member:
    """An object member of the outer levels: its path, key span and value span."""

    path: list[Step]
    key_span: tuple[int, int]
    span: tuple[int, int]


class Walk:
    """Follows the tokens of a text, keeping the open levels; records the
    members of objects up to `depth` levels deep."""

    def __init__(self, text: str, depth: int = 0) -> None:
        self.text = text
        self.levels: list[Level] = []
        self.depth = depth
        self.members: list[Member] = []

    def run(self, end: int | None = None, stop_inside: bool = False) -> re.Match[str] | None:
        """Follows the tokens that end before `end`; with `stop_inside`, returns
        the string or word that `end` lies in or just after, if any."""
        for match in tokens(self.text, 0, end):
            if stop_inside and end is not None and match.end() >= end and match.group()[0] not in "{}[]:,":
                return TOKEN.match(self.text, match.start())  # the whole token, past `end`
            self.feed(match)
        return None

    def feed(self, match: re.Match[str]) -> None:
        token, start, end = match.group(), match.start(), match.end()
        level = self.levels[-1] if self.levels else None
        if token in "{[":
            self._value_begins(level)
            step = level.child_step() if level else None
            self.levels.append(Level(token, step, expect="key" if token == "{" else "value"))
        elif token in "}]":
            if self.levels:
                self.levels.pop()
                self._value_ends(self.levels[-1] if self.levels else None, end, None)
        elif level is None:
            return
        elif token == ":":
            if level.expect == "colon":
                level.expect = "value"
        elif token == ",":
            if level.kind == "{":
                level.expect = "key"
            else:
                level.index += 1
                level.expect = "value"
        elif level.kind == "{" and level.expect in ("key", "comma") and token[0] == '"':
            level.key = string_value(token)
            level.key_span = (start, end)
            level.present.setdefault(level.key, None)
            level.expect = "colon"
        elif level.expect == "value":
            self._value_begins(level)
            self._value_ends(level, end, token)

    def _value_begins(self, level: Level | None) -> None:
        if level is not None and level.expect == "value":
            level.expect = "comma"

    def _value_ends(self, level: Level | None, end: int, token: str | None) -> None:
        if level is None or level.kind != "{" or level.key is None:
            return
        if token is not None:
            level.present[level.key] = token
        if len(self.levels) <= self.depth:
            self.members.append(Member(self.path() + [level.key], level.key_span, (level.key_span[0], end)))

    def path(self) -> list[Step]:
        """The path of the innermost open level. Levels keep only their own
        step, so that deep nesting costs no copies of the steps above."""
        return [level.step for level in self.levels[1:] if level.step is not None]


@dataclass
class Place:
    """Where a cursor is: in the object or array at `path`, at a key or a value.

    `step` is the member's key or the element's index a value belongs to
    (None at a key); `span` is the string or word the cursor is in, to be
    replaced by a completion; `present` the members of the object so far."""

    path: list[Step]
    at_key: bool
    step: Step | None
    span: tuple[int, int]
    present: dict[str, str | None]


def place_at(text: str, offset: int) -> Place | None:
    """Where `offset` is in `text`; None outside every object and array."""
    walk = Walk(text)
    inside = walk.run(offset, stop_inside=True)
    if not walk.levels:
        return None
    level = walk.levels[-1]
    span = (inside.start(), inside.end()) if inside else (offset, offset)
    if level.kind == "{":
        typing_key = inside is not None and inside.group()[0] == '"' and level.expect in ("key", "comma")
        if level.expect == "key" or typing_key:
            return Place(walk.path(), True, None, span, level.present)
        if level.expect == "value" or (level.expect == "comma" and inside is not None):
            return Place(walk.path(), False, level.key, span, level.present)
        return None
    index = level.index + (1 if level.expect == "comma" and inside is None else 0)
    return Place(walk.path(), False, index, span, {})


def outline(text: str, depth: int = 2) -> list[Member]:
    """The members of the objects `depth` levels deep, in document order of their ends."""
    walk = Walk(text, depth)
    walk.run()
    return walk.members
