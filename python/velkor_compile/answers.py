"""The shapes of the documents the Pythonic functions return, for type checkers.

At run time these are plain dicts parsed from the compiler's answers; the
classes only let a checker catch a misspelt member (``answer["manifestt"]``)
or a member used as the wrong type. Members a document may lack are declared
in a ``total=False`` subclass, which works on every supported Python.
"""

from __future__ import annotations

from typing import List, TypedDict


class _TargetKind(TypedDict):
    kind: str


class TargetDoc(_TargetKind, total=False):
    """A target as the compiler writes it: {"kind": ...}, with "mcu" for no_std only."""

    mcu: str


class FileEntry(TypedDict):
    """One generated file: its path in the project, SHA-256 in hex and size in bytes."""

    path: str
    sha256: str
    bytes_len: int


class Manifest(TypedDict):
    """What a compile generated, with the digests of the options and of the files."""

    compiler_version: str
    target: TargetDoc
    opt_level: str
    crate_name: str
    spec_hash: str
    backtest_dep: str
    files: List[FileEntry]
    project_hash: str


class _CompileAnswerMembers(TypedDict):
    target: TargetDoc
    manifest: Manifest
    built: bool


class CompileAnswer(_CompileAnswerMembers, total=False):
    """The answer to a compile; "path" (the artifact) is present only when a build ran."""

    path: str


class TargetsAnswer(TypedDict):
    """The target kinds and the microcontroller triples the no_std target accepts."""

    targets: List[str]
    mcus: List[str]


class VersionAnswer(TypedDict):
    """The compiler's version and the backtest dependency that generated projects require."""

    version: str
    backtest_dep: str


class DestinationAnswer(TypedDict):
    """Where a build would write the project ("project_dir") and which files
    already there it would replace and remove, as paths in the project."""

    project_dir: str
    replace: List[str]
    remove: List[str]


class CanonicalAnswer(TypedDict):
    """The strategy's canonical text a compile embeds (its project's
    src/spec.json, byte for byte) and the spec_hash of the compile's options."""

    spec_hash: str
    canonical: str
