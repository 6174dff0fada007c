"""The compile command end to end through the module: dry-run manifests checked
against the independent reference model, validation order and messages, and
builds driven through a stand-in cargo (and one real offline cargo build)."""

import copy
import json
import os
import pathlib
import shutil
import stat
import subprocess

import pytest

import velkor_compile
from reference_model import MCUS, compact, expected_manifest

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"

STRATEGY = {
    "symbol": "BTC-USD",
    "timeframe": "1h",
    "indicators": {"sma_fast": {"type": "sma", "params": [10]}, "sma_slow": {"type": "sma", "params": [50.5]}},
    "entry": {"cross_above": ["sma_fast", "sma_slow"]},
    "exit": {"cross_below": ["sma_fast", "sma_slow"]},
    "sizing": {"type": "fixed_fraction", "fraction": 0.1},
    "notes": "ä/\u001f",
}


def compile_request(spec, **request):
    return json.dumps({"cmd": "compile", "spec": spec, **request}, ensure_ascii=False)


def run(compiler, spec, **request):
    return json.loads(compiler.command(compile_request(spec, **request)))


def error_of(compiler, spec, **request):
    answer = run(compiler, spec, **request)
    assert list(answer) == ["ok", "error"] and answer["ok"] is False, answer
    return answer["error"]


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    return tmp_path


TARGETS = [{"kind": "wasm"}, {"kind": "binary"}, {"kind": "no_std", "mcu": "thumbv7em-none-eabihf"}]


@pytest.mark.parametrize("target", TARGETS, ids=lambda t: t["kind"])
@pytest.mark.parametrize("opt_level", [None, "debug", "release", "size"])
@pytest.mark.parametrize("data", [None, "csv", "inline"])
def test_dry_run_manifest_matches_the_reference(compiler, workdir, target, opt_level, data):
    spec = {"strategy": STRATEGY, "target": target}
    if opt_level:
        spec["opt_level"] = opt_level
    csv_text = None
    if data == "csv":
        csv_text = "t,o,h,l,c,v\n1700000000000,101.23,101.5,100.9,101.1,12345\nä\n"
        (workdir / "candles.csv").write_text(csv_text, encoding="utf-8")
        spec["embed_data"] = {"kind": "csv", "path": "candles.csv"}
    if data == "inline":
        spec["embed_data"] = {"kind": "inline", "candles": [{"t": 1, "o": 101.23, "c": 1e16, "v": 5}, [], {}]}
    answer = compiler.command(compile_request(spec, dry_run=True))
    expected = {"target": target, "manifest": expected_manifest(spec, csv_text), "built": False}
    assert answer == compact(expected)
    assert list(workdir.iterdir()) == ([workdir / "candles.csv"] if data == "csv" else [])
    # Deterministic: the same request answers the same bytes.
    assert compiler.command(compile_request(spec, dry_run=True)) == answer


@pytest.mark.parametrize("example", sorted(p.name for p in EXAMPLES.glob("*.json")))
def test_bundled_examples_compile(compiler, workdir, example):
    strategy = json.loads((EXAMPLES / example).read_text())
    spec = {"strategy": strategy, "target": {"kind": "binary"}, "crate_name": "example"}
    answer = json.loads(compiler.command(compile_request(spec, dry_run=True)))
    assert answer["manifest"] == expected_manifest(spec)


def spec_hash_of(compiler, text):
    return json.loads(compiler.command(text))["manifest"]["spec_hash"]


def test_spec_hash_identifies_what_was_asked(compiler):
    base = '{"cmd":"compile","dry_run":true,"spec":{"strategy":%s,"target":{"kind":"binary"}%s}}'
    strategy = json.dumps(STRATEGY)
    reordered = json.dumps(dict(reversed(list(STRATEGY.items()))), indent=2)
    h = spec_hash_of(compiler, base % (strategy, ""))
    assert spec_hash_of(compiler, base % (reordered, "")) == h
    assert spec_hash_of(compiler, base % (strategy, ',"opt_level":"release"')) == h
    assert spec_hash_of(compiler, base % (strategy, ',"crate_name":null')) == h
    assert spec_hash_of(compiler, base % (strategy, ',"crate_name":"btc_usd"')) != h
    assert spec_hash_of(compiler, base % (strategy.replace('"params": [10]', '"params": [10.0]'), "")) != h
    assert spec_hash_of(compiler, base.replace('"dry_run":true', '"dry_run":true,"out_dir":"x"') % (strategy, "")) == h


