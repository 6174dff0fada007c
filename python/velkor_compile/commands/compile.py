"""``velkor-compile compile``: a dry run or a cargo build of one strategy file
(several files: `compile_many`)."""

from __future__ import annotations

import argparse
import contextlib
import io
import json
import os
import signal
import sys
import threading
import time
from dataclasses import replace
from typing import IO, Any, Iterator, get_args

from .._velkor_compile import Compiler
from ..answers import DestinationAnswer
from ..api import CompileError, OptLevel, destination_of, targets
from ..request import CompileOptions, _compile_request, _Request
from ..terminal import printable
from .file_problems import (add_config_flag, is_refusal, nearest_config, read_already, refusal_message, selection_of,
                            warn_before_compile)
from .shared import LONE_SURROGATE, PROG, add_quiet, error_document, new_compiler, report, target_label

NAME = "compile"
DEFAULT_OUT_DIR = "_out"
# How the core answers a compile that an interrupt stopped before cargo started.
STOPPED_BEFORE_CARGO = "build: stopped before cargo started: "


def add_parser(commands: Any) -> argparse.ArgumentParser:
    parser: argparse.ArgumentParser = commands.add_parser(
        NAME,
        help="compile a strategy file (a dry run or a cargo build)",
        description="Compile STRATEGY (a JSON file) into a Rust project and, unless --dry-run, build it with cargo. "
        "Several files are built N at a time (-j), each into a project of its own, with one line per file; "
        "the exit status is 1 when any failed.",
        epilog="--target, --mcu, --opt-level and --out-dir default to the values of [tool.velkor-compile] in the "
        "nearest pyproject.toml at or above the current directory, when it gives them; its select and ignore "
        "lists choose the warnings printed.",
    )
    parser.add_argument("strategies", metavar="STRATEGY.json", nargs="+", help="the strategy document (or several)")
    parser.add_argument("--target", choices=targets()["targets"], help="kind of artifact (default: binary)")
    parser.add_argument("--mcu", metavar="TRIPLE", help="microcontroller target triple; required with no_std")
    parser.add_argument("--opt-level", choices=get_args(OptLevel),
                        help="optimisation level (default: release)")
    parser.add_argument("--crate-name", metavar="NAME",
                        help="crate name (default: derived from the strategy's symbol)")
    data = parser.add_mutually_exclusive_group()
    data.add_argument("--csv", metavar="PATH", help="embed this CSV file of market data")
    data.add_argument("--candles", metavar="FILE.json", help="embed the JSON array of candles in this file")
    parser.add_argument("--out-dir", metavar="DIR",
                        help=f"directory beneath which the project is written (default: {DEFAULT_OUT_DIR})")
    parser.add_argument("--dry-run", action="store_true", help="generate in memory only: write nothing, no build")
    parser.add_argument("--json", action="store_true",
                        help="print the response document instead of a summary (an error document on every error)")
    add_quiet(parser, "print nothing but errors (and the document asked for with --json): no warnings either")
    parser.add_argument("--strict", action="store_true", help="refuse a strategy that has a warning")
    add_config_flag(parser)
    parser.add_argument("-v", "--verbose", action="store_true",
                        help="show cargo's output live on stderr (in colour on a terminal); with several "
                        "files, builds one at a time")
    parser.add_argument("-j", "--jobs", type=_jobs, metavar="N",
                        help="with several files, build N at a time (default: the number of CPUs)")
    return parser


def _jobs(text: str) -> int:
    try:
        jobs = int(text)
    except ValueError:
        jobs = 0
    if jobs < 1:
        raise argparse.ArgumentTypeError(f"expected a number of builds of at least 1, not {text!r}")
    return jobs


