"""Quick fixes: each problem the core suggests a name for becomes a code action
that puts the suggested name in place of the key or value it points at."""

from __future__ import annotations

import json
from typing import Sequence

from lsprotocol import types

from .diagnostics import Finding


def _overlaps(a: types.Range, b: types.Range) -> bool:
    def key(p: types.Position) -> tuple[int, int]:
        return (p.line, p.character)

    return key(a.start) <= key(b.end) and key(b.start) <= key(a.end)


def quick_fixes(uri: str, text: str, found: Sequence[Finding], wanted: types.Range) -> list[types.CodeAction]:
    """The fixes of the findings that touch `wanted`, the range the client asks about."""
    actions = []
    for finding in found:
        if finding.suggestion is None or not _overlaps(finding.diagnostic.range, wanted):
            continue
        written = text[finding.span[0]:finding.span[1]]
        # A key or a string value keeps its quotes; the suggestion is its content.
        new_text = json.dumps(finding.suggestion, ensure_ascii=False) if written.startswith('"') else finding.suggestion
        edit = types.TextEdit(range=finding.diagnostic.range, new_text=new_text)
        actions.append(
            types.CodeAction(
                title=f"Replace with `{finding.suggestion}`",
                kind=types.CodeActionKind.QuickFix,
                diagnostics=[finding.diagnostic],
                is_preferred=True,
                edit=types.WorkspaceEdit(changes={uri: [edit]}),
            )
        )
    return actions
