"""`lint`: every problem of a strategy document, with its place."""

from __future__ import annotations

import json
import os
from dataclasses import dataclass
from typing import Literal

from ._velkor_compile import Compiler
from .errors import CompileError
from .handles import _answer
from .input_files import read_input_file
from .request import StrategyInput, _strategy_text


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
        name = os.fspath(strategy)
        try:
            return read_input_file(name).decode("utf-8-sig")
        except UnicodeDecodeError as error:
            raise CompileError("io", f"reading {name}: not valid UTF-8 at byte {error.start}") from None
    return _strategy_text(strategy)


def lint(
    strategy: StrategyInput, *, max_problems: int = DEFAULT_MAX_PROBLEMS, compiler: Compiler | None = None
) -> Problems:
    """Every problem of a strategy document, in document order; [] for a sound one.

    `strategy` is a parsed value, a path, or a JSON text (a string whose first
    character after whitespace is "{" or "["). Errors are the failures the
    compile check would find, each with its message (so `validate` fails exactly
    when there is an error, with the first error's message); warnings are
    unknown fields, repeated keys and condition operands that name no declared
    indicator. At most `max_problems` are listed; the result's
    `omitted_errors` and `omitted_warnings` count the rest. Raises
    `CompileError` for a file that cannot be read, and ValueError for a
    negative `max_problems`.
    """
    return lint_text(_lint_input_text(strategy), max_problems=max_problems, compiler=compiler)


def lint_text(text: str, *, max_problems: int = DEFAULT_MAX_PROBLEMS, compiler: Compiler | None = None) -> Problems:
    """`lint` of a strategy document's text, whatever the text holds."""
    if isinstance(max_problems, bool) or not isinstance(max_problems, int) or max_problems < 0:
        raise ValueError(f"max_problems must be a non-negative integer, not {max_problems!r}")
    answer = _answer(compiler, json.dumps({"cmd": "lint", "text": text, "max_problems": max_problems}))
    problems = Problems(Problem(**problem) for problem in answer["problems"])
    omitted = answer.get("omitted", {})
    problems.omitted_errors = int(omitted.get("errors", 0))
    problems.omitted_warnings = int(omitted.get("warnings", 0))
    return problems
