"""Completion: the fields of the object under the cursor, the values of a
choice, and the declared indicators where an operand names one."""

from __future__ import annotations

import json

from lsprotocol import types

from .positions import Lines
from .schema_paths import SchemaPaths
from .structure import outline, place_at


def indicator_names(text: str) -> list[str]:
    """The indicators the document declares, in document order."""
    return [str(member.path[1]) for member in outline(text) if member.path[0] == "indicators" and len(member.path) == 2]


def completions(text: str, position: types.Position, encoding: str, schema: SchemaPaths) -> list[types.CompletionItem]:
    """What may be written at `position`; each item replaces the string or
    word the cursor is in with the quoted name."""
    lines = Lines(text, client=True)
    place = place_at(text, lines.offset_of(position, encoding))
    if place is None:
        return []
    edit_range = types.Range(lines.position(place.span[0], encoding), lines.position(place.span[1], encoding))
    if place.at_key:
        offers = schema.fields(place.path, place.present)
        kind = types.CompletionItemKind.Field
    else:
        assert place.step is not None
        path = place.path + [place.step]
        offers = schema.choices(path)
        kind = types.CompletionItemKind.EnumMember
        if not offers and schema.names_indicator(path):
            offers = dict.fromkeys(indicator_names(text), "A declared indicator.")
            kind = types.CompletionItemKind.Variable
    items = []
    for name, documentation in offers.items():
        quoted = json.dumps(name, ensure_ascii=False)
        items.append(
            types.CompletionItem(
                label=name,
                kind=kind,
                documentation=documentation or None,
                filter_text=quoted,
                text_edit=types.TextEdit(range=edit_range, new_text=quoted),
            )
        )
    return items
