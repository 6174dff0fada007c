"""Hover: the documentation the schema gives for the member or value under the cursor."""

from __future__ import annotations

from lsprotocol import types

from .positions import Lines
from .schema_paths import SchemaPaths
from .structure import Step, place_at, string_value


def hover(text: str, position: types.Position, encoding: str, schema: SchemaPaths) -> types.Hover | None:
    """The documentation of the key or value the cursor is on, if the schema has it."""
    lines = Lines(text, client=True)
    place = place_at(text, lines.offset_of(position, encoding))
    if place is None or place.span[0] == place.span[1]:
        return None
    step = string_value(text[place.span[0]:place.span[1]]) if place.at_key else place.step
    assert step is not None
    path: list[Step] = place.path + [step]
    # The member's name, then the indices of the element within it: cross_above[1].
    keys = [index for index, item in enumerate(path) if isinstance(item, str)]
    name = "".join(f"[{item}]" if isinstance(item, int) else str(item) for item in path[keys[-1] if keys else 0:])
    documentation = schema.documentation(path)
    if not documentation:
        return None
    span_range = types.Range(lines.position(place.span[0], encoding), lines.position(place.span[1], encoding))
    content = types.MarkupContent(kind=types.MarkupKind.Markdown, value=f"**{name}**: {documentation}")
    return types.Hover(contents=content, range=span_range)
