"""``velkor-compile compile A.json B.json ...``: several strategies, each built
into its own project, N at a time.

Every file is checked first, on this thread, with a dry run: that names its
crate, and two files that would be written to the same project directory are
refused before anything is written (the first in command-line order builds, the
later ones fail). Then N worker threads build the rest, each with a `Compiler`
handle of its own (a handle is bound to the thread that made it). Only this
thread prints: a worker hands back events, this thread writes them, so lines
never interleave.

Output: on stderr a line as each build starts and ends (not with -q); on
stdout one line per file as it finishes, in the order they finish:
``FILE: crate CRATE: built ARTIFACT``, ``FILE: crate CRATE: failed: MESSAGE``
and so on; with --json one document per line instead,
``{"path":FILE,"answer":DOCUMENT}``, DOCUMENT being the compile answer as the
compiler wrote it or an error document. Exit status 1 when a file failed, 130
after an interrupt, 143 after SIGTERM.

An interrupt (Ctrl-C, or SIGTERM) stops every build: no file starts after it
(a worker sees it through the signal wake-up descriptor even before this
thread has run the Python handler), and each handle, asked through its `stop`
callable, ends the cargo it runs with what cargo started; each file is
reported as built, failed, interrupted or not started.
"""

from __future__ import annotations

import argparse
import enum
import json
import os
import queue
import select
import signal
import threading
import time
from dataclasses import dataclass, field, replace
from typing import IO, Any, Callable, Union

from .._velkor_compile import Compiler, PanicException
from ..api import CompileError
from ..hints import hints
from ..request import CompileOptions, _compile_request
from ..terminal import printable
from .compile import DEFAULT_OUT_DIR, compile_options, interrupted_message
from .file_problems import is_refusal, refusal_message, warn_before_compile
from .shared import PROG, allowed_mcus, error_document, json_line, new_compiler, target_label


def default_jobs() -> int:
    """The number of CPUs this process may run on."""
    try:
        return len(os.sched_getaffinity(0)) or 1
    except (AttributeError, OSError):
        return os.cpu_count() or 1


class Status(enum.Enum):
    BUILT = "built"
    CHECKED = "checked"
    FAILED = "failed"
    INTERRUPTED = "interrupted"
    NOT_STARTED = "not started"


@dataclass
class Job:
    """One file to build: its place on the command line, and once checked its crate and project directory."""

    index: int
    path: str
    crate: str | None = None
    project_dir: str | None = None
    manifest: dict[str, Any] = field(default_factory=dict)


@dataclass
class Outcome:
    job: Job
    status: Status
    document: str  # the compiler's answer, or an error document in its form
    message: str = ""  # the error, for a file that did not build
    elapsed: float | None = None


@dataclass
class Started:
    job: Job


Event = Union[Started, Outcome]


class StopSignal:
    """Whether an interrupt has arrived, as any thread can ask.

    The main thread runs the Python signal handler only when it next holds the
    interpreter lock, and a worker may take the lock first. The signal module writes a byte to
    the wake-up descriptor from its C handler, at once, whichever thread runs:
    a worker that finds it readable starts nothing more. Off the main thread
    (where no wake-up descriptor can be set) only `set` is seen."""

    def __init__(self) -> None:
        self._event = threading.Event()
        self._pipe: tuple[int, int] | None = None
        self._previous = -1

    def __enter__(self) -> StopSignal:
        if threading.current_thread() is threading.main_thread():
            read_end, write_end = os.pipe()
            os.set_blocking(write_end, False)
            try:
                self._previous = signal.set_wakeup_fd(write_end, warn_on_full_buffer=False)
                self._pipe = (read_end, write_end)
            except ValueError:
                os.close(read_end)
                os.close(write_end)
        return self

    def __exit__(self, *exc: object) -> None:
        if self._pipe is not None:
            signal.set_wakeup_fd(self._previous)
            for end in self._pipe:
                os.close(end)
            self._pipe = None

    def set(self) -> None:
        self._event.set()

    def is_set(self) -> bool:
        if self._event.is_set():
            return True
        if self._pipe is not None and select.select([self._pipe[0]], [], [], 0)[0]:
            return True  # the byte is left there: every worker sees it
        return False


