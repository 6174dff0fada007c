"""Document symbols: the top-level members (indicators, entry, exit, sizing,
costs, risk, execution, ...) with the members of each beneath it, the
declared indicators beneath theirs."""

from __future__ import annotations

from lsprotocol import types

from .positions import Lines
from .structure import outline

KINDS = {"indicators": types.SymbolKind.Namespace, "entry": types.SymbolKind.Event, "exit": types.SymbolKind.Event}


def document_symbols(text: str, encoding: str) -> list[types.DocumentSymbol]:
    """The outline of a document; [] for one that is not an object."""
    lines = Lines(text, client=True)

    def symbol(name: str, key_span: tuple[int, int], span: tuple[int, int], kind: types.SymbolKind) -> types.DocumentSymbol:
        return types.DocumentSymbol(
            name=name or '""',
            kind=kind,
            range=types.Range(lines.position(span[0], encoding), lines.position(span[1], encoding)),
            selection_range=types.Range(lines.position(key_span[0], encoding), lines.position(key_span[1], encoding)),
            children=[],
        )

    top: list[types.DocumentSymbol] = []
    inner: list[types.DocumentSymbol] = []
    # Members are listed as their values end: the members of a section before it.
    for member in outline(text):
        name = str(member.path[-1])
        if len(member.path) == 2:
            kind = types.SymbolKind.Function if member.path[0] == "indicators" else types.SymbolKind.Field
            inner.append(symbol(name, member.key_span, member.span, kind))
            continue
        top.append(symbol(name, member.key_span, member.span, KINDS.get(name, types.SymbolKind.Property)))
        top[-1].children, inner = inner, []
    return top
