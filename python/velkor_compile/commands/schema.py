"""``velkor-compile schema``: a JSON Schema shipped with the package."""

from __future__ import annotations

import argparse
import json
from typing import IO, Any

from ..api import schema

NAME = "schema"
# A JSON document, escaped by its writer.
RAW_OUTPUT = True


def add_parser(commands: Any) -> argparse.ArgumentParser:
    parser: argparse.ArgumentParser = commands.add_parser(
        NAME, help="print a JSON Schema shipped with the package",
        description="Print the JSON Schema of the strategy or compile request.")
    parser.add_argument("name", choices=["strategy", "compile-request"], nargs="?", default="strategy")
    return parser


def run(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    out.write(json.dumps(schema(args.name), indent=2, ensure_ascii=False) + "\n")
    return 0
