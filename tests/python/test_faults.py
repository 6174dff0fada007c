"""Faults around writing a project and digesting: a full disk, a read-only
output directory, no SHA-256 to fetch. Each gives its error document and
leaves the handle working. (How cargo is run, killed or left with processes
behind is covered by the C++ tests of the child process and the cargo driver.)"""

import json
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
STRATEGY = json.loads((ROOT / "examples" / "ma_cross.json").read_text())
VERSION_ANSWER = '{"version":"0.2.0","backtest_dep":"0.1.5"}'


def compile_text(out_dir="out", dry_run=False, **spec):
    spec = {"strategy": STRATEGY, "target": {"kind": "binary"}, "opt_level": "debug", **spec}
    return json.dumps({"cmd": "compile", "spec": spec, "dry_run": dry_run, "out_dir": out_dir})


def run_script(tmp_path, source, cwd=None, **environment):
    """Runs Python source in a fresh interpreter (for limits and privileges)."""
    script = tmp_path / "script.py"
    script.write_text(textwrap.dedent(source))
    return subprocess.run([sys.executable, str(script)], cwd=cwd or tmp_path, capture_output=True, text=True,
                          timeout=60, env={**os.environ, **environment})


def test_full_disk(tmp_path):
    # A file-size limit stands in for a full disk: writes beyond it fail with
    # EFBIG once SIGXFSZ (which would kill the process) is ignored. The inline
    # candles make src/candles.json about 2 MB; the limit is 1 MB.
    candles = [{"t": t, "o": 1.5, "h": 2.5, "l": 0.5, "c": 1.25, "v": 1000} for t in range(40000)]
    (tmp_path / "request.json").write_text(compile_text(embed_data={"kind": "inline", "candles": candles}))
    done = run_script(tmp_path, f"""
        import pathlib, resource, signal
        from velkor_compile import Compiler
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))
        compiler = Compiler()
        print(compiler.command({compile_text(embed_data={"kind": "inline", "candles": [{"t": 1}]})!r}))
        print(compiler.command(pathlib.Path("request.json").read_text()))
        print(compiler.command({compile_text(dry_run=True)!r}))
    """, PATH=str(tmp_path / "no-cargo-here"))
    assert done.returncode == 0, done.stderr
    small, too_large, dry_run = [json.loads(line) for line in done.stdout.splitlines()]
    # Small files fit: the project is written and only cargo is missing.
    assert small == {"ok": False, "error": "build: spawning cargo: No such file or directory (os error 2)"}
    assert too_large == {"ok": False, "error": "io: writing out/btc_usd/src/candles.json: File too large (os error 27)"}
    assert dry_run["built"] is False
    # The failed write left the previous file whole, not a truncated one, and
    # no temporary file.
    src = tmp_path / "out" / "btc_usd" / "src"
    assert (src / "candles.json").read_text() == '[{"t":1}]'
    assert sorted(os.listdir(src)) == ["candles.json", "main.rs", "spec.json"]


def test_read_only_output_directory(tmp_path):
    # Permission bits do not stop root, so as root the interpreter gives up its
    # privileges once the module is loaded.
    jail = tmp_path / "jail"
    (jail / "ro").mkdir(parents=True)
    (jail / "ro-files" / "btc_usd").mkdir(parents=True)
    (jail / "ro-files" / "btc_usd" / "Cargo.toml").write_text("read only")
    (jail / "ro-files" / "btc_usd" / "Cargo.toml").chmod(0o444)
    for directory in (jail, jail / "ro-files"):
        directory.chmod(0o777)
    # Files are replaced through a new file beside them, so what refuses the
    # write is the read-only project directory, not the read-only file.
    for directory in (jail / "ro", jail / "ro-files" / "btc_usd"):
        directory.chmod(0o555)
    done = run_script(tmp_path, f"""
        import os, sys
        from velkor_compile import Compiler
        if os.geteuid() == 0:
            try:
                os.setgroups([])
                os.setgid(65534)
                os.setuid(65534)
            except PermissionError as error:
                print("cannot drop root privileges:", error)
                sys.exit(0)
        compiler = Compiler()
        print(compiler.command({compile_text(out_dir="ro")!r}))
        print(compiler.command({compile_text(out_dir="ro-files")!r}))
        print(compiler.command({compile_text(out_dir="writable")!r}))
    """, cwd=jail, PATH=str(tmp_path / "no-cargo-here"))
    assert done.returncode == 0, done.stderr
    if done.stdout.startswith("cannot drop root privileges"):
        pytest.skip(done.stdout.strip())
    directory, file, writable = [json.loads(line)["error"] for line in done.stdout.splitlines()]
    assert directory == "io: creating ro/btc_usd: Permission denied (os error 13)"
    assert file == "io: writing ro-files/btc_usd/Cargo.toml: Permission denied (os error 13)"
    assert sorted(os.listdir(jail / "ro-files" / "btc_usd")) == ["Cargo.toml"]
    # The handle works on: the next project is written, and only cargo is missing.
    assert writable.startswith("build: spawning cargo: ")
    assert (jail / "writable" / "btc_usd" / "src" / "spec.json").is_file()


def test_digest_failure_is_an_error_never_a_made_up_digest(tmp_path):
    # An OpenSSL configuration that asks for FIPS implementations, with no FIPS
    # provider installed, leaves no SHA-256 to fetch: every digest fails.
    config = tmp_path / "openssl.cnf"
    config.write_text(textwrap.dedent("""\
        openssl_conf = openssl_init
        [openssl_init]
        alg_section = evp_properties
        [evp_properties]
        default_properties = fips=yes
    """))
    (tmp_path / "artifact.bin").write_bytes(b"abc")
    done = run_script(tmp_path, f"""
        from velkor_compile import Compiler
        compiler = Compiler()
        print(compiler.command({compile_text(dry_run=True)!r}))
        print(compiler.command('{{"cmd":"artifact_bytes","path":"artifact.bin"}}'))
        print(compiler.command('{{"cmd":"artifact_bytes","path":"artifact.bin"}}'))
        print(compiler.command('{{"cmd":"version"}}'))
    """, OPENSSL_CONF=str(config))
    assert done.returncode == 0, done.stderr
    dry_run, artifact, again, version = done.stdout.splitlines()
    assert json.loads(dry_run) == {"ok": False, "error": "codegen: computing SHA-256 digests: initialization error"}
    # The failed load uses up no handle number.
    assert artifact == again == json.dumps(
        {"ok": False, "error": "computing SHA-256 of artifact.bin: initialization error"}, separators=(",", ":"))
    assert version == VERSION_ANSWER
