"""Whether an editor's text is one JSON value, judged by Python's reader with
the core's limits: numbers of any length are fine, NaN and Infinity are not."""

from __future__ import annotations

import json


def _refuse(name: str) -> None:
    raise ValueError(f"{name} is not a JSON number")


def json_fault(text: str) -> str | None:
    """None when `text` is one JSON value, else what is wrong with it."""
    try:
        json.loads(text, parse_int=str, parse_float=str, parse_constant=_refuse)
    except RecursionError:
        return "nested too deeply"
    except ValueError as error:  # JSONDecodeError included
        return str(error)
    return None
