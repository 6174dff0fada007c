"""A language server for strategy documents: `velkor-compile lsp`.

It needs pygls and lsprotocol, the optional extra ``lsp``
(``pip install 'velkor-compile[lsp]'``); the rest of the package works
without them, and `main` says what to install when they are missing.
"""

from __future__ import annotations

import sys

INSTALL_HINT = "the language server needs pygls and lsprotocol: pip install 'velkor-compile[lsp]'"
_NEEDED = ("pygls", "lsprotocol")


def main() -> int:
    """Serves one client over standard input and output; returns the exit status."""
    try:
        from .server import main as serve
    except ModuleNotFoundError as error:
        if (error.name or "").partition(".")[0] not in _NEEDED:
            raise
        print(f"velkor-compile: {INSTALL_HINT}", file=sys.stderr)
        return 1
    return serve()
