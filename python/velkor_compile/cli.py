"""The ``velkor-compile`` command line.

Exit status: 0 on success, 1 on a domain error (the message on stderr, one
line), 2 on a usage error. No traceback reaches the user: every failure the
compiler or an input file can cause is reported as one line that names what
failed and where. With --json, every error also prints one error document on
stdout.
"""

from __future__ import annotations

import argparse
import contextlib
import io
import json
import os
import re
import signal
import sys
import threading
import time
from typing import IO, Any, Callable, Iterator, NoReturn, Sequence, TextIO, cast

from ._velkor_compile import Compiler, PanicException
from . import check
from .answers import DestinationAnswer
from .api import REQUEST_LEAD, VALIDATE_CRATE_NAME, CompileError, _compile_request, destination, request_text, schema
from .completion import INSTALL_HINT, SHELLS, completion_script
from .config import ConfigError, find_config
from .hints import hints
from .streams import Output, OutputClosed, open_standard_descriptors
from .terminal import printable

PROG = "velkor-compile"
STRATEGY_PREFIX = "strategy is not a valid StrategySpec: "
DEFAULT_OUT_DIR = "_out"
# How the core answers a compile that an interrupt stopped before cargo started.
STOPPED_BEFORE_CARGO = "build: stopped before cargo started: "
OUT_OF_MEMORY = "out of memory"
LONE_SURROGATE = re.compile("[\ud800-\udfff]")
POSITION = re.compile(r" at line (?P<line>\d+) column (?P<column>\d+)$")


class Failure(Exception):
    """A domain error to report on stderr and exit with status 1.

    `document` is the error document the compiler answered, when it did: with
    --json it is printed as it came.
    """

    def __init__(self, message: str, document: str | None = None) -> None:
        super().__init__(message)
        self.document = document


class UsageError(Exception):
    """A command line argparse could not accept (exit status 2)."""


class Parser(argparse.ArgumentParser):
    """argparse's parser, with usage errors raised to `main` instead of exiting,
    so that --json can report them too. An option is taken only as spelt in
    full: a prefix (--dry-ru) is refused, so that a script's typo fails instead
    of meaning an option that a later version could make ambiguous."""

    def __init__(self, *args: Any, **kwargs: Any) -> None:
        kwargs["allow_abbrev"] = False
        super().__init__(*args, **kwargs)

    def error(self, message: str) -> NoReturn:
        self.print_usage(sys.stderr)
        sys.stderr.write(f"{self.prog}: error: {printable(message)}\n")
        raise UsageError(message)


def error_document(message: str) -> str:
    """An error document in the compiler's own text form.

    A lone surrogate (from a file name that is not UTF-8) is written as its
    escape, so that the text can be written as UTF-8 and read back.
    """
    return _json_line({"ok": False, "error": message})


def _json_line(value: Any) -> str:
    """Compact JSON text that can be written as UTF-8 whatever the file names in it hold."""
    text = json.dumps(value, ensure_ascii=False, separators=(",", ":"))
    return LONE_SURROGATE.sub(lambda found: f"\\u{ord(found.group()):04x}", text)


def _command(compiler: Compiler, text: str, stop: Callable[[], bool] | None = None) -> tuple[str, dict[str, Any]]:
    """Runs one command (stopped when `stop` returns true); returns the answer text and the parsed answer."""
    try:
        answer_text = compiler.command(text) if stop is None else compiler.command(text, stop=stop)
    except PanicException as fault:
        raise Failure(f"internal fault: {fault}") from None
    answer: dict[str, Any] = json.loads(answer_text)
    return answer_text, answer


def _target_label(target: dict[str, Any]) -> str:
    kind = str(target.get("kind"))
    return f"{kind} ({target['mcu']})" if "mcu" in target else kind


def _print_summary(answer: dict[str, Any], out: IO[str]) -> None:
    manifest = answer["manifest"]
    verb = "built" if answer["built"] else "checked (dry run, nothing written)"
    out.write(
        f"{verb}: crate {manifest['crate_name']}, target {_target_label(manifest['target'])}, "
        f"opt level {manifest['opt_level']}\n"
    )
    out.write(f"  spec hash     {manifest['spec_hash']}\n")
    out.write(f"  project hash  {manifest['project_hash']}\n")
    out.write("  files\n")
    width = max((len(entry["path"]) for entry in manifest["files"]), default=0)
    for entry in manifest["files"]:
        out.write(f"    {entry['path']:<{width}}  {entry['bytes_len']:>8} bytes  sha256 {entry['sha256']}\n")
    out.write(f"  artifact      {answer['path'] if 'path' in answer else '(none: dry run)'}\n")


