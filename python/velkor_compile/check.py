"""``velkor-compile check``: every problem of strategy files, as a compiler reports them.

Exit status: 1 when a file has an error (or cannot be read), and with --strict
when it has a warning; 0 otherwise.
"""

from __future__ import annotations

import argparse
import json
import os
from typing import IO, Any

from .api import CompileError, Problem, lint_text, read_input_file

FORMATS = ("text", "json", "github")

# ANSI styles, used only on a terminal and never when NO_COLOR is set.
STYLES = {"error": "\033[1;31m", "warning": "\033[1;33m", "help": "\033[1;36m", "bold": "\033[1m"}
RESET = "\033[0m"


def add_parser(commands: Any) -> argparse.ArgumentParser:
    """Adds the `check` subcommand to the command line's subparsers."""
    parser: argparse.ArgumentParser = commands.add_parser(
        "check",
        help="report every problem of strategy files, with positions and suggestions",
        description="Report every error and warning of each strategy file, with its line, column, JSON "
        "Pointer and the name probably meant. Exit status 1 when a file has an error (with --strict, "
        "also a warning), else 0.",
    )
    parser.add_argument("files", metavar="FILE", nargs="+", help="strategy documents (JSON)")
    parser.add_argument("--format", choices=FORMATS, default="text",
                        help="text (default), json (one document), github (workflow annotations)")
    parser.add_argument("--strict", action="store_true", help="exit with status 1 on warnings too")
    parser.set_defaults(handler=run_check, parser=parser)
    return parser


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
        where = f" [{p.path}]" if p.path else ""
        self.out.write(f"{self.style('bold', f'{path}:{p.line}:{p.column}:')} "
                       f"{self.style(p.severity, p.severity + ':')} {p.message}{where}\n")
        if 1 <= p.line <= len(lines):
            source = lines[p.line - 1]
            # The caret lines up under the column whatever tabs the line holds.
            pad = "".join("\t" if ch == "\t" else " " for ch in source[: p.column - 1])
            self.out.write(f"  {source}\n  {pad}{self.style(p.severity, '^')}\n")
        if p.suggestion is not None:
            self.out.write(f"  {self.style('help', 'help:')} did you mean `{p.suggestion}`?\n")


def run_check(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    errors = warnings = 0
    results: list[dict[str, Any]] = []
    report = TextReport(out)
    for path in args.files:
        try:
            text = _read(path)
            problems = lint_text(text)
            lines = text.splitlines()
        except CompileError as error:
            problems, lines = [Problem("error", "", 1, 1, error.message)], []
        for p in problems:
            errors += p.severity == "error"
            warnings += p.severity == "warning"
            if args.format == "text":
                report.problem(path, lines, p)
            elif args.format == "github":
                where = f" [{p.path}]" if p.path else ""
                out.write(f"::{p.severity} file={_github_escape(path, property_value=True)},line={p.line},"
                          f"col={p.column}::{_github_escape(p.message + where)}\n")
            else:
                results.append({"file": path, **{k: v for k, v in vars(p).items() if v is not None}})
    if args.format == "json":
        out.write(json.dumps(results, ensure_ascii=False) + "\n")
    else:
        files = len(args.files)
        out.write(f"{errors} error{'s' * (errors != 1)}, {warnings} warning{'s' * (warnings != 1)} "
                  f"in {files} file{'s' * (files != 1)}\n")
    return 1 if errors or (args.strict and warnings) else 0
