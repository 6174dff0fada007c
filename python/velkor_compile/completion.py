"""Shell completion scripts for bash, zsh and fish, generated from the command
line's own parser, so that they always offer the subcommands and options the
installed version has.

The generator, shtab, is an optional dependency
(``pip install 'velkor-compile[completion]'``); the command line works without it.
"""

from __future__ import annotations

import argparse
from typing import Any, Iterator

SHELLS = ("bash", "zsh", "fish")
INSTALL_HINT = "shell completion needs the shtab package: pip install 'velkor-compile[completion]'"

# Arguments that name a file or a folder, by their metavar: the shell offers
# paths for them instead of nothing.
FILE_METAVARS = ("STRATEGY.json", "FILE.json", "PATH")
DIRECTORY_METAVARS = ("DIR",)


def completion_script(parser: argparse.ArgumentParser, shell: str) -> str:
    """The completion script for `shell`; raises ImportError when shtab is missing."""
    import shtab  # type: ignore[import-not-found, unused-ignore]

    for action in _actions(parser):
        if action.metavar in FILE_METAVARS:
            action.complete = shtab.FILE  # type: ignore[attr-defined]
        elif action.metavar in DIRECTORY_METAVARS:
            action.complete = shtab.DIRECTORY  # type: ignore[attr-defined]
    script: str = shtab.complete(parser, shell=shell)
    return script


def _actions(parser: argparse.ArgumentParser) -> Iterator[argparse.Action]:
    for action in parser._actions:
        yield action
        choices: Any = action.choices
        if isinstance(action, argparse._SubParsersAction):
            for subparser in dict.fromkeys(choices.values()):
                yield from _actions(subparser)
