"""The canonical text and spec_hash of a document, for the show-canonical command.

The compiler's "canonical" command answers both for a compile request's
members: the text is the bytes a compile writes into the project's
`src/spec.json`, so what the editor shows is what a build embeds.
"""

from __future__ import annotations

from typing import Any, cast

from .._velkor_compile import Compiler
from ..answers import CanonicalAnswer
from ..request import CompileOptions, OptLevel, StrategyText, Target, _compile_request


def show(
    name: str, text: str, compiler: Compiler | None, target: dict[str, str], opt_level: str | None = None
) -> dict[str, Any]:
    """The spec_hash and canonical text of a compile of the document `text`
    (called `name` in messages) for `target` (and `opt_level`, the core's
    default when None). Raises CompileError for a document the compile refuses
    or text that is not one JSON value, ValueError for a no_std target
    without an mcu."""
    options = CompileOptions(
        target=cast(Target, target["kind"]), mcu=target.get("mcu"), opt_level=cast("OptLevel | None", opt_level)
    )
    _, answer = _compile_request(StrategyText(name, text), options, cmd="canonical").ask(compiler)
    found = cast(CanonicalAnswer, answer)
    return {"spec_hash": found["spec_hash"], "target": target, "canonical": found["canonical"]}
