"""Reading the input files the Python functions are given: a strategy file,
checked to be JSON and kept as written, and a candles file, checked only as
far as splicing its text into a request needs."""

from __future__ import annotations

import errno
import json
import os
import stat
from typing import Any

from .errors import CompileError


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