def with_strategy(**changes):
    strategy = copy.deepcopy(STRATEGY)
    for key, value in changes.items():
        if value is ...:
            del strategy[key]
        else:
            strategy[key] = value
    return strategy


@pytest.mark.parametrize(
    "spec, message",
    [
        ({"strategy": {}, "target": {"kind": "wasm"}}, "bad spec: strategy is not a valid StrategySpec: missing field `symbol`"),
        (
            {"strategy": with_strategy(symbol=1), "target": {"kind": "wasm"}},
            "bad spec: strategy is not a valid StrategySpec: invalid type: integer `1`, expected a string",
        ),
        (
            {"strategy": with_strategy(symbol="1INCH"), "target": {"kind": "wasm"}},
            'bad spec: crate name "1inch" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`',
        ),
        (
            {"strategy": with_strategy(symbol="ÄBC"), "target": {"kind": "wasm"}},
            'bad spec: crate name "_bc" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`',
        ),
        (
            {"strategy": with_strategy(), "target": {"kind": "wasm"}, "crate_name": "MyBot"},
            'bad spec: crate name "MyBot" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`',
        ),
        (
            {"strategy": with_strategy(), "target": {"kind": "no_std", "mcu": "THUMBV6M-NONE-EABI"}},
            'bad target: mcu "THUMBV6M-NONE-EABI" is not in the allowlist',
        ),
        (
            {"strategy": with_strategy(), "target": {"kind": "no_std", "mcu": 'a"\n'}, "crate_name": "X"},
            'bad spec: crate name "X" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`',
        ),
        (
            {"strategy": with_strategy(), "target": {"kind": "wasm"}, "embed_data": {"kind": "csv", "path": "missing.csv"}},
            "io: reading missing.csv: No such file or directory (os error 2)",
        ),
    ],
)
def test_validation_order_and_messages(compiler, workdir, spec, message):
    assert error_of(compiler, spec, dry_run=False) == message
    assert list(workdir.iterdir()) == []


def test_positional_strategy_needs_a_crate_name(compiler):
    positional = json.loads((EXAMPLES / "ma_cross_positional.json").read_text())
    assert error_of(compiler, {"strategy": positional, "target": {"kind": "wasm"}}, dry_run=True) == (
        "bad spec: no crate_name and the strategy has no string `symbol` to derive one"
    )


def test_csv_must_be_utf8(compiler, workdir):
    (workdir / "bad.csv").write_bytes(b"t,o\n\xff\n")
    spec = {"strategy": STRATEGY, "target": {"kind": "binary"}, "embed_data": {"kind": "csv", "path": "bad.csv"}}
    assert error_of(compiler, spec, dry_run=True) == "io: reading bad.csv: stream did not contain valid UTF-8"


FAKE_CARGO = r"""#!/bin/sh
log="$FAKE_CARGO_LOG"
printf '%s\n' "$@" > "$log.args"
pwd > "$log.cwd"
printf '%s' "$FAKE_CARGO_MARK" > "$log.env"
case "$FAKE_CARGO_MODE" in
  fail) cat "$FAKE_CARGO_STDERR" >&2; exit 101 ;;
  crash) kill -9 $$ ;;
  noisy) head -c 3000000 /dev/zero | tr '\0' o; head -c 3000000 /dev/zero | tr '\0' e >&2 ;;
  nothing) exit 0 ;;
esac
name=$(sed -n 's/^name = "\(.*\)"$/\1/p' Cargo.toml)
profile=debug; triple=
while [ $# -gt 0 ]; do
  case "$1" in --release) profile=release ;; --target) shift; triple="$1" ;; esac
  shift
done
case "$triple" in
  "") mkdir -p "target/$profile" && echo bin > "target/$profile/$name" ;;
  wasm32-unknown-unknown) mkdir -p "target/$triple/$profile" && echo wasm > "target/$triple/$profile/$name.wasm" ;;
  *) mkdir -p "target/$triple/$profile" && echo lib > "target/$triple/$profile/lib$name.a" ;;
esac
"""


