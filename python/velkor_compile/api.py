"""The Pythonic interface: keyword arguments in, parsed documents out, errors raised.

Every function here builds one command document, hands it to a `Compiler`
handle and parses the answer; an error document becomes a `CompileError`. The
protocol itself is unchanged: what these functions send is exactly what a
caller of `Compiler.command` could send, so their results are the same
documents. Handles are bound to the thread that created them, so the default
handle (used when no `compiler` is given) is one per thread.
"""

from __future__ import annotations

import errno
import json
import os
import re
import stat
import threading
from dataclasses import dataclass
from importlib import resources
from typing import Any, Literal, Mapping, NamedTuple, Sequence, Union, cast

from ._velkor_compile import Compiler
from .answers import CompileAnswer, DestinationAnswer, TargetsAnswer, VersionAnswer

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

#: A strategy document as a parsed JSON value (object or positional array), or
#: the path of a JSON file that holds one.
StrategyInput = Union[Mapping[str, Any], Sequence[Any], str, os.PathLike[str]]

Target = Literal["wasm", "binary", "no_std"]
OptLevel = Literal["debug", "release", "size"]
SchemaName = Literal["strategy", "compile-request"]

# The start of every compile request text: the strategy follows at once, so a
# position on the request's first line is this many bytes past the same place
# in the strategy's text; every later line is the strategy's own.
REQUEST_LEAD = '{"cmd":"compile","spec":{"strategy":'

# The crate name used when only the strategy is to be checked: valid, so that the
# strategy check is the only step of a dry run that can fail.
VALIDATE_CRATE_NAME = "validate"


class CompileError(Exception):
    """An error document answered by the compiler, or an input file that could not be used.

    `kind` is the part of the message before the first ": " when that part is one
    of the known prefixes ("bad spec", "bad target", "build", "io", "parse",
    "codegen", "bad compile request", "bad artifact_bytes request", "bad lint
    request", "bad destination request"), otherwise
    "error"; `message` is the rest (the whole text for kind "error"). `str()` of
    the exception is the full message as the compiler wrote it.
    """

    KINDS = (
        "bad spec",
        "bad target",
        "build",
        "io",
        "parse",
        "codegen",
        "bad compile request",
        "bad artifact_bytes request",
        "bad lint request",
        "bad destination request",
    )

    def __init__(self, kind: str, message: str) -> None:
        self.kind = kind
        self.message = message
        super().__init__(self.text)

    @property
    def text(self) -> str:
        """The full message, with the kind's prefix."""
        return self.message if self.kind == "error" else f"{self.kind}: {self.message}"

    @classmethod
    def from_message(cls, text: str) -> CompileError:
        """Splits an error document's message into its kind and the rest."""
        kind, sep, rest = text.partition(": ")
        if sep and kind in cls.KINDS:
            return cls(kind, rest)
        return cls("error", text)

    def __reduce__(self) -> tuple[Any, ...]:
        return (type(self), (self.kind, self.message))


_per_thread = threading.local()


def default_compiler() -> Compiler:
    """This thread's default handle, created on first use."""
    handle: Compiler | None = getattr(_per_thread, "compiler", None)
    if handle is None:
        handle = Compiler()
        _per_thread.compiler = handle
    return handle


def _os_error_text(error: OSError) -> str:
    # The same form the compiler uses for system errors, so that a file the
    # Python side reads fails with the same kind of message as one the core reads.
    if error.errno is not None and error.strerror:
        return f"{error.strerror} (os error {error.errno})"
    return str(error)


def read_input_file(name: str) -> bytes:
    """Reads a whole input file, which must be a regular file.

    The file is opened without blocking, so that a FIFO without a writer cannot
    hold the caller, and the opened file itself is examined, so that nothing can
    be swapped in between a check and the open. Pipes, sockets and devices (whose
    end may never come, as /dev/zero's) are refused as the compiler refuses them
    for a CSV file; a directory fails on reading, as there. Raises `CompileError`
    of kind "io" with the message "reading NAME: REASON".
    """
    try:
        fd = os.open(name, os.O_RDONLY | os.O_NONBLOCK)
    except OSError as error:
        raise CompileError("io", f"reading {name}: {_os_error_text(error)}") from None
    except ValueError:  # a NUL byte in the path
        raise CompileError("io", f"reading {name}: file name contained an unexpected NUL byte") from None
    try:
        mode = os.fstat(fd).st_mode
        if not stat.S_ISREG(mode) and not stat.S_ISDIR(mode):
            raise CompileError("io", f"reading {name}: not a regular file")
        with open(fd, "rb", closefd=False) as stream:
            return stream.read()
    except OSError as error:
        raise CompileError("io", f"reading {name}: {_os_error_text(error)}") from None
    except MemoryError:
        # A regular file larger than the memory the process may use.
        raise CompileError("io", f"reading {name}: {os.strerror(errno.ENOMEM)} (os error {errno.ENOMEM})") from None
    finally:
        os.close(fd)


