"""``velkor-compile check``: every problem of strategy files, as a compiler reports them.

Exit status: 1 when a file has an error (or cannot be read), and with --strict
when it has a warning; 0 otherwise. Problems left out past --max-problems count
towards it as the listed ones do.

Every line meant for a person shows control characters as escapes
(`terminal.printable`): a strategy's strings may hold any of them.
"""

from __future__ import annotations

import argparse
import json
import os
from typing import IO, Any

from ..api import CompileError, Problem, Problems, lint_text, read_input_file
from ..terminal import printable

FORMATS = ("text", "json", "github")

#: Problems listed per file unless --max-problems says otherwise.
DEFAULT_MAX_PROBLEMS = 100

#: The characters of a source line shown under a problem: a window around the
#: column, cut with an ellipsis, as compilers show a long line.
SOURCE_WIDTH = 160
ELLIPSIS = "..."

# ANSI styles, used only on a terminal and never when NO_COLOR is set.
STYLES = {"error": "\033[1;31m", "warning": "\033[1;33m", "help": "\033[1;36m", "bold": "\033[1m"}
RESET = "\033[0m"


NAME = "check"
# The report escapes what it prints itself: its JSON form is written as it is.
RAW_OUTPUT = True


def add_parser(commands: Any) -> argparse.ArgumentParser:
    parser: argparse.ArgumentParser = commands.add_parser(
        NAME,
        help="report every problem of strategy files, with positions and suggestions",
        description="Report every error and warning of each strategy file, with its line, column, JSON "
        "Pointer and the name probably meant. Exit status 1 when a file has an error (with --strict, "
        "also a warning), else 0.",
    )
    parser.add_argument("files", metavar="FILE", nargs="+", help="strategy documents (JSON)")
    parser.add_argument("--format", choices=FORMATS, default="text",
                        help="text (default), json (one document), github (workflow annotations)")
    parser.add_argument("--strict", action="store_true", help="exit with status 1 on warnings too")
    parser.add_argument("--max-problems", type=_count, default=DEFAULT_MAX_PROBLEMS, metavar="N",
                        help=f"list at most N problems a file and count the rest (default {DEFAULT_MAX_PROBLEMS})")
    return parser


def _count(text: str) -> int:
    try:
        n = int(text)
    except ValueError:
        n = -1
    if n < 0:
        raise argparse.ArgumentTypeError(f"expected a non-negative integer, got {text!r}")
    return n


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


def _read(path: str) -> str:
    """A file's text as written (a byte-order mark dropped); only regular files are read."""
    try:
        return read_input_file(path).decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise CompileError("io", f"reading {path}: not valid UTF-8 at byte {error.start}") from None


def _github_escape(text: str, *, property_value: bool = False) -> str:
    text = text.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A")
    if property_value:
        text = text.replace(":", "%3A").replace(",", "%2C")
    return text


class TextReport:
    def __init__(self, out: IO[str]) -> None:
        self.out = out
        self.colour = _use_colour(out)

    def style(self, name: str, text: str) -> str:
        return f"{STYLES[name]}{text}{RESET}" if self.colour else text

    def problem(self, path: str, lines: list[str], p: Problem) -> None:
        where = f" [{printable(p.path)}]" if p.path else ""
        self.out.write(f"{self.style('bold', f'{printable(path)}:{p.line}:{p.column}:')} "
                       f"{self.style(p.severity, p.severity + ':')} {printable(p.message)}{where}\n")
        if 1 <= p.line <= len(lines):
            source, pad = source_window(lines[p.line - 1], p.column)
            self.out.write(f"  {source}\n  {pad}{self.style(p.severity, '^')}\n")
        if p.suggestion is not None:
            self.out.write(f"  {self.style('help', 'help:')} did you mean `{printable(p.suggestion)}`?\n")

    def omitted(self, path: str, problems: Problems) -> None:
        self.out.write(f"{self.style('bold', printable(path) + ':')} and {_omitted_text(problems)} not shown "
                       f"(--max-problems)\n")


def _plural(n: int, word: str) -> str:
    return f"{n} {word}{'s' * (n != 1)}"


def _omitted_text(problems: Problems) -> str:
    return (f"{_plural(problems.omitted, 'more problem')} ({_plural(problems.omitted_errors, 'error')}, "
            f"{_plural(problems.omitted_warnings, 'warning')})")


def run(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    errors = warnings = 0
    results: list[dict[str, Any]] = []
    report = TextReport(out)
    for path in args.files:
        try:
            text = _read(path)
            problems = lint_text(text, max_problems=getattr(args, "max_problems", DEFAULT_MAX_PROBLEMS))
            # The core counts lines at "\n" alone, not at every break str.splitlines knows.
            lines = text.split("\n")
        except CompileError as error:
            problems, lines = Problems([Problem("error", "", 1, 1, error.message)]), []
        errors += problems.omitted_errors
        warnings += problems.omitted_warnings
        for p in problems:
            errors += p.severity == "error"
            warnings += p.severity == "warning"
            if args.format == "text":
                report.problem(path, lines, p)
            elif args.format == "github":
                where = f" [{p.path}]" if p.path else ""
                out.write(f"::{p.severity} file={_github_escape(printable(path), property_value=True)},line={p.line},"
                          f"col={p.column}::{_github_escape(printable(p.message + where))}\n")
            else:
                results.append({"file": path, **{k: v for k, v in vars(p).items() if v is not None}})
        if problems.omitted:
            if args.format == "text":
                report.omitted(path, problems)
            elif args.format == "github":
                out.write(f"::notice file={_github_escape(printable(path), property_value=True)}::"
                          f"{_github_escape(f'and {_omitted_text(problems)} not shown (--max-problems)')}\n")
            else:
                results.append({"file": path, "omitted": {"errors": problems.omitted_errors,
                                                          "warnings": problems.omitted_warnings}})
    if args.format == "json":
        out.write(json.dumps(results, ensure_ascii=False) + "\n")
    else:
        files = len(args.files)
        out.write(f"{_plural(errors, 'error')}, {_plural(warnings, 'warning')} in {_plural(files, 'file')}\n")
    return 1 if errors or (args.strict and warnings) else 0
