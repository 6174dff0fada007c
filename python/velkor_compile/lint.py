"""`lint`: every problem of a strategy document, with its place."""

from __future__ import annotations

import json
import os
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Literal, Mapping

from ._velkor_compile import Compiler
from .handles import _answer
from .input_files import read_text_file

if TYPE_CHECKING:  # the request module reads files through lint: no import back at run time
    from .request import StrategyInput


@dataclass(frozen=True)
class Problem:
    """One problem `lint` found in a strategy document.

    `path` is a JSON Pointer into the document ("" for the whole of it); `line`
    and `column` are 1-based, the column counted in characters; `suggestion` is
    the name probably meant, or None. `code` is the rule's code ("VK" and
    three digits: VK0xx errors, VK1xx plainly wrong values, VK2xx structure,
    VK3xx market data); `message` an error's exact compile-check reason, and
    `plain` the same problem in plain words for people.
    """

    severity: Literal["error", "warning"]
    path: str
    line: int
    column: int
    message: str
    suggestion: str | None = None
    code: str = ""
    plain: str = ""

    @property
    def words(self) -> str:
        """What a person reads: the plain words, or the message where there are none."""
        return self.plain or self.message


#: How many problems `lint` lists unless asked otherwise (the core's default too).
DEFAULT_MAX_PROBLEMS = 1000


class Problems(list[Problem]):
    """The problems `lint` lists: a list, with how many it left out.

    `omitted_errors` and `omitted_warnings` count the problems past
    `max_problems` (or past the answer's size bound, which a text built to
    repeat long names can reach); both are 0 when every problem is listed.
    """

    omitted_errors: int = 0
    omitted_warnings: int = 0

    @property
    def omitted(self) -> int:
        return self.omitted_errors + self.omitted_warnings


def _lint_input_text(strategy: StrategyInput) -> str:
    """The text to lint: a JSON text as given, a file's text as written (not
    checked to be JSON: that is lint's to report), or a value's JSON text."""
    if isinstance(strategy, str) and strategy.lstrip()[:1] in ("{", "["):
        return strategy
    if isinstance(strategy, (str, os.PathLike)):
        return read_text_file(os.fspath(strategy))
    if isinstance(strategy, (bytes, bytearray)):
        raise TypeError("strategy must be a mapping, a sequence or a path, not bytes")
    return json.dumps(strategy, ensure_ascii=False, allow_nan=False)


def lint(
    strategy: StrategyInput, *, max_problems: int = DEFAULT_MAX_PROBLEMS, compiler: Compiler | None = None
) -> Problems:
    """Every problem of a strategy document, in document order; [] for a sound one.

    `strategy` is a parsed value, a path, or a JSON text (a string whose first
    character after whitespace is "{" or "["). Errors are the failures the
    compile check would find, each with its message (so `validate` fails exactly
    when there is an error, with the first error's message); warnings are
    values the check accepts that are probably not meant. At most `max_problems` are listed; the result's
    `omitted_errors` and `omitted_warnings` count the rest. Raises
    `CompileError` for a file that cannot be read, and ValueError for a
    negative `max_problems`.
    """
    return lint_text(_lint_input_text(strategy), max_problems=max_problems, compiler=compiler)


_PROBLEM_MEMBERS = frozenset(Problem.__dataclass_fields__)


def lint_text(
    text: str,
    *,
    max_problems: int = DEFAULT_MAX_PROBLEMS,
    embed_data: Mapping[str, Any] | None = None,
    base_dir: str | os.PathLike[str] | None = None,
    compiler: Compiler | None = None,
) -> Problems:
    """`lint` of a strategy document's text, whatever the text holds. With
    `embed_data` (as a compile request's: {"kind": "csv", "path": ...} or
    {"kind": "inline", "candles": [...]}) the warnings about that market data
    follow; a relative CSV path is read below `base_dir` (default: the
    current directory)."""
    if isinstance(max_problems, bool) or not isinstance(max_problems, int) or max_problems < 0:
        raise ValueError(f"max_problems must be a non-negative integer, not {max_problems!r}")
    request: dict[str, Any] = {"cmd": "lint", "text": text, "max_problems": max_problems}
    if embed_data is not None:
        request["embed_data"] = dict(embed_data)
    if base_dir is not None:
        request["base_dir"] = os.fspath(base_dir)
    answer = _answer(compiler, json.dumps(request))
    # Members this version does not know are left out, so that a newer core's answer still reads.
    problems = Problems(Problem(**{k: v for k, v in problem.items() if k in _PROBLEM_MEMBERS})
                        for problem in answer["problems"])
    omitted = answer.get("omitted", {})
    problems.omitted_errors = int(omitted.get("errors", 0))
    problems.omitted_warnings = int(omitted.get("warnings", 0))
    return problems


def first_error(text: str) -> Problem | None:
    """Lint's first problem of a text when it is an error, else None."""
    problems = lint_text(text, max_problems=1)
    return problems[0] if problems and problems[0].severity == "error" else None
