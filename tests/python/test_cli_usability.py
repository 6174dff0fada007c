"""The command line's conveniences, in-process: full option names only, -V, -q, validate --json,
defaults from a real pyproject.toml above the current directory, hints, dry-run destination, completion."""

import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

import pytest

import velkor_compile
from conftest import MA_CROSS
from velkor_compile.cli import main
from velkor_compile.completion import INSTALL_HINT
from velkor_compile.hints import hints

MCUS = velkor_compile.targets()["mcus"]


def run(capsys, *argv):
    try:
        status = main([str(word) for word in argv])
    except SystemExit as exit_:  # --version and --print-completion exit as --help does
        status = exit_.code
    captured = capsys.readouterr()
    return status, captured.out, captured.err


@pytest.mark.parametrize(
    "argv, message",
    [(["compile", MA_CROSS, "--dry-ru"], "unrecognized arguments: --dry-ru"),  # options only in full
     (["compile", MA_CROSS, "--dry-run", "--js"], "unrecognized"), (["validate", MA_CROSS, "--qui"], "unrecognized"),
     (["--vers", "version"], "unrecognized"), (["compile", MA_CROSS, "--dry-run", "--no-conf"], "unrecognized"),
     # A path that is not UTF-8 cannot be put in a request: refused, not a traceback.
     (["compile", MA_CROSS, "--dry-run", "--out-dir", b"\xff".decode(errors="surrogateescape")],
      "--out-dir is not valid UTF-8: '\\udcff'")],
)
def test_usage_errors(capsys, argv, message):
    status, out, err = run(capsys, *argv)
    assert (status, out) == (2, "") and message in err


def test_short_version_and_quiet(capsys, tmp_path, monkeypatch, fake_cargo):
    monkeypatch.chdir(tmp_path)
    assert run(capsys, "-V") == run(capsys, "--version") == (0, f"velkor-compile {velkor_compile.__version__}\n", "")
    assert run(capsys, "compile", MA_CROSS, "--dry-run", "-q") == (0, "", "")
    assert run(capsys, "validate", "--quiet", MA_CROSS) == (0, "", "")
    # A build: no cargo line, no summary; --json still prints the document asked for.
    assert run(capsys, "compile", MA_CROSS, "-q") == (0, "", "")
    status, out, err = run(capsys, "compile", MA_CROSS, "-q", "--json")
    assert (status, err, json.loads(out)["built"]) == (0, "", True)


def test_validate_json_prints_a_line_per_file(capsys, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "invalid.json").write_text('{"symbol": "X"}')
    status, out, err = run(capsys, "validate", "--json", MA_CROSS, "invalid.json", "missing.json")
    errors = [line.removeprefix("velkor-compile: ") for line in err.splitlines()]
    assert (status, errors[0]) == (1, "invalid.json: not a valid strategy: the required member `timeframe` is missing at line 1 column 15")
    assert [json.loads(line) for line in out.splitlines()] == [{"path": str(MA_CROSS), "valid": True}] + [
        {"path": path, "valid": False, "error": error} for path, error in zip(["invalid.json", "missing.json"], errors)]


NO_STD_SIZE = 'target = "no_std"\nmcu = "thumbv6m-none-eabi"\nopt-level = "size"'


