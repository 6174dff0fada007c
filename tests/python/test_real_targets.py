"""Every target built by real cargo, offline, in a folder that
scripts/offline_cargo_setup.sh prepared, and each artifact used the way a
caller would use it:

- binary: the program prints the canonical strategy text;
- wasm: Node.js instantiates the module with the README's snippet, and
  strategy_symbol() and strategy_spec() return the symbol and exactly
  src/spec.json;
- no_std: the archive defines strategy_spec_ptr and strategy_spec_len as
  global functions, and a C program linked with it writes back exactly
  src/spec.json (run under qemu-user where it is installed).

The compiles run through the command line in a shell that sourced the set-up's
env.sh, as the README tells a user to. The folder is build/offline-cargo (or
VELKOR_OFFLINE_CARGO_DIR): the sysroots and cargo's target folders stay there,
so a second run rebuilds little. One MCU is built by default; set
VELKOR_TEST_ALL_MCUS=1 to build and check every MCU of the allowlist.
"""

import json
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

import velkor_compile
from conftest import MA_CROSS, ROOT

SETUP_DIR = pathlib.Path(os.environ.get("VELKOR_OFFLINE_CARGO_DIR", ROOT / "build" / "offline-cargo"))
DEFAULT_MCU = "thumbv7em-none-eabihf"
ALL_MCUS = os.environ.get("VELKOR_TEST_ALL_MCUS") == "1"
MCUS = velkor_compile.targets()["mcus"] if ALL_MCUS else [DEFAULT_MCU]
BUILD_TIMEOUT = 900
SYMBOL = json.loads(MA_CROSS.read_text())["symbol"]

# A C caller of the no_std archive: writes the embedded spec to stdout.
READ_SPEC_C = r"""
#include <stddef.h>
#include <stdint.h>
#include <unistd.h>

const uint8_t *strategy_spec_ptr(void);
size_t strategy_spec_len(void);

int main(void) {
  const uint8_t *spec = strategy_spec_ptr();
  size_t len = strategy_spec_len();
  return write(1, spec, len) == (ssize_t)len ? 0 : 1;
}
"""
# The same without a C library (the RISC-V compiler here has none): Linux
# system calls straight from _start.
READ_SPEC_FREESTANDING_C = r"""
#include <stddef.h>
#include <stdint.h>

const uint8_t *strategy_spec_ptr(void);
size_t strategy_spec_len(void);

static long linux_call(long number, long a, long b, long c) {
  register long a0 __asm__("a0") = a;
  register long a1 __asm__("a1") = b;
  register long a2 __asm__("a2") = c;
  register long a7 __asm__("a7") = number;
  __asm__ volatile("ecall" : "+r"(a0) : "r"(a1), "r"(a2), "r"(a7) : "memory");
  return a0;
}

void _start(void) {
  long len = (long)strategy_spec_len();
  long written = linux_call(64 /* write */, 1, (long)strategy_spec_ptr(), len);
  linux_call(93 /* exit */, written == len ? 0 : 1, 0, 0);
  for (;;) {}
}
"""


@pytest.fixture(scope="module")
def offline_dir():
    """Runs the set-up (installing what it needs) and returns (DIR, what it could not prepare: {part: reason})."""
    args = ["sh", str(ROOT / "scripts" / "offline_cargo_setup.sh"), "--with-runners"]
    for mcu in MCUS:
        args += ["--mcu", mcu]
    setup = subprocess.run([*args, str(SETUP_DIR)], capture_output=True, text=True, timeout=BUILD_TIMEOUT)
    if setup.returncode != 0:
        pytest.skip(f"scripts/offline_cargo_setup.sh could not prepare {SETUP_DIR}: {setup.stderr.strip()}")
    assert setup.stdout == f"{SETUP_DIR.resolve()}/.cargo/config.toml\n"
    report = setup.stderr.split("could not prepare:\n", 1)
    missing = dict(re.findall(r"^  ([^:]+): (.*)$", report[1], re.M)) if len(report) == 2 else {}
    return SETUP_DIR.resolve(), missing


def skip_if_missing(missing, part):
    if part in missing:
        pytest.skip(f"{part} cannot be built on this machine: {missing[part]}")


