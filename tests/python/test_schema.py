"""The shipped JSON Schemas agree with the compiler: every example is valid,
documents the compiler accepts are valid, and documents it refuses are refused
by the schema too wherever a schema can tell (each row is checked both ways)."""

import copy
import json
import pathlib

import pytest

import velkor_compile

jsonschema = pytest.importorskip("jsonschema")
referencing = pytest.importorskip("referencing")

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = sorted((ROOT / "examples").glob("*.json"))
BASE = json.loads((ROOT / "examples" / "ma_cross.json").read_text())
POSITIONAL = json.loads((ROOT / "examples" / "ma_cross_positional.json").read_text())


def validator(name):
    registry = referencing.Registry().with_resource(
        "strategy.schema.json", referencing.Resource.from_contents(velkor_compile.schema("strategy"))
    )
    schema = velkor_compile.schema(name)
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema, registry=registry)


STRATEGY = validator("strategy")
REQUEST = validator("compile-request")


def compiler_accepts(strategy):
    """The compiler's own check, through the raw interface (the API reads a str as a path)."""
    doc = {"cmd": "compile", "dry_run": True,
           "spec": {"strategy": strategy, "target": {"kind": "binary"}, "crate_name": "check"}}
    answer = json.loads(velkor_compile.Compiler().command(json.dumps(doc)))
    if answer.get("ok") is False:
        assert answer["error"].startswith("bad spec: strategy is not a valid StrategySpec: "), answer
        return False
    return True


def changed(**changes):
    strategy = copy.deepcopy(BASE)
    for key, value in changes.items():
        if value is ...:
            del strategy[key]
        else:
            strategy[key] = value
    return strategy


def with_costs(**costs):
    return changed(costs=costs)


def with_execution(**execution):
    return changed(execution=execution)


def entry(condition):
    return changed(entry=condition)


def operand(value):
    return entry({"gt": [value, 1]})


def positional(index, value):
    strategy = copy.deepcopy(POSITIONAL)
    strategy[index] = value
    return strategy


def indicator(spec):
    return changed(indicators={"x": spec})


def sizing(value):
    return changed(sizing=value)


ACCEPTED = {
    "unknown members": changed(notes="anything", extra={"deep": [1]}),
    "spec_version 7": changed(spec_version=7),
    "no spec_version": changed(spec_version=...),
    "null ref_symbol and warmup": changed(ref_symbol=None, warmup=None, short_entry=None),
    "empty indicators": changed(indicators={}),
    "indicator with feed object": indicator({"type": "sma", "params": [14, 2.5], "feed": {"kline": None}}),
    "indicator array": indicator(["sma"]),
    "sizing ignores other fields": sizing({"type": "fixed_fraction", "fraction": 0.1, "qty": "x"}),
    "vol_target array": sizing(["vol_target", 0.2, 20]),
    "empty costs": with_costs(),
    "spread slippage with extras": with_costs(slippage={"type": "spread", "bps": "x"}),
    "negative fee": with_costs(maker_bps=-2),
    "risk nulls": changed(risk={"stop_loss_pct": None, "liquidation": True}),
    "execution names": with_execution(order_type="stop_limit", fill_timing={"close": None}),
    "empty all": entry({"all": []}),
    "nested not": entry({"not": {"any": [{"in_position": False}]}}),
    "price expression": entry({"cross_above": [{"price": "close"}, "sma_slow"]}),
    "prev expression": operand({"prev": [{"price": "open"}, 1]}),
    "arithmetic": operand({"div": [{"add": ["a", 1]}, {"mul": [2, {"sub": ["b", "c"]}]}]}),
    "rising": entry({"rising": ["ema", 3]}),
    "bars_since_entry": entry({"bars_since_entry": {"ge": 10}}),
    "between": entry({"between": ["rsi", 30, 70]}),
    "positional short": POSITIONAL[:10],
    "positional with defaults": positional(11, []),
}


@pytest.mark.parametrize("name", sorted(ACCEPTED))
def test_accepted_by_both(name):
    assert compiler_accepts(ACCEPTED[name])
    assert list(STRATEGY.iter_errors(ACCEPTED[name])) == []


@pytest.mark.parametrize("path", EXAMPLES, ids=lambda p: p.name)
def test_examples_are_valid(path):
    STRATEGY.validate(json.loads(path.read_text()))


