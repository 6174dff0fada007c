"""Strategy compiler: validates, canonicalises, hashes and builds strategy documents.

Two ways in:

- the raw protocol: a `Compiler` handle is driven with JSON command texts
  through `Compiler.command`, which answers with a JSON response text; domain
  failures are answered in-band as ``{"ok": false, "error": ...}``. A handle is
  bound to the thread that created it.
- the Pythonic functions `compile`, `validate`, `destination`, `lint`, `lint_text`,
  `targets`, `version_info` and `schema`, which build the command documents, parse the answers and raise
  `CompileError` for error documents.

The command line (``velkor-compile`` or ``python -m velkor_compile``) is built on
the same functions.
"""

from ._velkor_compile import Compiler, PanicException, __version__, version
from .answers import CompileAnswer, DestinationAnswer, FileEntry, Manifest, TargetDoc, TargetsAnswer, VersionAnswer
from .api import (
    DEFAULT_MAX_PROBLEMS,
    CompileError,
    OptLevel,
    Problem,
    Problems,
    StrategyInput,
    Target,
    compile,
    default_compiler,
    destination,
    lint,
    lint_text,
    load_json_text,
    request_text,
    schema,
    targets,
    validate,
    version_info,
)

__all__ = [
    "DEFAULT_MAX_PROBLEMS",
    "CompileAnswer",
    "CompileError",
    "Compiler",
    "DestinationAnswer",
    "FileEntry",
    "Manifest",
    "OptLevel",
    "PanicException",
    "Problem",
    "Problems",
    "StrategyInput",
    "Target",
    "TargetDoc",
    "TargetsAnswer",
    "VersionAnswer",
    "__version__",
    "compile",
    "default_compiler",
    "destination",
    "lint",
    "lint_text",
    "load_json_text",
    "request_text",
    "schema",
    "targets",
    "validate",
    "version",
    "version_info",
]