def _fail_with(answer_text: str, answer: dict[str, Any]) -> NoReturn:
    """Reports an error document: printed as it is with --json, and always as the message."""
    raise Failure(str(answer.get("error")), document=answer_text)


def run_compile(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    if len(args.strategies) > 1:
        from .compile_many import run_compile_many  # a module of its own, on top of this one

        return run_compile_many(args, out, err)
    args.strategy = args.strategies[0]
    if args.quiet:
        # Errors reach the user as raised failures, reported by main; what this
        # writes is progress and the summary, which --quiet drops (not the
        # document --json asks for).
        err = io.StringIO()
        out = out if args.json else io.StringIO()
    options: dict[str, Any] = {
        "target": args.target,
        "mcu": args.mcu,
        "opt_level": args.opt_level,
        "crate_name": args.crate_name,
        "csv": args.csv,
        "candles": args.candles,
        "out_dir": args.out_dir,
    }
    compiler = Compiler()
    # A dry run first: every check of the request happens before cargo is
    # mentioned, and it names the crate the build line reports.
    request = _compile_request(args.strategy, dry_run=True, **options)
    answer_text, answer = _command(compiler, request.text())
    if answer.get("ok") is False:
        # A fault in the candles file's text is placed in that file, as the Python function places it.
        named = request.name_option(CompileError.from_message(str(answer.get("error"))))
        raise Failure(named.text, document=answer_text)
    manifest = answer["manifest"]
    project_dir = os.path.join(args.out_dir or DEFAULT_OUT_DIR, manifest["crate_name"])
    if args.dry_run:
        _print_answer(answer_text, answer, args.json, out)
        if not args.json:
            _print_destination(destination(args.strategy, compiler=compiler, **options), out)
        return 0

    # The core itself writes what the user sees of the build on descriptor 2,
    # never waiting for it: with -v cargo's own output, otherwise at a
    # terminal one line it updates.
    stream = bool(args.verbose)
    progress = not stream and not args.quiet and os.isatty(2)
    live = stream or progress
    err.write(
        f"{PROG}: cargo is building {manifest['crate_name']} "
        f"({_target_label(manifest['target'])}, {manifest['opt_level']}) in {project_dir}"
        + ("\n" if live else " ... ")
    )
    err.flush()
    started = time.monotonic()
    text = request_text(args.strategy, dry_run=False, stream_build_output=stream, build_progress=progress, **options)
    interrupted: str | None = None
    status = 0
    try:
        with _terminate_as_stop():
            answer_text, answer = _command(compiler, text)
    except (KeyboardInterrupt, Terminated) as interrupt:
        # The handle raises an interrupt when the command ends, once cargo has
        # stopped, with the answer it ended with: that says how far the build got.
        interrupted, status = ("terminated", 143) if isinstance(interrupt, Terminated) else ("interrupted", 130)
        ended_with = getattr(interrupt, "answer", None)
        answer_text = ended_with if isinstance(ended_with, str) else error_document("")
        answer = json.loads(answer_text)
        if answer.get("ok") is False:
            err.write("" if live else f"{interrupted}\n")
            _report(interrupted_message(interrupted, str(answer.get("error")), project_dir), args.json)
            return status
        # after cargo had finished: the build is reported as it ended
    elapsed = time.monotonic() - started
    failed = answer.get("ok") is False
    outcome = f"{'failed after' if failed else 'done in'} {elapsed:.1f} s\n"
    err.write(f"{PROG}: {outcome}" if live else outcome)
    err.flush()
    if failed:
        _fail_with(answer_text, answer)
    _print_answer(answer_text, answer, args.json, out)
    if interrupted:
        _report(f"{interrupted} after cargo had finished; the build is complete")
    return status


def interrupted_message(word: str, error: str, project_dir: str) -> str:
    """What an interrupted compile left, from the error it ended with: a stop
    before cargo started leaves the project written and nothing built; any
    other leaves the build half done. `word` is "interrupted" or "terminated"."""
    if error.startswith(STOPPED_BEFORE_CARGO):
        return f"{word} before cargo started; the project in {project_dir} is written, nothing was built"
    return f"{word}; the build in {project_dir} is left half-built"


class Terminated(Exception):
    """SIGTERM during a compile, raised by the handler _terminate_as_stop installs."""


@contextlib.contextmanager
def _terminate_as_stop() -> Iterator[None]:
    """While a compile runs, SIGTERM stops it as Ctrl-C does (the core ends cargo
    and what it started) instead of ending this process and leaving cargo
    running. Only the main thread may set a handler; elsewhere SIGTERM keeps its
    disposition."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return

    def stop(signum: int, frame: Any) -> None:
        raise Terminated()

    previous = signal.signal(signal.SIGTERM, stop)
    try:
        yield
    finally:
        signal.signal(signal.SIGTERM, previous if previous is not None else signal.SIG_DFL)


def _print_destination(planned: DestinationAnswer, out: IO[str]) -> None:
    """Where a build with the same options would write, and which files already there it would replace and remove."""
    replace, remove = planned["replace"], planned["remove"]
    out.write(f"  would write   {planned['project_dir']}\n")
    out.write(f"  would replace {', '.join(replace) if replace else '(no existing files)'}\n")
    if remove:
        out.write(f"  would remove  {', '.join(remove)}\n")


def _print_answer(answer_text: str, answer: dict[str, Any], as_json: bool, out: IO[str]) -> None:
    if as_json:
        out.write(answer_text + "\n")
    else:
        _print_summary(answer, out)


def _validation_message(path: str, error: CompileError) -> str:
    """The message for one file's fault, naming the file."""
    if error.kind == "bad spec" and error.message.startswith(STRATEGY_PREFIX):
        return f"{path}: not a valid strategy: {error.message[len(STRATEGY_PREFIX):]}"
    if error.kind == "bad compile request":
        # Every member but the strategy is fixed and valid, so a fault in reading
        # the request lies in the file's text: nesting beyond the limit, a number
        # out of range, an escaped lone surrogate.
        return f"{path}: not a valid strategy: {_position_in_strategy(error.message)}"
    if error.kind in ("io", "parse"):  # written by the file reader, with the file's name
        return error.text
    return f"{path}: {error.text}"


def _position_in_strategy(message: str) -> str:
    """A request reading fault with its column on the first line counted in the strategy's text."""
    found = POSITION.search(message)
    if found is None or found["line"] != "1":
        return message
    column = int(found["column"]) - len(REQUEST_LEAD)
    return f"{message[:found.start()]} at line 1 column {max(column, 1)}"


def run_validate(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    compiler = Compiler()
    status = 0
    for path in args.strategies:
        try:
            text = request_text(path, crate_name=VALIDATE_CRATE_NAME, dry_run=True)
            _, answer = _command(compiler, text)
            if answer.get("ok") is False:
                raise CompileError.from_message(str(answer.get("error")))
            message = None
        except CompileError as error:
            message = _validation_message(path, error)
        except Failure as failure:  # an internal fault on this file; the others are still checked
            message = f"{path}: {failure}"
        if message is not None:
            err.write(f"{PROG}: {message}\n")
            status = 1
        if args.json:
            out.write(_validation_line(path, message) + "\n")
        elif message is None and not args.quiet:
            out.write(f"{path}: valid\n")
    return status


def _validation_line(path: str, message: str | None) -> str:
    """One file's verdict as one JSON line: {"path":..,"valid":true}, or with
    "valid":false the message the stderr line carries."""
    verdict: dict[str, Any] = {"path": path, "valid": message is None}
    if message is not None:
        verdict["error"] = message
    return _json_line(verdict)


def run_targets(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    answer_text, answer = _command(Compiler(), '{"cmd":"targets"}')
    if args.json:
        out.write(answer_text + "\n")
        return 0
    out.write("targets: " + ", ".join(answer["targets"]) + "\n")
    out.write("mcus for --target no_std:\n")
    for mcu in answer["mcus"]:
        out.write(f"  {mcu}\n")
    return 0


def run_version(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    answer_text, answer = _command(Compiler(), '{"cmd":"version"}')
    if args.json:
        out.write(answer_text + "\n")
    else:
        out.write(f"{PROG} {answer['version']} (generated projects use velkor-backtest {answer['backtest_dep']})\n")
    return 0


def run_schema(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    out.write(json.dumps(schema(args.name), indent=2, ensure_ascii=False) + "\n")
    return 0


def serve(stdin: IO[bytes], stdout: IO[bytes]) -> int:
    """Answers one command document per input line with one response line.

    Every line is answered, in order, and the answer is flushed before the next
    line is read. A line is the text up to a line feed (which is removed; a
    carriage return before it is JSON whitespace and left to the compiler); the
    last line may lack its line feed. A blank line is answered like any other
    text, with the envelope error. A line that is not valid UTF-8 cannot be a
    JSON text and is answered with an error document saying so; a line whose
    reading or handling fails (memory exhausted, an internal fault) is answered
    with an "internal fault" error document, and serving goes on. Only an
    interrupt or a closed output ends it early.
    """
    compiler = Compiler()
    while (line := _next_line(stdin)) != b"":
        stdout.write(_answer_line(compiler, line))
        stdout.write(b"\n")
        stdout.flush()
    return 0


# Lines are read in pieces of at most this many bytes, so that a line too long
# to hold in memory fails between pieces, where the rest of it can be skipped.
LINE_PIECE = 1 << 20


def _next_line(stdin: IO[bytes]) -> bytes | None:
    """The next line with its line feed, b"" at the end of input, or None for a
    line that could not be held in memory (read and dropped up to its end)."""
    pieces: list[bytes] = []
    ended = False
    try:
        while not ended:
            piece = stdin.readline(LINE_PIECE)
            if not piece:
                break
            ended = piece.endswith(b"\n")
            pieces.append(piece)
        return b"".join(pieces)
    except MemoryError:
        pieces.clear()
        while not ended:
            piece = stdin.readline(LINE_PIECE)
            ended = not piece or piece.endswith(b"\n")
        return None


def _answer_line(compiler: Compiler, line: bytes | None) -> bytes:
    """The UTF-8 answer to one line: the compiler's, or an error document when none can be had."""
    if line is None:
        return error_document(f"internal fault: {OUT_OF_MEMORY}").encode("utf-8")
    try:
        end = len(line) - 1 if line.endswith(b"\n") else len(line)
        try:
            text = str(memoryview(line)[:end], "utf-8")  # no copy of a long line
        except UnicodeDecodeError as fault:
            return error_document(f"invalid command text: not valid UTF-8 at byte {fault.start}").encode("utf-8")
        return compiler.command(text).encode("utf-8")
    except PanicException as fault:
        return error_document(f"internal fault: {fault}").encode("utf-8")
    except MemoryError:
        return error_document(f"internal fault: {OUT_OF_MEMORY}").encode("utf-8")
    except Exception as fault:  # noqa: BLE001 - one line's failure must not end serving
        return error_document(f"internal fault: {type(fault).__name__}: {fault}").encode("utf-8")


def run_serve(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    out.flush()
    return serve(sys.stdin.buffer, sys.stdout.buffer)


Handler = Callable[[argparse.Namespace, IO[str], IO[str]], int]


def build_parser() -> argparse.ArgumentParser:
    parser = Parser(
        prog=PROG,
        description="Check, canonicalise, hash and build trading-strategy documents.",
        epilog="Exit status: 0 success, 1 error (message on stderr), 2 usage error. With --json every error "
        "also prints one error document on stdout.",
    )
    parser.add_argument("-V", "--version", action="version", version=f"{PROG} {_library_version()}")
    parser.add_argument("--print-completion", choices=SHELLS, action=PrintCompletion,
                        help="print a completion script for this shell and exit (needs shtab)")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    compile_parser = commands.add_parser(
        "compile",
        help="compile a strategy file (a dry run or a cargo build)",
        description="Compile STRATEGY (a JSON file) into a Rust project and, unless --dry-run, build it with cargo. "
        "Several files are built N at a time (-j), each into a project of its own, with one line per file; "
        "the exit status is 1 when any failed.",
        epilog="--target, --mcu, --opt-level and --out-dir default to the values of [tool.velkor-compile] in the "
        "nearest pyproject.toml at or above the current directory, when it gives them.",
    )
    compile_parser.add_argument("strategies", metavar="STRATEGY.json", nargs="+",
                                help="the strategy document (or several)")
    compile_parser.add_argument("--target", choices=["wasm", "binary", "no_std"],
                                help="kind of artifact (default: binary)")
    compile_parser.add_argument("--mcu", metavar="TRIPLE", help="microcontroller target triple; required with no_std")
    compile_parser.add_argument("--opt-level", choices=["debug", "release", "size"],
                                help="optimisation level (default: release)")
    compile_parser.add_argument("--crate-name", metavar="NAME",
                                help="crate name (default: derived from the strategy's symbol)")
    data = compile_parser.add_mutually_exclusive_group()
    data.add_argument("--csv", metavar="PATH", help="embed this CSV file of market data")
    data.add_argument("--candles", metavar="FILE.json", help="embed the JSON array of candles in this file")
    compile_parser.add_argument("--out-dir", metavar="DIR",
                                help=f"directory beneath which the project is written (default: {DEFAULT_OUT_DIR})")
    compile_parser.add_argument("--dry-run", action="store_true", help="generate in memory only: write nothing, no build")
    compile_parser.add_argument("--json", action="store_true",
                                help="print the response document instead of a summary (an error document on every error)")
    _add_quiet(compile_parser, "print nothing but errors (and the document asked for with --json)")
    compile_parser.add_argument("--no-config", action="store_true",
                                help="ignore [tool.velkor-compile] in the nearest pyproject.toml")
    compile_parser.add_argument("-v", "--verbose", action="store_true",
                                help="show cargo's output live on stderr (in colour on a terminal); with several "
                                "files, builds one at a time")
    compile_parser.add_argument("-j", "--jobs", type=_jobs, metavar="N",
                                help="with several files, build N at a time (default: the number of CPUs)")
    compile_parser.set_defaults(handler=run_compile, parser=compile_parser)

    validate_parser = commands.add_parser(
        "validate",
        help="check strategy files",
        description="Check each strategy file; print the first fault of each invalid one.",
    )
    validate_parser.add_argument("strategies", metavar="STRATEGY.json", nargs="+", help="strategy documents")
    validate_parser.add_argument("--json", action="store_true",
                                 help='print one JSON line per file: {"path":FILE,"valid":BOOL} and "error" when invalid')
    _add_quiet(validate_parser, "print nothing for valid files")
    validate_parser.set_defaults(handler=run_validate, parser=validate_parser)

    check.add_parser(commands)

    targets_parser = commands.add_parser("targets", help="list the targets and microcontroller triples",
                                         description="List the target kinds and the triples --mcu accepts.")
    targets_parser.add_argument("--json", action="store_true", help="print the response document")
    targets_parser.set_defaults(handler=run_targets, parser=targets_parser)

    version_parser = commands.add_parser("version", help="print the version",
                                         description="Print the compiler version and the backtest dependency.")
    version_parser.add_argument("--json", action="store_true", help="print the response document")
    version_parser.set_defaults(handler=run_version, parser=version_parser)

    serve_parser = commands.add_parser(
        "serve",
        help="answer command documents read from stdin, one per line",
        description="Read one command document per line on stdin and write one response per line on stdout, "
        "in order, flushed after each, all on one compiler handle. A blank line is answered with the "
        "envelope error; a line that is not UTF-8, or whose handling fails, with an error document. "
        "Ends at end of input.",
    )
    serve_parser.set_defaults(handler=run_serve, parser=serve_parser)

    schema_parser = commands.add_parser("schema", help="print a JSON Schema shipped with the package",
                                        description="Print the JSON Schema of the strategy or compile request.")
    schema_parser.add_argument("name", choices=["strategy", "compile-request"], nargs="?", default="strategy")
    schema_parser.set_defaults(handler=run_schema, parser=schema_parser)
    return parser


def _jobs(text: str) -> int:
    try:
        jobs = int(text)
    except ValueError:
        jobs = 0
    if jobs < 1:
        raise argparse.ArgumentTypeError(f"expected a number of builds of at least 1, not {text!r}")
    return jobs


def _add_quiet(parser: argparse.ArgumentParser, meaning: str) -> None:
    parser.add_argument("-q", "--quiet", action="store_true", help=meaning)


class PrintCompletion(argparse.Action):
    """Prints the completion script of the parser it belongs to and exits, as --version does."""

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                 option_string: str | None = None) -> None:
        try:
            script = completion_script(parser, str(values))
        except ImportError:
            parser.exit(1, f"{PROG}: {INSTALL_HINT}\n")
        sys.stdout.write(script)
        parser.exit(0)


def _library_version() -> str:
    from ._velkor_compile import __version__

    return __version__


def main(argv: Sequence[str] | None = None) -> int:
    """Runs one command line; returns its exit status.

    The standard streams are held by `Output` while it runs: a stream that is
    closed or breaks never ends the command in a traceback, and output that
    could not be written makes the status 1, with a line on stderr saying why.
    """
    argv = sys.argv[1:] if argv is None else list(argv)
    open_standard_descriptors()
    saved = sys.stdout, sys.stderr
    out, err = Output(sys.stdout, json_text=_json_stdout(argv)), Output(sys.stderr)
    sys.stdout, sys.stderr = cast(TextIO, out), cast(TextIO, err)
    try:
        status = _run(argv)
    except SystemExit as exit_:  # --help, --version and --print-completion exit from argparse
        if exit_.code is not None and not isinstance(exit_.code, int):
            raise
        raise SystemExit(_finish(exit_.code or 0, out, err)) from None
    finally:
        sys.stdout, sys.stderr = saved
    return _finish(status, out, err)


def _finish(status: int, out: Output, err: Output) -> int:
    """The exit status once both streams are flushed: a command whose output was
    lost did not succeed, and says so on stderr (unless the reader went away,
    as `| head` does, which needs no telling)."""
    out.flush()
    if out.lost and out.failure is not None and not isinstance(out.failure, BrokenPipeError):
        reason = f"{out.failure.strerror} (os error {out.failure.errno})"
        err.write(f"{PROG}: writing standard output: {reason}\n")
    err.flush()
    return status or int(out.lost)


def _run(argv: list[str]) -> int:
    as_json = _json_requested(argv)
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
        if args.command == "compile":
            _apply_config(args)
            if args.target == "no_std" and not args.mcu:
                args.parser.error("--mcu TRIPLE is required with --target no_std")
            if args.mcu and args.target != "no_std":
                args.parser.error(f"--mcu applies only to --target no_std, not to {args.target}")
            _require_text(args)
            _check_several(args)
    except UsageError as usage:
        # The usage text is on stderr already.
        if as_json:
            _print_document(error_document(f"usage: {usage}"))
        return 2
    handler: Handler = args.handler
    # What a person reads has its control characters escaped; JSON documents are
    # escaped by their writers, and check escapes its own report.
    raw_out = getattr(args, "json", False) or args.command in ("check", "serve", "schema")
    out = sys.stdout if raw_out else PrintableLines.over(sys.stdout)
    try:
        return handler(args, out, PrintableLines.over(sys.stderr))
    except (Failure, CompileError) as failure:
        _report(str(failure), as_json, getattr(failure, "document", None))
        for hint in hints(str(failure), _allowed_mcus):
            sys.stderr.write(f"{PROG}: hint: {printable(hint)}\n")
        return 1
    except MemoryError:
        _report(f"internal fault: {OUT_OF_MEMORY}", as_json)
        return 1
    except KeyboardInterrupt:
        _report("interrupted", as_json)
        return 130
    except OutputClosed:  # serve's output can take no more; main reports why
        return 1


def _apply_config(args: argparse.Namespace) -> None:
    """Fills the compile options the command line left out from the nearest
    [tool.velkor-compile] table (unless --no-config), then the built-in defaults.
    A file's mcu applies only when the target ends up no_std, so that
    --target binary works in a project whose default is a microcontroller.
    When the command line gives every option a file could, no file is read."""
    config = None
    given_all = args.target and args.opt_level and args.out_dir and (args.mcu or args.target != "no_std")
    if not args.no_config and not given_all:
        try:
            config = find_config(os.getcwd(), _warn)
        except ConfigError as error:
            args.parser.error(str(error))
        except OSError:  # a current directory that is gone has no file above it
            config = None
    if config is not None:
        if args.verbose:
            sys.stderr.write(f"{PROG}: using defaults from {printable(config.path)} [tool.velkor-compile]\n")
        args.target = args.target or config.target
        args.opt_level = args.opt_level or config.opt_level
        args.out_dir = args.out_dir or config.out_dir
        if args.mcu is None and args.target == "no_std":
            args.mcu = config.mcu
    args.target = args.target or "binary"


def _warn(message: str) -> None:
    sys.stderr.write(f"{PROG}: warning: {printable(message)}\n")


def _require_text(args: argparse.Namespace) -> None:
    """Refuses options that are not valid UTF-8 (a file name in another
    encoding): a request is text, so the compiler could not be asked at all."""
    for flag, value in (("--mcu", args.mcu), ("--crate-name", args.crate_name), ("--csv", args.csv),
                        ("--out-dir", args.out_dir)):
        if value is not None and LONE_SURROGATE.search(value):
            args.parser.error(f"{flag} is not valid UTF-8: {value!r}")


def _check_several(args: argparse.Namespace) -> None:
    """The options that cannot apply to several files at once."""
    if len(args.strategies) < 2:
        return
    if args.crate_name is not None:
        args.parser.error("--crate-name names one crate; with several files each crate is named from its "
                          "file's symbol")
    if args.verbose:
        # cargo's output goes to the terminal as it comes: two builds at once would mix their lines.
        if args.jobs is not None and args.jobs > 1:
            args.parser.error("-v shows cargo's output live, one build at a time: with several files it needs -j 1")
        args.jobs = 1


def _allowed_mcus() -> list[str]:
    try:
        _, answer = _command(Compiler(), '{"cmd":"targets"}')
    except Failure:  # no hint is better than a second fault
        return []
    return [str(mcu) for mcu in answer["mcus"]]


# The subcommands that have --json.
JSON_COMMANDS = ("compile", "validate", "targets", "version")


def _json_requested(argv: Sequence[str]) -> bool:
    """Whether the command line asks for --json, read before argparse so that a
    usage error can be answered as a document too: the subcommand is the first
    word that is not an option, and --json is taken only as spelt in full."""
    words = list(argv)
    if "--" in words:
        words = words[: words.index("--")]
    command = next((word for word in words if not word.startswith("-")), None)
    if command not in JSON_COMMANDS:
        return False
    after = words[words.index(command) + 1 :]
    return "--json" in after


def _json_stdout(argv: Sequence[str]) -> bool:
    """Whether stdout will carry JSON (--json, `schema`, `check --format json`),
    whose characters the locale lacks are then written as JSON escapes."""
    words = list(argv)
    command = next((word for word in words if not word.startswith("-")), None)
    after = words[words.index(command) + 1:] if command is not None else []
    as_check_json = "--format=json" in after or any(
        word == "--format" and value == "json" for word, value in zip(after, after[1:]))
    return _json_requested(argv) or command == "schema" or (command == "check" and as_check_json)


def _report(message: str, as_json: bool = False, document: str | None = None) -> None:
    """Reports an error: one line on stderr, and with --json one error document on
    stdout (the compiler's own when it answered one)."""
    if as_json:
        _print_document(document if document is not None else error_document(message))
    sys.stdout.flush()
    # A failed build's message is cargo's error output: its lines and indents are kept.
    keep = "\n\t" if message.startswith("build: ") else ""
    sys.stderr.write(f"{PROG}: {printable(message.rstrip(), keep)}\n")
    sys.stderr.flush()


def _print_document(text: str) -> None:
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


class PrintableLines:
    """A stream for the lines a person reads: each write is one line or the start
    of one, and every control character in it but its closing line feed is
    written as an escape, so that a strategy's strings (quoted in messages,
    crate and file names) cannot drive the terminal."""

    def __init__(self, stream: IO[str]) -> None:
        self.stream = stream

    @classmethod
    def over(cls, stream: IO[str]) -> IO[str]:
        return cast(IO[str], cls(stream))

    def write(self, text: str) -> int:
        body, end = (text[:-1], "\n") if text.endswith("\n") else (text, "")
        self.stream.write(printable(body) + end)
        return len(text)

    def flush(self) -> None:
        self.stream.flush()

    def isatty(self) -> bool:
        return self.stream.isatty()


if __name__ == "__main__":
    sys.exit(main())
