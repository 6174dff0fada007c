"""The ``velkor-compile`` command line.

Exit status: 0 on success, 1 on a domain error (the message on stderr, one
line), 2 on a usage error. No traceback reaches the user: every failure the
compiler or an input file can cause is reported as one line that names what
failed and where. With --json, every error also prints one error document on
stdout.

Each subcommand is a module of `commands`; listing it in COMMANDS adds it.
"""

from __future__ import annotations

import argparse
import sys
from typing import IO, Any, Callable, NoReturn, Sequence, TextIO, cast

from ._velkor_compile import PanicException
from .api import CompileError
from .commands import check, compile, lsp, schema, serve, targets, validate, version
from .commands.shared import OUT_OF_MEMORY, PROG, allowed_mcus, error_document, print_document, report
from .completion import INSTALL_HINT, SHELLS, completion_script
from .hints import hints
from .streams import Output, OutputClosed, open_standard_descriptors
from .terminal import printable

# The subcommands, in the order the help lists them.
COMMANDS = (compile, validate, check, targets, version, serve, schema, lsp)

Handler = Callable[[argparse.Namespace, IO[str], IO[str]], int]


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
    subparsers = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for command in COMMANDS:
        subparser = command.add_parser(subparsers)
        subparser.set_defaults(handler=command.run, parser=subparser,
                               raw_output=getattr(command, "RAW_OUTPUT", False))
    return parser


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
    args = None
    try:
        args = build_parser().parse_args(argv)
        handler: Handler = args.handler
        # What a person reads has its control characters escaped; JSON documents
        # are escaped by their writers, and some commands escape their own report.
        out = sys.stdout if getattr(args, "json", False) or args.raw_output else PrintableLines.over(sys.stdout)
        return handler(args, out, PrintableLines.over(sys.stderr))
    except UsageError as usage:
        # The usage text is on stderr already.
        if as_json:
            print_document(error_document(f"usage: {usage}"))
        return 2
    except CompileError as failure:
        report(str(failure), as_json, failure.document)
        for hint in hints(failure.detail or str(failure), allowed_mcus, mcu_from=getattr(args, "mcu_from", None)):
            sys.stderr.write(f"{PROG}: hint: {printable(hint)}\n")
        return 1
    except PanicException as fault:
        report(f"internal fault: {fault}", as_json)
        return 1
    except MemoryError:
        report(f"internal fault: {OUT_OF_MEMORY}", as_json)
        return 1
    except KeyboardInterrupt:
        report("interrupted", as_json)
        return 130
    except OutputClosed:  # serve's output can take no more; main reports why
        return 1


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
