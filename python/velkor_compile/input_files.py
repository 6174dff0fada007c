"""Reading the files a compile request carries as text: a strategy file, a
candles file.

Python never parses them: the compiler reads them, in the request, and says
what is wrong with them. What is checked here is only what keeps the request
the caller asked for: the file is a regular file, its text is UTF-8, and as
far as its brackets and strings tell it is one JSON value, so that nothing in
it can close the value and add members to the request around it.
"""

from __future__ import annotations

import errno
import os
import re
import stat

from .errors import CompileError

BOM = b"\xef\xbb\xbf"
NOT_ONE_VALUE = "not one JSON value"
NESTED_TOO_DEEPLY = "nested too deeply"
_WHITESPACE = b" \t\r\n"
# Every byte but the brackets and the quote: what is left of a text is its structure.
_NOT_STRUCTURE = bytes(set(range(256)) - set(b'[]{}"'))
# The compiler reads a request nested 127 levels deep at most.
_DEEPEST = 128
# A value without brackets: a number, a literal or one string (its escapes the compiler's to judge).
_SCALAR = re.compile(
    rb'[ \t\r\n]*(?:-?(?:0|[1-9][0-9]*)(?:\.[0-9]+)?(?:[eE][+-]?[0-9]+)?|true|false|null|"[^"\\]*(?:\\.[^"\\]*)*")'
    rb"[ \t\r\n]*",
    re.S,
)


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


def utf8_text(name: str, raw: bytes) -> str:
    """A file's bytes as text, a leading byte-order mark dropped."""
    try:
        return raw.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise CompileError("io", f"reading {name}: not valid UTF-8 at byte {error.start}") from None


def read_text_file(name: str) -> str:
    """A regular file's UTF-8 text as written (a byte-order mark dropped)."""
    return utf8_text(name, read_input_file(name))


def first_byte(raw: bytes) -> bytes:
    """The first byte of a text past its byte-order mark and whitespace (b"" for none)."""
    start = len(BOM) if raw.startswith(BOM) else 0
    while raw[start:start + 1] and raw[start] in _WHITESPACE:
        start += 1
    return raw[start:start + 1]


def value_fault(raw: bytes) -> str | None:
    """None when `raw` is one JSON value as far as its brackets and strings
    tell; else what is wrong. The compiler checks everything else, and it
    stops at the first byte that is not JSON, before anything it could read
    otherwise than this."""
    if first_byte(raw) in (b"[", b"{"):
        return _bracket_fault(raw)
    start = len(BOM) if raw.startswith(BOM) else 0
    return None if _SCALAR.fullmatch(raw, start) else NOT_ONE_VALUE


def _bracket_fault(raw: bytes) -> str | None:
    """`value_fault` of a text that opens with a bracket: it must be closed by
    its last byte but whitespace, every bracket between paired."""
    if b"\\" in raw:  # escaped backslashes, then escaped quotes: no quote left but those of strings
        raw = raw.replace(b"\\\\", b"").replace(b'\\"', b"")
    end = len(raw)
    while end and raw[end - 1] in _WHITESPACE:
        end -= 1
    if raw[end - 1:end] not in (b"]", b"}"):
        return NOT_ONE_VALUE
    # Two quotes side by side close a string and open the next (or enclose
    # nothing): dropping them leaves outside the strings what was there.
    shape = raw.translate(None, _NOT_STRUCTURE).replace(b'""', b"")
    if shape.count(b'"') % 2:
        return NOT_ONE_VALUE  # a string left open
    if b'"' in shape:
        shape = _outside_strings(shape)
    if shape[:1] + shape[-1:] not in (b"[]", b"{}"):
        return NOT_ONE_VALUE
    shape = shape[1:-1]
    for _ in range(_DEEPEST):  # innermost pairs away, one level a round
        if not shape:
            return None
        inner = shape.replace(b"[]", b"").replace(b"{}", b"")
        if inner == shape:
            return NOT_ONE_VALUE
        shape = inner
    return NESTED_TOO_DEEPLY


def _outside_strings(shape: bytes, piece: int = 1 << 16) -> bytes:
    """`shape` (brackets and quotes) without the strings, taken in pieces so that no list grows with the file."""
    kept, inside = [], 0
    for start in range(0, len(shape), piece):
        parts = shape[start:start + piece].split(b'"')
        kept.append(b"".join(parts[inside::2]))
        inside ^= (len(parts) - 1) & 1
    return b"".join(kept)
