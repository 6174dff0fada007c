"""The compile command end to end through the module: golden manifests (the
digests and byte counts the compiler answers, each Cargo.toml and source size
checked by hand against the template lengths: 309/257/237 bytes for the wasm,
binary and no_std manifests, profiles 47 and 92, sources 626/432/1014),
validation order and messages, builds through a stand-in cargo, stale files.
Real cargo builds of every target are in test_real_targets.py."""

import json
import os
import subprocess
import sys

import pytest

import velkor_compile
from conftest import EXAMPLES, MA_CROSS, error_document

STRATEGY = {
    "symbol": "BTC-USD",
    "timeframe": "1h",
    "indicators": {"sma_fast": {"type": "sma", "params": [10]}, "sma_slow": {"type": "sma", "params": [50.5]}},
    "entry": {"cross_above": ["sma_fast", "sma_slow"]},
    "exit": {"cross_below": ["sma_fast", "sma_slow"]},
    "sizing": {"type": "fixed_fraction", "fraction": 0.1},
    "notes": "ä/\u001f",
}
CSV_TEXT = "t,o,h,l,c,v\n1700000000000,101.23,101.5,100.9,101.1,12345\nä\n"
NO_STD = {"kind": "no_std", "mcu": "thumbv7em-none-eabihf"}


def compile_request(spec, **request):
    return json.dumps({"cmd": "compile", "spec": spec, **request}, ensure_ascii=False)


def run(compiler, spec, **request):
    return json.loads(compiler.command(compile_request(spec, **request)))


def error_of(compiler, spec, **request):
    answer = run(compiler, spec, **request)
    assert list(answer) == ["ok", "error"] and answer["ok"] is False, answer
    return answer["error"]


def make_spec(target, opt_level=None, data=None, **extra):
    spec = {"strategy": STRATEGY, "target": target, **extra}
    if opt_level:
        spec["opt_level"] = opt_level
    if data == "csv":
        spec["embed_data"] = {"kind": "csv", "path": "candles.csv"}
    if data == "inline":
        spec["embed_data"] = {"kind": "inline", "candles": [{"t": 1, "o": 101.23, "c": 1e16, "v": 5}, [], {}]}
    return spec


# The whole answer, byte for byte (member order, digests, sizes).
BINARY_RELEASE_ANSWER = (
    '{"target":{"kind":"binary"},"manifest":{"compiler_version":"0.2.0","target":{"kind":"binary"},'
    '"opt_level":"release","crate_name":"btc_usd",'
    '"spec_hash":"6081d10717f623b4c7c51b5260973d6c77bc71c103cc624db0edf789743d51e8","backtest_dep":"0.1.5",'
    '"files":[{"path":"Cargo.toml","sha256":"8d4cc084071c0ab4801a857cb06de1d674d3b9df1dc1c905ecd0dfe45ff25f41",'
    '"bytes_len":275},{"path":"src/main.rs",'
    '"sha256":"7236c8ca0786b02aecf973fd5f8c81c1170cb0de576520a32ff5951b13fae913","bytes_len":432},'
    '{"path":"src/spec.json","sha256":"d5fa8eaae248853b8637bf6b286904fc582e71e7aae3df91be215deca27ab552",'
    '"bytes_len":299}],"project_hash":"9a9e44bbf6b0d89353928ea584badcc04fe3e48611bf2faad793244d71863f0b"},'
    '"built":false}'
)


def test_dry_run_answer_is_byte_exact(compiler, workdir):
    assert compiler.command(compile_request(make_spec({"kind": "binary"}), dry_run=True)) == BINARY_RELEASE_ANSWER
    # "release" is the default: saying so changes nothing, not even the spec hash.
    assert compiler.command(compile_request(make_spec({"kind": "binary"}, "release"), dry_run=True)) == (
        BINARY_RELEASE_ANSWER
    )
    assert list(workdir.iterdir()) == []


