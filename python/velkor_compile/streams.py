"""The standard streams as the command line writes them.

A command must finish what it does and say how it went whatever its streams
are: closed when the process started (`>&-`), a reader gone (`| head -1`), a
full disk, or a locale whose encoding lacks a character of a file name. Each
output stream is held by an `Output` that never raises: text the encoding
lacks is written as escapes, and a write that fails is remembered and the rest
of the stream's text dropped, so that `main` can report the loss once, on the
other stream and in the exit status.
"""

from __future__ import annotations

import codecs
import errno
import io
import os
import sys
from typing import IO, Any, TextIO, cast

# Text that the stream's encoding lacks, in a JSON document: written as JSON's
# own escapes (every such character is inside a string there), so that the
# document stays valid JSON whatever the locale.
JSON_ESCAPES = "velkor-json-escapes"


def _json_escapes(error: UnicodeError) -> tuple[str, int]:
    if not isinstance(error, UnicodeEncodeError):
        raise error
    units = error.object[error.start:error.end].encode("utf-16-be", "surrogatepass")
    escaped = "".join(f"\\u{int.from_bytes(units[i:i + 2], 'big'):04x}" for i in range(0, len(units), 2))
    return escaped, error.end


codecs.register_error(JSON_ESCAPES, _json_escapes)


class OutputClosed(Exception):
    """Raised to a writer of raw bytes (`serve`) whose output can take no more."""


class Output:
    """A text stream that never raises on write or flush (see the module's text).

    `failure` is the error that stopped the stream, `lost` whether text was
    dropped because of it."""

    def __init__(self, stream: TextIO | None, *, json_text: bool = False) -> None:
        self.failure: OSError | None = None
        if stream is None:  # the descriptor was closed when the process started
            self.failure = OSError(errno.EBADF, os.strerror(errno.EBADF))
            stream = io.StringIO()
        reconfigure = getattr(stream, "reconfigure", None)
        if reconfigure is not None:
            reconfigure(errors=JSON_ESCAPES if json_text else "backslashreplace")
        self.stream = stream
        self.lost = False

    def write(self, text: str) -> int:
        if self.failure is None:
            try:
                return self.stream.write(text)
            except OSError as error:
                self._fail(error)
        self.lost = self.lost or bool(text)
        return len(text)

    def flush(self) -> None:
        if self.failure is None:
            try:
                self.stream.flush()
            except OSError as error:
                self._fail(error)
                self.lost = True

    def isatty(self) -> bool:
        return self.failure is None and self.stream.isatty()

    @property
    def buffer(self) -> IO[bytes]:
        """The stream's bytes, for `serve`: a failure there raises `OutputClosed`, which ends serving."""
        return cast(IO[bytes], _BytesOutput(self))

    def _fail(self, error: OSError) -> None:
        self.failure = error
        # The descriptor now leads to /dev/null, so that what the stream still
        # holds is dropped there instead of failing again when the interpreter
        # flushes it at exit (which would print a warning).
        try:
            fd = self.stream.fileno()
        except (OSError, ValueError):  # not a descriptor's stream, nothing is flushed at exit
            return
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, fd)
        os.close(null)


class _BytesOutput:
    """An `Output`'s bytes, with the same record of failure."""

    def __init__(self, owner: Output) -> None:
        self.owner = owner

    def write(self, data: bytes) -> int:
        return int(self._do(lambda raw: raw.write(data)))

    def flush(self) -> None:
        self._do(lambda raw: raw.flush())

    def _do(self, step: Any) -> Any:
        owner = self.owner
        if owner.failure is None:
            try:
                return step(owner.stream.buffer)
            except OSError as error:
                owner._fail(error)
        owner.lost = True
        raise OutputClosed()


def open_standard_descriptors() -> None:
    """Puts /dev/null on each of descriptors 0, 1 and 2 that is closed.

    Otherwise the next file the process opens (a strategy, a file of the
    project being written) would take that number, and what is meant for the
    stream (the core's build output on descriptor 2, cargo's inherited
    streams) would land in it."""
    for fd in (0, 1, 2):
        try:
            os.fstat(fd)
        except OSError:
            null = os.open(os.devnull, os.O_RDWR)
            if null != fd:
                os.dup2(null, fd)
                os.close(null)
    if sys.stdin is None:
        sys.stdin = io.TextIOWrapper(io.FileIO(0, "r", closefd=False), encoding="utf-8")
