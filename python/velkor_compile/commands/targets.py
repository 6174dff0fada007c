"""``velkor-compile targets``: the target kinds and the triples --mcu accepts."""

from __future__ import annotations

import argparse
from typing import IO, Any

from ..handles import _ask
from .shared import new_compiler

NAME = "targets"


def add_parser(commands: Any) -> argparse.ArgumentParser:
    parser: argparse.ArgumentParser = commands.add_parser(
        NAME, help="list the targets and microcontroller triples",
        description="List the target kinds and the triples --mcu accepts.")
    parser.add_argument("--json", action="store_true", help="print the response document")
    return parser


def run(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    answer_text, answer = _ask(new_compiler(), '{"cmd":"targets"}')
    if args.json:
        out.write(answer_text + "\n")
        return 0
    out.write("targets: " + ", ".join(answer["targets"]) + "\n")
    out.write("mcus for --target no_std:\n")
    for mcu in answer["mcus"]:
        out.write(f"  {mcu}\n")
    return 0
