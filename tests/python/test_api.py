"""The Pythonic functions: the same answers as the raw protocol, error documents
raised as CompileError, input files used exactly as written, one default handle
per thread."""

import dataclasses
import inspect
import json
import pickle
import threading
import typing

import pytest

import velkor_compile
from conftest import MA_CROSS
from velkor_compile import CompileError
from velkor_compile.request import CompileOptions

STRATEGY = json.loads(MA_CROSS.read_text())


def raw(request):
    return json.loads(velkor_compile.Compiler().command(json.dumps(request)))


@pytest.mark.parametrize(
    "text, kind, message",
    [
        ("bad spec: strategy is not a valid StrategySpec: x: y", "bad spec", "strategy is not a valid StrategySpec: x: y"),
        ('bad target: mcu "a" is not in the allowlist', "bad target", 'mcu "a" is not in the allowlist'),
        ("bad compile request: missing field `spec` at line 1 column 17", "bad compile request",
         "missing field `spec` at line 1 column 17"),
        ("unknown cmd: bad spec: x", "error", "unknown cmd: bad spec: x"),
    ],
)
def test_error_kinds(text, kind, message):
    error = CompileError.from_message(text)
    assert (error.kind, error.message, str(error)) == (kind, message, text)
    copy = pickle.loads(pickle.dumps(error))
    assert (copy.kind, copy.message) == (kind, message)


@pytest.mark.parametrize(
    "kwargs, spec",
    [
        ({}, {"target": {"kind": "binary"}}),
        ({"target": "no_std", "mcu": "thumbv6m-none-eabi", "crate_name": "bot"},
         {"target": {"kind": "no_std", "mcu": "thumbv6m-none-eabi"}, "crate_name": "bot"}),
        ({"candles": [[1, 2.5], {"t": 1}]}, {"target": {"kind": "binary"},
                                             "embed_data": {"kind": "inline", "candles": [[1, 2.5], {"t": 1}]}}),
    ],
)
def test_compile_answers_what_the_protocol_answers(kwargs, spec):
    for strategy in (STRATEGY, str(MA_CROSS), MA_CROSS):
        answer = velkor_compile.compile(strategy, dry_run=True, **kwargs)
        assert answer == raw({"cmd": "compile", "spec": {"strategy": STRATEGY, **spec}, "dry_run": True})


REST = json.dumps({k: v for k, v in STRATEGY.items() if k not in ("symbol", "timeframe")})[1:-1]


@pytest.mark.parametrize(
    "file_text",
    [
        # -0 is a floating-point zero to the compiler; a round trip through a
        # Python value would turn it into the integer 0 and change the spec hash.
        '{"symbol":"X","timeframe":"1h","extra":-0,' + REST + "}",
        # A repeated key: the compiler keeps the later value at the first position.
        '{"symbol":"X","extra":1,"timeframe":"1h","extra":[2],' + REST + "}",
    ],
)
def test_strategy_files_reach_the_compiler_as_written(tmp_path, file_text):
    path = tmp_path / "s.json"
    path.write_text(file_text)
    answer = velkor_compile.compile(path, dry_run=True)
    expected = velkor_compile.Compiler().command(
        '{"cmd":"compile","dry_run":true,"spec":{"target":{"kind":"binary"},"strategy":' + file_text + "}}"
    )
    assert answer == json.loads(expected)


@pytest.mark.parametrize(
    "call, kind, message",
    [
        (lambda: velkor_compile.compile(STRATEGY, csv="no.csv", dry_run=True), "io",
         "reading no.csv: No such file or directory (os error 2)"),
        (lambda: velkor_compile.compile("a\0b"), "io", "reading a\0b: file name contained an unexpected NUL byte"),
        (lambda: velkor_compile.validate([]), "bad spec",
         "strategy is not a valid StrategySpec: invalid length 1, expected struct StrategySpec with 14 elements"),
        (lambda: velkor_compile.compile(STRATEGY, candles=str(MA_CROSS), dry_run=True), "parse",
         f"{MA_CROSS}: the candles must be a JSON array"),
    ],
)
def test_error_documents_raise(tmp_path, monkeypatch, call, kind, message):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(CompileError) as raised:
        call()
    assert (raised.value.kind, raised.value.message.split(" at line")[0]) == (kind, message)
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"target": "no_std"}, ValueError),
        ({"csv": "a.csv", "candles": []}, ValueError),
        ({"crate_name": object()}, TypeError),
    ],
)
def test_contradictory_arguments_are_caller_errors(kwargs, error):
    with pytest.raises(error):
        velkor_compile.compile(STRATEGY, dry_run=True, **kwargs)


@pytest.mark.parametrize("function", [velkor_compile.compile, velkor_compile.request_text, velkor_compile.destination])
def test_every_keyword_option_reaches_the_request(function):
    """The options record takes each option by its name and default: one it lacked would be dropped unsaid."""
    recorded = {option.name: option.default for option in dataclasses.fields(CompileOptions)}
    parameters = inspect.signature(function).parameters.values()
    given = {p.name: p.default for p in parameters if p.kind is p.KEYWORD_ONLY and p.name != "compiler"}
    assert given.items() <= recorded.items()


def test_fixed_documents():
    assert (velkor_compile.targets(), velkor_compile.version_info()) == (
        raw({"cmd": "targets"}), {"version": velkor_compile.__version__, "backtest_dep": "0.1.5"})
    assert typing.get_args(velkor_compile.Target) == tuple(velkor_compile.targets()["targets"])  # the type, as the core lists them


def test_default_handle_is_per_thread(unraisable):
    """A handle is bound to its thread: each thread gets its own default handle,
    released on that thread when it ends. An explicit handle is used as given."""
    main_handle = velkor_compile.default_compiler()
    assert velkor_compile.default_compiler() is main_handle
    seen = []
    thread = threading.Thread(target=lambda: seen.extend([velkor_compile.compile(STRATEGY, dry_run=True),
                                                          velkor_compile.default_compiler() is main_handle]))
    thread.start()
    thread.join()
    assert seen[1] is False and unraisable == []
    assert velkor_compile.compile(STRATEGY, dry_run=True, compiler=velkor_compile.Compiler()) == seen[0]


def test_request_text_leads_with_cmd():
    # A request that leads with "cmd":"compile" is read once by the core.
    text = velkor_compile.request_text(STRATEGY, dry_run=True)
    assert text.startswith('{"cmd":"compile","spec":{"strategy":')
    assert json.loads(text)["spec"]["strategy"] == STRATEGY