def compile_in_env(setup_dir, crate, *options, use_env=True):
    """`velkor-compile compile` in a shell that sourced DIR/env.sh (unless not use_env); returns the JSON
    answer and the project folder."""
    script = '. "$1/env.sh" && shift && exec "$@"' if use_env else 'shift && exec "$@"'
    command = [sys.executable, "-m", "velkor_compile", "compile", str(MA_CROSS), "--crate-name", crate,
               "--out-dir", str(setup_dir / "out"), "--json", *options]
    done = subprocess.run(["sh", "-c", script, "sh", str(setup_dir), *command], capture_output=True, text=True,
                          timeout=BUILD_TIMEOUT)
    assert done.returncode == 0, done.stderr
    answer = json.loads(done.stdout)
    assert answer["built"] is True, answer
    return answer, setup_dir / "out" / crate


def test_binary_prints_the_canonical_text(offline_dir):
    setup_dir, missing = offline_dir
    compiler = velkor_compile.Compiler()
    # A no_std project written into the same folder first (no cargo on PATH,
    # so it is only written): its .cargo/config.toml and src/lib.rs would make
    # the binary build one for the MCU unless the compile removes them.
    with pytest.MonkeyPatch.context() as patch:
        patch.setenv("PATH", str(setup_dir / "no-cargo-here"))
        request = {"cmd": "compile", "out_dir": str(setup_dir / "out"),
                   "spec": {"strategy": json.loads(MA_CROSS.read_text()), "crate_name": "real_binary",
                            "target": {"kind": "no_std", "mcu": DEFAULT_MCU}}}
        assert json.loads(compiler.command(json.dumps(request))) == {
            "ok": False, "error": "build: spawning cargo: No such file or directory (os error 2)"}
    # Any cargo builds a binary project there; without Debian's toolchain
    # (no env.sh), the one on PATH does.
    answer, project = compile_in_env(setup_dir, "real_binary", "--opt-level", "debug", use_env="env.sh" not in missing)
    program = pathlib.Path(answer["path"])
    assert program == project / "target" / "debug" / "real_binary" and os.access(program, os.X_OK)
    assert not (project / "src" / "lib.rs").exists() and not (project / ".cargo").exists()
    printed = subprocess.run([str(program)], capture_output=True, text=True, check=True, timeout=60).stdout
    assert printed == f"velkor strategy for {SYMBOL}\n{(project / 'src' / 'spec.json').read_text()}\n"


def readme_node_snippet():
    """The Node.js program of the README's Targets section, as written there."""
    readme = (ROOT / "README.md").read_text()
    blocks = re.findall(r"^```js\n(// read_spec\.mjs:.*?)^```$", readme, re.S | re.M)
    assert len(blocks) == 1, "README.md has one ```js block starting with // read_spec.mjs:"
    return blocks[0]


def test_wasm_module_answers_node_through_the_readme_snippet(offline_dir, tmp_path):
    setup_dir, missing = offline_dir
    skip_if_missing(missing, "wasm")
    if shutil.which("node") is None:
        pytest.skip(f"Node.js is not installed: {missing.get('runner', 'node not on PATH')}")
    answer, project = compile_in_env(setup_dir, "real_wasm", "--target", "wasm")
    module = pathlib.Path(answer["path"])
    assert module == project / "pkg" / "real_wasm_bg.wasm"
    assert module.read_bytes()[:4] == b"\0asm"
    (tmp_path / "read_spec.mjs").write_text(readme_node_snippet())
    run = subprocess.run(["node", "read_spec.mjs", str(module)], cwd=tmp_path, capture_output=True, timeout=60)
    assert run.returncode == 0, run.stderr
    spec = (project / "src" / "spec.json").read_bytes()
    assert run.stdout == SYMBOL.encode() + b"\n" + spec + b"\n"


# How to link and run a C program with an archive of each MCU family here:
# (C source, compiler and its flags, objcopy arguments that make the archive
# linkable or None, qemu-user program). The ARM Linux cross compiler links
# Thumb code once the archive's .ARM.attributes are dropped (the linker
# refuses to mix the M profile with the A profile); the bare RISC-V compiler
# links a freestanding program; qemu-user runs either as a Linux program.
def c_runner(mcu):
    if mcu.startswith("thumb"):
        return (READ_SPEC_C, ["arm-linux-gnueabihf-gcc", "-static"],
                ["arm-linux-gnueabihf-objcopy", "--remove-section=.ARM.attributes"], "qemu-arm-static")
    if mcu.startswith("riscv32imac"):
        return (READ_SPEC_FREESTANDING_C, ["riscv64-unknown-elf-gcc", "-march=rv32imac", "-mabi=ilp32",
                                           "-ffreestanding", "-nostdlib", "-static", "-Wl,--no-relax"],
                None, "qemu-riscv32-static")
    return None


