"""``velkor-compile lsp``: the language server for editors, over stdin and stdout."""

from __future__ import annotations

import argparse
from typing import IO, Any

NAME = "lsp"
# Standard output carries the protocol's messages, written by the server.
RAW_OUTPUT = True


def add_parser(commands: Any) -> argparse.ArgumentParser:
    parser: argparse.ArgumentParser = commands.add_parser(
        NAME,
        help="run the language server for editors (needs the lsp extra)",
        description="Serve the Language Server Protocol over stdin and stdout: diagnostics, quick fixes, "
        "completion, hover, symbols and formatting for strategy documents, and the command "
        "velkor-compile.showCanonical. Needs pygls: pip install 'velkor-compile[lsp]'.",
    )
    return parser


def run(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    from ..lsp import main

    out.flush()
    return main()