def check_all(args: argparse.Namespace, options: CompileOptions, jobs: list[Job]) -> list[Outcome]:
    """Dry-runs every file on this thread's handle, filling in each job's crate;
    returns the outcomes of the files settled here: those that failed, and with
    --dry-run those that passed.

    A file whose project directory an earlier file already takes fails too:
    two builds in one directory would overwrite each other's files."""
    compiler = new_compiler()
    settled: list[Outcome] = []
    taken: dict[str, Job] = {}
    for job in jobs:
        try:
            warn_before_compile(job.path, args.selection, args.quiet, args.strict, args.csv)
            answer_text, answer = _compile_request(job.path, replace(options, dry_run=True)).ask(compiler)
        except CompileError as error:  # a refused strategy in plain words, as for one file
            message = refusal_message(job.path, error, None) if is_refusal(error) else str(error)
            settled.append(_failure(job, message, error.document))
            continue
        except PanicException as fault:
            settled.append(_failure(job, f"internal fault: {fault}"))
            continue
        job.manifest = answer["manifest"]
        job.crate = str(job.manifest["crate_name"])
        job.project_dir = os.path.join(args.out_dir or DEFAULT_OUT_DIR, job.crate)
        first = taken.setdefault(os.path.normpath(job.project_dir), job)
        if first is not job:
            settled.append(_failure(job, f"crate {job.crate} is built from {first.path} too; each file needs a "
                                         f"project of its own, and both would be written to {job.project_dir}"))
        elif args.dry_run:
            settled.append(Outcome(job, Status.CHECKED, answer_text))
    return settled


def _failure(job: Job, message: str, document: str | None = None) -> Outcome:
    return Outcome(job, Status.FAILED, document if document is not None else error_document(message), message)


def build(compiler: Compiler, job: Job, options: CompileOptions, verbose: bool,
          stop: Callable[[], bool] | None = None) -> Outcome:
    """Builds one checked file on the calling worker's handle. cargo runs in a
    process group of its own, so the terminal's Ctrl-C does not reach it, and
    no signal handler runs on a worker: `stop` is how the handle learns of an
    interrupt, before cargo starts or while it builds."""
    assert job.project_dir is not None
    started = time.monotonic()
    try:
        request = _compile_request(job.path, replace(options, stream_build_output=verbose))
        answer_text, _ = request.ask(compiler, stop)
    except KeyboardInterrupt as interrupt:
        # Raised by a handle that saw the interrupt itself, with the answer the command ended with.
        ended_with = getattr(interrupt, "answer", None)
        if not isinstance(ended_with, str) or json.loads(ended_with).get("ok") is not False:
            return _failure(job, "interrupted")
        return _interrupted(job, ended_with, json.loads(ended_with), time.monotonic() - started)
    except CompileError as error:
        if error.document is None:  # the file changed since its check
            return _failure(job, str(error))
        return Outcome(job, Status.FAILED, error.document, str(error), time.monotonic() - started)
    except PanicException as fault:
        return _failure(job, f"internal fault: {fault}")
    return Outcome(job, Status.BUILT, answer_text, elapsed=time.monotonic() - started)


def _interrupted(job: Job, answer_text: str, answer: dict[str, Any], elapsed: float | None) -> Outcome:
    message = interrupted_message("interrupted", str(answer.get("error")), str(job.project_dir))
    return Outcome(job, Status.INTERRUPTED, answer_text, message, elapsed)


def _not_started(job: Job) -> Outcome:
    message = "interrupted before this file's build started"
    return Outcome(job, Status.NOT_STARTED, error_document(message), message)


