"""The compile request text the Python functions send, built piece by piece
with the owner of each line, so that a reading fault the compiler reports is
blamed on the option the caller passed rather than on a place in text they
never saw."""

from __future__ import annotations

import json
import os
import re
from dataclasses import dataclass, fields
from typing import Any, Callable, Literal, Mapping, NamedTuple, Sequence, Union

from ._velkor_compile import Compiler
from .errors import CompileError
from .handles import _ask
from .input_files import _candles_file_text, _check_json, load_json_text

#: A strategy document as a parsed JSON value (object or positional array), or
#: the path of a JSON file that holds one.
StrategyInput = Union[Mapping[str, Any], Sequence[Any], str, os.PathLike[str]]

Target = Literal["wasm", "binary", "no_std"]
OptLevel = Literal["debug", "release", "size"]

# The start of every compile request text: the strategy follows at once, so a
# position on the request's first line is this many bytes past the same place
# in the strategy's text; every later line is the strategy's own.
REQUEST_LEAD = '{"cmd":"compile","spec":{"strategy":'


@dataclass(frozen=True)
class CompileOptions:
    """Everything a compile request asks besides the strategy: the keyword
    options `compile`, `destination` and `request_text` take (documented
    there), with their defaults."""

    target: Target = "binary"
    mcu: str | None = None
    opt_level: OptLevel | None = None
    crate_name: str | None = None
    csv: str | os.PathLike[str] | None = None
    candles: Sequence[Any] | str | os.PathLike[str] | None = None
    out_dir: str | os.PathLike[str] | None = None
    dry_run: bool = False
    stream_build_output: bool = False
    build_progress: bool = False

    @classmethod
    def given(cls, arguments: Mapping[str, Any]) -> CompileOptions:
        """The options among a function's arguments (its `locals()`), by name."""
        return cls(**{option.name: arguments[option.name] for option in fields(cls) if option.name in arguments})


def _value_text(value: Any) -> str:
    """The JSON text of a Python value (NaN and infinities refused: JSON has none)."""
    return json.dumps(value, ensure_ascii=False, allow_nan=False)


def _strategy_text(strategy: StrategyInput) -> str:
    if isinstance(strategy, (str, os.PathLike)):
        return load_json_text(strategy)
    if isinstance(strategy, (bytes, bytearray)):
        raise TypeError("strategy must be a mapping, a sequence or a path, not bytes")
    return _value_text(strategy)


class _Owner(NamedTuple):
    """Who wrote the request text from `first_line` on: `name` is the option
    it holds, None for a strategy file's own text (whose faults need no
    option's name). `file` is true for a file's text spliced in, whose
    positions are shifted into that file: its lines counted from `first_line`,
    and on that line its columns from the `lead` bytes before it."""

    first_line: int
    name: str | None
    file: bool = False
    lead: int = 0


class _Request:
    """The compile request text, built piece by piece, with the owner of each
    line, so that a reading fault can be blamed on the option it lies in."""

    def __init__(self) -> None:
        self.pieces: list[str] = []
        self.line = 1
        self.owners: list[_Owner] = []
        # The name and text of a candles file spliced in unparsed, for its faults.
        self.data_file: tuple[str, str] | None = None

    def add(self, text: str, owner: _Owner | None = None) -> None:
        if owner is not None:
            self.owners.append(owner)
        self.pieces.append(text)
        self.line += text.count("\n")

    def member(self, name: str, value: str, owner: str | None) -> None:
        # Each member starts a line of its own, and the value is followed at
        # once by "," or "}", so that a fault the reader places just after a
        # value (or after a choice's closing brace) stays on the member's line.
        self.add(",\n")
        self.add(f'"{name}":{value}', _Owner(self.line, owner))

    def text(self) -> str:
        return "".join(self.pieces)

    def ask(self, compiler: Compiler | None, stop: Callable[[], bool] | None = None) -> tuple[str, dict[str, Any]]:
        """The answer to this request, as written and parsed; an error document
        is raised as `CompileError`, a reading fault placed as `name_option` places it."""
        try:
            return _ask(compiler, self.text(), stop)
        except CompileError as error:
            raise self._placed(error) from None

    def _placed(self, error: CompileError) -> CompileError:
        placed = self.name_option(error)
        placed.document = error.document
        return placed

    def name_option(self, error: CompileError) -> CompileError:
        """A request reading fault in text this module wrote, reported by the
        option's name instead of a position the caller never saw, and a fault
        in a file's text at its place in that file."""
        if self.data_file is not None and error.message.startswith(_ENVELOPE_FAULT):
            # A compile request that is not JSON throughout is read by the
            # envelope, whose fault has no place. Every other piece of the text
            # is this module's own JSON: the candles file's text is at fault,
            # and Python's reader says what and where.
            name, text = self.data_file
            try:
                _check_json(name, text)
            except CompileError as fault:
                return fault
        read_fault = error.kind in ("bad compile request", "bad destination request")
        found = _POSITION.search(error.message) if read_fault else None
        if found is None:
            return error
        line, column = int(found["line"]), int(found["column"])
        owner = next((o for o in reversed(self.owners) if o.first_line <= line), None)
        if owner is None or (owner.name is None and not owner.file):
            return error
        description = error.message[: found.start()]
        if owner.file:
            column = max(column - owner.lead, 1) if line == owner.first_line else column
            description += f" at line {line - owner.first_line + 1} column {column}"
        return CompileError(error.kind, description if owner.name is None else f"{owner.name}: {description}")


