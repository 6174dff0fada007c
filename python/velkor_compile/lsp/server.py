"""The language server: the protocol's requests wired to the modules that answer them.

Diagnostics are computed off the event loop, by one thread that owns a
`Compiler` handle (handles are bound to their thread): a change waits a short
while for the next one, only the newest text of a document is linted, and a
result is published only while the document still has the version it was
computed for. The other requests read the editor's text as it is, in
pygls's worker threads so that a large document holds no other request.
"""

from __future__ import annotations

import asyncio
import logging
import os
import sys
import threading
from typing import Any, Callable, NamedTuple

from lsprotocol import types
from pygls.lsp.server import LanguageServer
from pygls.uris import to_fs_path

from .. import __version__
from .._velkor_compile import Compiler, PanicException
from ..api import CompileError, schema
from ..config import ConfigError, find_config
from . import canonical
from .actions import quick_fixes
from .completion import completions
from .diagnostics import Finding, findings, lint_answer
from .formatting import format_edits
from .hover import hover
from .schema_paths import SchemaPaths
from .selection import selection
from .structure import WALK_LIMIT
from .symbols import document_symbols

NAME = "velkor-compile"
SHOW_CANONICAL = "velkor-compile.showCanonical"
# How long a change waits for the next before the document is linted: typing
# is not held up, and a 1 MB document still has its diagnostics within 0.5 s.
DEBOUNCE_SECONDS = 0.05

log = logging.getLogger(NAME)


class Job(NamedTuple):
    """A text to lint: which document, which version, and how to report it."""

    uri: str
    version: int | None
    text: str
    encoding: str
    folder: str


class Linter:
    """One thread that lints the newest text of each document it is given."""

    def __init__(self, report: Callable[[Job, list[Finding]], None]) -> None:
        self._report = report
        self._jobs: dict[str, Job] = {}
        self._ready = threading.Condition()
        threading.Thread(target=self._run, name="lint", daemon=True).start()

    def submit(self, job: Job) -> None:
        with self._ready:
            self._jobs[job.uri] = job  # an older text of the same document is not linted
            self._ready.notify()

    def _run(self) -> None:
        compiler = Compiler()
        while True:
            with self._ready:
                while not self._jobs:
                    self._ready.wait()
                job = self._jobs.pop(next(iter(self._jobs)))
            try:
                rules = selection(job.folder, log.warning)
                found = findings(job.text, lint_answer(job.text, compiler), job.encoding, rules.select, rules.ignore)
            except (Exception, PanicException) as fault:  # no fault may end the diagnostics of every document
                log.error("linting %s failed: %r", job.uri, fault)
                if isinstance(fault, PanicException):
                    compiler = Compiler()  # an internal fault leaves the handle's state unknown
                continue
            self._report(job, found)


class ClientLog(logging.Handler):
    """Warnings and errors as the client's log messages, from any thread."""

    def __init__(self, server: StrategyServer) -> None:
        super().__init__(logging.WARNING)
        self.server = server

    def emit(self, record: logging.LogRecord) -> None:
        loop = self.server.loop
        kind = types.MessageType.Error if record.levelno >= logging.ERROR else types.MessageType.Warning
        if loop is not None and not loop.is_closed():
            loop.call_soon_threadsafe(self.server.window_log_message, types.LogMessageParams(kind, self.format(record)))