def run(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    _settle_options(args)
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
    options = compile_options(args)
    found = warn_before_compile(args.strategy, args.selection, args.quiet, args.strict, args.csv)
    compiler = new_compiler()
    # A dry run first: every check of the request happens before cargo is
    # mentioned, and it names the crate the build line reports.
    try:
        answer_text, answer = _compile_request(args.strategy, replace(options, dry_run=True),
                                               read=read_already(found)).ask(compiler)
    except CompileError as error:
        if not is_refusal(error):
            raise
        # In plain words and placed in the file; --json prints the compiler's own document.
        refused = CompileError("error", f"{args.strategy}: {refusal_message(args.strategy, error, found)}")
        refused.document = error.document
        raise refused from None
    if args.dry_run:
        _print_answer(answer_text, answer, args.json, out)
        if not args.json:
            _print_destination(_planned_destination(options, answer["manifest"], compiler), out)
        return 0
    return _build(compiler, args, options, answer["manifest"], out, err)


# A strategy the compile check accepts, as small as one can be.
STAND_IN_STRATEGY = {"spec_version": 1, "symbol": "X", "timeframe": "1h", "indicators": {},
                     "entry": {"in_position": True}, "exit": {"in_position": True},
                     "sizing": {"type": "fixed_fraction", "fraction": 0.25}, "warmup": 0}


def _planned_destination(options: CompileOptions, manifest: dict[str, Any], compiler: Compiler) -> DestinationAnswer:
    """Where a build would write, for a strategy the dry run accepted. The
    destination follows from the out dir, the crate name and the paths of the
    project's files, and those paths from the target and the kind of data
    alone: with the crate named as the dry run named it, a stand-in strategy
    (and no candles for inline ones) gets the same answer without the file's
    strategy being read, checked and hashed a second time."""
    stand_in = replace(options, crate_name=manifest["crate_name"],
                       candles=None if options.candles is None else [])
    return destination_of(STAND_IN_STRATEGY, stand_in, compiler)


def compile_options(args: argparse.Namespace) -> CompileOptions:
    """The options of the compile requests, as the command line gives them."""
    return CompileOptions(target=args.target, mcu=args.mcu, opt_level=args.opt_level, crate_name=args.crate_name,
                          csv=args.csv, candles=args.candles, out_dir=args.out_dir)


def _build(compiler: Compiler, args: argparse.Namespace, options: CompileOptions, manifest: dict[str, Any],
           out: IO[str], err: IO[str]) -> int:
    """Builds the checked file with cargo, on the handle that checked it; returns the exit status."""
    project_dir = os.path.join(args.out_dir or DEFAULT_OUT_DIR, manifest["crate_name"])
    # The core itself writes what the user sees of the build on descriptor 2,
    # never waiting for it: with -v cargo's own output, otherwise at a
    # terminal one line it updates.
    stream = bool(args.verbose)
    progress = not stream and not args.quiet and os.isatty(2)
    live = stream or progress
    err.write(
        f"{PROG}: cargo is building {manifest['crate_name']} "
        f"({target_label(manifest['target'])}, {manifest['opt_level']}) in {project_dir}"
        + ("\n" if live else " ... ")
    )
    err.flush()
    started = time.monotonic()
    request = _compile_request(args.strategy, replace(options, stream_build_output=stream, build_progress=progress))
    interrupted: str | None = None
    status = 0
    try:
        with _terminate_as_stop():
            answer_text, answer = _ask_reporting_failure(request, compiler, started, live, stream, err)
    except (KeyboardInterrupt, Terminated) as interrupt:
        # The handle raises an interrupt when the command ends, once cargo has
        # stopped, with the answer it ended with: that says how far the build got.
        interrupted, status = ("terminated", 143) if isinstance(interrupt, Terminated) else ("interrupted", 130)
        ended_with = getattr(interrupt, "answer", None)
        answer_text = ended_with if isinstance(ended_with, str) else error_document("")
        answer = json.loads(answer_text)
        if answer.get("ok") is False:
            err.write("" if live else f"{interrupted}\n")
            report(interrupted_message(interrupted, str(answer.get("error")), project_dir), args.json)
            return status
        # after cargo had finished: the build is reported as it ended
    _report_time(started, live, "done in", err)
    _print_answer(answer_text, answer, args.json, out)
    if interrupted:
        report(f"{interrupted} after cargo had finished; the build is complete")
    return status


def _ask_reporting_failure(request: _Request, compiler: Compiler, started: float, live: bool, stream: bool,
                           err: IO[str]) -> tuple[str, dict[str, Any]]:
    """The build's answer; a build that failed has its time reported before its error is raised."""
    try:
        return request.ask(compiler)
    except CompileError as error:
        _report_time(started, live, "failed after", err)
        if stream and error.kind == "build":
            # cargo's output was shown live: its error is on the screen once already.
            shown = CompileError("build", "cargo failed (its output is above)")
            shown.document, shown.detail = error.document, error.text
            raise shown from None
        raise


def _report_time(started: float, live: bool, outcome: str, err: IO[str]) -> None:
    line = f"{outcome} {time.monotonic() - started:.1f} s\n"
    err.write(f"{PROG}: {line}" if live else line)
    err.flush()


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


def _print_summary(answer: dict[str, Any], out: IO[str]) -> None:
    manifest = answer["manifest"]
    verb = "built" if answer["built"] else "checked (dry run, nothing written)"
    out.write(
        f"{verb}: crate {manifest['crate_name']}, target {target_label(manifest['target'])}, "
        f"opt level {manifest['opt_level']}\n"
    )
    out.write(f"  spec hash     {manifest['spec_hash']}\n")
    out.write(f"  project hash  {manifest['project_hash']}\n")
    out.write("  files\n")
    width = max((len(entry["path"]) for entry in manifest["files"]), default=0)
    for entry in manifest["files"]:
        out.write(f"    {entry['path']:<{width}}  {entry['bytes_len']:>8} bytes  sha256 {entry['sha256']}\n")
    out.write(f"  artifact      {answer['path'] if 'path' in answer else '(none: dry run)'}\n")


def _print_destination(planned: DestinationAnswer, out: IO[str]) -> None:
    """Where a build with the same options would write, and which files already there it would replace and remove."""
    replace, remove = planned["replace"], planned["remove"]
    out.write(f"  would write   {os.path.normpath(planned['project_dir'])}\n")
    out.write(f"  would replace {', '.join(replace) if replace else '(no existing files)'}\n")
    if remove:
        out.write(f"  would remove  {', '.join(remove)}\n")


def _print_answer(answer_text: str, answer: dict[str, Any], as_json: bool, out: IO[str]) -> None:
    if as_json:
        out.write(answer_text + "\n")
    else:
        _print_summary(answer, out)


def _settle_options(args: argparse.Namespace) -> None:
    """The options as the compile runs with them, or a usage error: the
    configuration file's defaults filled in, then the combinations refused."""
    _apply_config(args)
    if args.target == "no_std" and not args.mcu:
        args.parser.error("--mcu TRIPLE is required with --target no_std")
    if args.mcu and args.target != "no_std":
        args.parser.error(f"--mcu applies only to --target no_std, not to {args.target}")
    _require_text(args)
    _check_several(args)


def _apply_config(args: argparse.Namespace) -> None:
    """Fills the compile options the command line left out from the nearest
    [tool.velkor-compile] table (unless --no-config), then the built-in defaults,
    and takes the table's select and ignore lists for the warnings.
    A file's mcu applies only when the target ends up no_std, so that
    --target binary works in a project whose default is a microcontroller.
    When the command line gives every option a file could and no warnings
    are to be printed or refused (-q), no file is read."""
    config = None
    given_all = args.target and args.opt_level and args.out_dir and (args.mcu or args.target != "no_std")
    # The file's select and ignore lists matter whenever warnings are printed or refused.
    warnings_asked = not args.quiet or args.strict
    if not args.no_config and (not given_all or warnings_asked):
        config = nearest_config(args)
    if config is not None:
        if args.verbose:
            sys.stderr.write(f"{PROG}: using defaults from {printable(config.path)} [tool.velkor-compile]\n")
        args.target = args.target or config.target
        args.opt_level = args.opt_level or config.opt_level
        args.out_dir = args.out_dir or config.out_dir
        if args.mcu is None and args.target == "no_std" and config.mcu is not None:
            args.mcu, args.mcu_from = config.mcu, config.path
    args.target = args.target or "binary"
    args.selection = selection_of(config)


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