# project_hash digests every file's path and digest, so it pins every byte; the
# sizes say which file moved. spec.json is the 299-byte canonical strategy,
# src/candles.json the 42-byte canonical candles, src/candles.csv the file as read.
@pytest.mark.parametrize(
    "target, opt_level, data, spec_hash, project_hash, sizes",
    [
        ({"kind": "binary"}, "debug", "csv", "474e64c34c5593f2749e107fbf949cdbb0d08ab0b5c91028e4203574f75f7185",
         "8cea5f6ccd13743051c4c765ee5c3c3d69463e551d05aa8482a99bb51ac14e14",
         {"Cargo.toml": 228, "src/candles.csv": 60, "src/main.rs": 432, "src/spec.json": 299}),
        ({"kind": "wasm"}, "size", "inline", "e8131b0b3bb62be4bcdbbaadc40d01c28a6a1e1a0f7ac11e4d125f02ca936d73",
         "b033558ea418969d5156f75076a1450ebace2943cadf8d6776fbd0b1db41f514",
         {".cargo/config.toml": 42, "Cargo.toml": 372, "src/candles.json": 42, "src/lib.rs": 626, "src/spec.json": 299}),
        (NO_STD, "size", None, "400657e21114ec0367cef76c88406de9e926e3fb1be6df0f585601538ff78b5c",
         "bd1bf889d7c923921957ca727c67180ccc59a6c2ee3b38b943a871d6fdc68d60",
         {".cargo/config.toml": 41, "Cargo.toml": 311, "src/lib.rs": 1014, "src/spec.json": 299}),
    ],
    ids=["binary-debug-csv", "wasm-size-inline", "no_std-size"],
)
def test_dry_run_manifests(compiler, workdir, target, opt_level, data, spec_hash, project_hash, sizes):
    (workdir / "candles.csv").write_text(CSV_TEXT, encoding="utf-8")
    answer = run(compiler, make_spec(target, opt_level, data), dry_run=True)
    manifest = answer.pop("manifest")
    assert answer == {"target": target, "built": False}
    assert (manifest["target"], manifest["opt_level"], manifest["crate_name"]) == (target, opt_level, "btc_usd")
    assert {entry["path"]: entry["bytes_len"] for entry in manifest["files"]} == sizes
    assert [entry["path"] for entry in manifest["files"]] == sorted(sizes)
    assert (manifest["spec_hash"], manifest["project_hash"]) == (spec_hash, project_hash)


def spec_hash_of(compiler, text):
    return json.loads(compiler.command(text))["manifest"]["spec_hash"]


def test_spec_hash_identifies_what_was_asked(compiler, workdir):
    base = '{"cmd":"compile","dry_run":true,"spec":{"strategy":%s,"target":{"kind":"binary"}%s}}'
    strategy = json.dumps(STRATEGY)
    reordered = json.dumps(dict(reversed(list(STRATEGY.items()))), indent=2)
    h = spec_hash_of(compiler, base % (strategy, ""))
    assert spec_hash_of(compiler, base % (reordered, "")) == h
    assert spec_hash_of(compiler, base % (strategy, ',"crate_name":null')) == h
    assert spec_hash_of(compiler, base.replace('"dry_run":true', '"dry_run":true,"out_dir":"x"') % (strategy, "")) == h
    # A requested name equal to the derived one still counts; 10 and 10.0 differ.
    assert spec_hash_of(compiler, base % (strategy, ',"crate_name":"btc_usd"')) != h
    assert spec_hash_of(compiler, base % (strategy.replace('"params": [10]', '"params": [10.0]'), "")) != h
    # The CSV file's content enters the project hash, not the spec hash.
    csv_request = compile_request(make_spec({"kind": "binary"}, data="csv"), dry_run=True)
    answers = []
    for content in ("t\n1\n", "t\n2\n"):
        (workdir / "candles.csv").write_text(content)
        answers.append(json.loads(compiler.command(csv_request))["manifest"])
    assert answers[0]["spec_hash"] == answers[1]["spec_hash"]
    assert answers[0]["project_hash"] != answers[1]["project_hash"]


@pytest.mark.parametrize(
    "symbol, crate_name",
    [("eth/USDT", "eth_usdt"), ("a\u20acb\U0001d11e", "a_b_"), ("x__Y9", "x__y9")],
)
def test_crate_name_is_derived_per_character(compiler, symbol, crate_name):
    spec = {"strategy": dict(STRATEGY, symbol=symbol), "target": {"kind": "binary"}}
    assert run(compiler, spec, dry_run=True)["manifest"]["crate_name"] == crate_name


CRATE_RULE = "is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`"


@pytest.mark.parametrize(
    "spec, message",
    [
        ({"strategy": dict(STRATEGY, symbol="1INCH"), "target": {"kind": "wasm"}}, f'bad spec: crate name "1inch" {CRATE_RULE}'),
        ({"strategy": STRATEGY, "target": {"kind": "no_std", "mcu": "THUMBV6M-NONE-EABI"}},
         'bad target: mcu "THUMBV6M-NONE-EABI" is not in the allowlist'),
        # The crate name is checked before the mcu, the mcu before the data file.
        ({"strategy": STRATEGY, "target": {"kind": "no_std", "mcu": "x"}, "crate_name": "X"}, f'bad spec: crate name "X" {CRATE_RULE}'),
        ({"strategy": STRATEGY, "target": {"kind": "no_std", "mcu": "x"}, "embed_data": {"kind": "csv", "path": "no.csv"}},
         'bad target: mcu "x" is not in the allowlist'),
        ({"strategy": STRATEGY, "target": {"kind": "wasm"}, "embed_data": {"kind": "csv", "path": "bad.csv"}},
         "io: reading bad.csv: stream did not contain valid UTF-8"),
        ({"strategy": json.loads((EXAMPLES / "ma_cross_positional.json").read_text()), "target": {"kind": "wasm"}},
         "bad spec: no crate_name and the strategy has no string `symbol` to derive one"),
    ],
)
def test_validation_order_and_messages(compiler, workdir, spec, message):
    (workdir / "bad.csv").write_bytes(b"t,o\n\xff\n")
    assert error_of(compiler, spec, dry_run=False) == message
    assert list(workdir.iterdir()) == [workdir / "bad.csv"]


