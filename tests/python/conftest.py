"""Fixtures and texts shared by the Python tests of the extension module."""

import gc
import json
import os
import pathlib
import subprocess
import sys
import textwrap
import time

import pytest

import velkor_compile

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
MA_CROSS = EXAMPLES / "ma_cross.json"
VERSION_ANSWER = '{"version":"0.2.0","backtest_dep":"0.1.5"}'
OUT_OF_MEMORY = '{"ok":false,"error":"internal fault: out of memory"}'
# A stand-in cargo: writes FAKE_CARGO_NOISE bytes to stderr when set; fails with
# FAKE_CARGO_MODE=fail, printing FAKE_CARGO_STDERR; otherwise writes the host
# program or the release wasm module where the real one would.
FAKE_CARGO = r"""#!/bin/sh
[ -n "$FAKE_CARGO_NOISE" ] && yes '   Compiling noise v0.1.0 (/src/noise)' | head -c "$FAKE_CARGO_NOISE" >&2
[ "$FAKE_CARGO_MODE" = fail ] && { cat "$FAKE_CARGO_STDERR" >&2; exit 101; }
name=$(sed -n 's/^name = "\(.*\)"$/\1/p' Cargo.toml)
case "$*" in
  *wasm32*) dir=target/wasm32-unknown-unknown/release; name=$name.wasm ;;
  *--release*) dir=target/release ;;
  *) dir=target/debug ;;
esac
mkdir -p $dir && echo built > "$dir/$name"
"""

# A stand-in cargo that starts a compiler-like grandchild and waits for it,
# writing both pids (each file appears whole, through a rename).
CARGO_WITH_A_GRANDCHILD = """#!/bin/sh
sleep 600 & echo $! > "$PIDS/sleep.new"; mv "$PIDS/sleep.new" "$PIDS/sleep"
echo $$ > "$PIDS/cargo.new"; mv "$PIDS/cargo.new" "$PIDS/cargo"
wait
"""


def running(pid):
    """True while the process exists and is not a zombie."""
    try:
        stat = pathlib.Path(f"/proc/{pid}/stat").read_text()
    except OSError:
        return False
    return stat[stat.rindex(")") + 2] != "Z"


def ends(pid, timeout=30):
    """Waits (generously: only a hang fails) until the process has ended."""
    deadline = time.monotonic() + timeout
    while running(pid) and time.monotonic() < deadline:
        time.sleep(0.02)
    return not running(pid)


# Script lines that cap the address space at what is mapped now plus EXTRA bytes:
# room for small allocations, not for a large one.
LIMIT_ADDRESS_SPACE = """
    import resource
    with open("/proc/self/status") as status:
        size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
    resource.setrlimit(resource.RLIMIT_AS, (size + EXTRA, size + EXTRA))
"""


def error_document(message):
    return json.dumps({"ok": False, "error": message}, separators=(",", ":"))


@pytest.fixture
def compiler():
    return velkor_compile.Compiler()  # a fresh handle, owned by the test's (main) thread


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    return tmp_path


def stand_in(folder, script):
    """Writes `script` as an executable `cargo` in `folder` (made when missing)."""
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "cargo").write_text(script)
    (folder / "cargo").chmod(0o755)


@pytest.fixture
def fake_cargo(tmp_path, monkeypatch):
    """FAKE_CARGO first on PATH (of this process and its children)."""
    stand_in(tmp_path / "fakebin", FAKE_CARGO)
    monkeypatch.setenv("PATH", f"{tmp_path / 'fakebin'}:{os.environ['PATH']}")
    monkeypatch.setenv("FAKE_CARGO_MODE", "ok")
    monkeypatch.setenv("FAKE_CARGO_STDERR", str(tmp_path / "cargo-stderr"))


@pytest.fixture
def unraisable(monkeypatch):
    """Collects (exc_type, str(exc_value), object) of what reaches sys.unraisablehook.

    Garbage left by earlier tests is collected first: a handle caught in a cycle
    would otherwise be freed whenever the collector next runs, perhaps on a
    worker thread, and its report would be taken for this test's."""
    gc.collect()
    seen = []
    monkeypatch.setattr(sys, "unraisablehook",
                        lambda hook: seen.append((hook.exc_type, str(hook.exc_value), hook.object)))
    return seen


@pytest.fixture
def run_python(tmp_path):
    """Runs a script in a fresh interpreter (for exits, limits, another OpenSSL configuration)."""

    def run(source, timeout=120, stdin=None, **environment):
        script = tmp_path / "script.py"
        script.write_text(textwrap.dedent(source))
        return subprocess.run([sys.executable, str(script)], cwd=tmp_path, input=stdin, capture_output=True,
                              text=stdin is None, timeout=timeout, env={**os.environ, **environment})

    return run
