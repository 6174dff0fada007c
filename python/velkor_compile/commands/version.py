"""``velkor-compile version``: the compiler version and the backtest dependency."""

from __future__ import annotations

import argparse
from typing import IO, Any

from ..handles import _ask
from .shared import PROG, new_compiler

NAME = "version"


def add_parser(commands: Any) -> argparse.ArgumentParser:
    parser: argparse.ArgumentParser = commands.add_parser(
        NAME, help="print the version", description="Print the compiler version and the backtest dependency.")
    parser.add_argument("--json", action="store_true", help="print the response document")
    return parser


def run(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    answer_text, answer = _ask(new_compiler(), '{"cmd":"version"}')
    if args.json:
        out.write(answer_text + "\n")
    else:
        out.write(f"{PROG} {answer['version']} (generated projects use velkor-backtest {answer['backtest_dep']})\n")
    return 0
