"""The command line as a user drives it: a subprocess, through both entry points
(``python -m velkor_compile`` and the installed ``velkor-compile`` script), with
good and bad input files, a stand-in cargo, and ``serve`` fed a mixed stream."""

import ctypes
import io
import itertools
import json
import os
import pathlib
import signal
import subprocess
import sys
import time

import pytest

import velkor_compile
import velkor_compile.cli as cli_module
import velkor_compile.commands.shared as commands_shared
from velkor_compile.commands.serve import serve
from conftest import (CARGO_WITH_A_GRANDCHILD, EXAMPLES, LIMIT_ADDRESS_SPACE, MA_CROSS, OUT_OF_MEMORY, VERSION_ANSWER,
                      ends, stand_in)

SCRIPT = pathlib.Path(sys.executable).parent / "velkor-compile"
ENTRY_POINTS = {"module": [sys.executable, "-m", "velkor_compile"], "script": [str(SCRIPT)]}


def cli(*args, cwd, entry="module", stdin=b""):
    if entry == "script" and not SCRIPT.exists():
        pytest.skip("the velkor-compile script is not installed beside this interpreter")
    return subprocess.run([*ENTRY_POINTS[entry], *map(str, args)], cwd=cwd, input=stdin, capture_output=True,
                          timeout=120)


def text(stream):
    return stream.decode("utf-8")


def assert_clean_failure(run, status, *fragments):
    """A failure is one status, no traceback, and the fragments on stderr."""
    stderr = text(run.stderr)
    assert run.returncode == status and "Traceback" not in stderr, stderr
    for fragment in fragments:
        assert fragment in stderr


@pytest.fixture
def files(tmp_path):
    (tmp_path / "malformed.json").write_text('{"symbol": "BTC-USD",\n  "timeframe": }')
    (tmp_path / "latin1.json").write_bytes(b'{"symbol": "\xe9"}')
    (tmp_path / "nan.json").write_text('{"symbol": NaN}')
    (tmp_path / "invalid.json").write_text('{"symbol": "BTC-USD"}')
    (tmp_path / "candles_object.json").write_text('{"t": 1}')
    (tmp_path / "bom.json").write_bytes(b"\xef\xbb\xbf" + MA_CROSS.read_bytes())
    os.mkfifo(tmp_path / "fifo")  # no writer: opening it to read would wait forever
    return tmp_path


@pytest.mark.parametrize(
    "args, status, fragment",
    [
        # Input files that cannot be used: one line naming the file.
        (["compile", "missing.json"], 1, "io: reading missing.json: No such file or directory (os error 2)"),
        (["compile", "malformed.json"], 1, "parse: malformed.json: a value (object, array, number, text, true, false or null) should stand here at line 2 column 16"),
        (["compile", "nan.json"], 1, "parse: nan.json: a value (object, array, number, text, true, false or null) should stand here at line 1 column 12"),
        (["compile", "latin1.json"], 1, "io: reading latin1.json: not valid UTF-8 at byte 12"),
        (["compile", MA_CROSS, "--candles", "candles_object.json"], 1, "candles_object.json: the candles must be"),
        # Only regular files are read: a FIFO would block.
        (["compile", MA_CROSS, "--candles", "fifo"], 1, "io: reading fifo: not a regular file"),
        # Usage errors.
        ([], 2, "usage: velkor-compile"),
        (["compile", MA_CROSS, "--target", "no_std"], 2, "--mcu TRIPLE is required with --target no_std"),
    ],
)
def test_failures_are_one_clear_message(files, args, status, fragment):
    run = cli(*args, cwd=files)
    assert_clean_failure(run, status, fragment)
    assert run.stdout == b""
    if status == 1:
        assert len(text(run.stderr).splitlines()) == 1
    assert not (files / "_out").exists()  # nothing is written by a refused request


