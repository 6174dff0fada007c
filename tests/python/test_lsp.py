"""The language server end to end: a real client (pytest-lsp) drives
`velkor-compile lsp` over standard input and output."""

import asyncio
import hashlib
import itertools
import json
import subprocess
import sys

import pytest

pytest.importorskip("pygls", reason="the language server needs the lsp extra: pip install 'velkor-compile[lsp]'")
pytest_lsp = pytest.importorskip("pytest_lsp", reason="the language server tests need pytest-lsp")

from lsprotocol import types  # noqa: E402
from pytest_lsp import ClientServerConfig, LanguageClient, client_capabilities  # noqa: E402

import velkor_compile  # noqa: E402
from conftest import EXAMPLES  # noqa: E402

SERVER = [sys.executable, "-m", "velkor_compile", "lsp"]
on_server_loop = pytest.mark.asyncio(loop_scope="module")
STRATEGY = (EXAMPLES / "ma_cross.json").read_text()
NUMBERS = itertools.count()


@pytest_lsp.fixture(scope="module", config=ClientServerConfig(server_command=SERVER))
async def client(lsp_client: LanguageClient, tmp_path_factory):
    root = tmp_path_factory.mktemp("workspace")
    await lsp_client.initialize_session(
        types.InitializeParams(capabilities=client_capabilities("visual-studio-code"), root_uri=root.as_uri())
    )
    lsp_client.root = root
    yield
    await lsp_client.shutdown_session()


def with_cursor(text):
    """The text without its "|" marker, and the marker's line and column."""
    before = text[: text.index("|")]
    return text.replace("|", "", 1), types.Position(before.count("\n"), len(before) - before.rfind("\n") - 1)


async def opened(client, name, text):
    """Opens a document under a name of its own and waits for its diagnostics."""
    path = client.root / name
    uri = path.with_name(f"{next(NUMBERS)}.{path.name}").as_uri()
    client.text_document_did_open(types.DidOpenTextDocumentParams(types.TextDocumentItem(uri, "json", 1, text)))
    return uri, await published(client, uri)


async def published(client, uri):
    """The diagnostics published next for `uri` (the server publishes a
    document's diagnostics once per version, and the name is new)."""
    async def arrival():
        while uri not in client.diagnostics:
            await asyncio.sleep(0.01)
        return client.diagnostics.pop(uri)

    return await asyncio.wait_for(arrival(), 60)


@on_server_loop
async def test_diagnostics_after_open_and_change_in_utf16(client):
    # An emoji is one character for the core and two UTF-16 units for the client.
    text = STRATEGY.replace('"symbol": "BTC-USD",', '"symbol": "\U0001F600", "ref_symbl": null,')
    uri, diagnostics = await opened(client, "emoji.strategy.json", text)
    line = text.splitlines()[2]
    assert [(d.severity, d.source) for d in diagnostics] == [(types.DiagnosticSeverity.Warning, "velkor-compile")]
    start = line.index('"ref_symbl"') + 1  # one more unit for the emoji
    assert diagnostics[0].range == types.Range(types.Position(2, start), types.Position(2, start + 11))
    # The rule code and the plain-words message.
    assert diagnostics[0].code == "VK201" and "takes no member `ref_symbl`" in diagnostics[0].message
    # The fix clears it.
    change = types.TextDocumentContentChangePartial(range=diagnostics[0].range, text='"ref_symbol"')
    client.text_document_did_change(
        types.DidChangeTextDocumentParams(types.VersionedTextDocumentIdentifier(version=2, uri=uri), [change])
    )
    assert not await published(client, uri)


@pytest_lsp.fixture(scope="module", config=ClientServerConfig(server_command=SERVER))
async def utf8_client(lsp_client: LanguageClient, tmp_path_factory):
    capabilities = types.ClientCapabilities(general=types.GeneralClientCapabilities(position_encodings=["utf-8"]))
    await lsp_client.initialize_session(types.InitializeParams(capabilities=capabilities))
    lsp_client.root = tmp_path_factory.mktemp("utf8")
    yield
    await lsp_client.shutdown_session()


@on_server_loop
async def test_diagnostics_in_the_encoding_the_client_chose(utf8_client):
    text = '{"symbol": "\U0001F600\u00e9", "ref_symbl": null}'
    _, diagnostics = await opened(utf8_client, "utf8.strategy.json", text)
    start = len(text[: text.index('"ref_symbl"')].encode())  # the emoji is 4 bytes, the e with accent 2
    assert types.Range(types.Position(0, start), types.Position(0, start + 11)) in [d.range for d in diagnostics]


