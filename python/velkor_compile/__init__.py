"""Strategy compiler: validates, canonicalises, hashes and builds strategy documents.

A `Compiler` handle is driven with JSON command texts through
`Compiler.command`, which answers with a JSON response text; domain failures are
answered in-band as ``{"ok": false, "error": ...}``. A handle is bound to the
thread that created it.
"""

from ._velkor_compile import Compiler, PanicException, __version__, version

__all__ = ["Compiler", "PanicException", "__version__", "version"]
