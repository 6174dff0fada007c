"""The problems the core's lint finds in a document, as the client's diagnostics.

Each problem becomes a diagnostic over the key or value it points at, with its
rule code and its plain-words message where the core gives them (the
technical message otherwise) and the rule selection of the project applied.
"""

from __future__ import annotations

import json
import re
from dataclasses import dataclass
from typing import Any, Sequence

from lsprotocol import types

from .._velkor_compile import Compiler
from ..rules import is_selected
from .positions import Lines
from .structure import token_at

SOURCE = "velkor-compile"
SEVERITIES = {"error": types.DiagnosticSeverity.Error, "warning": types.DiagnosticSeverity.Warning}
# A character the editor may hold but UTF-8 cannot: a surrogate of a broken pair.
_LONE_SURROGATE = re.compile("[\ud800-\udfff]")


@dataclass(frozen=True)
class Finding:
    """A diagnostic with what a quick fix needs: the offsets it covers and the
    name the core suggests there."""

    diagnostic: types.Diagnostic
    span: tuple[int, int]
    suggestion: str | None


def lint_answer(text: str, compiler: Compiler) -> dict[str, Any]:
    """The core's lint answer for `text`. A lone surrogate, which no file can
    hold, is read as U+FFFD: one character for another, so places agree."""
    text = _LONE_SURROGATE.sub("\ufffd", text)
    answer: dict[str, Any] = json.loads(compiler.command(json.dumps({"cmd": "lint", "text": text}, ensure_ascii=False)))
    return answer


def findings(
    text: str,
    answer: dict[str, Any],
    encoding: str,
    select: Sequence[str] | None = None,
    ignore: Sequence[str] = (),
) -> list[Finding]:
    """The findings of a lint answer, the ones the selection leaves out dropped."""
    core_lines = Lines(text)
    client_lines = Lines(text, client=True)
    found = []
    for problem in answer.get("problems", ()):
        code = problem.get("code")
        severity = problem.get("severity")
        if code is not None and not is_selected(code, select, ignore, error=severity == "error"):
            continue
        start = core_lines.offset(int(problem.get("line", 1)) - 1, int(problem.get("column", 1)) - 1)
        span = token_at(text, start)
        diagnostic = types.Diagnostic(
            range=types.Range(client_lines.position(span[0], encoding), client_lines.position(span[1], encoding)),
            message=str(problem.get("plain") or problem.get("message", "")),
            severity=SEVERITIES.get(str(severity), types.DiagnosticSeverity.Error),
            code=code,
            source=SOURCE,
        )
        found.append(Finding(diagnostic, span, problem.get("suggestion")))
    omitted = answer.get("omitted")
    if omitted:
        more = sum(int(count) for count in omitted.values())
        note = types.Diagnostic(
            range=types.Range(types.Position(0, 0), types.Position(0, 0)),
            message=f"{more} more problems not listed",
            severity=types.DiagnosticSeverity.Information,
            source=SOURCE,
        )
        found.append(Finding(note, (0, 0), None))
    return found