@on_server_loop
async def test_project_rule_selection_applies(client):
    (client.root / "quiet").mkdir()
    (client.root / "quiet" / "pyproject.toml").write_text('[tool.velkor-compile]\nignore = ["VK2"]\nselect = ["X"]\n')
    text = STRATEGY.replace('"maker_bps"', '"maker_bsp"').replace('"1h"', "1")
    _, diagnostics = await opened(client, "quiet/selected.strategy.json", text)
    # The unknown member's warning is ignored; an error is always reported.
    assert [d.severity for d in diagnostics] == [types.DiagnosticSeverity.Error]
    # The list that is not one of codes is passed over, with a word in the client's log.
    assert any("select must be a list of codes" in m.message for m in client.log_messages)


@on_server_loop
async def test_quick_fix_replaces_the_key(client):
    text = STRATEGY.replace('"maker_bps"', '"maker_bsp"')
    uri, diagnostics = await opened(client, "fix.strategy.json", text)
    context = types.CodeActionContext(diagnostics=diagnostics)
    actions = await client.text_document_code_action_async(
        types.CodeActionParams(types.TextDocumentIdentifier(uri), diagnostics[0].range, context)
    )
    [action] = actions
    assert action.kind == types.CodeActionKind.QuickFix
    assert list(action.edit.changes[uri]) == [types.TextEdit(diagnostics[0].range, '"maker_bps"')]


COMPLETIONS = {
    "fields of an object": ('"costs": {"maker_bps": 1, "|"}', {"taker_bps", "slippage", "funding"}, {"maker_bps"}),
    "fields of a chosen sizing": ('"sizing": {"type": "vol_target", |}', {"target_vol", "lookback"}, {"fraction"}),
    "choice of a value": ('"execution": {"order_type": "|"}', {"market", "limit", "stop", "stop_limit"}, set()),
    "choice of a feed": ('"indicators": {"x": {"type": "sma", "feed": |}}', {"kline", "trade"}, set()),
    "operand names an indicator": ('"exit": {"lt": ["sma_fast", "s|"]}', {"sma_fast", "sma_slow"}, {"market"}),
}


@pytest.mark.parametrize("member, present, absent", COMPLETIONS.values(), ids=COMPLETIONS)
@on_server_loop
async def test_completion(client, member, present, absent):
    text, position = with_cursor(STRATEGY.replace('"warmup": 50', member))
    uri = (client.root / "complete.strategy.json").as_uri()
    client.text_document_did_open(types.DidOpenTextDocumentParams(types.TextDocumentItem(uri, "json", 1, text)))
    items = await client.text_document_completion_async(
        types.CompletionParams(types.TextDocumentIdentifier(uri), position)
    )
    client.text_document_did_close(types.DidCloseTextDocumentParams(types.TextDocumentIdentifier(uri)))
    labels = {item.label for item in items}
    assert present <= labels and not absent & labels
    # Each item replaces what is typed, quotes included.
    assert all(item.text_edit.new_text == json.dumps(item.label) for item in items)


@on_server_loop
async def test_hover_documents_a_member(client):
    text, position = with_cursor(STRATEGY.replace('"maker_bps"', '"mak|er_bps"'))
    uri, _ = await opened(client, "hover.strategy.json", text)
    answer = await client.text_document_hover_async(types.HoverParams(types.TextDocumentIdentifier(uri), position))
    assert "Maker fee in basis points" in answer.contents.value


FORMATTING = {
    "compact": ('{"a":[1.50,2],"a":{"b":-0,"c":[]},"d":{}}',
                '{\n  "a": [1.50, 2],\n  "a": {\n    "b": -0,\n    "c": []\n  },\n  "d": {}\n}\n'),
    "formatted already": ('{\n  "a": [1, "x"]\n}\n', None),
    "not JSON": ('{"a": 1,}', None),
}


@pytest.mark.parametrize("text, expected", FORMATTING.values(), ids=FORMATTING)
@on_server_loop
async def test_formatting_keeps_every_token(client, text, expected):
    uri, _ = await opened(client, "format.strategy.json", text)
    options = types.FormattingOptions(tab_size=2, insert_spaces=True)
    edits = await client.text_document_formatting_async(
        types.DocumentFormattingParams(types.TextDocumentIdentifier(uri), options)
    )
    client.text_document_did_close(types.DidCloseTextDocumentParams(types.TextDocumentIdentifier(uri)))
    assert [edit.new_text for edit in edits or []] == ([expected] if expected else [])