_POSITION = re.compile(r" at line (?P<line>\d+) column (?P<column>\d+)$")
_ENVELOPE_FAULT = "invalid command envelope: "


def _compile_request(strategy: StrategyInput, options: CompileOptions, cmd: str = "compile") -> _Request:
    """The request text of a command that reads a compile request ("compile" or "destination")."""
    target, mcu, csv, candles, out_dir = options.target, options.mcu, options.csv, options.candles, options.out_dir
    if target == "no_std" and mcu is None:
        raise ValueError("the no_std target needs an mcu")
    if mcu is not None and target != "no_std":
        raise ValueError(f"an mcu applies only to the no_std target, not to {target!r}")
    if csv is not None and candles is not None:
        raise ValueError("give csv or candles, not both")

    request = _Request()
    # The strategy goes first, on the request's first line, so that positions the
    # compiler reports inside a strategy file keep that file's line numbers.
    from_file = isinstance(strategy, (str, os.PathLike))
    lead = REQUEST_LEAD.replace('"compile"', f'"{cmd}"', 1)
    strategy_owner = _Owner(1, None, file=True, lead=len(lead)) if from_file else _Owner(1, "strategy")
    request.add(lead + _strategy_text(strategy), strategy_owner)
    if mcu is None:
        request.member("target", _value_text({"kind": target}), "target")
    else:
        request.member("target", "{" + f'"kind":{_value_text(target)}', "target")
        request.member("mcu", _value_text(mcu) + "}", "mcu")
    if options.opt_level is not None:
        request.member("opt_level", _value_text(options.opt_level), "opt_level")
    # The crate name before the data: the compiler hashes inline candles while
    # it reads them, and the spec hash text puts the crate name before them.
    if options.crate_name is not None:
        request.member("crate_name", _value_text(options.crate_name), "crate_name")
    if csv is not None:
        request.member("embed_data", _value_text({"kind": "csv", "path": os.fspath(csv)}), "csv")
    if isinstance(candles, (str, os.PathLike)):
        candles_text = _candles_file_text(candles)
        request.data_file = (os.fspath(candles), candles_text)
        # The file's text starts a line, so that positions in it are the file's.
        request.member("embed_data", '{"kind":"inline","candles":', "candles")
        request.add("\n")
        request.add(candles_text, _Owner(request.line, f"candles ({os.fspath(candles)})", file=True))
        request.add("}")  # a piece of its own: the file's text is not copied to append it
    elif candles is not None:
        request.member("embed_data", '{"kind":"inline","candles":' + _value_text(list(candles)) + "}", "candles")
    request.add("}")
    request.member("dry_run", "true" if options.dry_run else "false", None)
    if out_dir is not None:
        request.member("out_dir", _value_text(os.fspath(out_dir)), "out_dir")
    # Written only when asked, so that other requests keep their text.
    if options.stream_build_output:
        request.member("stream_build_output", "true", None)
    if options.build_progress:
        request.member("build_progress", "true", None)
    request.add("}")
    return request