@pytest.mark.parametrize(
    "root, sub, flags, expected",
    [
        # The nearest file that has the table; the built-in defaults fill the rest.
        (NO_STD_SIZE, None, [], "thumbv6m-none-eabi size"),
        ('target = "wasm"', 'opt-level = "debug"', [], "binary debug"),
        ('target = "wasm"', "", [], "wasm release"),  # a file without the table is passed over
        # Flags override the file; the file's mcu applies only to a no_std target.
        (NO_STD_SIZE, None, ["--target", "binary", "--opt-level", "debug"], "binary debug"),
        (NO_STD_SIZE, None, ["--no-config"], "binary release"),
        # Refused files.
        ('target = "arm"', None, [], "target must be one of wasm, binary, no_std, not 'arm'"),
        ('out_dir = "x"', None, [], "unknown key 'out_dir' (did you mean 'out-dir'? known: out-dir, target, mcu, "
         "opt-level, select, ignore)"),
        ('select = ["VK1", "E501"]', None, [], "select holds 'E501', which is not a rule code"),
        ('ignore = "VK101"', None, [], 'ignore must be an array of rule codes, such as ["VK101", "VK2"]'),
        ("target = ", None, [], "not valid TOML"),
        ('target = "no_std"', None, [], "--mcu TRIPLE is required with --target no_std"),
    ],
)
def test_defaults_from_the_nearest_pyproject(capsys, tmp_path, monkeypatch, root, sub, flags, expected):
    (tmp_path / "pyproject.toml").write_text(f"[project]\nname = 'x'\n\n[tool.velkor-compile]\n{root}\n")
    deeper = tmp_path / "strategies" / "more"
    deeper.mkdir(parents=True)
    if sub is not None:
        table = "[tool.velkor-compile]\n" if sub else "[tool.other]\n"
        (tmp_path / "strategies" / "pyproject.toml").write_text(f"{table}{sub}\n")
    monkeypatch.chdir(deeper)
    status, out, err = run(capsys, "compile", MA_CROSS, "--dry-run", "--json", *flags)
    if status != 0:  # a usage error that names the file
        assert status == 2 and expected in err and (str(tmp_path) in err or "--mcu" in expected)
        return
    manifest = json.loads(out)["manifest"]
    assert f"{manifest['target'].get('mcu', manifest['target']['kind'])} {manifest['opt_level']}" == expected


def test_out_dir_from_the_file_and_the_dry_run_destination(capsys, tmp_path, monkeypatch):
    (tmp_path / "pyproject.toml").write_text('[tool.velkor-compile]\nout-dir = "build"\n')
    project = tmp_path / "build" / "btc_usd"
    (project / "src").mkdir(parents=True)
    (project / "Cargo.toml").write_text("old")
    (project / "src" / "main.rs").symlink_to("nowhere")  # a dangling link is replaced all the same
    (tmp_path / "sub").mkdir()
    monkeypatch.chdir(tmp_path / "sub")
    status, out, _ = run(capsys, "compile", MA_CROSS, "--dry-run")
    assert status == 0
    assert out.splitlines()[-2:] == [f"  would write   {project}", "  would replace Cargo.toml, src/main.rs"]
    assert (project / "Cargo.toml").read_text() == "old"
    status, out, _ = run(capsys, "compile", MA_CROSS, "--dry-run", "--out-dir", "elsewhere/../out")
    assert out.splitlines()[-2:] == ["  would write   out/btc_usd", "  would replace (no existing files)"]


def test_the_dry_run_names_what_a_build_would_remove(capsys, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    for path, text in [(".cargo/config.toml", '[build]\ntarget = "wasm32-unknown-unknown"\n'),  # as generated
                       ("src/lib.rs", "pub fn mine() {}\n")]:  # the user's
        (tmp_path / "_out" / "btc_usd" / path).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / "_out" / "btc_usd" / path).write_text(text)
    status, out, _ = run(capsys, "compile", MA_CROSS, "--dry-run")
    assert (status, out.splitlines()[-2:]) == (0, ["  would replace (no existing files)",
                                                   "  would remove  .cargo/config.toml"])


# The dry run asks for the destination with a stand-in strategy under the crate
# name it found: the answer must be the full query's for every target and data kind.
@pytest.mark.parametrize("options", [{}, {"target": "wasm", "candles": "candles.json"},
                                     {"target": "no_std", "mcu": "thumbv7m-none-eabi", "csv": "candles.csv"}])
def test_the_dry_run_destination_is_the_destination_query(capsys, tmp_path, monkeypatch, options):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "candles.json").write_text("[[1, 2.5]]")
    (tmp_path / "candles.csv").write_text("t,o,h,l,c,v\n1700000000000,101.23,101.5,100.9,101.1,12345\n")
    for path in ("Cargo.toml", "src/main.rs", "src/lib.rs", "src/candles.json", "src/candles.csv"):
        (tmp_path / "_out" / "btc_usd" / path).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / "_out" / "btc_usd" / path).write_text("old")
    (tmp_path / "_out" / "btc_usd" / ".cargo").mkdir()
    (tmp_path / "_out" / "btc_usd" / ".cargo" / "config.toml").write_text('[build]\ntarget = "wasm32-unknown-unknown"\n')
    status, out, _ = run(capsys, "compile", MA_CROSS, "--dry-run",
                         *[word for name, value in options.items() for word in (f"--{name}", value)])
    planned = velkor_compile.destination(MA_CROSS, **options)
    assert status == 0 and out[out.index("  would write"):] == (
        f"  would write   {planned['project_dir']}\n  would replace {', '.join(planned['replace'])}\n"
        + (f"  would remove  {', '.join(planned['remove'])}\n" if planned["remove"] else ""))


