"""``velkor-compile validate``: whether each strategy file is valid, with the first fault of each that is not."""

from __future__ import annotations

import argparse
from typing import IO, Any

from ..api import VALIDATE_CRATE_NAME, CompileError
from ..request import _compile_request
from .shared import PROG, Failure, add_quiet, command, json_line, new_compiler

NAME = "validate"
STRATEGY_PREFIX = "strategy is not a valid StrategySpec: "


def add_parser(commands: Any) -> argparse.ArgumentParser:
    parser: argparse.ArgumentParser = commands.add_parser(
        NAME,
        help="check strategy files",
        description="Check each strategy file; print the first fault of each invalid one.",
    )
    parser.add_argument("strategies", metavar="STRATEGY.json", nargs="+", help="strategy documents")
    parser.add_argument("--json", action="store_true",
                        help='print one JSON line per file: {"path":FILE,"valid":BOOL} and "error" when invalid')
    add_quiet(parser, "print nothing for valid files")
    return parser


def run(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    compiler = new_compiler()
    status = 0
    for path in args.strategies:
        try:
            request = _compile_request(path, target="binary", mcu=None, opt_level=None, crate_name=VALIDATE_CRATE_NAME,
                                       csv=None, candles=None, out_dir=None, dry_run=True)
            _, answer = command(compiler, request.text())
            if answer.get("ok") is False:
                raise request.name_option(CompileError.from_message(str(answer.get("error"))))
            message = None
        except CompileError as error:
            message = _validation_message(path, error)
        except Failure as failure:  # an internal fault on this file; the others are still checked
            message = f"{path}: {failure}"
        if message is not None:
            err.write(f"{PROG}: {message}\n")
            status = 1
        if args.json:
            out.write(_validation_line(path, message) + "\n")
        elif message is None and not args.quiet:
            out.write(f"{path}: valid\n")
    return status


def _validation_message(path: str, error: CompileError) -> str:
    """The message for one file's fault, naming the file."""
    if error.kind == "bad spec" and error.message.startswith(STRATEGY_PREFIX):
        return f"{path}: not a valid strategy: {error.message[len(STRATEGY_PREFIX):]}"
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