def _worker(work: queue.SimpleQueue[Job], events: queue.SimpleQueue[Event], stop: StopSignal,
            options: CompileOptions, verbose: bool) -> None:
    compiler = new_compiler()  # this thread's own, dropped here on this thread
    while True:
        try:
            job = work.get_nowait()
        except queue.Empty:
            return
        if stop.is_set():
            events.put(_not_started(job))
            continue
        events.put(Started(job))
        try:
            outcome = build(compiler, job, options, verbose, stop.is_set)
        except Exception as fault:  # noqa: BLE001 - one file's fault must not lose the others' reports
            outcome = _failure(job, f"internal fault: {type(fault).__name__}: {fault}")
        if outcome.status is Status.FAILED and stop.is_set():
            # The handle stopped cargo (or it failed as the interrupt came).
            outcome = _interrupted(job, outcome.document, json.loads(outcome.document), outcome.elapsed)
        events.put(outcome)


def _start_workers(jobs: list[Job], count: int, stop: StopSignal, options: CompileOptions,
                   verbose: bool) -> tuple[queue.SimpleQueue[Job], queue.SimpleQueue[Event], list[threading.Thread]]:
    work: queue.SimpleQueue[Job] = queue.SimpleQueue()
    for job in jobs:
        work.put(job)
    events: queue.SimpleQueue[Event] = queue.SimpleQueue()
    workers = [threading.Thread(target=_worker, args=(work, events, stop, options, verbose),
                                name=f"{PROG}-build-{n}") for n in range(count)]
    return work, events, workers


# How often the reporting thread looks whether every worker has ended.
WAKE_SECONDS = 0.2


class Report:
    """What a person or a script reads: one line per file on stdout, progress and messages on stderr."""

    def __init__(self, args: argparse.Namespace, out: IO[str], err: IO[str]) -> None:
        self.as_json = bool(args.json)
        self.quiet = bool(args.quiet)
        self.out, self.err = out, err
        self.counts = {status: 0 for status in Status}

    def started(self, job: Job) -> None:
        if self.quiet:
            return
        manifest = job.manifest
        self.err.write(f"{PROG}: {job.path}: cargo is building {job.crate} "
                       f"({target_label(manifest['target'])}, {manifest['opt_level']}) in {job.project_dir}\n")
        self.err.flush()

    def finished(self, outcome: Outcome) -> None:
        self.counts[outcome.status] += 1
        job = outcome.job
        if outcome.elapsed is not None and not self.quiet:
            verb = "done in" if outcome.status is Status.BUILT else "ended after"
            self.err.write(f"{PROG}: {job.path}: {verb} {outcome.elapsed:.1f} s\n")
        if outcome.status in (Status.FAILED, Status.INTERRUPTED):
            # The whole message, lines kept: a failed build's is cargo's error output.
            self.err.write(f"{PROG}: {job.path}: {printable(outcome.message.rstrip(), chr(10) + chr(9))}\n")
            for hint in hints(outcome.message, allowed_mcus):
                if "--crate-name" in hint:  # refused with several files
                    hint += f", compiling {job.path} on its own"
                self.err.write(f"{PROG}: hint: {printable(hint)}\n")
        self.err.flush()
        if self.as_json:
            self.out.write(json_line({"path": job.path, "answer": json.loads(outcome.document)}) + "\n")
        elif not self.quiet:
            self.out.write(self.line(outcome) + "\n")
        self.out.flush()

    @staticmethod
    def line(outcome: Outcome) -> str:
        job = outcome.job
        head = f"{job.path}: crate {job.crate}" if job.crate is not None else job.path
        if outcome.status is Status.BUILT:
            return f"{head}: built {json.loads(outcome.document).get('path')}"
        if outcome.status is Status.CHECKED:
            return f"{head}: checked (dry run, nothing written)"
        if outcome.status is Status.NOT_STARTED:
            return f"{head}: not started (interrupted)"
        if outcome.status is Status.INTERRUPTED:
            return f"{head}: {outcome.message}"
        return f"{head}: failed: {summary_of(outcome.message)}"

    def totals(self, interrupted: bool) -> None:
        if self.quiet and not interrupted:
            return
        parts = [f"{count} {status.value}" for status, count in self.counts.items() if count]
        lead = "interrupted: " if interrupted else ""
        self.err.write(f"{PROG}: {lead}{', '.join(parts)}\n")
        self.err.flush()


