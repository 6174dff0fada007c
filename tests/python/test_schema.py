"""The shipped JSON Schemas agree with the compiler: every example is valid, and
each row is accepted, or refused, by the compiler and the schema alike."""

import copy
import json
import pathlib

import pytest

import velkor_compile
from conftest import EXAMPLES, MA_CROSS

jsonschema = pytest.importorskip("jsonschema")
referencing = pytest.importorskip("referencing")

BASE = json.loads(MA_CROSS.read_text())
POSITIONAL = json.loads((EXAMPLES / "ma_cross_positional.json").read_text())


def validator(name):
    # Each schema on its own: the compile request's carries the strategy's.
    schema = velkor_compile.schema(name)
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


STRATEGY = validator("strategy")
REQUEST = validator("compile-request")


def changed(base=BASE, spec=False, **changes):
    doc = copy.deepcopy(base)
    target = doc["spec"] if spec else doc
    for key, value in changes.items():
        if value is ...:
            del target[key]
        else:
            target[key] = value
    return doc


def entry(condition):
    return changed(entry=condition)


def operand(value):
    return entry({"gt": [value, 1]})


@pytest.mark.parametrize("path", sorted(EXAMPLES.glob("*.json")), ids=lambda p: p.name)
def test_examples_are_valid(path):
    STRATEGY.validate(json.loads(path.read_text()))


# (strategy, accepted)
STRATEGIES = {
    "unknown members": (changed(notes="anything", extra={"deep": [1]}, spec_version=...), True),
    "expressions": (operand({"div": [{"prev": [{"price": "open"}, 1]}, {"mul": [2, {"sub": ["b", "c"]}]}]}), True),
    "position conditions": (entry({"not": {"any": [{"in_position": False}, {"bars_since_entry": {"ge": 10}}]}}), True),
    "positional short": (POSITIONAL[:10], True),
    "empty object": ({}, False),
    "string param": (changed(indicators={"x": {"type": "sma", "params": ["14"]}}), False),
    "sizing array too long": (changed(sizing=["fixed_fraction", 0.1, 5]), False),
    "volume_impact without coef": (changed(costs={"slippage": {"type": "volume_impact"}}), False),
    "unknown price": (operand({"price": "typical"}), False),
    "array too long": (POSITIONAL + [None] * (15 - len(POSITIONAL)), False),
}


def compiler_answers(doc):
    return json.loads(velkor_compile.Compiler().command(json.dumps(doc)))


@pytest.mark.parametrize("name", sorted(STRATEGIES))
def test_strategies_agree(name):
    strategy, accepted = STRATEGIES[name]
    answer = compiler_answers({"cmd": "compile", "dry_run": True, "spec": {
        "strategy": strategy, "target": {"kind": "binary"}, "crate_name": "check"}})
    assert (answer.get("ok") is not False) == accepted, answer
    if not accepted:
        assert answer["error"].startswith("bad spec: strategy is not a valid StrategySpec: "), answer
    assert STRATEGY.is_valid(strategy) == accepted


REQUEST_BASE = {"cmd": "compile", "dry_run": True, "spec": {"strategy": BASE, "target": {"kind": "binary"}}}


def request(**changes):
    return changed(REQUEST_BASE, spec=True, **changes)


REQUESTS = {
    "plain": (REQUEST_BASE, True),
    "no_std size named": (request(target={"kind": "no_std", "mcu": "thumbv8m.main-none-eabihf"}, opt_level="size",
                                  crate_name="bot"), True),
    "inline candles": (request(target=["wasm"], embed_data={"kind": "inline", "candles": [[1, 2], {"t": 1}]}), True),
    "positional": ({"cmd": "compile", "spec": [POSITIONAL, {"kind": "binary"}, "debug", None, "x"], "dry_run": True,
                    "other": 1}, True),
    "no spec": ({"cmd": "compile", "dry_run": True}, False),
    "mcu outside the allowlist": (request(target={"kind": "no_std", "mcu": "THUMBV6M-NONE-EABI"}), False),
    "invalid crate name": (request(crate_name="MyBot"), False),
    "build output asked": (dict(REQUEST_BASE, stream_build_output=True, build_progress=False), True),
    "build progress not a boolean": (dict(REQUEST_BASE, build_progress="yes"), False),
    "candles not an array": (request(embed_data={"kind": "inline", "candles": {}}), False),
}


@pytest.mark.parametrize("name", sorted(REQUESTS))
def test_requests_agree(name):
    doc, accepted = REQUESTS[name]
    assert (compiler_answers(doc).get("ok") is not False) == accepted
    assert REQUEST.is_valid(doc) == accepted


def test_the_schema_files_resolve_each_other_by_id():
    folder = pathlib.Path(velkor_compile.__file__).parent / "schema"
    files = [json.loads((folder / f"{name}.schema.json").read_text()) for name in ("strategy", "compile-request")]
    registry = referencing.Registry().with_resources(
        (schema["$id"], referencing.Resource.from_contents(schema)) for schema in files)
    on_disk = jsonschema.Draft202012Validator(files[1], registry=registry)
    assert on_disk.is_valid(REQUEST_BASE) and not on_disk.is_valid(request(strategy={}))
