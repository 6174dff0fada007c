"""What a caller sees of a build while it runs and after: the interpreter lock
released for the build, handles on several threads building at once, an
interrupt that ends cargo and what it started, an unchanged recompile that
leaves the project's files untouched, and the artifact found in a target
directory set elsewhere. cargo is a stand-in throughout."""

import json
import os
import threading

import pytest

import velkor_compile
from conftest import CARGO_WITH_A_GRANDCHILD, FAKE_CARGO, MA_CROSS, ends, stand_in

STRATEGY = json.loads(MA_CROSS.read_text())

# A stand-in that takes its time until the test lets it go: it says it has
# started (`started-CRATE`) and waits for `go-CRATE`, or for the other crate's
# start when OTHER names it. Its patience is generous and only ends a hang:
# then it fails, and the build with it.
WAITING_CARGO = r"""#!/bin/sh
name=$(sed -n 's/^name = "\(.*\)"$/\1/p' Cargo.toml)
touch "$SIGNS/started-$name"
wait_for="$SIGNS/go-$name"; [ -n "$OTHER" ] && wait_for="$SIGNS/started-$(echo "$OTHER" | sed "s/$name//; s/,//")"
i=0
while [ ! -e "$wait_for" ]; do
  i=$((i + 1)); [ $i -gt 1200 ] && { echo "nothing came: $wait_for" >&2; exit 1; }
  sleep 0.05
done
mkdir -p target/release && echo built > "target/release/$name"
"""


def install(tmp_path, monkeypatch, script):
    stand_in(tmp_path / "bin", script)
    monkeypatch.setenv("PATH", f"{tmp_path / 'bin'}:{os.environ['PATH']}")
    monkeypatch.setenv("SIGNS", str(tmp_path))


def compile_text(out_dir, crate_name="btc_usd"):
    spec = {"strategy": STRATEGY, "target": {"kind": "binary"}, "crate_name": crate_name}
    return json.dumps({"cmd": "compile", "spec": spec, "out_dir": str(out_dir)})


def test_other_threads_run_while_cargo_builds(tmp_path, monkeypatch):
    """The build waits for a file only another Python thread writes, once it
    has seen the build start: with the lock held for the build, that thread
    could not run and the build would fail."""
    install(tmp_path, monkeypatch, WAITING_CARGO)
    steps = 0

    def other():
        nonlocal steps
        while not (tmp_path / "started-btc_usd").exists():
            steps += 1
        (tmp_path / "go-btc_usd").touch()

    thread = threading.Thread(target=other)
    thread.start()
    answer = json.loads(velkor_compile.Compiler().command(compile_text(tmp_path / "out")))
    thread.join(timeout=60)
    assert answer.get("built") is True, answer
    assert steps > 0


def test_handles_on_two_threads_build_at_once(tmp_path, monkeypatch):
    """Each build waits until the other has started: one after the other, the
    first would wait in vain."""
    install(tmp_path, monkeypatch, WAITING_CARGO)
    monkeypatch.setenv("OTHER", "one,two")
    answers = {}

    def build(name):
        answers[name] = json.loads(velkor_compile.Compiler().command(compile_text(tmp_path / name, name)))

    threads = [threading.Thread(target=build, args=(name,)) for name in ("one", "two")]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=120)
    assert {name: answer.get("built") for name, answer in answers.items()} == {"one": True, "two": True}, answers


def test_an_interrupt_ends_cargo_and_what_it_started(run_python, tmp_path):
    """SIGINT while cargo builds: KeyboardInterrupt reaches the caller once cargo
    has stopped, carrying the answer, and neither cargo nor its child runs on."""
    stand_in(tmp_path, CARGO_WITH_A_GRANDCHILD)
    pids = tmp_path / "pids"
    pids.mkdir()
    run = run_python(f"""
        import json, os, pathlib, signal, threading, time
        import velkor_compile
        signal.signal(signal.SIGINT, signal.default_int_handler)
        pids = pathlib.Path({str(pids)!r})

        def interrupt():
            while not (pids / "cargo").exists():
                time.sleep(0.02)
            os.kill(os.getpid(), signal.SIGINT)

        threading.Thread(target=interrupt).start()
        try:
            velkor_compile.Compiler().command({compile_text(tmp_path / "out")!r})
        except KeyboardInterrupt as interrupt:
            cargo = int((pids / "cargo").read_text())
            print(json.dumps({{"answer": interrupt.answer, "cargo_reaped": not os.path.exists(f"/proc/{{cargo}}")}}))
        """, PATH=f"{tmp_path}:{os.environ['PATH']}", PIDS=str(pids))
    assert run.returncode == 0, run.stderr
    seen = json.loads(run.stdout)
    assert json.loads(seen["answer"]) == {
        "ok": False,
        "error": f"build: interrupted: cargo was stopped; the project in {tmp_path}/out/btc_usd is left half-built"}
    assert seen["cargo_reaped"]
    for program in ("cargo", "sleep"):
        assert ends(int((pids / program).read_text())), program