@pytest.mark.parametrize(
    "target, out_dir, path",
    [({"kind": "binary"}, None, "_out/btc_usd/target/release/btc_usd"),
     ({"kind": "wasm"}, "out", "out/btc_usd/pkg/btc_usd_bg.wasm")],
)
def test_build_answers_the_artifact(compiler, workdir, fake_cargo, target, out_dir, path):
    spec = make_spec(target)
    dry = run(compiler, spec, dry_run=True)
    answer = compiler.command(compile_request(spec, out_dir=out_dir))
    assert answer == json.dumps({"target": target, "path": path, "manifest": dry["manifest"], "built": True},
                                ensure_ascii=False, separators=(",", ":"))
    project = workdir / path.split("/btc_usd/")[0] / "btc_usd"
    for entry in dry["manifest"]["files"]:
        assert (project / entry["path"]).stat().st_size == entry["bytes_len"]
    # The artifact can be loaded through the same handle.
    loaded = json.loads(compiler.command(json.dumps({"cmd": "artifact_bytes", "path": path})))
    assert loaded["handle"] == 0 and loaded["len"] == (workdir / path).stat().st_size


@pytest.mark.parametrize("sink", ["pipe", "terminal"])
def test_streamed_build_finishes_when_stderr_is_not_read(tmp_path, fake_cargo, monkeypatch, sink):
    monkeypatch.setenv("FAKE_CARGO_NOISE", "4000000")  # far more than any pipe or terminal holds
    reader, writer = os.openpty() if sink == "terminal" else os.pipe()
    script = "import sys, velkor_compile; print(velkor_compile.compile(sys.argv[1], stream_build_output=True)['built'])"
    try:
        run = subprocess.run([sys.executable, "-c", script, str(MA_CROSS)], cwd=tmp_path, stdout=subprocess.PIPE,
                             stderr=writer, timeout=60)
    finally:
        os.close(reader)
        os.close(writer)
    assert run.returncode == 0 and run.stdout == b"True\n"


# What lies in the project folder before a binary build, and what the build
# removes: only what a compile for another target generated, unedited; the
# dry run's destination names exactly that beforehand.
@pytest.mark.parametrize(
    "earlier, edited, removed",
    [(None, None, []),  # the user's own src/lib.rs, .cargo/config.toml and src/candles.csv
     ({"kind": "wasm"}, None, [".cargo/config.toml", "src/lib.rs"]),
     (NO_STD, "src/lib.rs", [".cargo/config.toml"]),
     (NO_STD, ".cargo/config.toml", ["src/lib.rs"])],
)
def test_a_build_removes_only_what_it_generated(compiler, workdir, fake_cargo, earlier, edited, removed):
    project = workdir / "_out" / "btc_usd"
    (workdir / "candles.csv").write_text(CSV_TEXT)
    if earlier is None:
        for path, text in [("src/lib.rs", "pub fn mine() {}\n"), (".cargo/config.toml", "[build]\n"),
                           ("src/candles.csv", CSV_TEXT)]:
            (project / path).parent.mkdir(parents=True, exist_ok=True)
            (project / path).write_text(text)
    else:
        run(compiler, make_spec(earlier, data="csv"))  # written; the stand-in cargo may fail the no_std build
    if edited:
        with open(project / edited, "a") as file:
            file.write("# mine\n")
    files = lambda: {str(p.relative_to(project)) for p in project.rglob("*") if not p.is_dir()}  # noqa: E731
    before = files()
    assert velkor_compile.destination(STRATEGY, compiler=compiler)["remove"] == removed
    assert run(compiler, make_spec({"kind": "binary"}))["built"] is True
    assert sorted(before - files()) == removed
    assert (project / ".cargo").exists() == (".cargo/config.toml" not in removed)
    assert (project / "src" / "candles.csv").read_text() == CSV_TEXT


@pytest.mark.parametrize(
    "request_, answer",
    [({"spec": make_spec({"kind": "binary"}), "out_dir": 'a"b'}, '{"project_dir":"a\\"b/btc_usd","replace":[],"remove":[]}'),
     ({}, error_document("bad destination request: missing field `spec` at line 1 column 21")),
     ({"spec": make_spec({"kind": "no_std", "mcu": "x"})}, error_document('bad target: mcu "x" is not in the allowlist'))],
)
def test_destination_answers(compiler, workdir, request_, answer):
    assert compiler.command(json.dumps({"cmd": "destination", **request_}, separators=(",", ":"))) == answer
