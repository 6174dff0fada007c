"""Text bound for a person's terminal, made harmless.

A strategy's strings may hold any character a JSON escape can write, the
escape character included: printed raw, `\\u001b]52;c;...` writes the
clipboard, others set the window title or clear the screen. Every line a
person reads passes through `printable`; JSON output is escaped by its writer.
"""

from __future__ import annotations

import re

# C0 controls, DEL and C1 controls.
_CONTROL = re.compile("[\x00-\x1f\x7f-\x9f]")


def _escape(found: re.Match[str]) -> str:
    return f"\\u{ord(found.group()):04x}"


def printable(text: str, keep: str = "") -> str:
    """`text` with every control character written as its JSON escape
    (ESC as `\\u001b`), except those in `keep` (a source line keeps its tabs)."""
    if keep:
        return _CONTROL.sub(lambda found: found.group() if found.group() in keep else _escape(found), text)
    return _CONTROL.sub(_escape, text)
