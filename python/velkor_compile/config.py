"""Defaults for ``velkor-compile compile`` from the ``[tool.velkor-compile]``
table of the nearest ``pyproject.toml``.

The search starts in the current directory and goes up; the first
``pyproject.toml`` that has the table is used, so a project's strategies can
live in subfolders and share one set of defaults. Flags given on the command
line override the file.

Only files the user can stand behind are used. As git does for repositories,
a file owned by another user (root aside) is passed over with a warning: in a
shared folder anyone may leave one, and its out-dir would send the user's
project, and the cleaning of its old files, where they chose. A file that
cannot be read is passed over with a warning, and one that is not valid TOML
is refused only when its text holds the table: other tools' files in the
folders above are none of this command's business.
"""

from __future__ import annotations

import difflib
import os
import re
import stat
import sys
from typing import Any, Callable, NamedTuple, Sequence, get_args

from .api import OptLevel, targets
from .rules import is_code_prefix

TABLE = "velkor-compile"
# The values a key may take; the targets are the core's own list.
CHOICES = {"opt-level": get_args(OptLevel)}
KEYS = ("out-dir", "target", "mcu", "opt-level", "select", "ignore")
# The keys that take lists of rule codes or code prefixes.
CODE_LISTS = ("select", "ignore")
# How much of another user's file is read to tell whether it has the table.
FOREIGN_LOOK = 1 << 20


class ConfigError(Exception):
    """A configuration file that cannot be read or holds a value the command refuses."""


class Config(NamedTuple):
    """The defaults a file gives; None where it gives none."""

    path: str
    out_dir: str | None
    target: str | None
    mcu: str | None
    opt_level: str | None
    # The rule codes of the warnings reported (None: all) and of those left out.
    select: tuple[str, ...] | None = None
    ignore: tuple[str, ...] = ()


# Text that holds the table: its header, or a key of it in dotted form or under [tool].
HOLDS_TABLE = re.compile(r"""^[ \t]*(\[[ \t]*)?(tool[ \t]*\.[ \t]*)?["']?velkor-compile["']?[ \t]*[].=]""", re.M)


def find_config(start: str, warn: Callable[[str], None]) -> Config | None:
    """The defaults of the nearest pyproject.toml at or above `start` that has
    the table; `warn` is told of each file passed over that may have had it."""
    directory = os.path.abspath(start)
    while True:
        candidate = os.path.join(directory, "pyproject.toml")
        if os.path.lexists(candidate):
            table = _table(candidate, warn)
            if table is not None:
                return _config(candidate, table)
        parent = os.path.dirname(directory)
        if parent == directory:
            return None
        directory = parent


def _table(path: str, warn: Callable[[str], None]) -> dict[str, Any] | None:
    data = _owned_file(path, warn)
    if data is None:
        return None
    # Imported here: most commands run where no file holds a table, and start-up counts.
    if sys.version_info >= (3, 11):
        import tomllib
    else:  # the same reader, published separately before 3.11
        import tomli as tomllib
    try:
        document = tomllib.loads(data.decode("utf-8"))
    except (tomllib.TOMLDecodeError, UnicodeDecodeError) as error:
        if HOLDS_TABLE.search(data.decode("utf-8", "replace")):
            raise ConfigError(f"{path}: not valid TOML: {error}") from None
        return None
    tool = document.get("tool")
    table = tool.get(TABLE) if isinstance(tool, dict) else None
    if table is None:
        return None
    if not isinstance(table, dict):
        raise ConfigError(f"{path}: [tool.{TABLE}] must be a table")
    return table


def _owned_file(path: str, warn: Callable[[str], None]) -> bytes | None:
    """The bytes of a regular file owned by this user or root; None (after a
    warning when it may matter) for anything else. The opened file itself is
    examined, so that nothing can be swapped in after the check, and it is
    opened without waiting, so that a FIFO cannot hold the command."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
    except OSError as error:
        if os.path.isfile(path):  # a dangling link or a folder is no file at all
            warn(f"ignoring {path}: cannot read it: {error.strerror or error}")
        return None
    try:
        status = os.fstat(fd)
        if not stat.S_ISREG(status.st_mode):
            return None
        with open(fd, "rb", closefd=False) as stream:
            user = os.geteuid() if hasattr(os, "geteuid") else status.st_uid
            if status.st_uid in (user, 0):
                return stream.read()
            # Someone else's file: only its start is looked at, for the warning.
            if HOLDS_TABLE.search(stream.read(FOREIGN_LOOK).decode("utf-8", "replace")):
                warn(f"ignoring {path}: it is owned by {_user_name(status.st_uid)}, not by you or root")
            return None
    except OSError as error:
        warn(f"ignoring {path}: cannot read it: {error.strerror or error}")
        return None
    finally:
        os.close(fd)


def _user_name(uid: int) -> str:
    try:
        import pwd

        return f"{pwd.getpwuid(uid).pw_name} (uid {uid})"
    except (ImportError, KeyError):
        return f"uid {uid}"


def _choices(key: str) -> Sequence[str] | None:
    return targets()["targets"] if key == "target" else CHOICES.get(key)


def _config(path: str, table: dict[str, Any]) -> Config:
    where = f"{path}: [tool.{TABLE}]"
    for key, value in table.items():
        if key not in KEYS:
            close = difflib.get_close_matches(key, KEYS, n=1)
            meant = f"did you mean {close[0]!r}? " if close else ""
            raise ConfigError(f"{where}: unknown key {key!r} ({meant}known: {', '.join(KEYS)})")
        if key in CODE_LISTS:
            _check_codes(where, key, value)
            continue
        if not isinstance(value, str) or not value:
            raise ConfigError(f"{where}: {key} must be a non-empty string")
        choices = _choices(key)
        if choices is not None and value not in choices:
            raise ConfigError(f"{where}: {key} must be one of {', '.join(choices)}, not {value!r}")
    out_dir = table.get("out-dir")
    if out_dir is not None:
        # A relative out-dir names a folder of the project the file belongs to,
        # wherever below it the command runs.
        out_dir = os.path.normpath(os.path.join(os.path.dirname(path), out_dir))
    select = table.get("select")
    return Config(path, out_dir, table.get("target"), table.get("mcu"), table.get("opt-level"),
                  None if select is None else tuple(select), tuple(table.get("ignore", ())))


def _check_codes(where: str, key: str, value: Any) -> None:
    """A select or ignore list: rule codes such as "VK101", or prefixes such as "VK1"."""
    if not isinstance(value, list) or not all(isinstance(entry, str) for entry in value):
        raise ConfigError(f'{where}: {key} must be an array of rule codes, such as ["VK101", "VK2"]')
    for entry in value:
        if not is_code_prefix(entry):
            raise ConfigError(f"{where}: {key} holds {entry!r}, which is not a rule code: a code is VK and three "
                              "digits (VK101), a prefix VK and fewer (VK1 stands for every VK1xx)")
