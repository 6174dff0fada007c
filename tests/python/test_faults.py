"""Faults around writing a project and digesting: a full disk, no SHA-256 to
fetch. Each gives its error document and leaves the handle working. (Refused
writes, links and cargo's own faults are covered by the C++ tests of project
writing, the child process and the cargo driver.)"""

import json
import os

from conftest import MA_CROSS, VERSION_ANSWER, error_document
from velkor_compile import Compiler

STRATEGY = json.loads(MA_CROSS.read_text())


def compile_text(dry_run=False, **spec):
    spec = {"strategy": STRATEGY, "target": {"kind": "binary"}, "opt_level": "debug", **spec}
    return json.dumps({"cmd": "compile", "spec": spec, "dry_run": dry_run, "out_dir": "out"})


def test_full_disk(tmp_path, run_python):
    # A file-size limit stands in for a full disk: writes beyond it fail with
    # EFBIG once SIGXFSZ (which would kill the process) is ignored. The inline
    # candles make src/candles.json about 2 MB; the limit is 1 MB.
    candles = [{"t": t, "o": 1.5, "h": 2.5, "l": 0.5, "c": 1.25, "v": 1000} for t in range(40000)]
    (tmp_path / "request.json").write_text(compile_text(embed_data={"kind": "inline", "candles": candles}))
    done = run_python(f"""
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
    small, too_large, dry_run = done.stdout.splitlines()
    # Small files fit: the project is written and only cargo is missing.
    assert small == error_document("build: spawning cargo: No such file or directory (os error 2)")
    assert too_large == error_document("io: writing out/btc_usd/src/candles.json: File too large (os error 27)")
    assert json.loads(dry_run)["built"] is False
    # The failed write left the previous file whole, not a truncated one, and
    # no temporary file.
    src = tmp_path / "out" / "btc_usd" / "src"
    assert (src / "candles.json").read_text() == '[{"t":1}]'
    assert sorted(os.listdir(src)) == ["candles.json", "main.rs", "spec.json"]


def test_digest_failure_is_an_error_never_a_made_up_digest(tmp_path, run_python):
    # An OpenSSL configuration that asks for FIPS implementations, with no FIPS
    # provider installed, leaves no SHA-256 to fetch: every digest fails.
    (tmp_path / "openssl.cnf").write_text("openssl_conf = openssl_init\n[openssl_init]\nalg_section = evp_properties\n"
                                          "[evp_properties]\ndefault_properties = fips=yes\n")
    (tmp_path / "artifact.bin").write_bytes(b"abc")
    done = run_python(f"""
        import ctypes
        from velkor_compile import Compiler
        compiler = Compiler()
        print(compiler.command({compile_text(dry_run=True)!r}))
        print(compiler.command('{{"cmd":"artifact_bytes","path":"artifact.bin"}}'))
        print(compiler.command('{{"cmd":"artifact_bytes","path":"artifact.bin"}}'))
        print(compiler.command('{{"cmd":"version"}}'))
        # Once SHA-256 is allowed again, digests work: no failure was kept
        # (the source file's digest, computed once per process, included).
        # The module's libcrypto is its own copy in a wheel, the system's here.
        loaded = [p for p in open("/proc/self/maps").read().split() if "libcrypto" in p]
        libcrypto = next((p for p in loaded if "velkor_compile" in p), loaded[0])
        ctypes.CDLL(libcrypto).EVP_set_default_properties(None, b"")
        print(compiler.command({compile_text(dry_run=True)!r}))
    """, OPENSSL_CONF=str(tmp_path / "openssl.cnf"))
    assert done.returncode == 0, done.stderr
    # A failed load uses up no handle number.
    artifact_error = error_document("computing SHA-256 of artifact.bin: initialization error")
    *failed, recovered = done.stdout.splitlines()
    assert failed == [error_document("codegen: computing SHA-256 digests: initialization error"),
                      artifact_error, artifact_error, VERSION_ANSWER]
    assert recovered == Compiler().command(compile_text(dry_run=True))