@pytest.fixture
def fake_cargo(tmp_path, monkeypatch):
    bin_dir = tmp_path / "fakebin"
    bin_dir.mkdir()
    script = bin_dir / "cargo"
    script.write_text(FAKE_CARGO)
    script.chmod(0o755)
    log = tmp_path / "cargo-log"
    monkeypatch.setenv("PATH", f"{bin_dir}:{os.environ['PATH']}")
    monkeypatch.setenv("FAKE_CARGO_LOG", str(log))
    monkeypatch.setenv("FAKE_CARGO_MARK", "inherited")
    monkeypatch.setenv("FAKE_CARGO_MODE", "ok")

    class Fake:
        def args(self):
            return (tmp_path / "cargo-log.args").read_text().splitlines()

        def cwd(self):
            return (tmp_path / "cargo-log.cwd").read_text().strip()

        def env(self):
            return (tmp_path / "cargo-log.env").read_text()

        def mode(self, mode, stderr=b""):
            monkeypatch.setenv("FAKE_CARGO_MODE", mode)
            (tmp_path / "stderr").write_bytes(stderr)
            monkeypatch.setenv("FAKE_CARGO_STDERR", str(tmp_path / "stderr"))

    return Fake()


@pytest.mark.parametrize(
    "target, opt_level, args, artifact",
    [
        ({"kind": "binary"}, "debug", ["build"], "target/debug/btc_usd"),
        ({"kind": "binary"}, "release", ["build", "--release"], "target/release/btc_usd"),
        (
            {"kind": "no_std", "mcu": "thumbv7em-none-eabihf"},
            "size",
            ["build", "--target", "thumbv7em-none-eabihf", "--release"],
            "target/thumbv7em-none-eabihf/release/libbtc_usd.a",
        ),
        (
            {"kind": "wasm"},
            "release",
            ["build", "--target", "wasm32-unknown-unknown", "--release"],
            "pkg/btc_usd_bg.wasm",
        ),
    ],
)
def test_build_runs_cargo_in_the_project(compiler, workdir, fake_cargo, target, opt_level, args, artifact):
    spec = {"strategy": STRATEGY, "target": target, "opt_level": opt_level}
    answer = compiler.command(compile_request(spec, out_dir="out"))
    path = f"out/btc_usd/{artifact}"
    assert answer == compact({"target": target, "path": path, "manifest": expected_manifest(spec), "built": True})
    assert fake_cargo.args() == args
    assert fake_cargo.cwd() == str(workdir / "out" / "btc_usd")
    assert fake_cargo.env() == "inherited"
    assert (workdir / path).is_file()
    for entry in expected_manifest(spec)["files"]:
        assert (workdir / "out" / "btc_usd" / entry["path"]).stat().st_size == entry["bytes_len"]
    # The artifact can be loaded through the same handle.
    loaded = json.loads(compiler.command(json.dumps({"cmd": "artifact_bytes", "path": path})))
    assert loaded["handle"] == 0 and loaded["len"] == (workdir / path).stat().st_size


def test_default_out_dir(compiler, workdir, fake_cargo):
    answer = run(compiler, {"strategy": STRATEGY, "target": {"kind": "binary"}}, out_dir=None)
    assert answer["path"] == "_out/btc_usd/target/release/btc_usd"
    assert (workdir / "_out" / "btc_usd" / "src" / "spec.json").is_file()


def test_failed_build_reports_the_tail_of_stderr(compiler, workdir, fake_cargo):
    spec = {"strategy": STRATEGY, "target": {"kind": "binary"}}
    fake_cargo.mode("fail", b"error[E0425]: short\n")
    assert error_of(compiler, spec) == "build: error[E0425]: short\n"
    # 5000 bytes whose 2000-byte cut falls inside a three-byte character.
    stderr = ("x" * 2999 + "€" * 667).encode()[:5000]
    assert len(stderr) == 5000
    fake_cargo.mode("fail", stderr)
    message = error_of(compiler, spec)
    tail = stderr.decode("utf-8", "replace")
    raw_tail = tail.encode()[-2000:]
    while raw_tail and (raw_tail[0] & 0xC0) == 0x80:
        raw_tail = raw_tail[1:]
    assert message == "build: " + raw_tail.decode()
    assert len(message.encode()) - len("build: ") <= 2000
    fake_cargo.mode("fail", b"bad \xff byte")
    assert error_of(compiler, spec) == "build: bad \ufffd byte"
    fake_cargo.mode("crash")
    assert error_of(compiler, spec) == "build: "
    # Megabytes on both pipes do not stall the build.
    fake_cargo.mode("noisy")
    assert run(compiler, spec)["built"] is True


def test_success_without_the_artifact_is_a_build_error(compiler, workdir, fake_cargo):
    fake_cargo.mode("nothing")
    message = error_of(compiler, {"strategy": STRATEGY, "target": {"kind": "binary"}})
    assert message.startswith("build: cargo reported success but the artifact ")
    assert "_out/btc_usd/target/release/btc_usd" in message


