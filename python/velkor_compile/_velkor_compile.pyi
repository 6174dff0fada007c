"""Type stub of the native extension module (the JSON command interface)."""

from typing import Callable, final

__version__: str

def version() -> str:
    """The library version, the same text as ``__version__``."""

@final
class Compiler:
    """A compiler handle driven by JSON commands, bound to the thread that created it."""

    def __init__(self) -> None: ...
    def command(self, cmd_json: str, *, stop: Callable[[], object] | None = None) -> str:
        """Answer one command document with one response document (both JSON texts).

        Domain failures are answered in-band as ``{"ok":false,"error":...}``.
        The interpreter lock is released while the command runs, so other threads
        run meanwhile. An interrupt that arrives while a command runs raises
        KeyboardInterrupt when it ends, with the answer it ended with as the
        exception's ``answer``; in the main thread one that arrives before cargo
        starts stops a compile there (``"build: stopped before cargo started:
        ..."``), and one that arrives while cargo builds ends cargo and what it
        started (``"build: interrupted: cargo was stopped; ..."``).

        ``stop``, a callable taking no arguments, is asked at the same points on
        any thread (before cargo starts, then about every 100 ms while it
        builds): when it returns true the compile stops there and answers that
        error, and what it raises is raised. A pool of builds on worker threads,
        where no signal handler runs, stops its builds through it.
        """

class PanicException(BaseException):
    """An internal fault of the binding or the core, or a handle used from another thread."""