@pytest.mark.parametrize(
    "args, status, error",
    [
        (["compile", "malformed.json", "--dry-run"], 1, "parse: malformed.json: a value (object, array, number, text, true, false or null) should stand here at line 2 column 16"),
        # Usage errors: the usage text on stderr, and the document too, since --json was asked for.
        (["compile", MA_CROSS, "--target", "no_std"], 2, "usage: --mcu TRIPLE is required with --target no_std"),
        (["version", "extra"], 2, "usage: unrecognized arguments: extra"),
    ],
)
def test_json_prints_an_error_document_for_every_error(files, args, status, error):
    run = cli(*args, "--json", cwd=files)
    assert_clean_failure(run, status)
    document = json.loads(run.stdout)
    assert list(document) == ["ok", "error"] and document["ok"] is False
    assert document["error"].startswith(error)
    # The same message as on stderr.
    last = text(run.stderr).splitlines()[-1]
    assert last.endswith(document["error"].removeprefix("usage: "))


def test_json_error_document_for_an_internal_fault(monkeypatch, capsys):
    monkeypatch.setattr(commands_shared, "Compiler", FailingHandle)
    assert cli_module.main(["targets", "--json"]) == 1
    assert capsys.readouterr().out == '{"ok":false,"error":"internal fault: broken"}\n'


def test_dry_run_json_and_summary(tmp_path):
    """--json prints exactly what the raw interface answers for the same request."""
    mcu = "riscv32imac-unknown-none-elf"
    run = cli("compile", MA_CROSS, "--dry-run", "--json", "--crate-name", "demo", "--target", "no_std", "--mcu", mcu,
              "--opt-level", "size", cwd=tmp_path)
    assert run.returncode == 0 and run.stderr == b"", text(run.stderr)  # no build line for a dry run
    spec = {"strategy": json.loads(MA_CROSS.read_text()), "crate_name": "demo",
            "target": {"kind": "no_std", "mcu": mcu}, "opt_level": "size"}
    expected = velkor_compile.Compiler().command(json.dumps({"cmd": "compile", "spec": spec, "dry_run": True}))
    assert text(run.stdout) == expected + "\n"
    assert list(tmp_path.iterdir()) == []

    (tmp_path / "candles.json").write_text("[[1, 2.5]]")
    out = text(cli("compile", MA_CROSS, "--dry-run", "--candles", "candles.json", "--target", "wasm",
                   cwd=tmp_path).stdout)
    manifest = velkor_compile.compile(MA_CROSS, target="wasm", candles=[[1, 2.5]], dry_run=True)["manifest"]
    assert "crate btc_usd, target wasm" in out and "artifact      (none: dry run)" in out
    assert manifest["spec_hash"] in out and manifest["project_hash"] in out
    for entry in manifest["files"]:  # src/candles.json among them
        assert f"{entry['path']}" in out and f"{entry['bytes_len']} bytes  sha256 {entry['sha256']}" in out


@pytest.mark.parametrize("entry", sorted(ENTRY_POINTS))
def test_build_reports_the_artifact_and_the_cargo_line(tmp_path, fake_cargo, entry):
    run = cli("compile", MA_CROSS, "--out-dir", "out", "--opt-level", "debug", cwd=tmp_path, entry=entry)
    assert run.returncode == 0, text(run.stderr)
    stderr = text(run.stderr)
    assert stderr.startswith("velkor-compile: cargo is building btc_usd (binary, debug) in out/btc_usd ... done in ")
    assert stderr.endswith(" s\n") and len(stderr.splitlines()) == 1
    assert "artifact      out/btc_usd/target/debug/btc_usd" in text(run.stdout)
    assert (tmp_path / "out/btc_usd/target/debug/btc_usd").is_file()


def test_failed_build_prints_cargo_errors(tmp_path, fake_cargo, monkeypatch):
    (tmp_path / "cargo-stderr").write_text("error[E0425]: cannot find value\n")
    monkeypatch.setenv("FAKE_CARGO_MODE", "fail")
    run = cli("compile", MA_CROSS, cwd=tmp_path)
    assert_clean_failure(run, 1, "... failed after ", "velkor-compile: build: error[E0425]: cannot find value\n")
    assert run.stdout == b""
    run = cli("compile", MA_CROSS, "--json", cwd=tmp_path)
    assert json.loads(run.stdout) == {"ok": False, "error": "build: error[E0425]: cannot find value\n"}