@pytest.mark.parametrize(
    "message, expected",
    [
        ('bad target: mcu "thumbv7em-none-eab" is not in the allowlist',
         ["did you mean --mcu thumbv7em-none-eabi?", "--mcu takes one of: " + ", ".join(MCUS)]),
        ('bad spec: crate name "1inch" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`',
         ["name the crate with --crate-name NAME"]),
        ("build: ", ["cargo failed without printing anything on stderr"]),
        ("build: spawning cargo: No such file or directory (os error 2)", ["cargo is not on the PATH"]),
        ("build: error[E0463]: can't find crate for `core`\n  = note: the `thumbv7em-none-eabihf` target may not be "
         "installed", ["add it with `rustup target add thumbv7em-none-eabihf`"]),
        ("build: error[E0463]: can't find crate for `core`\n  = note: the `wasm32-unknown-unknown` target may not be "
         "installed", ["or without internet prepare a folder with scripts/offline_cargo_setup.sh (README: Targets)"]),
        ("build: error: no matching package named `wasm-bindgen` found\nlocation searched: directory source",
         ["cargo found no crate wasm-bindgen in the registry it searched: generated projects take velkor-backtest"]),
        ("build: error: no matching package named `wasm-bindgen` found\nlocation searched: directory source",
         ["without internet, scripts/offline_cargo_setup.sh DIR (in the source checkout) prepares DIR for every "
          "target: `. DIR/env.sh`"]),
        ("build: error: failed to get `serde_json`\n  [6] Could not resolve host: index.crates.io",
         ["cargo could not reach a crate registry: generated projects take velkor-backtest 0.1.5"]),
        # cargo and rustc other than the ones a prepared folder's env.sh selects.
        ("build: error[E0786]: found invalid metadata files for crate `core`\n  = note: corrupt metadata encountered "
         "in /tmp/v/sysroot/thumbv6m-none-eabi/lib/rustlib/thumbv6m-none-eabi/lib/libcore.rlib",
         ["a library was built by another rustc: in a folder that scripts/offline_cargo_setup.sh prepared, "
          "run `. DIR/env.sh` first"]),
        ("build: error[E0514]: found crate `serde_json` compiled by an incompatible version of rustc",
         ["run `. DIR/env.sh` first"]),
        # No hint when the build failed in the user's own way.
        ("build: error[E0425]: cannot find value `x` in this scope", []),
    ],
)
def test_hints_follow_the_message(message, expected):
    found = hints(message, lambda: MCUS)
    assert len(found) == len(expected) and all(part in hint for hint, part in zip(found, expected))


