"""The problems lint finds in strategy files, as `check` lists them and as
`validate` and `compile` print the warnings before their verdict: the rule
codes the user selected in ``[tool.velkor-compile]`` (``select``, ``ignore``),
the files a folder holds, and a refused strategy's reason in plain words."""

from __future__ import annotations

import argparse
import os
import sys
from typing import Iterator, NamedTuple

from ..config import Config, ConfigError, find_config
from ..errors import CompileError
from ..input_files import read_text_file
from ..lint import DEFAULT_MAX_PROBLEMS, Problem, Problems, lint_text
from ..rules import is_selected
from ..terminal import printable
from .problem_text import TextReport, plural
from .shared import PROG

STRATEGY_PREFIX = "strategy is not a valid StrategySpec: "


class Selection(NamedTuple):
    """The rule codes reported: `select` None for every one, less `ignore`."""

    select: tuple[str, ...] | None = None
    ignore: tuple[str, ...] = ()


def add_config_flag(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--no-config", action="store_true",
                        help="ignore [tool.velkor-compile] in the nearest pyproject.toml")


def nearest_config(args: argparse.Namespace) -> Config | None:
    """The nearest [tool.velkor-compile] at or above the current directory, or
    None; a file that holds a bad entry is a usage error, and a file passed
    over is a warning on stderr."""
    try:
        return find_config(os.getcwd(), _warn)
    except ConfigError as error:
        args.parser.error(str(error))  # exits with the usage status
    except OSError:  # a current directory that is gone has no file above it
        pass
    return None


def selection_of(config: Config | None) -> Selection:
    """The rule codes a configuration file selects: every one without a file."""
    return Selection() if config is None else Selection(config.select, config.ignore)


def selection(args: argparse.Namespace) -> Selection:
    """The select and ignore lists of the nearest [tool.velkor-compile] (none
    with --no-config)."""
    if getattr(args, "no_config", False):
        return Selection()
    return selection_of(nearest_config(args))


def _warn(message: str) -> None:
    sys.stderr.write(f"{PROG}: warning: {printable(message)}\n")


def selected(problems: Problems, chosen: Selection) -> Problems:
    """The problems the selection reports: every error, and the warnings whose
    rule code it selects (a warning without a code is always reported)."""
    def kept(p: Problem) -> bool:
        return not p.code or is_selected(p.code, chosen.select, chosen.ignore, error=p.severity == "error")

    kept_problems = Problems(p for p in problems if kept(p))
    kept_problems.omitted_errors, kept_problems.omitted_warnings = problems.omitted_errors, problems.omitted_warnings
    return kept_problems


class FileLint(NamedTuple):
    text: str
    problems: Problems

    @property
    def lines(self) -> list[str]:
        """The file's lines, split at "\n" alone as the core counts them
        (split only when a problem is printed: a large file has many)."""
        return self.text.split("\n")


def lint_file(path: str, chosen: Selection, max_problems: int = DEFAULT_MAX_PROBLEMS,
              csv: str | None = None) -> FileLint:
    """The selected problems of a strategy file, and of the CSV file a compile would embed with it."""
    text = read_text_file(path)
    data = None if csv is None else {"kind": "csv", "path": csv}
    problems = lint_text(text, max_problems=max_problems, embed_data=data)
    return FileLint(text, selected(problems, chosen))


def read_already(found: FileLint | None) -> str | None:
    """The linted file's text when lint found no error in it (so it is one JSON
    value, as a compile request takes it), for the compile not to read it again."""
    if found is None or found.problems.omitted_errors or any(p.severity == "error" for p in found.problems):
        return None
    return found.text


def warnings_of(found: FileLint) -> list[Problem]:
    return [p for p in found.problems if p.severity == "warning"]


def print_warnings(path: str, found: FileLint) -> None:
    """The warnings on stderr, as `check` prints them (the report escapes what
    it prints itself, and colours it on a terminal)."""
    warnings = warnings_of(found)
    if not warnings:
        return
    report, lines = TextReport(sys.stderr), found.lines
    for p in warnings:
        report.problem(path, lines, p)


def strict_refusal(path: str, count: int) -> str:
    return f"{path}: {plural(count, 'warning')}, refused by --strict"


def warn_before_compile(path: str, chosen: Selection, quiet: bool, strict: bool,
                        csv: str | None = None) -> FileLint | None:
    """Prints a file's warnings before it is compiled (unless `quiet`), and
    with `strict` refuses a file that has one and no error (an error is the
    compile's to report). None when lint was not needed or could not read the
    file, which the compile then reports."""
    if quiet and not strict:
        return None
    try:
        found = lint_file(path, chosen, csv=csv)
    except CompileError:
        return None
    if not quiet:
        print_warnings(path, found)
    problems = found.problems
    warnings = len(warnings_of(found)) + problems.omitted_warnings
    if strict and warnings and not problems.omitted_errors and all(p.severity == "warning" for p in problems):
        raise CompileError("error", strict_refusal(path, warnings))
    return found


def refusal_message(path: str, error: CompileError, found: FileLint | None) -> str:
    """A refused strategy's reason as a person reads it (the file's name not
    included): lint's first error,
    in plain words and placed in the file, when it is the compile check's
    reason (it always is); else the reason as the compiler gave it."""
    reason = error.message[len(STRATEGY_PREFIX):]
    if found is None:  # not linted before the compile (-q): linted now, for the place
        try:
            found = lint_file(path, Selection())
        except CompileError:
            found = None
    first = next((p for p in found.problems if p.severity == "error"), None) if found else None
    if first is None or first.message != reason:
        return f"not a valid strategy: {reason}"
    return f"not a valid strategy: {first.words} at line {first.line} column {first.column}"


def is_refusal(error: CompileError) -> bool:
    return error.kind == "bad spec" and error.message.startswith(STRATEGY_PREFIX)


def strategy_files(paths: list[str]) -> Iterator[str]:
    """The files named, and for a folder the ``*.json`` files beneath it, in
    name order, hidden folders and files passed over (a folder without any is
    yielded itself)."""
    for path in paths:
        if not os.path.isdir(path):
            yield path
            continue
        found = False
        for folder, subfolders, names in os.walk(path):
            subfolders[:] = sorted(name for name in subfolders if not name.startswith("."))
            for name in sorted(names):
                if name.endswith(".json") and not name.startswith("."):
                    found = True
                    yield os.path.join(folder, name)
        if not found:
            yield path  # a folder with none: the caller says so
