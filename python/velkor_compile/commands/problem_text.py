"""How a problem of a strategy file reads in text, as compilers print theirs:
`FILE:LINE:COLUMN: warning[CODE]: message [pointer]`, the source line with a
caret under the column, and the name probably meant.

Every line shows control characters as escapes (`terminal.printable`): a
strategy's strings may hold any of them.
"""

from __future__ import annotations

import os
from typing import IO

from ..lint import Problem, Problems
from ..terminal import printable

#: The characters of a source line shown under a problem: a window around the
#: column, cut with an ellipsis, as compilers show a long line.
SOURCE_WIDTH = 160
ELLIPSIS = "..."

# ANSI styles, used only on a terminal and never when NO_COLOR is set.
STYLES = {"error": "\033[1;31m", "warning": "\033[1;33m", "help": "\033[1;36m", "bold": "\033[1m"}
RESET = "\033[0m"


def source_window(line: str, column: int, width: int = SOURCE_WIDTH) -> tuple[str, str]:
    """The part of `line` shown around `column` (1-based, in characters) and
    the padding that puts a caret under it, both made printable.

    A line longer than `width` characters is cut to `width` of them around the
    column, an ellipsis standing for each cut end. The padding keeps the
    line's tabs and is as wide as what the line shows before the column (an
    escaped control character included), so the caret stays under it.
    """
    if line.endswith("\r"):  # the rest of a CRLF line break
        line = line[:-1]
    at = min(max(column - 1, 0), len(line))
    start, end = 0, len(line)
    if len(line) > width:
        start = min(max(at - width // 2, 0), len(line) - width)
        end = start + width
    before = line[start:at]
    shown = printable(line[start:end], keep="\t")
    pad = "".join("\t" if ch == "\t" else " " * len(printable(ch)) for ch in before)
    if start > 0:
        shown, pad = ELLIPSIS + shown, " " * len(ELLIPSIS) + pad
    if end < len(line):
        shown += ELLIPSIS
    return shown, pad


def _use_colour(out: IO[str]) -> bool:
    if os.environ.get("NO_COLOR"):
        return False
    isatty = getattr(out, "isatty", None)
    return bool(isatty and isatty())


def label(p: Problem) -> str:
    """"warning[VK101]", or the bare severity for a problem without a rule code."""
    return f"{p.severity}[{p.code}]" if p.code else p.severity


class TextReport:
    """Problems in text, each with its source line; `out` may be stdout or stderr."""

    def __init__(self, out: IO[str]) -> None:
        self.out = out
        self.colour = _use_colour(out)

    def style(self, name: str, text: str) -> str:
        return f"{STYLES[name]}{text}{RESET}" if self.colour else text

    def problem(self, path: str, lines: list[str], p: Problem) -> None:
        where = f" [{printable(p.path)}]" if p.path else ""
        self.out.write(f"{self.style('bold', f'{printable(path)}:{p.line}:{p.column}:')} "
                       f"{self.style(p.severity, label(p) + ':')} {printable(p.words)}{where}\n")
        # A problem of the market data lies in another file: no line of this one is shown.
        if 1 <= p.line <= len(lines) and not p.path.startswith("/embed_data"):
            source, pad = source_window(lines[p.line - 1], p.column)
            # A line a write: a stream for people escapes every other line feed.
            self.out.write(f"  {source}\n")
            self.out.write(f"  {pad}{self.style(p.severity, '^')}\n")
        if p.suggestion is not None:
            self.out.write(f"  {self.style('help', 'help:')} did you mean `{printable(p.suggestion)}`?\n")

    def omitted(self, path: str, problems: Problems) -> None:
        self.out.write(f"{self.style('bold', printable(path) + ':')} and {omitted_text(problems)} not shown "
                       f"(--max-problems)\n")


def plural(n: int, word: str) -> str:
    return f"{n} {word}{'s' * (n != 1)}"


def omitted_text(problems: Problems) -> str:
    return (f"{plural(problems.omitted, 'more problem')} ({plural(problems.omitted_errors, 'error')}, "
            f"{plural(problems.omitted_warnings, 'warning')})")
