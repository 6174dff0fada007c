"""Faults around writing a project and digesting: a full disk gives its error
document and leaves the handle working; an OpenSSL configuration that would
leave no SHA-256 to fetch does not reach the digests. (Refused writes, links
and cargo's own faults are covered by the C++ tests of project writing, the
child process and the cargo driver.)"""

import json
import os

from conftest import MA_CROSS, error_document
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


def test_the_process_openssl_configuration_does_not_reach_the_digests(tmp_path, run_python):
    # A configuration that asks for FIPS implementations, with no FIPS provider
    # installed, would leave no SHA-256 to fetch; one that activates a provider
    # that does not exist would fail OpenSSL's initialisation. The digests use
    # a library context of their own, made without any configuration, so both
    # change nothing. (What a failed digest answers is tested in the core:
    # DispatchDeathTest in core/src/protocol/dispatch_test.cc.)
    configurations = {
        "no-sha256.cnf": "openssl_conf = openssl_init\n[openssl_init]\nalg_section = evp_properties\n"
                         "[evp_properties]\ndefault_properties = fips=yes\n",
        "missing-provider.cnf": "config_diagnostics = 1\nopenssl_conf = openssl_init\n[openssl_init]\n"
                                "providers = provider_sect\n[provider_sect]\nnowhere = nowhere_sect\n"
                                "[nowhere_sect]\nactivate = 1\n",
    }
    (tmp_path / "artifact.bin").write_bytes(b"abc")
    expected = [Compiler().command(compile_text(dry_run=True)),
                '{"handle":0,"len":3,"sha256":"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}']
    for name, text in configurations.items():
        (tmp_path / name).write_text(text)
        done = run_python(f"""
            from velkor_compile import Compiler
            compiler = Compiler()
            print(compiler.command({compile_text(dry_run=True)!r}))
            print(compiler.command('{{"cmd":"artifact_bytes","path":"artifact.bin"}}'))
        """, OPENSSL_CONF=str(tmp_path / name), OPENSSL_MODULES=str(tmp_path / "nowhere"))
        assert done.returncode == 0, done.stderr
        assert done.stdout.splitlines() == expected, name
