"""What the strategy schema says about a place in a document: the fields an
object may have, the values a choice may take, the documentation of a member.

A place is a path of member keys and element indices from the document's
root. The schema's alternatives (anyOf, oneOf) and references are followed
into every form they allow, so a place in an object written as an array, or
in one of the sizing choices, finds its schema too.
"""

from __future__ import annotations

import json
from typing import Any, Iterator, Mapping, Sequence

from .structure import Step

Node = Mapping[str, Any]

# The definition whose strings name a declared indicator.
OPERAND_DEFINITION = "operand"
# References are followed at most this often from one place: the schema's
# condition refers to itself, and a cycle must not hold the server.
MAX_REFERENCES = 64


class SchemaPaths:
    """Answers questions about places, from one JSON Schema document."""

    def __init__(self, schema: Node) -> None:
        self.root = schema
        self.definitions: Mapping[str, Node] = schema.get("$defs", {})

    def _target(self, reference: str) -> tuple[str | None, Node | None]:
        # Only the fragment matters: the base the reference is written against
        # is this document, whatever its identifier is spelled as.
        fragment = reference.partition("#")[2]
        if fragment.startswith("/$defs/"):
            name = fragment[len("/$defs/"):]
            return name, self.definitions.get(name)
        return None, self.root if fragment == "" else None

    def forms(self, node: Node) -> Iterator[tuple[Node, set[str]]]:
        """Every concrete form of `node`, with the definitions passed on the way to it."""
        pending: list[tuple[Node, frozenset[str]]] = [(node, frozenset())]
        followed = 0
        while pending:
            current, names = pending.pop(0)
            reference = current.get("$ref")
            if isinstance(reference, str) and followed < MAX_REFERENCES:
                followed += 1
                name, target = self._target(reference)
                if target is not None:
                    pending.append((target, names | {name} if name else names))
            for keyword in ("anyOf", "oneOf", "allOf"):
                for alternative in current.get(keyword, ()):
                    if isinstance(alternative, Mapping):
                        pending.append((alternative, names))
            yield current, set(names)

    def at(self, path: Sequence[Step], present: Mapping[str, str | None] | None = None) -> list[tuple[Node, set[str]]]:
        """The forms of the schema at `path`, each with the definitions passed in
        the last step; `present` (the members already in the object at the end
        of the path) rules out the choices they contradict."""
        found = list(self.forms(self.root))
        for step in path:
            seen: dict[int, tuple[Node, set[str]]] = {}
            for node, _ in found:
                child = _child(node, step)
                if child is not None:
                    for form, names in self.forms(child):
                        seen.setdefault(id(form), (form, set()))[1].update(names)
            found = list(seen.values())
        if present:
            found = [(form, names) for form, names in found if _agrees(form, present)]
        return found

    def fields(self, path: Sequence[Step], present: Mapping[str, str | None]) -> dict[str, str]:
        """The member names an object at `path` may have, with their documentation."""
        names: dict[str, str] = {}
        for form, _ in self.at(path, present):
            for name, child in form.get("properties", {}).items():
                if name not in present and isinstance(child, Mapping):
                    names.setdefault(name, self.description(child) or "")
        return names

    def choices(self, path: Sequence[Step]) -> dict[str, str]:
        """The string values the schema names for `path`, with their documentation."""
        values: dict[str, str] = {}
        for form, _ in self.at(path):
            listed = form.get("enum", [form["const"]] if "const" in form else [])
            for value in listed:
                if isinstance(value, str):
                    values.setdefault(value, form.get("description", ""))
        return values

    def names_indicator(self, path: Sequence[Step]) -> bool:
        """Whether a string at `path` is an operand, that is an indicator's name."""
        return any(OPERAND_DEFINITION in names for _, names in self.at(path))

    def description(self, node: Node) -> str | None:
        """The documentation of a member: its own, else that of what it refers to."""
        for form, _ in self.forms(node):
            text = form.get("description")
            if isinstance(text, str):
                return text
        return None

    def documentation(self, path: Sequence[Step]) -> str | None:
        """The documentation of the member or element at `path`."""
        if not path:
            return None
        for parent, _ in self.at(path[:-1]):
            child = _child(parent, path[-1])
            text = self.description(child) if child is not None else None
            if text:
                return text
        return None


def _child(form: Node, step: Step) -> Node | None:
    """The schema of a member or element of one form, if it has one."""
    child: Any = None
    if isinstance(step, str) and form.get("type", "object") == "object":
        child = form.get("properties", {}).get(step, form.get("additionalProperties"))
    elif isinstance(step, int) and form.get("type", "array") == "array":
        prefix = form.get("prefixItems", ())
        child = prefix[step] if step < len(prefix) else form.get("items")
    return child if isinstance(child, Mapping) else None


def _agrees(form: Node, present: Mapping[str, str | None]) -> bool:
    """Whether an object form's fixed member values (a choice's "type") allow
    the values written for them."""
    for name, child in form.get("properties", {}).items():
        written = present.get(name)
        if isinstance(child, Mapping) and "const" in child and written is not None:
            if written != json.dumps(child["const"]):
                return False
    return True