def load_json_text(path: str | os.PathLike[str]) -> str:
    """Reads a JSON file and returns its text, checked to be one JSON value.

    The text is returned as written (a leading byte-order mark removed) so that
    the compiler sees the numbers exactly as the file spells them. Raises
    `CompileError` of kind "io" when the file cannot be read or is not UTF-8, and
    of kind "parse" when it is not JSON; both messages name the file.
    """
    name = os.fspath(path)
    text = _utf8_text(name, read_input_file(name))
    _check_json(name, text)
    return text


def _utf8_text(name: str, raw: bytes) -> str:
    try:
        return raw.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise CompileError("io", f"reading {name}: not valid UTF-8 at byte {error.start}") from None


def _check_json(name: str, text: str) -> None:
    try:
        parse_json(text)
    except json.JSONDecodeError as error:
        raise CompileError("parse", f"{name}: {error.msg} at line {error.lineno} column {error.colno}") from None
    except ValueError as error:
        raise CompileError("parse", f"{name}: {error}") from None
    except RecursionError:
        raise CompileError("parse", f"{name}: nested too deeply") from None


def _candles_file_text(path: str | os.PathLike[str]) -> str:
    """The text of a candles file, checked only as far as the request needs.

    The compiler reads and checks the candles itself, straight from the
    request's text; parsing them into Python values first cost ten times the
    file's size. What is checked here is that the text is UTF-8 and one array
    that ends at the file's end, so that nothing in the file can close the
    array and add members to the request around it. A file that fails is
    parsed after all, for a message that says what is wrong and where.
    """
    name = os.fspath(path)
    raw = read_input_file(name)
    text = _utf8_text(name, raw)
    start = len(_BOM) if raw.startswith(_BOM) else 0
    while raw[start:start + 1] in (b" ", b"\t", b"\r", b"\n"):
        start += 1
    if raw[start:start + 1] != b"[":
        raise CompileError("parse", f"{name}: the candles must be a JSON array")
    fault = _array_fault(raw)
    if fault is not None:
        _check_json(name, text)  # a text refused here is seldom JSON: then Python's reader says where
        raise CompileError("parse", f"{name}: {fault}")
    return text


_BOM = b"\xef\xbb\xbf"
# Every byte but the brackets and the quote: what is left of a text is its structure.
_NOT_STRUCTURE = bytes(set(range(256)) - set(b'[]{}"'))
# The compiler reads a request nested 127 levels deep at most, candles included.
_DEEPEST = 128


def _array_fault(raw: bytes) -> str | None:
    """None when the array that opens `raw` is closed by its last byte but
    whitespace, as far as the brackets outside strings tell; else what is
    wrong. The compiler checks everything else, and it stops at the first
    byte that is not JSON, before anything it could read otherwise than this."""
    not_one = "the candles must be one JSON array"
    if b"\\" in raw:  # escaped backslashes, then escaped quotes: no quote left but those of strings
        raw = raw.replace(b"\\\\", b"").replace(b'\\"', b"")
    end = len(raw)
    while end and raw[end - 1] in b" \t\r\n":
        end -= 1
    if raw[end - 1:end] != b"]":
        return not_one
    # Two quotes side by side close a string and open the next (or enclose
    # nothing): dropping them leaves outside the strings what was there.
    shape = raw.translate(None, _NOT_STRUCTURE).replace(b'""', b"")
    if shape.count(b'"') % 2:
        return not_one  # a string left open
    if b'"' in shape:
        shape = _outside_strings(shape)
    if shape[:1] != b"[" or shape[-1:] != b"]":
        return not_one
    shape = shape[1:-1]
    for _ in range(_DEEPEST):  # innermost pairs away, one level a round
        if not shape:
            return None
        inner = shape.replace(b"[]", b"").replace(b"{}", b"")
        if inner == shape:
            return not_one
        shape = inner
    return "nested too deeply"


def _outside_strings(shape: bytes, piece: int = 1 << 16) -> bytes:
    """`shape` (brackets and quotes) without the strings, taken in pieces so that no list grows with the file."""
    kept, inside = [], 0
    for start in range(0, len(shape), piece):
        parts = shape[start:start + piece].split(b'"')
        kept.append(b"".join(parts[inside::2]))
        inside ^= (len(parts) - 1) & 1
    return b"".join(kept)


def parse_json(text: str) -> Any:
    """Parses JSON text as the compiler would accept it, numbers kept as their text.

    Numbers stay strings so that no literal is too long or too large for Python;
    NaN and Infinity, which Python's reader would allow, are refused.
    """
    return json.loads(text, parse_int=str, parse_float=str, parse_constant=_refuse_constant)


def _refuse_constant(name: str) -> Any:
    raise ValueError(f"{name} is not a JSON number")


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
    """Who wrote the request lines from `first_line` on: `name` is the option
    they hold, None for a strategy file's own text (whose positions are the
    file's already); `file_line` is true for a file's text that starts its own
    line, whose positions are shifted into that file."""

    first_line: int
    name: str | None
    file_line: bool = False


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

    def name_option(self, error: CompileError) -> CompileError:
        """A request reading fault in text this module wrote, reported by the
        option's name instead of a position the caller never saw."""
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
        if owner is None or owner.name is None:
            return error
        description = error.message[: found.start()]
        if owner.file_line:
            description += f" at line {line - owner.first_line + 1} column {column}"
        return CompileError(error.kind, f"{owner.name}: {description}")


