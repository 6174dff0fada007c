"""The Pythonic interface: keyword arguments in, parsed documents out, errors raised.

Every function here builds one command document, hands it to a `Compiler`
handle and parses the answer; an error document becomes a `CompileError`. The
protocol itself is unchanged: what these functions send is exactly what a
caller of `Compiler.command` could send, so their results are the same
documents. Handles are bound to the thread that created them, so the default
handle (used when no `compiler` is given) is one per thread.
"""

from __future__ import annotations

import json
import os
from dataclasses import replace
from typing import Any, Literal, Sequence, cast

from ._velkor_compile import Compiler
from .answers import CompileAnswer, DestinationAnswer, TargetsAnswer, VersionAnswer
from .errors import CompileError
from .handles import _answer, default_compiler
from .input_files import read_input_file
from .lint import DEFAULT_MAX_PROBLEMS, Problem, Problems, lint, lint_text
from .request import CompileOptions, OptLevel, StrategyInput, Target, _compile_request, load_json_text

__all__ = [
    "CompileError",
    "OptLevel",
    "DEFAULT_MAX_PROBLEMS",
    "Problem",
    "Problems",
    "StrategyInput",
    "Target",
    "compile",
    "default_compiler",
    "destination",
    "lint",
    "lint_text",
    "load_json_text",
    "read_input_file",
    "request_text",
    "schema",
    "targets",
    "validate",
    "version_info",
]

SchemaName = Literal["strategy", "compile-request"]

# The crate name used when only the strategy is to be checked: valid, so that the
# strategy check is the only step of a dry run that can fail.
VALIDATE_CRATE_NAME = "validate"


def request_text(
    strategy: StrategyInput,
    *,
    target: Target = "binary",
    mcu: str | None = None,
    opt_level: OptLevel | None = None,
    crate_name: str | None = None,
    csv: str | os.PathLike[str] | None = None,
    candles: Sequence[Any] | str | os.PathLike[str] | None = None,
    out_dir: str | os.PathLike[str] | None = None,
    dry_run: bool = False,
    stream_build_output: bool = False,
    build_progress: bool = False,
) -> str:
    """The compile command document that `compile` sends, as JSON text.

    `candles` is a list of candle values or the path of a JSON file holding that
    list. Raises `ValueError` for contradictory arguments (an mcu without the
    no_std target or the reverse, both csv and candles). The build output
    members are written only when true, so the text is otherwise unchanged.
    """
    return _compile_request(strategy, CompileOptions.given(locals())).one_line()


def compile(  # noqa: A001 - the domain's verb; the builtin is rarely needed beside it
    strategy: StrategyInput,
    *,
    target: Target = "binary",
    mcu: str | None = None,
    opt_level: OptLevel | None = None,
    crate_name: str | None = None,
    csv: str | os.PathLike[str] | None = None,
    candles: Sequence[Any] | str | os.PathLike[str] | None = None,
    out_dir: str | os.PathLike[str] | None = None,
    dry_run: bool = False,
    compiler: Compiler | None = None,
    stream_build_output: bool = False,
    build_progress: bool = False,
) -> CompileAnswer:
    """Compiles a strategy and returns the compile response as a dict.

    The response has the members "target", "path" (only when a build ran),
    "manifest" and "built". Without `dry_run` the project is written beneath
    `out_dir` (default "_out") and built with cargo, which blocks the calling
    thread (other threads run meanwhile) until cargo exits. Raises
    `CompileError` for every error document and for an input file that cannot
    be read or parsed. A fault in reading an option the caller
    passed (an unknown `target` or `opt_level`, a value of the wrong type) names
    the option instead of a position in the request text this function wrote:
    "bad compile request: target: unknown variant `arm`, expected one of ...".
    While it runs, the core itself writes to the process's standard error (file
    descriptor 2, not `sys.stderr`) only when asked: `stream_build_output`
    copies cargo's output there live (in colour on a terminal),
    `build_progress` keeps one line there updated once a second. Neither
    changes the response.
    """
    return cast(CompileAnswer, _compile_request(strategy, CompileOptions.given(locals())).ask(compiler)[1])


def validate(strategy: StrategyInput, *, compiler: Compiler | None = None) -> None:
    """Checks a strategy document; returns None when it is valid.

    Runs a dry-run compile for the binary target under a fixed valid crate name,
    so the strategy check is the only step that can fail. Raises `CompileError`
    (kind "bad spec", message "strategy is not a valid StrategySpec: ...") for an
    invalid strategy, and as `compile` does for an unusable file.
    """
    compile(strategy, crate_name=VALIDATE_CRATE_NAME, dry_run=True, compiler=compiler)


def destination(
    strategy: StrategyInput,
    *,
    target: Target = "binary",
    mcu: str | None = None,
    opt_level: OptLevel | None = None,
    crate_name: str | None = None,
    csv: str | os.PathLike[str] | None = None,
    candles: Sequence[Any] | str | os.PathLike[str] | None = None,
    out_dir: str | os.PathLike[str] | None = None,
    compiler: Compiler | None = None,
) -> DestinationAnswer:
    """Where `compile` with the same arguments would write, and what it would change there.

    Writes nothing. The answer's "project_dir" is `out_dir` (default "_out")
    joined with the crate name; "replace" lists the project's paths that
    something is at already, "remove" the files an earlier compile generated
    that a build would remove (only those still holding, byte for byte, a text
    the compiler generates there). Checks and raises as a dry-run `compile`.
    """
    return destination_of(strategy, CompileOptions.given(locals()), compiler)


def destination_of(strategy: StrategyInput, options: CompileOptions, compiler: Compiler | None) -> DestinationAnswer:
    """`destination` with the options as one record (a build's own members left out)."""
    asked = replace(options, dry_run=True, stream_build_output=False, build_progress=False)
    _, answer = _compile_request(strategy, asked, cmd="destination").ask(compiler)
    return {"project_dir": answer["project_dir"], "replace": list(answer["replace"]), "remove": list(answer["remove"])}


def targets(*, compiler: Compiler | None = None) -> TargetsAnswer:
    """The target kinds and the microcontroller triples the no_std target accepts."""
    answer = _answer(compiler, '{"cmd":"targets"}')
    return {"targets": list(answer["targets"]), "mcus": list(answer["mcus"])}


def version_info(*, compiler: Compiler | None = None) -> VersionAnswer:
    """The compiler version and the backtest dependency that generated projects require."""
    answer = _answer(compiler, '{"cmd":"version"}')
    return {"version": str(answer["version"]), "backtest_dep": str(answer["backtest_dep"])}


def schema(name: SchemaName = "strategy") -> dict[str, Any]:
    """The JSON Schema (draft 2020-12) shipped with the package: "strategy" or "compile-request".

    The compile-request schema is self-contained: it refers to the strategy
    schema by that schema's `$id`, and carries it in its `$defs` (a bundled
    schema resource), so that a validator can use it on its own.
    """
    if name not in ("strategy", "compile-request"):
        raise ValueError(f"no schema named {name!r}: expected 'strategy' or 'compile-request'")
    loaded = _schema_file(name)
    if name == "compile-request":
        loaded["$defs"]["strategy"] = _schema_file("strategy")
    return loaded


def _schema_file(name: str) -> dict[str, Any]:
    from importlib import resources  # here: importing it costs every command's start-up

    text = resources.files("velkor_compile").joinpath("schema", f"{name}.schema.json").read_text(encoding="utf-8")
    loaded: dict[str, Any] = json.loads(text)
    return loaded
