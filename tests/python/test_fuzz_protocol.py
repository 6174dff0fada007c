"""Random documents and random mutations of valid requests through
Compiler.command: every answer is one well-formed JSON document on one line,
never an exception, and the handle keeps answering correctly.

The texts never name a path outside the test's working directory (no "/",
"..", or \\u002X escape that could spell them), and PATH names an empty
directory, so no mutation can write elsewhere, read a device or start cargo."""

import json
import pathlib

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import velkor_compile

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
VERSION = '{"cmd":"version"}'
VERSION_ANSWER = '{"version":"0.2.0","backtest_dep":"0.1.5"}'
FUZZ_SETTINGS = settings(max_examples=250, deadline=None, suppress_health_check=[HealthCheck.too_slow])


def contained(text):
    return "/" not in text and ".." not in text and "\\u002" not in text


def strict_object(pairs):
    keys = [key for key, _ in pairs]
    assert len(keys) == len(set(keys)), f"repeated member in {pairs}"
    return dict(pairs)


def reject_constant(name):
    raise AssertionError(f"non-JSON constant {name}")


def check_answer(answer):
    assert isinstance(answer, str)
    assert "\n" not in answer, answer
    document = json.loads(answer, object_pairs_hook=strict_object, parse_constant=reject_constant)
    assert isinstance(document, dict), answer
    if "ok" in document:
        if document["ok"] is True:
            assert answer == '{"ok":true}', answer
        else:
            assert list(document) == ["ok", "error"] and document["ok"] is False, answer
            assert isinstance(document["error"], str) and document["error"], answer
    return document


@pytest.fixture(scope="module")
def sandbox(tmp_path_factory):
    """A working directory with the files the requests name, and no cargo."""
    root = tmp_path_factory.mktemp("fuzz")
    (root / "empty-path").mkdir()
    work = root / "work"
    work.mkdir()
    (work / "a").write_bytes(b"artifact\n")
    (work / "c.csv").write_text("t,o,h,l,c,v\n1,1,2,0.5,1.5,10\n")
    with pytest.MonkeyPatch.context() as patch:
        patch.chdir(work)
        patch.setenv("PATH", str(root / "empty-path"))
        yield velkor_compile.Compiler()


def base_requests():
    def dense(document):
        return json.dumps(document, separators=(",", ":"), ensure_ascii=False)

    requests = [VERSION, '{"cmd":"targets"}', '{"cmd":"reset"}', '["version"]',
                '{"cmd":"artifact_bytes","path":"a"}', '{"cmd":"artifact_bytes","path":"c.csv"}']
    targets = [{"kind": "wasm"}, {"kind": "binary"}, {"kind": "no_std", "mcu": "thumbv6m-none-eabi"}]
    data = [None, {"kind": "csv", "path": "c.csv"}, {"kind": "inline", "candles": [{"t": 1, "c": 2.5}, [3]]}]
    for example in sorted(EXAMPLES.glob("*.json")):
        strategy = json.loads(example.read_text().replace("/", "-"))
        for target, embed in zip(targets, data):
            spec = {"strategy": strategy, "target": target, "opt_level": "debug", "crate_name": "c"}
            if embed:
                spec["embed_data"] = embed
            requests.append(dense({"cmd": "compile", "spec": spec, "dry_run": True}))
            requests.append(dense({"cmd": "compile", "spec": spec, "dry_run": False, "out_dir": "o"}))
    assert all(contained(text) for text in requests)
    return requests


BASE = base_requests()
SAFE_CHARACTERS = st.characters(blacklist_categories=("Cs",), blacklist_characters="/.")
JSON_VALUES = st.recursive(
    st.none() | st.booleans() | st.integers(min_value=-(2**70), max_value=2**70)
    | st.floats(allow_nan=False, allow_infinity=False) | st.text(SAFE_CHARACTERS, max_size=12),
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(st.text(SAFE_CHARACTERS, max_size=8), inner, max_size=4),
    max_leaves=20,
)
COMMAND_NAMES = st.sampled_from(["compile", "artifact_bytes", "reset", "version", "targets", "nope"])


def mutate(text, data):
    """Applies a few random edits: delete, insert, duplicate or swap spans."""
    for _ in range(data.draw(st.integers(1, 4), label="edits")):
        if not text:
            break
        start = data.draw(st.integers(0, len(text) - 1))
        end = data.draw(st.integers(start, min(len(text), start + 8)))
        edit = data.draw(st.sampled_from(["delete", "insert", "duplicate", "swap"]))
        if edit == "delete":
            text = text[:start] + text[end:]
        elif edit == "insert":
            text = text[:start] + data.draw(st.text(SAFE_CHARACTERS | st.sampled_from('{}[]:,"\\ 0-e'), max_size=4)) + text[start:]
        elif edit == "duplicate":
            text = text[:end] + text[start:end] + text[end:]
        elif end - start >= 2:
            text = text[:start] + text[end - 1] + text[start + 1:end - 1] + text[start] + text[end:]
    return text


def replace_member(document, data):
    """Replaces one member somewhere in the request by a random JSON value."""
    node = document
    while isinstance(node, dict) and node and data.draw(st.booleans()):
        key = data.draw(st.sampled_from(sorted(node)))
        if not isinstance(node[key], dict) or not node[key]:
            break
        node = node[key]
    if isinstance(node, dict) and node:
        node[data.draw(st.sampled_from(sorted(node)))] = data.draw(JSON_VALUES)
    return json.dumps(document, ensure_ascii=data.draw(st.booleans()))


def apply(compiler, text):
    assume(contained(text))
    check_answer(compiler.command(text))
    assert compiler.command(VERSION) == VERSION_ANSWER


@FUZZ_SETTINGS
@given(text=st.text(SAFE_CHARACTERS, max_size=200))
def test_any_text_is_answered(sandbox, text):
    apply(sandbox, text)


@FUZZ_SETTINGS
@given(name=COMMAND_NAMES, members=st.dictionaries(st.text(SAFE_CHARACTERS, max_size=10), JSON_VALUES, max_size=5),
       top=JSON_VALUES)
def test_random_documents_are_answered(sandbox, name, members, top):
    apply(sandbox, json.dumps({"cmd": name, **members}))
    apply(sandbox, json.dumps(top))


@FUZZ_SETTINGS
@given(base=st.sampled_from(BASE), data=st.data())
def test_mutated_requests_are_answered(sandbox, base, data):
    apply(sandbox, mutate(base, data))
    if base.startswith("{"):
        apply(sandbox, replace_member(json.loads(base), data))
