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
    path: list[Step]
    if place.at_key:
        name = string_value(text[place.span[0]:place.span[1]])
        path = place.path + [name]
    else:
        assert place.step is not None
        path = place.path + [place.step]
        name = str(place.step)
    documentation = schema.documentation(path)
    if not documentation:
        return None
    span_range = types.Range(lines.position(place.span[0], encoding), lines.position(place.span[1], encoding))
    content = types.MarkupContent(kind=types.MarkupKind.Markdown, value=f"**{name}**: {documentation}")
    return types.Hover(contents=content, range=span_range)
