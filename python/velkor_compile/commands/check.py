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

from ..errors import CompileError
from ..lint import Problem, Problems
from ..terminal import printable
from .file_problems import add_config_flag, lint_file, selection, strategy_files
from .problem_text import TextReport, omitted_text, plural

FORMATS = ("text", "json", "github")
# A problem's members in --format json, in the order the lint answer gives them.
PROBLEM_MEMBERS = ("severity", "code", "path", "line", "column", "message", "plain", "suggestion")

#: Problems listed per file unless --max-problems says otherwise.
DEFAULT_MAX_PROBLEMS = 100



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
    parser.add_argument("files", metavar="FILE", nargs="+",
                        help="strategy documents (JSON), or folders: every *.json file beneath them")
    parser.add_argument("--format", choices=FORMATS, default="text",
                        help="text (default), json (one document), github (workflow annotations)")
    parser.add_argument("--strict", action="store_true", help="exit with status 1 on warnings too")
    parser.add_argument("-q", "--quiet", action="store_true",
                        help="list only the problems that fail the check (errors; with --strict warnings too), "
                        "and no summary")
    add_config_flag(parser)
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


def _github_escape(text: str, *, property_value: bool = False) -> str:
    text = text.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A")
    if property_value:
        text = text.replace(":", "%3A").replace(",", "%2C")
    return text


def run(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    errors = warnings = 0
    results: list[dict[str, Any]] = []
    report = TextReport(out)
    chosen = selection(args)
    files = list(strategy_files(args.files))
    for path in files:
        try:
            if os.path.isdir(path):
                raise CompileError("io", "no .json files beneath this folder")
            found = lint_file(path, chosen, getattr(args, "max_problems", DEFAULT_MAX_PROBLEMS))
            problems, lines = found.problems, found.lines if found.problems else []
        except CompileError as error:
            problems, lines = Problems([Problem("error", "", 1, 1, error.message)]), []
        errors += problems.omitted_errors
        warnings += problems.omitted_warnings
        for p in problems:
            errors += p.severity == "error"
            warnings += p.severity == "warning"
            if args.quiet and p.severity == "warning" and not args.strict:
                continue
            if args.format == "text":
                report.problem(path, lines, p)
            elif args.format == "github":
                where = f" [{p.path}]" if p.path else ""
                title = f",title={_github_escape(p.code, property_value=True)}" if p.code else ""
                out.write(f"::{p.severity} file={_github_escape(printable(path), property_value=True)},line={p.line},"
                          f"col={p.column}{title}::{_github_escape(printable(p.words + where))}\n")
            else:
                members = ((k, getattr(p, k)) for k in PROBLEM_MEMBERS)
                results.append({"file": path, **{k: v for k, v in members if v is not None}})
        if problems.omitted:
            if args.format == "text":
                report.omitted(path, problems)
            elif args.format == "github":
                out.write(f"::notice file={_github_escape(printable(path), property_value=True)}::"
                          f"{_github_escape(f'and {omitted_text(problems)} not shown (--max-problems)')}\n")
            else:
                results.append({"file": path, "omitted": {"errors": problems.omitted_errors,
                                                          "warnings": problems.omitted_warnings}})
    if args.format == "json":
        out.write(json.dumps(results, ensure_ascii=False) + "\n")
    elif not args.quiet:
        out.write(f"{plural(errors, 'error')}, {plural(warnings, 'warning')} in {plural(len(files), 'file')}\n")
    return 1 if errors or (args.strict and warnings) else 0
