"""Defaults for ``velkor-compile compile`` from the ``[tool.velkor-compile]``
table of the nearest ``pyproject.toml``.

The search starts in the current directory and goes up; the first
``pyproject.toml`` that has the table is used, so a project's strategies can
live in subfolders and share one set of defaults. Flags given on the command
line override the file.
"""

from __future__ import annotations

import os
import sys
from typing import Any, NamedTuple

if sys.version_info >= (3, 11):
    import tomllib
else:  # the same reader, published separately before 3.11
    import tomli as tomllib

TABLE = "velkor-compile"
CHOICES = {"target": ("wasm", "binary", "no_std"), "opt-level": ("debug", "release", "size")}
KEYS = ("out-dir", "target", "mcu", "opt-level")


class ConfigError(Exception):
    """A configuration file that cannot be read or holds a value the command refuses."""


class Config(NamedTuple):
    """The defaults a file gives; None where it gives none."""

    path: str
    out_dir: str | None
    target: str | None
    mcu: str | None
    opt_level: str | None


def find_config(start: str) -> Config | None:
    """The defaults of the nearest pyproject.toml at or above `start` that has the table."""
    directory = os.path.abspath(start)
    while True:
        candidate = os.path.join(directory, "pyproject.toml")
        if os.path.isfile(candidate):
            table = _table(candidate)
            if table is not None:
                return _config(candidate, table)
        parent = os.path.dirname(directory)
        if parent == directory:
            return None
        directory = parent


def _table(path: str) -> dict[str, Any] | None:
    try:
        with open(path, "rb") as stream:
            document = tomllib.load(stream)
    except OSError as error:
        raise ConfigError(f"reading {path}: {error.strerror or error}") from None
    except (tomllib.TOMLDecodeError, UnicodeDecodeError) as error:
        raise ConfigError(f"{path}: not valid TOML: {error}") from None
    tool = document.get("tool")
    table = tool.get(TABLE) if isinstance(tool, dict) else None
    if table is None:
        return None
    if not isinstance(table, dict):
        raise ConfigError(f"{path}: [tool.{TABLE}] must be a table")
    return table


def _config(path: str, table: dict[str, Any]) -> Config:
    where = f"{path}: [tool.{TABLE}]"
    for key, value in table.items():
        if key not in KEYS:
            raise ConfigError(f"{where}: unknown key {key!r} (known: {', '.join(KEYS)})")
        if not isinstance(value, str) or not value:
            raise ConfigError(f"{where}: {key} must be a non-empty string")
        choices = CHOICES.get(key)
        if choices is not None and value not in choices:
            raise ConfigError(f"{where}: {key} must be one of {', '.join(choices)}, not {value!r}")
    out_dir = table.get("out-dir")
    if out_dir is not None:
        # A relative out-dir names a folder of the project the file belongs to,
        # wherever below it the command runs.
        out_dir = os.path.join(os.path.dirname(path), out_dir)
    return Config(path, out_dir, table.get("target"), table.get("mcu"), table.get("opt-level"))