def test_verbose_streams_cargo_output_and_keeps_the_answer(tmp_path, fake_cargo, monkeypatch):
    (tmp_path / "cargo-stderr").write_text("error[E0425]: cannot find value\n")
    monkeypatch.setenv("FAKE_CARGO_MODE", "fail")
    plain = cli("compile", MA_CROSS, "--json", cwd=tmp_path)
    verbose = cli("compile", MA_CROSS, "--json", "-v", cwd=tmp_path)
    assert verbose.returncode == plain.returncode == 1 and verbose.stdout == plain.stdout
    lines = text(verbose.stderr).splitlines()
    assert lines[0] == "velkor-compile: cargo is building btc_usd (binary, release) in _out/btc_usd"
    assert lines[1] == "error[E0425]: cannot find value"  # written live by the core
    assert lines[2].startswith("velkor-compile: failed after ")
    assert lines[3:] == ["velkor-compile: build: cargo failed (its output is above)"]  # cargo's error shown once


SIGNALS = {
    # case: (signal, sent to the CLI's whole group as Ctrl-C at a terminal sends it, exit status, the CLI's word)
    "Ctrl-C": (signal.SIGINT, True, 130, "interrupted"),
    "SIGINT to the CLI alone": (signal.SIGINT, False, 130, "interrupted"),
    "SIGTERM to the CLI alone": (signal.SIGTERM, False, 143, "terminated"),
}


