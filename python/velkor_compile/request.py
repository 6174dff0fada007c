"""The compile request text the Python functions send, built from their
keyword options and the texts of the files they name, with the owner of each
line, so that a fault the compiler finds in reading it is blamed on the option
the caller passed, or placed in the file it lies in, rather than on a place in
text they never saw.

Files are spliced in as written: the compiler reads them, and Python never
parses them. When the compiler cannot read one, the fault is described as lint
describes the file's own text, so that a file that is not JSON reads the same
in every command.
"""

from __future__ import annotations

import json
import os
import re
from dataclasses import dataclass, fields
from typing import Any, Callable, Literal, Mapping, NamedTuple, Sequence, Union

from ._velkor_compile import Compiler
from .errors import CompileError
from .handles import _ask, default_compiler
from .input_files import NESTED_TOO_DEEPLY, NOT_ONE_VALUE, first_byte, read_input_file, utf8_text, value_fault
from .lint import first_error



@dataclass(frozen=True)
class StrategyText:
    """A strategy document's text held in memory (an editor's), spliced into a
    request as written, as a file's is; `name` stands for it in messages."""

    name: str
    text: str


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


_POSITION = re.compile(r" at line (?P<line>\d+) column (?P<column>\d+)$")
_ENVELOPE_FAULT = "invalid command envelope: "


def _value_text(value: Any) -> str:
    """The JSON text of a Python value (NaN and infinities refused: JSON has none)."""
    return json.dumps(value, ensure_ascii=False, allow_nan=False)


def reads_as_json(text: str) -> bool:
    """Whether the compiler reads `text` as JSON. Inside a command no one
    answers, a text that is not JSON fails the envelope, which reads all of
    the command, and any other text gets the unknown command's answer."""
    answer = json.loads(default_compiler().command('{"cmd":"","value":' + text + "}"))
    return not str(answer.get("error", "")).startswith(_ENVELOPE_FAULT)


def _file_fault(name: str, text: str, fallback: str) -> CompileError:
    """A file whose text the compiler cannot read, described by lint's first
    error of the text and placed where lint places it."""
    found = first_error(text)
    if found is None:
        return CompileError("parse", f"{name}: {fallback}")
    return CompileError("parse", f"{name}: {found.words} at line {found.line} column {found.column}")


def load_json_text(path: str | os.PathLike[str]) -> str:
    """Reads a strategy file and returns its text as written (a leading
    byte-order mark removed), so that the compiler sees the numbers exactly as
    the file spells them.

    The text is checked only to be one JSON value as far as its brackets and
    strings tell: the compiler reads the rest. Raises `CompileError` of kind
    "io" when the file cannot be read or is not UTF-8, and of kind "parse"
    when it is not one JSON value, with lint's description and place of the
    fault; both messages name the file.
    """
    name = os.fspath(path)
    raw = read_input_file(name)
    text = utf8_text(name, raw)
    fault = value_fault(raw)
    if fault is not None:
        raise _file_fault(name, text, fault)
    return text


def _checked_text(strategy: StrategyText) -> str:
    """The text of a document held in memory, checked as `load_json_text`
    checks a file's: UTF-8 (no lone surrogate) and one JSON value as far as
    its brackets and strings tell."""
    try:
        raw = strategy.text.encode("utf-8")
    except UnicodeEncodeError as error:
        raise CompileError("parse", f"{strategy.name}: a lone surrogate at character {error.start}") from None
    fault = value_fault(raw)
    if fault is not None:
        raise _file_fault(strategy.name, strategy.text, fault)
    return strategy.text


def _candles_file_text(name: str) -> str:
    """A candles file's text, checked only to be one array as far as its
    brackets and strings tell: the compiler reads and checks the candles
    itself, straight from the request's text, with no copy as Python values."""
    raw = read_input_file(name)
    text = utf8_text(name, raw)
    if first_byte(raw) != b"[":
        raise CompileError("parse", f"{name}: the candles must be a JSON array")
    fault = value_fault(raw)
    if fault is not None:
        raise _file_fault(name, text, fault if fault == NESTED_TOO_DEEPLY else "the candles must be one JSON array")
    return text


class _Owner(NamedTuple):
    """Who wrote the request lines from `first_line` on: `name` is the option
    they hold; `file` the name and text of a file spliced in there, whose
    positions are the file's, its first line shifted by `lead` columns."""

    first_line: int
    name: str
    file: tuple[str, str] | None = None
    lead: int = 0


