"""``velkor-compile validate``: whether each strategy file is valid, with the
first fault of each that is not; the warnings of each on stderr first, as
`check` prints them (unless -q), and with --strict a file with a warning fails."""

from __future__ import annotations

import argparse
from typing import IO, Any

from .._velkor_compile import Compiler, PanicException
from ..api import VALIDATE_CRATE_NAME, CompileError
from ..request import CompileOptions, _compile_request
from .file_problems import (FileLint, add_config_flag, is_refusal, lint_file, print_warnings, refusal_message,
                            selection, strict_refusal, warnings_of)
from .shared import PROG, add_quiet, json_line, new_compiler

NAME = "validate"


def add_parser(commands: Any) -> argparse.ArgumentParser:
    parser: argparse.ArgumentParser = commands.add_parser(
        NAME,
        help="check strategy files",
        description="Check each strategy file; print the first fault of each invalid one.",
    )
    parser.add_argument("strategies", metavar="STRATEGY.json", nargs="+", help="strategy documents")
    parser.add_argument("--json", action="store_true",
                        help='print one JSON line per file: {"path":FILE,"valid":BOOL} and "error" when invalid')
    add_quiet(parser, "print nothing for valid files, and no warnings")
    parser.add_argument("--strict", action="store_true", help="a file with a warning fails too")
    add_config_flag(parser)
    return parser


def run(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    compiler = new_compiler()
    chosen = selection(args)
    status = 0
    for path in args.strategies:
        found: FileLint | None = None
        try:
            found = lint_file(path, chosen)
            if not args.quiet:
                print_warnings(path, found)
            message = _verdict(compiler, path, found, args.strict)
        except CompileError as error:
            message = _validation_message(path, error, found)
        except PanicException as fault:  # an internal fault on this file; the others are still checked
            message = f"{path}: internal fault: {fault}"
        if message is not None:
            err.write(f"{PROG}: {message}\n")
            status = 1
        if args.json:
            out.write(_validation_line(path, message) + "\n")
        elif message is None and not args.quiet:
            out.write(f"{path}: valid\n")
    return status


def _verdict(compiler: Compiler, path: str, found: FileLint, strict: bool) -> str | None:
    """None for a valid file, else what is wrong. Lint finds no error exactly
    when the compile check accepts, so only a file with an error is compiled,
    for the check's own reason (a dry run, under a valid crate name)."""
    problems = found.problems
    if problems.omitted_errors or any(p.severity == "error" for p in problems):
        _compile_request(path, CompileOptions(crate_name=VALIDATE_CRATE_NAME, dry_run=True)).ask(compiler)
    warnings = len(warnings_of(found)) + problems.omitted_warnings
    return strict_refusal(path, warnings) if strict and warnings else None


def _validation_message(path: str, error: CompileError, found: FileLint | None) -> str:
    """The message for one file's fault, naming the file."""
    if is_refusal(error):
        return f"{path}: {refusal_message(path, error, found)}"
    if error.kind in ("io", "parse"):  # written by the file reader, with the file's name
        return error.text
    return f"{path}: {error.text}"


def _validation_line(path: str, message: str | None) -> str:
    """One file's verdict as one JSON line: {"path":..,"valid":true}, or with
    "valid":false the message the stderr line carries."""
    verdict: dict[str, Any] = {"path": path, "valid": message is None}
    if message is not None:
        verdict["error"] = message
    return json_line(verdict)