@on_server_loop
async def test_symbols_and_canonical_command(client):
    uri, _ = await opened(client, "outline.strategy.json", STRATEGY)
    symbols = await client.text_document_document_symbol_async(
        types.DocumentSymbolParams(types.TextDocumentIdentifier(uri))
    )
    assert [s.name for s in symbols][:6] == ["spec_version", "symbol", "timeframe", "indicators", "entry", "exit"]
    assert [s.name for s in symbols[3].children] == ["sma_fast", "sma_slow"]
    answer = await client.workspace_execute_command_async(
        types.ExecuteCommandParams("velkor-compile.showCanonical", [uri])
    )
    manifest = velkor_compile.compile(EXAMPLES / "ma_cross.json", dry_run=True)["manifest"]
    assert answer["spec_hash"] == manifest["spec_hash"]
    # The bytes a build embeds, and the compiler's number forms (the example has no float of its own).
    spec_file = next(f for f in manifest["files"] if f["path"] == "src/spec.json")
    assert hashlib.sha256(answer["canonical"].encode()).hexdigest() == spec_file["sha256"]


CANONICAL_FAULTS = {
    "unclosed": ('{"symbol": "A"', "the text ends inside an object: a closing `}` is missing at line 1 column 14"),
    "core-only fault": (
        '{"symbol": "A",}', "a comma before a closing bracket: JSON allows none there at line 1 column 15"
    ),
    "adds members": ('{"a": 1}\n,"x": {', "more text follows the end of the JSON document at line 2 column 1"),
    "invalid strategy": ('{"symbol": "A"}', None),
}


@pytest.mark.parametrize("text, fault", CANONICAL_FAULTS.values(), ids=CANONICAL_FAULTS)
@on_server_loop
async def test_canonical_command_shows_what_is_wrong(client, text, fault):
    uri, _ = await opened(client, "fault.strategy.json", text)
    command = types.ExecuteCommandParams("velkor-compile.showCanonical", [uri])
    answer = await client.workspace_execute_command_async(command)
    client.text_document_did_close(types.DidCloseTextDocumentParams(types.TextDocumentIdentifier(uri)))
    assert answer is None
    path = uri.removeprefix("file://")
    expected = f"parse: {path}: {fault}" if fault else "bad spec: strategy is not a valid StrategySpec: missing field"
    assert client.messages[-1].message.startswith(f"show canonical: {expected}")


ROBUSTNESS = {
    "garbage": "\x00}{][ garbage \ufffe",
    "lone surrogate": '{"symbol": "\ud800"}',
    "5000 deep": "[" * 5000 + "]" * 5000,
    "10 MB": '{"indicators": {' + ", ".join(f'"i{n}": {{"type": "sma"}}' for n in range(400_000)) + "}}",
}


@pytest.mark.parametrize("text", ROBUSTNESS.values(), ids=ROBUSTNESS)
@on_server_loop
async def test_robust_on_garbage_and_large_documents(client, text):
    uri, diagnostics = await opened(client, "robust.strategy.json", text)
    assert diagnostics and diagnostics[0].severity == types.DiagnosticSeverity.Error
    position = types.Position(0, 3)
    await client.text_document_completion_async(types.CompletionParams(types.TextDocumentIdentifier(uri), position))
    client.text_document_did_close(types.DidCloseTextDocumentParams(types.TextDocumentIdentifier(uri)))


def frame(message):
    body = json.dumps(message).encode()
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


@pytest.mark.parametrize("requests, status", [(["shutdown", "exit"], 0), (["exit"], 1)], ids=["shutdown", "no shutdown"])
def test_exit_status(requests, status):
    messages = [{"jsonrpc": "2.0", "id": 1, "method": "initialize", "params": {"capabilities": {}}},
                {"jsonrpc": "2.0", "method": "initialized", "params": {}}]
    messages += [{"jsonrpc": "2.0", "id": n + 2, "method": m} if m == "shutdown" else {"jsonrpc": "2.0", "method": m}
                 for n, m in enumerate(requests)]
    run = subprocess.run(SERVER, input=b"".join(map(frame, messages)), capture_output=True, timeout=60)
    assert run.returncode == status, run.stderr
    # Nothing but framed protocol messages on standard output.
    assert run.stdout.startswith(b"Content-Length: ") and b"\r\n\r\n{" in run.stdout


def test_without_the_extra_it_says_what_to_install():
    hide = "import sys; sys.modules['pygls'] = None; from velkor_compile.cli import main; sys.exit(main(['lsp']))"
    run = subprocess.run([sys.executable, "-c", hide], capture_output=True, text=True, timeout=60)
    assert run.returncode == 1
    assert "pip install 'velkor-compile[lsp]'" in run.stderr and run.stdout == ""