_POSITION = re.compile(r" at line (?P<line>\d+) column (?P<column>\d+)$")
_ENVELOPE_FAULT = "invalid command envelope: "


def _compile_request(
    strategy: StrategyInput,
    *,
    target: Target,
    mcu: str | None,
    opt_level: OptLevel | None,
    crate_name: str | None,
    csv: str | os.PathLike[str] | None,
    candles: Sequence[Any] | str | os.PathLike[str] | None,
    out_dir: str | os.PathLike[str] | None,
    dry_run: bool,
    stream_build_output: bool = False,
    build_progress: bool = False,
    cmd: str = "compile",
) -> _Request:
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
    request.add(lead + _strategy_text(strategy), _Owner(1, None if from_file else "strategy"))
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
        candles_text = _candles_file_text(candles)
        request.data_file = (os.fspath(candles), candles_text)
        # The file's text starts a line, so that positions in it are the file's.
        request.member("embed_data", '{"kind":"inline","candles":', "candles")
        request.add("\n")
        request.add(candles_text, _Owner(request.line, f"candles ({os.fspath(candles)})", file_line=True))
        request.add("}")  # a piece of its own: the file's text is not copied to append it
    elif candles is not None:
        request.member("embed_data", '{"kind":"inline","candles":' + _value_text(list(candles)) + "}", "candles")
    request.add("}")
    request.member("dry_run", "true" if dry_run else "false", None)
    if out_dir is not None:
        request.member("out_dir", _value_text(os.fspath(out_dir)), "out_dir")
    # Written only when asked, so that other requests keep their text.
    if stream_build_output:
        request.member("stream_build_output", "true", None)
    if build_progress:
        request.member("build_progress", "true", None)
    request.add("}")
    return request


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
    return _compile_request(
        strategy,
        target=target,
        mcu=mcu,
        opt_level=opt_level,
        crate_name=crate_name,
        csv=csv,
        candles=candles,
        out_dir=out_dir,
        dry_run=dry_run,
        stream_build_output=stream_build_output,
        build_progress=build_progress,
    ).text()


def _answer(compiler: Compiler | None, text: str) -> dict[str, Any]:
    handle = compiler if compiler is not None else default_compiler()
    answer = json.loads(handle.command(text))
    if not isinstance(answer, dict):  # every document the compiler writes is an object
        raise CompileError("error", f"unexpected answer: {answer!r}")
    if answer.get("ok") is False:
        raise CompileError.from_message(str(answer.get("error", "")))
    return answer


def _compile_answer(compiler: Compiler | None, request: _Request) -> CompileAnswer:
    try:
        return cast(CompileAnswer, _answer(compiler, request.text()))
    except CompileError as error:
        raise request.name_option(error) from None


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
    request = _compile_request(
        strategy,
        target=target,
        mcu=mcu,
        opt_level=opt_level,
        crate_name=crate_name,
        csv=csv,
        candles=candles,
        out_dir=out_dir,
        dry_run=dry_run,
        stream_build_output=stream_build_output,
        build_progress=build_progress,
    )
    return _compile_answer(compiler, request)


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
    request = _compile_request(
        strategy,
        target=target,
        mcu=mcu,
        opt_level=opt_level,
        crate_name=crate_name,
        csv=csv,
        candles=candles,
        out_dir=out_dir,
        dry_run=True,
        cmd="destination",
    )
    try:
        answer = _answer(compiler, request.text())
    except CompileError as error:
        raise request.name_option(error) from None
    return {"project_dir": answer["project_dir"], "replace": list(answer["replace"]), "remove": list(answer["remove"])}


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


def targets(*, compiler: Compiler | None = None) -> TargetsAnswer:
    """The target kinds and the microcontroller triples the no_std target accepts."""
    answer = _answer(compiler, '{"cmd":"targets"}')
    return {"targets": list(answer["targets"]), "mcus": list(answer["mcus"])}


def version_info(*, compiler: Compiler | None = None) -> VersionAnswer:
    """The compiler version and the backtest dependency that generated projects require."""
    answer = _answer(compiler, '{"cmd":"version"}')
    return {"version": str(answer["version"]), "backtest_dep": str(answer["backtest_dep"])}


def schema(name: SchemaName = "strategy") -> dict[str, Any]:
    """The JSON Schema (draft 2020-12) shipped with the package: "strategy" or "compile-request"."""
    if name not in ("strategy", "compile-request"):
        raise ValueError(f"no schema named {name!r}: expected 'strategy' or 'compile-request'")
    text = resources.files("velkor_compile").joinpath("schema", f"{name}.schema.json").read_text(encoding="utf-8")
    loaded: dict[str, Any] = json.loads(text)
    return loaded
