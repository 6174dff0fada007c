"""The command protocol as a Python caller sees it: every domain failure comes
back as one well-formed error document, never as an exception or a crash."""

import json
import os
import pathlib
import socket

import pytest

import velkor_compile
from velkor_compile import CompileError
from velkor_compile.api import read_input_file

ENVELOPE_ERROR = '{"ok":false,"error":"invalid command envelope: expected {\\"cmd\\":...}"}'
VERSION = '{"version":"0.2.0","backtest_dep":"0.1.5"}'
CONFORMANCE = pathlib.Path(__file__).resolve().parents[3] / "shared" / "conformance" / "json-parsing-suite.jsonl"


def is_error_document(text):
    doc = json.loads(text)
    return list(doc) == ["ok", "error"] and doc["ok"] is False and isinstance(doc["error"], str)


def conformance_cases():
    if not CONFORMANCE.exists():
        return []
    return [json.loads(line) for line in CONFORMANCE.read_text(encoding="utf-8").split("\n") if line]


@pytest.mark.skipif(not CONFORMANCE.exists(), reason="conformance data not found beside the checkout")
def test_every_conformance_case_inside_an_envelope_answers_one_document(compiler):
    cases = conformance_cases()
    assert len(cases) == 318
    for case in cases:
        try:
            answer = compiler.command('{"cmd":"version","x":' + case["input"] + "}")
        except UnicodeEncodeError:
            continue  # a str the interpreter cannot encode never reaches the core
        assert answer == VERSION or answer == ENVELOPE_ERROR, case["name"]
        if case["name"].startswith("y_"):
            assert answer == VERSION, case["name"]
        # The case alone as a command text is never a valid envelope.
        assert is_error_document(compiler.command(case["input"])), case["name"]


@pytest.mark.parametrize(
    "text",
    [
        '{"cmd":"compile","spec":{"strategy":' + "[" * 100_000 + "]" * 100_000 + "}}",
        '{"cmd":"version","n":' + "9" * 5000 + "}",
        '{"cmd":"compile","spec":{"strategy":1e999999,"target":{"kind":"wasm"}}}',
        '{"cmd":"compile","spec":{"strategy":{' + ",".join(['"k":1'] * 20_000) + '},"target":{"kind":"wasm"}}}',
    ],
    ids=lambda t: t[:40],
)
def test_hostile_inputs_answer_a_document(compiler, text):
    answer = compiler.command(text)
    assert answer == VERSION or is_error_document(answer)
    assert compiler.command('{"cmd":"version"}') == VERSION


def load(compiler, path):
    return compiler.command(json.dumps({"cmd": "artifact_bytes", "path": str(path)}))


@pytest.fixture
def special_file(tmp_path):
    """Makes a file of the given kind and returns its path; undone after the test."""
    undo = []

    def make(kind):
        path = tmp_path / kind.replace(" ", "_").replace("/", "_")
        if kind == "directory":
            path.mkdir()
        elif kind.startswith("fifo"):
            os.mkfifo(path)
            if kind == "fifo with a writer":
                writer = os.open(path, os.O_RDWR)  # does not wait for a reader
                undo.append(lambda: os.close(writer))
        elif kind == "socket":
            listener = socket.socket(socket.AF_UNIX)
            listener.bind(str(path))
            listener.listen()
            undo.append(listener.close)
        elif kind == "link to /dev/zero":
            path.symlink_to("/dev/zero")
        else:
            return pathlib.Path(kind)
        return path

    yield make
    for step in undo:
        step()


# The README's table of what artifact_bytes answers for each kind of file; the
# command line reads its input files with the same answers.
@pytest.mark.parametrize(
    "kind, reason",
    [
        ("directory", "Is a directory (os error 21)"),
        ("fifo with a writer", "not a regular file"),
        ("/dev/zero", "not a regular file"),
        ("link to /dev/zero", "not a regular file"),
        ("socket", "No such device or address (os error 6)"),
    ],
)
def test_special_files_are_refused(compiler, special_file, kind, reason):
    path = special_file(kind)
    expected = f"reading {path}: {reason}"
    assert json.loads(load(compiler, path)) == {"ok": False, "error": expected}
    with pytest.raises(CompileError) as raised:
        read_input_file(str(path))
    assert str(raised.value) == f"io: {expected}"