class StrategyServer(LanguageServer):
    """The server's state: the schema, the findings published per document, the linter."""

    def __init__(self) -> None:
        super().__init__(NAME, __version__)
        self.schema = SchemaPaths(schema("strategy"))
        self.published: dict[str, tuple[int | None, list[Finding]]] = {}
        self.timers: dict[str, asyncio.TimerHandle] = {}
        self.shut_down = False
        self.loop: asyncio.AbstractEventLoop | None = None
        self.linter = Linter(self._linted)

    @property
    def encoding(self) -> str:
        """The position encoding agreed with the client: "utf-8", "utf-16" or "utf-32"."""
        chosen = self.workspace.position_encoding or types.PositionEncodingKind.Utf16
        # The client's choice may be held as the protocol's enumeration or as its text.
        return str(getattr(chosen, "value", chosen))

    def lint_soon(self, uri: str, delay: float = 0.0) -> None:
        """Lints a document after `delay`, a later call for it replacing this one."""
        self.loop = asyncio.get_running_loop()
        timer = self.timers.pop(uri, None)
        if timer is not None:
            timer.cancel()
        if delay:
            self.timers[uri] = self.loop.call_later(delay, self.lint_soon, uri)
            return
        document = self.workspace.get_text_document(uri)
        path = to_fs_path(uri)
        folder = os.path.dirname(path) if path else os.getcwd()
        self.linter.submit(Job(uri, document.version, document.source, self.encoding, folder))

    def _linted(self, job: Job, found: list[Finding]) -> None:
        if self.loop is not None:
            self.loop.call_soon_threadsafe(self._publish, job, found)

    def _publish(self, job: Job, found: list[Finding]) -> None:
        if job.uri not in self.workspace.text_documents:
            return  # closed meanwhile
        if self.workspace.get_text_document(job.uri).version != job.version:
            return  # changed meanwhile: the newer text is on its way
        self.published[job.uri] = (job.version, found)
        diagnostics = [finding.diagnostic for finding in found]
        self.text_document_publish_diagnostics(
            types.PublishDiagnosticsParams(uri=job.uri, diagnostics=diagnostics, version=job.version)
        )

    def forget(self, uri: str) -> None:
        timer = self.timers.pop(uri, None)
        if timer is not None:
            timer.cancel()
        self.published.pop(uri, None)
        self.text_document_publish_diagnostics(types.PublishDiagnosticsParams(uri=uri, diagnostics=[]))

    def walkable_text(self, uri: str) -> str | None:
        """The document's text, if it is short enough to be walked for its structure."""
        text = self.workspace.get_text_document(uri).source
        return text if len(text) <= WALK_LIMIT else None

    def current_findings(self, uri: str) -> list[Finding]:
        """The findings published for the document's present version, if any."""
        version, found = self.published.get(uri, (None, []))
        return found if version == self.workspace.get_text_document(uri).version else []