def test_no_cargo_on_path(compiler, workdir, monkeypatch):
    monkeypatch.setenv("PATH", str(workdir / "empty"))
    message = error_of(compiler, {"strategy": STRATEGY, "target": {"kind": "binary"}})
    assert message == "build: spawning cargo: No such file or directory (os error 2)"
    assert (workdir / "_out" / "btc_usd" / "Cargo.toml").is_file()


def test_write_errors(compiler, workdir, fake_cargo):
    spec = {"strategy": STRATEGY, "target": {"kind": "wasm"}}
    (workdir / "occupied").write_text("a file where a directory must go")
    assert error_of(compiler, spec, out_dir="occupied") == (
        "io: creating occupied/btc_usd/.cargo: Not a directory (os error 20)"
    )
    blocked = workdir / "blocked" / "btc_usd"
    blocked.mkdir(parents=True)
    (blocked / "src").write_text("not a directory")
    assert error_of(compiler, spec, out_dir="blocked").startswith("io: creating blocked/btc_usd/src: ")
    # Nothing was built or recorded: the handle works on.
    assert run(compiler, spec, out_dir="fine")["built"] is True


def files_on_disk(project):
    return sorted(str(p.relative_to(project)) for p in project.rglob("*") if p.is_file() and "target" not in p.parts)


def test_a_new_target_leaves_no_files_of_the_old_one(compiler, workdir, fake_cargo, tmp_path):
    # binary -> no_std -> binary in one folder: without the removal of stale
    # files, the no_std compile's .cargo/config.toml and src/lib.rs (and the
    # first compile's data file) would take part in the third build.
    (workdir / "candles.csv").write_text("t,o\n1,2\n")
    project = workdir / "out" / "btc_usd"
    steps = [
        ({"kind": "binary"}, {"kind": "inline", "candles": [[1, 2]]}),
        ({"kind": "no_std", "mcu": "thumbv7em-none-eabihf"}, {"kind": "csv", "path": "candles.csv"}),
        ({"kind": "binary"}, None),
    ]
    for target, data in steps:
        spec = {"strategy": STRATEGY, "target": target, **({"embed_data": data} if data else {})}
        answer = run(compiler, spec, out_dir="out")
        assert answer["built"] is True, answer
        user_files = ["notes.txt"] if (project / "notes.txt").exists() else []
        assert files_on_disk(project) == sorted([entry["path"] for entry in answer["manifest"]["files"]] + user_files)
        # A file of the user's is never touched.
        (project / "notes.txt").write_text("mine")
    assert not (project / ".cargo").exists()
    assert (project / "target" / "thumbv7em-none-eabihf" / "release" / "libbtc_usd.a").is_file()


def test_real_offline_cargo_build(tmp_path):
    if shutil.which("cargo") is None:
        pytest.skip("cargo is not installed on this machine")
    setup = subprocess.run(
        ["bash", str(ROOT / "scripts" / "offline_cargo_setup.sh"), str(tmp_path)], capture_output=True, text=True
    )
    if setup.returncode != 0:
        pytest.skip(f"offline crate sources unavailable: {setup.stderr.strip()}")
    strategy = json.loads((EXAMPLES / "ma_cross.json").read_text())
    compiler = velkor_compile.Compiler()
    out_dir = tmp_path / "out"
    # A no_std project written into the same folder first (no cargo on PATH,
    # so it is only written): its .cargo/config.toml and src/lib.rs would make
    # this host build a build for a target this machine has no library for.
    with pytest.MonkeyPatch.context() as patch:
        patch.setenv("PATH", str(tmp_path / "no-cargo-here"))
        no_std = {"strategy": strategy, "target": {"kind": "no_std", "mcu": "thumbv7em-none-eabihf"}}
        assert error_of(compiler, no_std, out_dir=str(out_dir)).startswith("build: spawning cargo: ")
    answer = run(compiler, {"strategy": strategy, "target": {"kind": "binary"}, "opt_level": "debug"}, out_dir=str(out_dir))
    assert answer.get("built") is True, answer
    program = pathlib.Path(answer["path"])
    assert program.is_file() and os.access(program, os.X_OK)
    printed = subprocess.run([str(program)], capture_output=True, text=True, check=True).stdout
    spec_text = (out_dir / answer["manifest"]["crate_name"] / "src" / "spec.json").read_text()
    assert printed == f"velkor strategy for {strategy['symbol']}\n{spec_text}\n"
