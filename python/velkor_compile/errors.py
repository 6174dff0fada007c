"""The error the Python functions raise: an error document the compiler
answered, or an input file that could not be used."""

from __future__ import annotations

from typing import Any


class CompileError(Exception):
    """An error document answered by the compiler, or an input file that could not be used.

    `kind` is the part of the message before the first ": " when that part is one
    of the known prefixes ("bad spec", "bad target", "build", "io", "parse",
    "codegen", "bad compile request", "bad artifact_bytes request", "bad lint
    request", "bad destination request", "bad canonical request"), otherwise
    "error"; `message` is the rest (the whole text for kind "error"). `str()` of
    the exception is the full message as the compiler wrote it.
    """

    KINDS = (
        "bad spec",
        "bad target",
        "build",
        "io",
        "parse",
        "codegen",
        "bad compile request",
        "bad artifact_bytes request",
        "bad lint request",
        "bad destination request",
        "bad canonical request",
    )

    #: The error document as the compiler wrote it, when the error is one it answered.
    document: str | None = None
    #: The whole message when the one shown is shorter (a build's error whose
    #: cargo output was shown live): what the command line's hints read.
    detail: str | None = None

    def __init__(self, kind: str, message: str) -> None:
        self.kind = kind
        self.message = message
        super().__init__(self.text)

    @property
    def text(self) -> str:
        """The full message, with the kind's prefix."""
        return self.message if self.kind == "error" else f"{self.kind}: {self.message}"

    @classmethod
    def from_message(cls, text: str) -> CompileError:
        """Splits an error document's message into its kind and the rest."""
        kind, sep, rest = text.partition(": ")
        if sep and kind in cls.KINDS:
            return cls(kind, rest)
        return cls("error", text)

    @classmethod
    def from_document(cls, document: str, message: str) -> CompileError:
        """The error an error document answers (`message` its "error"), keeping the document as written."""
        error = cls.from_message(message)
        error.document = document
        return error

    def __reduce__(self) -> tuple[Any, ...]:
        return (type(self), (self.kind, self.message))