def summary_of(message: str) -> str:
    """One line of an error message: a failed build's message is cargo's stderr,
    whose first `error` line says what went wrong."""
    lines = [line for line in message.splitlines() if line.strip()]
    if len(lines) <= 1:
        return message.strip()
    first_error = next((line.strip() for line in lines[1:] if line.lstrip().startswith("error")), None)
    return f"{lines[0]} {first_error}" if first_error else lines[0]


class Interrupts:
    """While builds run on the workers, SIGINT and SIGTERM (in the main thread)
    set the stop and record the exit status they call for, instead of raising:
    an exception raised in the middle of reporting a file would lose that
    file's line. A signal this process ignores stays ignored."""

    def __init__(self, stop: StopSignal) -> None:
        self.stop = stop
        self.status: int | None = None
        self._previous: dict[int, Any] = {}

    def __enter__(self) -> Interrupts:
        if threading.current_thread() is threading.main_thread():
            for signum, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
                if signal.getsignal(signum) is not signal.SIG_IGN:
                    self._previous[signum] = signal.signal(signum, self._handler(status))
        return self

    def __exit__(self, *exc: object) -> None:
        for signum, previous in self._previous.items():
            signal.signal(signum, previous if previous is not None else signal.SIG_DFL)

    def _handler(self, status: int) -> Callable[[int, Any], None]:
        def handle(signum: int, frame: Any) -> None:
            self.status = self.status or status
            self.stop.set()
        return handle


def _report_builds(report: Report, started: tuple[queue.SimpleQueue[Job], queue.SimpleQueue[Event],
                                                 list[threading.Thread]], stop: StopSignal) -> int | None:
    """Starts the workers and reports what they hand back until every one has
    ended; returns the exit status of an interrupt that came (130 for Ctrl-C,
    143 for SIGTERM), or None. The loop ends on the workers' ends rather than
    on a count of reports, so that an interrupt can neither end it early nor
    leave it waiting forever."""
    work, events, workers = started
    with Interrupts(stop) as interrupts:
        for worker in workers:
            worker.start()
        while True:
            try:
                event = events.get(timeout=WAKE_SECONDS)
            except queue.Empty:
                if not any(worker.is_alive() for worker in workers) and events.empty():
                    break
                continue
            if isinstance(event, Started):
                report.started(event.job)
            else:
                report.finished(event)
        while True:  # jobs no worker took: an interrupt came before the workers had all started
            try:
                report.finished(_not_started(work.get_nowait()))
            except queue.Empty:
                break
    return interrupts.status or (130 if stop.is_set() else None)


def run_compile_many(args: argparse.Namespace, out: IO[str], err: IO[str]) -> int:
    options = compile_options(args)  # no crate name: each crate is named from its file's symbol
    report = Report(args, out, err)
    jobs = [Job(index, path) for index, path in enumerate(args.strategies)]
    done = check_all(args, options, jobs)
    settled = {outcome.job.index for outcome in done}
    for outcome in done:
        report.finished(outcome)
    to_build = [job for job in jobs if job.index not in settled]
    interrupted: int | None = None
    if to_build:
        count = min(args.jobs or default_jobs(), len(to_build))
        with StopSignal() as stop:
            interrupted = _report_builds(report, _start_workers(to_build, count, stop, options, bool(args.verbose)),
                                         stop)
    report.totals(interrupted is not None)
    if interrupted is not None:
        return interrupted
    failed = report.counts[Status.FAILED] + report.counts[Status.INTERRUPTED]
    return 1 if failed else 0