REFUSED = {
    "empty object": {},
    "symbol not a string": changed(symbol=1),
    "missing sizing": changed(sizing=...),
    "negative spec_version": changed(spec_version=-1),
    "null spec_version": changed(spec_version=None),
    "warmup above u32": changed(warmup=4294967296),
    "null costs": changed(costs=None),
    "null execution": changed(execution=None),
    "indicators array": changed(indicators=[]),
    "string param": indicator({"type": "sma", "params": ["14"]}),
    "unknown feed": indicator({"type": "sma", "feed": "tick"}),
    "indicator without type": indicator({"params": []}),
    "empty indicator array": indicator([]),
    "long indicator array": indicator(["sma", [], None, 1]),
    "unknown sizing": sizing({"type": "kelly"}),
    "sizing type not a string": sizing({"type": 1}),
    "sizing as a string": sizing("fixed_qty"),
    "sizing without type": sizing({"fraction": 0.1}),
    "sizing missing field": sizing({"type": "fixed_fraction"}),
    "fractional lookback": sizing({"type": "vol_target", "target_vol": 0.2, "lookback": 20.5}),
    "sizing array too long": sizing(["fixed_fraction", 0.1, 5]),
    "sizing array too short": sizing(["vol_target", 0.2]),
    "volume_impact without coef": with_costs(slippage={"type": "volume_impact"}),
    "spread array with fields": with_costs(slippage=["spread", 1]),
    "funding not a boolean": with_costs(funding=1),
    "leverage as a string": changed(risk={"max_leverage": "10"}),
    "unknown order type": with_execution(order_type="iceberg"),
    "unknown fill timing": with_execution(fill_timing="open"),
    "null latency": with_execution(latency_bars=None),
    "execution array too long": changed(execution=["market", "close", None, None, 0, False, None, 1]),
    "pair too short": entry({"gt": [1]}),
    "pair too long": entry({"gt": [1, 2, 3]}),
    "pair not an array": entry({"gt": 5}),
    "boolean operand": operand(True),
    "null operand": operand(None),
    "array operand": operand([1]),
    "unknown price": operand({"price": "typical"}),
    "bare price": operand({"price": None}),
    "negative prev": operand({"prev": [{"price": "open"}, -1]}),
    "two-key expression": operand({"add": [1, 2], "sub": [1, 2]}),
    "bare condition name": entry("in_position"),
    "in_position not a boolean": entry({"in_position": 1}),
    "negative count": entry({"rising": ["ema", -1]}),
    "bare bars comparison": entry({"bars_since_entry": "ge"}),
    "unknown bars comparison": entry({"bars_since_entry": {"gte": 10}}),
    "short between": entry({"between": ["rsi", 30]}),
    "two-key condition": entry({"gt": [1, 2], "lt": [3, 4]}),
    "unknown condition": entry({"xor": []}),
    "empty condition": entry({}),
    "all not a list": entry({"all": {"gt": [1, 2]}}),
    "top-level string": "abc",
    "top-level null": None,
    "empty array": [],
    "array too long": POSITIONAL + [None] * (15 - len(POSITIONAL)),
    "array missing sizing": POSITIONAL[:9],
    "positional costs too long": positional(10, [0, 0, ["spread"], False, 1]),
}


@pytest.mark.parametrize("name", sorted(REFUSED))
def test_refused_by_both(name):
    assert not compiler_accepts(REFUSED[name])
    assert not STRATEGY.is_valid(REFUSED[name])


def request(**changes):
    doc = {"cmd": "compile", "dry_run": True, "spec": {"strategy": BASE, "target": {"kind": "binary"}}}
    for key, value in changes.items():
        if key in ("dry_run", "out_dir", "cmd"):
            doc[key] = value
        elif value is ...:
            del doc["spec"][key]
        else:
            doc["spec"][key] = value
    return doc


def compiler_answers(doc):
    return json.loads(velkor_compile.Compiler().command(json.dumps(doc)))


REQUESTS_ACCEPTED = [
    request(),
    request(target={"kind": "no_std", "mcu": "thumbv8m.main-none-eabihf"}, opt_level="size", crate_name="bot"),
    request(target=["wasm"], embed_data={"kind": "inline", "candles": [[1, 2], {"t": 1}]}),
    request(embed_data=None, crate_name=None, out_dir=None),
    request(strategy=POSITIONAL, crate_name="positional"),
    {"cmd": "compile", "spec": [BASE, {"kind": "binary"}, "debug", None, "x"], "dry_run": True, "other": 1},
]


@pytest.mark.parametrize("doc", REQUESTS_ACCEPTED)
def test_requests_accepted_by_both(doc):
    assert compiler_answers(doc).get("ok") is not False
    REQUEST.validate(doc)


REQUESTS_REFUSED = {
    "no spec": {"cmd": "compile", "dry_run": True},
    "no target": request(target=...),
    "unknown target": request(target={"kind": "arm"}),
    "no_std without mcu": request(target={"kind": "no_std"}),
    "mcu outside the allowlist": request(target={"kind": "no_std", "mcu": "THUMBV6M-NONE-EABI"}),
    "unknown opt level": request(opt_level="fast"),
    "invalid crate name": request(crate_name="MyBot"),
    "invalid strategy": request(strategy={"symbol": "X"}),
    "dry_run not a boolean": request(dry_run=None),
    "out_dir not a string": request(out_dir=5),
    "candles not an array": request(embed_data={"kind": "inline", "candles": {}}),
    "unknown data kind": request(embed_data={"kind": "parquet"}),
}


@pytest.mark.parametrize("name", sorted(REQUESTS_REFUSED))
def test_requests_refused_by_both(name):
    assert compiler_answers(REQUESTS_REFUSED[name]).get("ok") is False
    assert not REQUEST.is_valid(REQUESTS_REFUSED[name])