def test_an_unchanged_recompile_touches_no_file(workdir, fake_cargo):
    """The second compile of the same strategy leaves every generated file as it
    was, modification time included, so cargo has nothing to rebuild."""
    compiler = velkor_compile.Compiler()
    first = compiler.command(compile_text("out"))
    project = workdir / "out" / "btc_usd"
    files = [project / entry["path"] for entry in json.loads(first)["manifest"]["files"]]
    for path in files:
        os.utime(path, ns=(10**18, 10**18))
    assert compiler.command(compile_text("out")) == first
    assert {path.name: path.stat().st_mtime_ns for path in files} == {path.name: 10**18 for path in files}


# The stand-in of conftest, made to honour a target directory set in the
# environment (CARGO_TARGET_DIR) or in a configuration only it reads
# (FAKE_CONFIG_TARGET_DIR, as `build.target-dir` would be), and to answer
# `cargo metadata` with it.
TARGET_DIR_CARGO = FAKE_CARGO.replace("#!/bin/sh\n", r"""#!/bin/sh
t=${CARGO_TARGET_DIR:-${FAKE_CONFIG_TARGET_DIR:-$PWD/target}}
[ "$1" = metadata ] && { printf '{"target_directory":"%s"}' "$t"; exit 0; }
""").replace("dir=target/", "dir=$t/")


@pytest.mark.parametrize("variable", ["CARGO_TARGET_DIR", "FAKE_CONFIG_TARGET_DIR"])
@pytest.mark.parametrize("target", ["binary", "wasm"])
def test_the_artifact_is_where_cargo_put_it(workdir, monkeypatch, variable, target):
    install(workdir, monkeypatch, TARGET_DIR_CARGO)
    monkeypatch.setenv(variable, str(workdir / "shared"))
    spec = {"strategy": STRATEGY, "target": {"kind": target}}
    answer = json.loads(velkor_compile.Compiler().command(json.dumps({"cmd": "compile", "spec": spec})))
    expected = {"binary": f"{workdir}/shared/release/btc_usd", "wasm": "_out/btc_usd/pkg/btc_usd_bg.wasm"}[target]
    assert answer.get("path") == expected, answer
    assert (workdir / expected).read_text() == "built\n"


class StopAsked(Exception):
    pass


def _raise_when(started):
    if started:
        raise StopAsked()
    return False


# `stop` ends a build on a thread where no signal handler runs: a true answer
# ends cargo and answers the interrupted build; what it raises is raised.
# The stand-in waits for a `go` that never comes, so only the stop ends it.
@pytest.mark.parametrize("stop_when, outcome", [
    (bool, "build: interrupted: cargo was stopped"),
    (_raise_when, StopAsked),
])
def test_a_stop_callable_ends_a_build_on_a_worker_thread(tmp_path, monkeypatch, stop_when, outcome):
    install(tmp_path, monkeypatch, WAITING_CARGO)
    seen, started = {}, tmp_path / "started-btc_usd"

    def build():
        try:
            seen["answer"] = json.loads(velkor_compile.Compiler().command(compile_text(tmp_path / "out"),
                                                                          stop=lambda: stop_when(started.exists())))
        except StopAsked as raised:
            seen["raised"] = raised

    thread = threading.Thread(target=build)
    thread.start()
    thread.join(timeout=30)  # the stand-in's own patience is a minute
    assert not thread.is_alive()
    if isinstance(outcome, str):
        assert seen["answer"]["error"].startswith(outcome), seen
    else:
        assert isinstance(seen.get("raised"), outcome), seen