class _Request:
    """The compile request text, built piece by piece, with the owner of each
    line, so that a reading fault can be blamed on the option or file it lies in."""

    def __init__(self) -> None:
        self.pieces: list[str] = []
        self.line = 1
        self.owners: list[_Owner] = []

    def add(self, text: str, owner: _Owner | None = None) -> None:
        if owner is not None:
            self.owners.append(owner)
        self.pieces.append(text)
        self.line += text.count("\n")

    def member(self, name: str, value: str, owner: str) -> None:
        # Each member starts a line of its own, and the value is followed at
        # once by "," or "}", so that a fault the reader places just after a
        # value (or after a choice's closing brace) stays on the member's line.
        self.add(",\n")
        self.add(f'"{name}":{value}', _Owner(self.line, owner))

    def text(self) -> str:
        return "".join(self.pieces)

    def one_line(self) -> str:
        """The text on one line: a line feed in JSON text is whitespace (a
        file's text may hold some), never part of a string."""
        return self.text().replace("\n", " ")

    def ask(self, compiler: Compiler | None, stop: Callable[[], bool] | None = None) -> tuple[str, dict[str, Any]]:
        """The answer to this request, as written and parsed; an error document
        is raised as `CompileError`, a reading fault placed as `name_option` places it."""
        try:
            return _ask(compiler, self.text(), stop)
        except CompileError as error:
            raise self._placed(error) from None

    def _placed(self, error: CompileError) -> CompileError:
        placed = self.name_option(error)
        # The compiler's document as it came, unless the fault was placed in a
        # file or an option: then --json prints an error document of the placed message.
        placed.document = error.document if placed is error else None
        return placed

    def name_option(self, error: CompileError) -> CompileError:
        """A request reading fault in a file's text, described as lint
        describes that text; in text this module wrote, named by its option."""
        files = [owner.file for owner in self.owners if owner.file is not None]
        if error.message.startswith(_ENVELOPE_FAULT):
            # A request that is not JSON throughout is read by the envelope,
            # whose fault has no place. Every piece of the text is this
            # module's own JSON but the files': one of them is at fault.
            for name, text in files:
                if not reads_as_json(text):
                    return _file_fault(name, text, NOT_ONE_VALUE)
            return error
        read_fault = error.kind in ("bad compile request", "bad destination request", "bad canonical request")
        found = _POSITION.search(error.message) if read_fault else None
        if found is None:
            return error
        line, column = int(found["line"]), int(found["column"])
        owner = next((o for o in reversed(self.owners) if o.first_line <= line), None)
        if owner is None:
            return error
        description = error.message[: found.start()]
        if owner.file is None:
            return CompileError(error.kind, f"{owner.name}: {description}")
        name, text = owner.file
        placed = first_error(text)
        if placed is not None and placed.message == description:  # the same fault, placed in characters
            return _file_fault(name, text, description)
        line -= owner.first_line - 1
        column = max(column - owner.lead, 1) if line == 1 else column
        return CompileError("parse", f"{name}: {description} at line {line} column {column}")


def _compile_request(strategy: StrategyInput | StrategyText, options: CompileOptions, cmd: str = "compile",
                     read: str | None = None) -> _Request:
    """The request text of a command that reads a compile request ("compile",
    "destination" or "canonical"). `read` is the text of the strategy file
    named, when the caller has read it already and found it one JSON value: it
    is not read again."""
    target, mcu, csv, candles, out_dir = options.target, options.mcu, options.csv, options.candles, options.out_dir
    opt_level, crate_name = options.opt_level, options.crate_name
    if target == "no_std" and mcu is None:
        raise ValueError("the no_std target needs an mcu")
    if mcu is not None and target != "no_std":
        raise ValueError(f"an mcu applies only to the no_std target, not to {target!r}")
    if csv is not None and candles is not None:
        raise ValueError("give csv or candles, not both")

    request = _Request()
    # The strategy goes first, on the request's first line, so that positions the
    # compiler reports inside a strategy file keep that file's line numbers.
    lead = REQUEST_LEAD.replace('"compile"', f'"{cmd}"', 1)
    if isinstance(strategy, (str, os.PathLike)):
        name = os.fspath(strategy)
        strategy = StrategyText(name, load_json_text(name) if read is None else read)
    elif isinstance(strategy, StrategyText):
        _checked_text(strategy)
    if isinstance(strategy, StrategyText):
        name, text = strategy.name, strategy.text
        request.add(lead + text, _Owner(1, name, (name, text), len(lead)))
    elif isinstance(strategy, (bytes, bytearray)):
        raise TypeError("strategy must be a mapping, a sequence or a path, not bytes")
    else:
        request.add(lead + _value_text(strategy), _Owner(1, "strategy"))
    if mcu is None:
        request.member("target", _value_text({"kind": target}), "target")
    else:
        request.member("target", "{" + f'"kind":{_value_text(target)}', "target")
        request.member("mcu", _value_text(mcu) + "}", "mcu")
    if opt_level is not None:
        request.member("opt_level", _value_text(opt_level), "opt_level")
    # The crate name before the data: the compiler hashes inline candles while
    # it reads them, and the spec hash text puts the crate name before them.
    if crate_name is not None:
        request.member("crate_name", _value_text(crate_name), "crate_name")
    if csv is not None:
        request.member("embed_data", _value_text({"kind": "csv", "path": os.fspath(csv)}), "csv")
    if isinstance(candles, (str, os.PathLike)):
        name = os.fspath(candles)
        candles_text = _candles_file_text(name)
        # The file's text starts a line, so that positions in it are the file's.
        request.member("embed_data", '{"kind":"inline","candles":', "candles")
        request.add("\n")
        request.add(candles_text, _Owner(request.line, f"candles ({name})", (name, candles_text)))
        request.add("}")  # a piece of its own: the file's text is not copied to append it
    elif candles is not None:
        request.member("embed_data", '{"kind":"inline","candles":' + _value_text(list(candles)) + "}", "candles")
    request.add("}")
    request.member("dry_run", "true" if options.dry_run else "false", "dry_run")
    if out_dir is not None:
        request.member("out_dir", _value_text(os.fspath(out_dir)), "out_dir")
    # Written only when asked, so that other requests keep their text.
    if options.stream_build_output:
        request.member("stream_build_output", "true", "stream_build_output")
    if options.build_progress:
        request.member("build_progress", "true", "build_progress")
    request.add("}")
    return request