def build_server() -> StrategyServer:
    server = StrategyServer()

    @server.feature(types.TEXT_DOCUMENT_DID_OPEN)
    def did_open(ls: StrategyServer, params: types.DidOpenTextDocumentParams) -> None:
        ls.lint_soon(params.text_document.uri)

    @server.feature(types.TEXT_DOCUMENT_DID_CHANGE)
    def did_change(ls: StrategyServer, params: types.DidChangeTextDocumentParams) -> None:
        ls.lint_soon(params.text_document.uri, DEBOUNCE_SECONDS)

    @server.feature(types.TEXT_DOCUMENT_DID_SAVE)
    def did_save(ls: StrategyServer, params: types.DidSaveTextDocumentParams) -> None:
        ls.lint_soon(params.text_document.uri)

    @server.feature(types.TEXT_DOCUMENT_DID_CLOSE)
    def did_close(ls: StrategyServer, params: types.DidCloseTextDocumentParams) -> None:
        ls.forget(params.text_document.uri)

    @server.feature(types.TEXT_DOCUMENT_CODE_ACTION, types.CodeActionOptions(code_action_kinds=[types.CodeActionKind.QuickFix]))
    def code_action(ls: StrategyServer, params: types.CodeActionParams) -> list[types.CodeAction]:
        uri = params.text_document.uri
        text = ls.workspace.get_text_document(uri).source
        return quick_fixes(uri, text, ls.current_findings(uri), params.range)

    @server.feature(types.TEXT_DOCUMENT_COMPLETION, types.CompletionOptions(trigger_characters=['"']))
    @server.thread()
    def completion(ls: StrategyServer, params: types.CompletionParams) -> list[types.CompletionItem]:
        text = ls.walkable_text(params.text_document.uri)
        return completions(text, params.position, ls.encoding, ls.schema) if text else []

    @server.feature(types.TEXT_DOCUMENT_HOVER)
    @server.thread()
    def on_hover(ls: StrategyServer, params: types.HoverParams) -> types.Hover | None:
        text = ls.walkable_text(params.text_document.uri)
        return hover(text, params.position, ls.encoding, ls.schema) if text else None

    @server.feature(types.TEXT_DOCUMENT_DOCUMENT_SYMBOL)
    @server.thread()
    def symbols(ls: StrategyServer, params: types.DocumentSymbolParams) -> list[types.DocumentSymbol]:
        text = ls.walkable_text(params.text_document.uri)
        return document_symbols(text, ls.encoding) if text else []

    @server.feature(types.TEXT_DOCUMENT_FORMATTING)
    @server.thread()
    def formatting(ls: StrategyServer, params: types.DocumentFormattingParams) -> list[types.TextEdit] | None:
        edits = format_edits(ls.workspace.get_text_document(params.text_document.uri).source, ls.encoding)
        if edits is None:
            log.info("not formatted: %s is not JSON", params.text_document.uri)
        return edits

    @server.command(SHOW_CANONICAL)
    @server.thread()
    def show_canonical(ls: StrategyServer, *arguments: Any) -> dict[str, Any] | None:
        return _show_canonical(ls, arguments)

    @server.feature(types.SHUTDOWN)
    def shutdown(ls: StrategyServer, params: None) -> None:
        ls.shut_down = True

    return server


def _show_canonical(ls: StrategyServer, arguments: tuple[Any, ...]) -> dict[str, Any] | None:
    """The canonical text and spec_hash of the document the first argument names
    (a URI, or an object with "uri"), for the target the project's configuration
    gives; the spec_hash is also shown to the user."""
    first = arguments[0] if arguments else None
    uri = first.get("uri") if isinstance(first, dict) else first
    if not isinstance(uri, str) or uri not in ls.workspace.text_documents:
        ls.window_show_message(types.ShowMessageParams(types.MessageType.Error, "show canonical: no open document given"))
        return None
    path = to_fs_path(uri)
    target: dict[str, str] = {"kind": "binary"}
    opt_level = None
    try:
        config = find_config(os.path.dirname(path) if path else os.getcwd(), log.warning)
    except ConfigError as error:
        log.warning("%s", error)
        config = None
    if config is not None and config.target:
        target = {"kind": config.target, **({"mcu": config.mcu} if config.mcu and config.target == "no_std" else {})}
        opt_level = config.opt_level
    try:
        result = canonical.show(path or uri, ls.workspace.get_text_document(uri).source, None, target, opt_level)
    except (CompileError, ValueError) as error:  # ValueError: a no_std target without an mcu
        ls.window_show_message(types.ShowMessageParams(types.MessageType.Error, f"show canonical: {error}"))
        return None
    ls.window_show_message(types.ShowMessageParams(types.MessageType.Info, f"spec_hash {result['spec_hash']}"))
    return result


def main() -> int:
    """Serves one client over standard input and output; the exit status is 0
    after a shutdown request, 1 when the client left without one."""
    sys.stdout.flush()
    # Nothing but the protocol may reach the client's pipe: the server keeps a
    # descriptor of its own for it, and whatever else writes to standard output,
    # Python or native code, reaches stderr.
    protocol_out = os.fdopen(os.dup(1), "wb")
    os.dup2(2, 1)
    sys.stdout = sys.stderr
    logging.basicConfig(stream=sys.stderr, level=logging.WARNING, format="velkor-compile lsp: %(message)s")
    server = build_server()
    log.addHandler(ClientLog(server))
    server.start_io(sys.stdin.buffer, protocol_out)
    return 0 if server.shut_down else 1
