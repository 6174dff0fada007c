"""Which rule codes of the diagnostics a user asked for.

Codes are ``VK`` and three digits. ``select`` and ``ignore`` are lists of
codes or code prefixes (``"VK1"`` stands for every ``VK1xx``), as in the
``[tool.velkor-compile]`` keys of the same names: a problem is reported when
its code starts with an entry of ``select`` (every code when ``select`` is not
given) and with no entry of ``ignore``. The longer of two matching entries
decides, so ``select = ["VK1"]`` with ``ignore = ["VK101"]`` keeps every
``VK1xx`` but ``VK101``, and ``ignore = ["VK1"]`` with ``select = ["VK102"]``
keeps only ``VK102`` of them. Errors are always reported: a document the
compile refuses cannot be made acceptable by ignoring its reason.
"""

from __future__ import annotations

import re
from typing import Iterable, Sequence

CODE_PREFIX = re.compile(r"VK[0-9]{0,3}")


def is_code_prefix(text: str) -> bool:
    """Whether `text` may stand in a select or ignore list."""
    return CODE_PREFIX.fullmatch(text) is not None


def _longest_match(code: str, prefixes: Iterable[str]) -> int:
    return max((len(p) for p in prefixes if code.startswith(p)), default=-1)


def is_selected(code: str, select: Sequence[str] | None = None, ignore: Sequence[str] = (), *, error: bool = False) -> bool:
    """Whether a problem with this code is reported under these lists."""
    if error:
        return True
    chosen = _longest_match(code, ("VK",) if select is None else select)
    if chosen < 0:
        return False
    return _longest_match(code, ignore) < chosen
