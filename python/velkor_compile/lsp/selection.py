"""The rule selection of a document's project: the `select` and `ignore` lists
of `[tool.velkor-compile]` in the nearest pyproject.toml that has the table,
searched from the document's folder up, as the command line searches from
the current one."""

from __future__ import annotations

import os
from typing import Callable, NamedTuple

from ..config import TABLE, ConfigError, _table
from ..rules import is_code_prefix


class Selection(NamedTuple):
    """Which codes are reported: `select` None means every code."""

    select: list[str] | None = None
    ignore: list[str] = []


def _codes(value: object) -> list[str] | None:
    if isinstance(value, list) and all(isinstance(item, str) and is_code_prefix(item) for item in value):
        return list(value)
    return None


def selection(folder: str, warn: Callable[[str], None]) -> Selection:
    """The selection for documents in `folder`; a list that is not one of codes
    is passed over with a warning, as is a file that cannot be read."""
    directory = os.path.abspath(folder)
    while True:
        candidate = os.path.join(directory, "pyproject.toml")
        if os.path.lexists(candidate):
            try:
                table = _table(candidate, warn)
            except ConfigError as error:
                warn(str(error))
                return Selection()
            if table is not None:
                lists = {key: _codes(table[key]) for key in ("select", "ignore") if key in table}
                for key, codes in lists.items():
                    if codes is None:
                        warn(f"{candidate}: [tool.{TABLE}] {key} must be a list of codes like \"VK1\" or \"VK101\"")
                return Selection(lists.get("select"), lists.get("ignore") or [])
        parent = os.path.dirname(directory)
        if parent == directory:
            return Selection()
        directory = parent
