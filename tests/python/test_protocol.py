"""The command protocol as a Python caller sees it: every domain failure comes
back as one well-formed error document, never as an exception or a crash."""

import hashlib
import json
import os
import pathlib
import random
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
        "[" * 1_000_000,
        "{" * 1_000_000,
        '{"cmd":"version","x":' + "[" * 1_000_000,
        '{"cmd":"compile","spec":{"strategy":' + "[" * 100_000 + "]" * 100_000 + "}}",
        '{"cmd":"version","x":"\\ud800"}',
        '{"cmd":"artifact_bytes","path":"\\ud800"}',
        '{"cmd":"vers\x00ion"}',
        '{"cmd":"version","n":' + "9" * 5000 + "}",
        '{"cmd":"compile","spec":{"strategy":1e999999,"target":{"kind":"wasm"}}}',
        '{"cmd":"version"' + ',"k":1' * 20_000 + "}",
        '{"cmd":"compile","spec":{"strategy":{' + ",".join(['"k":1'] * 20_000) + '},"target":{"kind":"wasm"}}}',
        '{"cmd":"compile"',
        "",
    ],
    ids=lambda t: t[:40],
)
def test_hostile_inputs_answer_a_document(compiler, text):
    answer = compiler.command(text)
    assert answer == VERSION or is_error_document(answer)
    assert compiler.command('{"cmd":"version"}') == VERSION


def test_random_text_never_raises(compiler):
    rng = random.Random(1234)
    alphabet = '{}[]":,0123456789.-+eEtrufalsn \\u"x\n\tä'
    for _ in range(3000):
        text = "".join(rng.choice(alphabet) for _ in range(rng.randint(0, 40)))
        answer = compiler.command(text)
        assert answer == VERSION or is_error_document(answer), text
    for _ in range(300):
        text = os.urandom(rng.randint(0, 64)).decode("utf-8", errors="replace")
        assert is_error_document(compiler.command(text))


@pytest.mark.parametrize(
    "text, answer",
    [
        ('{"cmd":"version","anything":[1,{"a":null}]}', VERSION),
        ('["version"]', VERSION),
        ('{"cmd":"version"} {"cmd":"version"}', ENVELOPE_ERROR),
        ('{"cmd":7}', ENVELOPE_ERROR),
        ('{"cmd":"Version"}', '{"ok":false,"error":"unknown cmd: Version"}'),
        ('{"cmd":" version"}', '{"ok":false,"error":"unknown cmd:  version"}'),
        ('{"cmd":"compile2"}', '{"ok":false,"error":"unknown cmd: compile2"}'),
        ('{"cmd":"say \\"hi\\"\\nbye"}', '{"ok":false,"error":"unknown cmd: say \\"hi\\"\\nbye"}'),
        ('{"cmd":"compile"}', '{"ok":false,"error":"bad compile request: missing field `spec` at line 1 column 17"}'),
        (
            '{"cmd":"compile","spec":{"strategy":1,"target":{"kind":"wasm"},"opt_level":"fast"}}',
            '{"ok":false,"error":"bad compile request: unknown variant `fast`, expected one of '
            '`debug`, `release`, `size` at line 1 column 81"}',
        ),
        # Members a request does not read are skipped at any depth.
        (
            '{"cmd":"artifact_bytes","path":"nofile","x":' + "[" * 200 + "]" * 200 + "}",
            '{"ok":false,"error":"reading nofile: No such file or directory (os error 2)"}',
        ),
        (
            '{"cmd":"compile","spec":{"strategy":{"x":1e99999999999999},"target":{"kind":"binary"}}}',
            '{"ok":false,"error":"bad compile request: number out of range at line 1 column 53"}',
        ),
    ],
)
def test_answers(compiler, text, answer):
    assert compiler.command(text) == answer


def test_targets_lists_kinds_and_mcus_in_order(compiler):
    assert json.loads(compiler.command('{"cmd":"targets"}')) == {
        "targets": ["wasm", "binary", "no_std"],
        "mcus": [
            "thumbv6m-none-eabi",
            "thumbv7m-none-eabi",
            "thumbv7em-none-eabi",
            "thumbv7em-none-eabihf",
            "thumbv8m.main-none-eabi",
            "thumbv8m.main-none-eabihf",
            "riscv32imac-unknown-none-elf",
        ],
    }


def load(compiler, path):
    return compiler.command(json.dumps({"cmd": "artifact_bytes", "path": str(path)}))


def test_artifact_bytes_numbers_loads_and_reset_restarts(compiler, tmp_path):
    blob = tmp_path / "artifact.bin"
    content = bytes(range(256)) * 1000
    blob.write_bytes(content)
    digest = hashlib.sha256(content).hexdigest()
    expected = lambda h: json.dumps({"handle": h, "len": len(content), "sha256": digest}, separators=(",", ":"))
    assert load(compiler, blob) == expected(0)
    assert load(compiler, blob) == expected(1)
    missing = load(compiler, tmp_path / "missing")
    assert missing == json.dumps(
        {"ok": False, "error": f"reading {tmp_path / 'missing'}: No such file or directory (os error 2)"},
        separators=(",", ":"),
    )
    assert load(compiler, tmp_path) == json.dumps(
        {"ok": False, "error": f"reading {tmp_path}: Is a directory (os error 21)"}, separators=(",", ":")
    )
    assert load(compiler, blob) == expected(2)
    assert compiler.command('{"cmd":"reset"}') == '{"ok":true}'
    assert load(compiler, blob) == expected(0)
    # Each handle numbers its own loads.
    assert load(velkor_compile.Compiler(), blob) == expected(0)


def test_artifact_bytes_edge_paths(compiler, tmp_path):
    empty = tmp_path / "empty"
    empty.write_bytes(b"")
    assert json.loads(load(compiler, empty)) == {"handle": 0, "len": 0, "sha256": hashlib.sha256(b"").hexdigest()}
    assert json.loads(compiler.command('{"cmd":"artifact_bytes","path":"a\\u0000b"}')) == {
        "ok": False,
        "error": "reading a\x00b: file name contained an unexpected NUL byte",
    }
    assert json.loads(compiler.command('["artifact_bytes"]'))["error"].startswith("reading artifact_bytes: ")
    # The failed loads used no number.
    assert json.loads(load(compiler, empty))["handle"] == 1


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
        ("fifo", "not a regular file"),
        ("fifo with a writer", "not a regular file"),
        ("/dev/null", "not a regular file"),
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
