"""The canonical text and spec_hash of a document, for the show-canonical command.

The spec_hash comes from a dry-run compile, which also gives the digest of
the project's `src/spec.json`, the canonical text of the strategy. The core
has no command that answers that text itself, so it is written here, by the
same rules (keys sorted by their UTF-8 bytes, compact, integers kept, other
numbers in the shortest form that reads back), and shown only when its
SHA-256 equals the core's digest: what the editor shows is what a build embeds.
"""

from __future__ import annotations

import hashlib
import json
import math
from typing import Any

from .._velkor_compile import Compiler
from ..errors import CompileError
from ..request import REQUEST_LEAD
from .json_text import json_fault

SPEC_FILE = "src/spec.json"
U64_MAX = 2**64 - 1
I64_MIN = -(2**63)


class Double(float):
    """A number the core holds as a double, to be written in its float form."""


def _integer(literal: str) -> Any:
    value = int(literal)
    if literal != "-0" and (0 <= value <= U64_MAX or I64_MIN <= value < 0):
        return value
    return Double(float(value) if literal != "-0" else -0.0)


def _float_text(value: float) -> str:
    """The float form: positional for powers of ten from -5 to 15, else d.ddde+N."""
    if value == 0:
        return "-0.0" if math.copysign(1, value) < 0 else "0.0"
    sign = "-" if value < 0 else ""
    shortest = repr(abs(value))  # the shortest digits that read back
    if "e" in shortest:
        mantissa, _, power = shortest.partition("e")
        digits, exponent = mantissa.replace(".", "").rstrip("0"), int(power)
    else:
        digits = shortest.replace(".", "").strip("0")
        exponent = _decimal_exponent(shortest)
    count = len(digits)
    if -5 <= exponent <= 15:
        if exponent >= count - 1:
            return f"{sign}{digits}{'0' * (exponent - count + 1)}.0"
        if exponent >= 0:
            return f"{sign}{digits[:exponent + 1]}.{digits[exponent + 1:]}"
        return f"{sign}0.{'0' * (-exponent - 1)}{digits}"
    fraction = f".{digits[1:]}" if count > 1 else ""
    return f"{sign}{digits[0]}{fraction}e{'+' if exponent > 0 else '-'}{abs(exponent)}"


def _decimal_exponent(positional: str) -> int:
    """The power of ten of the first significant digit of a text like "0.00012" or "125.5"."""
    whole, _, fraction = positional.partition(".")
    if whole.strip("0"):
        return len(whole.lstrip("0")) - 1
    return -(len(fraction) - len(fraction.lstrip("0")) + 1)


def _escaped(text: str) -> str:
    out = []
    for char in text:
        if char == '"' or char == "\\":
            out.append("\\" + char)
        elif char in "\b\t\n\f\r":
            out.append({"\b": "\\b", "\t": "\\t", "\n": "\\n", "\f": "\\f", "\r": "\\r"}[char])
        elif ord(char) < 0x20:
            out.append(f"\\u{ord(char):04x}")
        else:
            out.append(char)
    return '"' + "".join(out) + '"'


def canonical_text(value: Any) -> str:
    """The canonical text of a value read by `read_numbers`."""
    if value is None:
        return "null"
    if value is True or value is False:
        return "true" if value else "false"
    if isinstance(value, Double):
        return _float_text(value)
    if isinstance(value, int):
        return str(value)
    if isinstance(value, str):
        return _escaped(value)
    if isinstance(value, list):
        return "[" + ",".join(canonical_text(item) for item in value) + "]"
    members = sorted(value.items(), key=lambda item: item[0].encode("utf-8", "surrogatepass"))
    return "{" + ",".join(f"{_escaped(key)}:{canonical_text(item)}" for key, item in members) + "}"


def read_numbers(text: str) -> Any:
    """The JSON value of `text`, each number of the kind the core reads it as."""
    return json.loads(text, parse_int=_integer, parse_float=lambda literal: Double(float(literal)))


def show(text: str, compiler: Compiler, target: dict[str, str], opt_level: str | None = None) -> dict[str, Any]:
    """The spec_hash of a dry-run compile of `text` for `target` (and
    `opt_level`, the core's default when None), and the
    canonical text when it is the one the compile embeds. Raises CompileError
    for a document the compile refuses or text that is not one JSON value."""
    fault = json_fault(text)  # one JSON value: nothing in the text can add members to the request
    if fault is not None:
        raise CompileError("parse", f"the document is not JSON: {fault}")
    level = "" if opt_level is None else f',"opt_level":{json.dumps(opt_level)}'
    request = f'{REQUEST_LEAD}{text}\n,"target":{json.dumps(target)}{level}}}\n,"dry_run":true}}'
    answer = json.loads(compiler.command(request))
    if answer.get("ok") is False:
        raise CompileError.from_message(str(answer.get("error", "")))
    manifest = answer["manifest"]
    result: dict[str, Any] = {"spec_hash": manifest["spec_hash"], "target": target}
    entry = next((f for f in manifest["files"] if f["path"] == SPEC_FILE), None)
    canonical = canonical_text(read_numbers(text))
    if entry is not None and hashlib.sha256(canonical.encode("utf-8")).hexdigest() == entry["sha256"]:
        result["canonical"] = canonical
    return result