@pytest.mark.parametrize("case", SIGNALS)
def test_a_signal_stops_cargo_and_what_it_started(tmp_path, case):
    signum, to_group, status, word = SIGNALS[case]
    stand_in(tmp_path, CARGO_WITH_A_GRANDCHILD)
    pids = tmp_path / "pids"
    pids.mkdir()
    env = dict(os.environ, PATH=f"{tmp_path}:{os.environ['PATH']}", PIDS=str(pids))
    run = subprocess.Popen([*ENTRY_POINTS["module"], "compile", MA_CROSS, "--out-dir", "out"], cwd=tmp_path, env=env,
                           stderr=subprocess.PIPE, start_new_session=True,
                           preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    while not (pids / "cargo").exists():
        assert run.poll() is None
        time.sleep(0.02)
    # SIGINT at its default in the CLI, whatever this process inherited (set
    # above): Python raises KeyboardInterrupt only for a signal not ignored at its start.
    (os.killpg if to_group else os.kill)(run.pid, signum)
    stderr = text(run.communicate(timeout=60)[1])
    assert run.returncode == status, stderr
    assert stderr.endswith(f" ... {word}\nvelkor-compile: {word}; the build in out/btc_usd is left half-built\n")
    for program in ("cargo", "sleep"):
        assert ends(int((pids / program).read_text())), program


def test_serve_answers_every_line_in_order(workdir):
    compiler = velkor_compile.Compiler()  # the reference: a fresh handle, reading the same relative paths
    (workdir / "artifact.bin").write_bytes(b"abc")
    strategy = json.loads(MA_CROSS.read_text())
    compile_line = json.dumps({"cmd": "compile", "spec": {"strategy": strategy, "target": {"kind": "wasm"}}, "dry_run": True})
    cases = [
        # (line sent, expected answer: None means what the reference answers, in sequence)
        (b'{"cmd":"version"}', None),
        (b"", None),  # a blank line is text like any other: the envelope error
        (b'{"cmd":"artifact_bytes","path":"artifact.bin"}', None),
        (b"\xff\xfe{}", '{"ok":false,"error":"invalid command text: not valid UTF-8 at byte 0"}'),
        (b'{"cmd":"ver\xed\xa0\x80"}', '{"ok":false,"error":"invalid command text: not valid UTF-8 at byte 11"}'),
        (b'{"cmd":"artifact_bytes","path":"artifact.bin"}\r', None),
        (compile_line.encode(), None),
        (b'["reset"]', None),
        (b'{"cmd":"artifact_bytes","path":"artifact.bin"}', None),
        (velkor_compile.request_text(MA_CROSS, dry_run=True).encode(), None),  # one command, whatever the file's lines
        (b'{"cmd":"targets"', None),
    ]
    expected = [answer if answer is not None else compiler.command(line.decode()) for line, answer in cases]
    # The last line has no line feed and is answered all the same.
    run = cli("serve", cwd=workdir, stdin=b"\n".join(line for line, _ in cases))
    assert run.returncode == 0 and run.stderr == b"", run.stderr
    assert text(run.stdout).split("\n") == expected + [""]
    handles = [json.loads(a)["handle"] for a in expected if '"handle"' in a]
    assert handles == [0, 1, 0]  # one handle for the whole stream; reset restarted the numbering


FAILURES = {"oom": MemoryError(), "odd": ValueError("odd"), "panic": velkor_compile.PanicException("std::bad_alloc"),
            "stop": KeyboardInterrupt(), '{"cmd":"targets"}': velkor_compile.PanicException("broken")}


class FailingHandle:
    """A handle that fails on the lines named in FAILURES and answers the others as a real one."""

    def __init__(self):
        self.real = velkor_compile.Compiler()

    def command(self, text):
        if text in FAILURES:
            raise FAILURES[text]
        return self.real.command(text)


def test_serve_answers_a_line_whose_handling_fails(monkeypatch):
    monkeypatch.setattr(commands_shared, "Compiler", FailingHandle)
    lines = ["oom", '{"cmd":"version"}', "odd", "panic", '{"cmd":"version"}', "stop", '{"cmd":"version"}']
    out = io.BytesIO()
    # An interrupt still ends serving, after the answers so far.
    with pytest.raises(KeyboardInterrupt):
        serve(io.BytesIO("\n".join(lines).encode()), out)
    assert out.getvalue().decode().splitlines() == [
        OUT_OF_MEMORY, VERSION_ANSWER, '{"ok":false,"error":"internal fault: ValueError: odd"}',
        '{"ok":false,"error":"internal fault: std::bad_alloc"}', VERSION_ANSWER]


def test_serve_answers_a_line_too_long_for_memory(run_python):
    """The line is skipped to its end and answered; the next line is read as usual."""
    run = run_python("""
    import sys
    from velkor_compile.cli import main
    EXTRA = 48 << 20  # not enough for the long line""" + LIMIT_ADDRESS_SPACE + """
    sys.exit(main(["serve"]))
    """, stdin=b"x" * (160 << 20) + b'\n{"cmd":"version"}\n')
    assert run.returncode == 0, text(run.stderr)
    assert text(run.stdout).splitlines() == [OUT_OF_MEMORY, VERSION_ANSWER]


def test_version_and_targets(tmp_path):
    assert text(cli("version", "--json", cwd=tmp_path).stdout) == VERSION_ANSWER + "\n"
    assert text(cli("version", cwd=tmp_path).stdout) == (
        "velkor-compile 0.2.0 (generated projects use velkor-backtest 0.1.5)\n")
    listed = text(cli("targets", cwd=tmp_path).stdout).splitlines()
    assert listed[0] == "targets: wasm, binary, no_std"
    assert [mcu.strip() for mcu in listed[2:]] == velkor_compile.targets()["mcus"]


def test_validate_checks_each_file(files):
    # Faults the compiler finds while reading the file's text; positions count in the file.
    (files / "huge.json").write_text('{"symbol":"é€","timeframe":"1h","n":1e400}')  # columns in characters
    (files / "surrogate.json").write_text('{"symbol": "X",\n "n": "\\ud800"}')
    (files / "deep.json").write_text('{"symbol":"X",\n"timeframe":"1h",\n"n":' + "[" * 200 + "]" * 200 + "}")
    examples = sorted(EXAMPLES.glob("*.json"))
    run = cli("validate", *examples, "invalid.json", "missing.json", "huge.json", "surrogate.json", "deep.json",
              "bom.json", "/dev/zero", cwd=files)
    assert_clean_failure(run, 1)
    assert text(run.stdout).splitlines() == [f"{p}: valid" for p in examples] + ["bom.json: valid"]
    assert text(run.stderr).splitlines() == [
        "velkor-compile: invalid.json: not a valid strategy: the required member `timeframe` is missing at line 1 column 21",
        "velkor-compile: io: reading missing.json: No such file or directory (os error 2)",
        "velkor-compile: parse: huge.json: this number is too large for a JSON number at line 1 column 41",
        "velkor-compile: parse: surrogate.json: the text is not valid JSON: unexpected end of hex escape at line 2 column 14",
        "velkor-compile: parse: deep.json: arrays and objects are nested too deeply at line 3 column 129",
        "velkor-compile: io: reading /dev/zero: not a regular file",
    ]


ESCAPES = "\x1b]52;c;aGk=\x07\x1b[2J\x9b\x7f"  # clipboard write, clear screen, C1 CSI, DEL
ESCAPED = "\\u001b]52;c;aGk=\\u0007\\u001b[2J\\u009b\\u007f"


@pytest.mark.parametrize(
    "args, cargo_stderr, stream, expected",
    [
        # A name quoted by a message, on stderr.
        (["validate", "bad.json"], None, "stderr", f"`k{ESCAPED}` is not a name"),
        (["compile", "bad.json", "--dry-run"], None, "stderr", f"`k{ESCAPED}` is not a name"),
        # File names in the summary, the destination and the build line.
        (["compile", MA_CROSS, "--dry-run", "--out-dir", ESCAPES], None, "stdout", f"would write   {ESCAPED}/btc_"),
        (["compile", MA_CROSS, "--out-dir", ESCAPES], None, "stdout", f"artifact      {ESCAPED}/btc_usd/target"),
        (["compile", MA_CROSS, "--out-dir", ESCAPES], None, "stderr", f"release) in {ESCAPED}/btc_usd ... done"),
        # cargo's error output keeps its lines and indents, not its control characters.
        (["compile", MA_CROSS], "error\x07\x9b\n\tat x\n", "stderr", "build: error\\u0007\\u009b\n\tat x\n"),
    ],
)
def test_control_characters_reach_the_terminal_escaped(files, fake_cargo, monkeypatch, args, cargo_stderr, stream,
                                                       expected):
    strategy = json.loads(MA_CROSS.read_text())
    strategy["sizing"]["type"] = "k" + ESCAPES
    (files / "bad.json").write_text(json.dumps(strategy))
    if cargo_stderr is not None:
        (files / "cargo-stderr").write_text(cargo_stderr)
        monkeypatch.setenv("FAKE_CARGO_MODE", "fail")
    run = cli(*args, cwd=files)
    output = text(getattr(run, stream))
    assert expected in output
    assert not any(ch in text(run.stdout) + text(run.stderr) for ch in "\x1b\x07\x9b\x7f")


def run_with_streams(args, cwd, closed=(), stdout=subprocess.PIPE, **options):
    """The command line with the descriptors in `closed` closed, as `>&-` does."""
    return subprocess.run([*ENTRY_POINTS["module"], *map(str, args)], cwd=cwd, stdout=stdout, stderr=subprocess.PIPE,
                          preexec_fn=lambda: [os.close(fd) for fd in closed], timeout=120, **options)


LOST = "velkor-compile: writing standard output: "


@pytest.mark.parametrize(
    "args, closed, status, stderr",
    [
        # Output that cannot be written is a failure, said on the other stream.
        (["version"], [1], 1, LOST + "Bad file descriptor (os error 9)\n"),
        (["-V"], [1], 1, LOST + "Bad file descriptor (os error 9)\n"),
        (["validate", MA_CROSS], [1], 1, LOST + "Bad file descriptor (os error 9)\n"),
        (["validate", "-q", MA_CROSS], [1], 0, ""),  # nothing was to be written
        (["serve"], [1], 1, LOST + "Bad file descriptor (os error 9)\n"),
        (["targets"], ["/dev/full"], 1, LOST + "No space left on device (os error 28)\n"),
        (["serve"], [0], 0, ""),  # no input: nothing to answer
        (["schema"], [1, 2], 1, None),  # nowhere to say it: the status alone
    ],
)
def test_closed_or_failing_streams_end_in_a_status(tmp_path, args, closed, status, stderr):
    full = "/dev/full" in closed  # stdout there instead
    with open("/dev/full", "w") as device:
        run = run_with_streams(args, tmp_path, closed=[] if full else closed, stdout=device if full else subprocess.PIPE,
                               input=None if 0 in closed else b'{"cmd":"version"}\n')
    assert run.returncode == status and (stderr is None or text(run.stderr) == stderr), run.stderr


def test_json_on_stdout_with_stderr_closed(tmp_path, fake_cargo):
    run = run_with_streams(["compile", MA_CROSS, "--json"], tmp_path, closed=[2])
    assert run.returncode == 0 and json.loads(run.stdout)["built"] is True


@pytest.mark.parametrize("args", [["check", "\u00e9.json"], ["check", "\u00e9.json", "--format", "json"],
                                  ["validate", "\u00e9.json", "--json"], ["compile", "\u00e9.json", "--dry-run", "--json"],
                                  ["compile", MA_CROSS, "--dry-run", "--out-dir", "\u00e9"]])
def test_an_ascii_locale_gets_escapes(tmp_path, args):
    strategy = json.loads(MA_CROSS.read_text())
    strategy["sizing"]["type"], strategy["nam\u00e9"] = "\u00e9\U0001f600", 1
    (tmp_path / "\u00e9.json").write_text(json.dumps(strategy, ensure_ascii=False), encoding="utf-8")
    ascii_run, utf8_run = (run_with_streams(args, tmp_path, env={**os.environ, "PYTHONIOENCODING": encoding})
                           for encoding in ("ascii", "utf-8"))
    assert ascii_run.returncode == utf8_run.returncode and b"Traceback" not in ascii_run.stderr, ascii_run.stderr
    if "json" in args or "--json" in args:  # still JSON, with the same values
        assert [json.loads(line) for line in ascii_run.stdout.splitlines()] == [
            json.loads(line) for line in utf8_run.stdout.splitlines()]
    else:
        assert b"\\xe9" in ascii_run.stdout


@pytest.mark.parametrize(
    "candles, error",
    [
        ('\ufeff [{"t": "[{", "x": "]}"}, [1, 2.5]]\n', None),  # brackets in strings are not structure
        (r'[["a\"]", "\\", "\\\"[", 1]]', None),  # escaped quotes and backslashes
        ('{"t": 1}', "parse: c.json: the candles must be a JSON array"),
        ("", "parse: c.json: the candles must be a JSON array"),
        # Text that would close the array and add members to the request around it.
        ('["["],"{{":1}},"out_dir":"evil","p":{"q":{"r":["}}]"]', "parse: c.json: more text follows the end of the JSON document at line 1 column 6"),
        ('[1],"crate_name":"evil","p":[2]', "parse: c.json: more text follows the end of the JSON document at line 1 column 4"),
        ('[1, "x]', 'parse: c.json: the text ends inside a string: a closing `"` is missing at line 1 column 7'),
        ("[1, 2", "parse: c.json: the text ends inside an array: a closing `]` is missing at line 1 column 5"),
        ("[" * 130 + "]" * 130, "parse: c.json: arrays and objects are nested too deeply at line 1 column 126"),
        # Faults within the array, placed in the file.
        ("[[1],\n [1,,2]]", "parse: c.json: a value (object, array, number, text, true, false or null) should stand here at line 2 column 5"),
        ("[[1, NaN]]", "parse: c.json: a value (object, array, number, text, true, false or null) should stand here at line 1 column 6"),
        ("[[1, 1e400]]", "parse: c.json: this number is too large for a JSON number at line 1 column 10"),
    ],
)
def test_candles_files_are_checked_as_one_array(tmp_path, candles, error):
    (tmp_path / "c.json").write_text(candles, encoding="utf-8")
    run = cli("compile", MA_CROSS, "--dry-run", "--candles", "c.json", cwd=tmp_path)
    assert (run.returncode, len(text(run.stderr).splitlines())) == ((0, 0) if error is None else (1, 1)), run.stderr
    assert error is None or text(run.stderr).startswith(f"velkor-compile: {error}")
    assert not (tmp_path / "evil").exists()


def test_a_candles_file_is_not_held_as_python_values(run_python, tmp_path):
    size = 20 << 20
    candle = '{"t":1600000000,"o":100.25,"h":101.5,"l":99.75,"c":100.5,"v":1234.5},'
    (tmp_path / "c.json").write_text("[" + candle * (size // len(candle)) + candle[:-1] + "]")
    run = run_python(f"""
    import resource, sys
    from velkor_compile.cli import main
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    status = main(["compile", {str(MA_CROSS)!r}, "--dry-run", "-q", "--candles", "c.json"])
    print(status, (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) * 1024 / {size})
    """)
    status, growth = run.stdout.split()
    assert status == "0" and float(growth) < 2.5, run.stderr  # its text and the request's: about 2 (it was 10)


class SignalBeforeCompile:
    """A handle whose second command (the real compile after the dry run) starts
    with SIGINT pending, as after a Ctrl-C while the project is written: no
    Python code runs between the signal and the command, so only the core's
    check before cargo can see it."""

    def __init__(self):
        self.real = velkor_compile.Compiler()
        self.calls = 0

    def command(self, text):
        self.calls += 1
        if self.calls == 1:
            return self.real.command(text)
        send = getattr(ctypes.CDLL(None), "raise")
        return next(map(self.real.command, itertools.islice(itertools.chain(map(send, [signal.SIGINT]), [text]), 1, None)))


INTERRUPTS = {
    # case: (cargo's behaviour, the handle, stdout starts with, stderr ends with)
    "before cargo": ("", SignalBeforeCompile, "",
                     "interrupted\nvelkor-compile: interrupted before cargo started; the project in _out/btc_usd is "
                     "written, nothing was built\n"),
    "while cargo ran": ('kill -INT $PPID; kill -INT $$', velkor_compile.Compiler, "",
                        "interrupted\nvelkor-compile: interrupted; the build in _out/btc_usd is left half-built\n"),
    # The build puts the artifact in another target directory, so the core asks
    # `cargo metadata` where it is once the build has finished: the signal
    # comes then, while the core still runs but after cargo built.
    "after cargo finished": ('[ "$1" = metadata ] && { kill -INT $PPID; '
                             'printf \'{"target_directory":"%s/elsewhere"}\' "$PWD"; exit 0; }\n'
                             'mkdir -p elsewhere/release; echo built > elsewhere/release/btc_usd; exit 0',
                             velkor_compile.Compiler, "built: crate btc_usd",
                             "velkor-compile: interrupted after cargo had finished; the build is complete\n"),
}


@pytest.mark.parametrize("case", INTERRUPTS)
def test_interrupt_reports_how_far_the_build_got(workdir, monkeypatch, capsys, case):
    behaviour, handle, stdout_start, stderr_end = INTERRUPTS[case]
    stand_in(workdir, f"#!/bin/sh\ntouch ran\n{behaviour}\nmkdir -p target/release\necho built > target/release/btc_usd\n")
    monkeypatch.setenv("PATH", f"{workdir}:{os.environ['PATH']}")
    monkeypatch.setattr(commands_shared, "Compiler", handle)
    assert cli_module.main(["compile", str(MA_CROSS)]) == 130
    out, err = capsys.readouterr()
    assert out.startswith(stdout_start) and err.endswith(stderr_end), err
    assert (workdir / "_out/btc_usd/ran").exists() == (case != "before cargo")
    assert (workdir / "_out/btc_usd/Cargo.toml").exists()