@pytest.mark.parametrize("mcu", MCUS)
def test_no_std_archive_exports_the_spec_to_c(offline_dir, tmp_path, mcu):
    setup_dir, missing = offline_dir
    skip_if_missing(missing, "no_std")
    skip_if_missing(missing, f"no_std {mcu}")
    crate = "real_no_std_" + re.sub(r"[^a-z0-9]", "_", mcu)
    answer, project = compile_in_env(setup_dir, crate, "--target", "no_std", "--mcu", mcu)
    archive = pathlib.Path(answer["path"])
    assert archive == project / "target" / mcu / "release" / f"lib{crate}.a"
    spec = (project / "src" / "spec.json").read_bytes()
    # Global, defined functions with their C names ("T"), and the text kept.
    symbols = subprocess.run(["nm", "--defined-only", str(archive)], capture_output=True, text=True, check=True).stdout
    defined = {line.split()[-1]: line.split()[-2] for line in symbols.splitlines() if len(line.split()) == 3}
    assert (defined.get("strategy_spec_ptr"), defined.get("strategy_spec_len")) == ("T", "T"), symbols
    assert spec in archive.read_bytes()

    tools = c_runner(mcu)
    if tools is None:
        pytest.skip(f"no C cross toolchain for {mcu} is set up here; the archive was checked with nm only")
    source, gcc, objcopy, qemu = tools
    if shutil.which(gcc[0]) is None:
        pytest.skip(f"{gcc[0]} is not installed: {missing.get('runner', 'not on PATH')}")
    linkable = archive
    if objcopy is not None:
        linkable = tmp_path / "linkable.a"
        subprocess.run([*objcopy, str(archive), str(linkable)], check=True)
    (tmp_path / "read_spec.c").write_text(source)
    program = tmp_path / "read_spec"
    subprocess.run([*gcc, "-o", str(program), str(tmp_path / "read_spec.c"), str(linkable)], check=True, timeout=120)
    if shutil.which(qemu) is None:
        pytest.skip(f"{qemu} is not installed, so the linked program cannot run here")
    run = subprocess.run([qemu, str(program)], capture_output=True, timeout=60)
    assert (run.returncode, run.stdout) == (0, spec), run.stderr


def test_running_the_set_up_again_rebuilds_nothing(offline_dir):
    setup_dir, _ = offline_dir
    config = setup_dir / ".cargo" / "config.toml"
    core = setup_dir / "sysroot" / DEFAULT_MCU / "lib" / "rustlib" / DEFAULT_MCU / "lib" / "libcore.rlib"
    before = (config.read_text(), core.stat().st_mtime_ns if core.exists() else None)
    again = subprocess.run(["sh", str(ROOT / "scripts" / "offline_cargo_setup.sh"), "--mcu", DEFAULT_MCU,
                            str(setup_dir)], capture_output=True, text=True, timeout=120)
    assert again.returncode == 0, again.stderr
    assert "building the sysroot" not in again.stderr
    assert (config.read_text(), core.stat().st_mtime_ns if core.exists() else None) == before


# What DIR may already hold that the set-up did not make: it stops, naming
# it, and changes nothing in DIR.
@pytest.mark.parametrize(
    "path, content",
    [("vendor/notes.txt", "mine\n"),  # a vendor folder of the user's
     ("vendor/velkor-backtest-0.1.5/Cargo.toml", "[package]\n"),  # not a link: not the set-up's
     (".cargo/config.toml", "[build]\njobs = 1\n"),
     ("env.sh", "export PATH\n"),
     ("bin/tool", "#!/bin/sh\n"),
     ("sysroot/thumbv7em-none-eabihf/lib/x", "")],
)
def test_the_set_up_leaves_what_it_did_not_make(tmp_path, path, content):
    (tmp_path / path).parent.mkdir(parents=True, exist_ok=True)
    (tmp_path / path).write_text(content)
    def files():
        return sorted((str(p.relative_to(tmp_path)), p.is_dir() or p.read_text()) for p in tmp_path.rglob("*"))

    before = files()
    done = subprocess.run(["sh", str(ROOT / "scripts" / "offline_cargo_setup.sh"), str(tmp_path)],
                          capture_output=True, text=True, timeout=300)
    if "no serde_json crate" in done.stderr:
        pytest.skip(f"the set-up cannot run here: {done.stderr.strip()}")
    top = tmp_path / (path if path.startswith(".cargo") or "/" not in path else path.split("/")[0])
    assert (done.returncode, done.stdout) == (1, "")
    assert f"not made by this script, left as it is: {top}\n" in done.stderr
    assert files() == before