def test_hint_lines_come_after_the_message(capsys, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    status, out, err = run(capsys, "compile", MA_CROSS, "--target", "no_std", "--mcu", "x", "--json")
    # The protocol's message unchanged, in the document and on stderr; the hint only on stderr, after it.
    assert (status, json.loads(out)) == (1, {"ok": False, "error": 'bad target: mcu "x" is not in the allowlist'})
    assert err.splitlines() == ['velkor-compile: bad target: mcu "x" is not in the allowlist',
                                "velkor-compile: hint: --mcu takes one of: " + ", ".join(MCUS)]


@pytest.mark.parametrize("table, flags, hint", [
    ("", ["--target", "no_std", "--mcu", "thumbv7em-none-eab"], "did you mean --mcu thumbv7em-none-eabi?"),
    ('target = "no_std"\nmcu = "thumbv7em-none-eab"', [],
     'did you mean mcu = "thumbv7em-none-eabi" (the mcu key of [tool.velkor-compile] in {config})?'),
])
def test_an_mcu_hint_names_where_the_mcu_came_from(capsys, tmp_path, monkeypatch, table, flags, hint):
    (tmp_path / "pyproject.toml").write_text(f"[tool.velkor-compile]\n{table}\n")
    monkeypatch.chdir(tmp_path)
    status, _, err = run(capsys, "compile", MA_CROSS, "--dry-run", *flags)
    assert status == 1 and err.splitlines()[1] == "velkor-compile: hint: " + hint.format(config=tmp_path / "pyproject.toml")


@pytest.mark.parametrize("shell", ["bash", "zsh", "fish"])
def test_completion_scripts_come_from_the_parser(capsys, monkeypatch, shell):
    pytest.importorskip("shtab")
    status, out, _ = run(capsys, "--print-completion", shell)
    assert status == 0 and all(word in out for word in ("validate", "dry-run", "no-config", "quiet", "no_std"))
    monkeypatch.setitem(sys.modules, "shtab", None)  # optional: without it, a message says how to get it
    assert run(capsys, "--print-completion", shell)[::2] == (1, "velkor-compile: " + INSTALL_HINT + "\n")


WASM = '[tool.velkor-compile]\ntarget = "wasm"\n'
FOREIGN = 12345  # no such user here: the file is someone else's whoever runs the tests


@pytest.mark.parametrize(
    "near, far, flags, target, err",
    [
        # Someone else's file is passed over, with a warning when it has the table.
        (None, (WASM, FOREIGN), [], "binary", "warning: ignoring {far}: it is owned by uid 12345, not by you or root"),
        (("[tool.velkor-compile]\ntarget = 'no_std'\n", FOREIGN), (WASM, None), [], "wasm", "warning: ignoring {near}"),
        (None, ("[tool.other]\n", FOREIGN), [], "binary", ""),
        # A file that is not TOML stops the command only when it evidently holds the table.
        (("[project\nname = 'x'\n", None), (WASM, None), ["-v"], "wasm",
         "using defaults from {far} [tool.velkor-compile]"),
        (("[tool.'velkor-compile']\ntarget = \n", None), None, ["--target", "wasm", "--opt-level", "size",
                                                             "--out-dir", "o", "-q"], "wasm", ""),  # not read at all
        (("[tool]\nvelkor-compile = {target = }\n", None), None, [], None, "{near}: not valid TOML"),
    ],
)
def test_configuration_files_that_are_not_used(capsys, tmp_path, monkeypatch, near, far, flags, target, err):
    paths = {"far": tmp_path / "pyproject.toml", "near": tmp_path / "sub" / "pyproject.toml"}
    paths["near"].parent.mkdir()
    for where, file in (("near", near), ("far", far)):
        if file is not None:
            paths[where].write_text(file[0])
            if file[1] is not None:
                os.chown(paths[where], file[1], file[1])
    monkeypatch.chdir(paths["near"].parent)
    status, out, stderr = run(capsys, "compile", MA_CROSS, "--dry-run", "--json", *flags)
    assert status == (0 if target else 2)
    assert err.format(**paths) in stderr and (err or stderr == ""), stderr
    assert target is None or json.loads(out)["manifest"]["target"]["kind"] == target


def test_an_unreadable_configuration_file_is_passed_over():
    shared = pathlib.Path(tempfile.mkdtemp())  # under root, pytest's folders are closed to others
    try:
        shared.chmod(0o777)
        (shared / "pyproject.toml").write_text(WASM)
        (shared / "pyproject.toml").chmod(0)
        user = 65534 if os.getuid() == 0 else os.getuid()
        os.chown(shared / "pyproject.toml", user, user)  # the user's own file, which they cannot read
        # Root reads every file: the command runs as that user, dropped to once the
        # package is loaded (the interpreter may lie in a folder closed to them).
        script = f"""if True:
            import encodings.utf_8_sig, os, sys  # the codec the file reader loads on first use
            from velkor_compile.cli import build_parser, main
            build_parser()  # and what argparse loads
            os.setgid({user}), os.setuid({user})
            sys.exit(main(["compile", {str(MA_CROSS)!r}, "--dry-run"]))"""
        run_ = subprocess.run([sys.executable, "-c", script], cwd=shared, capture_output=True, text=True, timeout=120)
        assert run_.returncode == 0 and "target binary" in run_.stdout, run_.stderr
        assert run_.stderr == f"velkor-compile: warning: ignoring {shared}/pyproject.toml: cannot read it: Permission denied\n"
    finally:
        shutil.rmtree(shared)
