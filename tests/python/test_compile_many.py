"""`velkor-compile compile A.json B.json ...`: several files, each built into a
project of its own N at a time, one line per file, with the stand-in cargo."""

import json
import os
import shutil
import signal
import subprocess
import sys
import threading
import time

import pytest

import velkor_compile
import velkor_compile.cli as cli_module
import velkor_compile.commands.shared as commands_shared
from conftest import EXAMPLES, MA_CROSS, stand_in

MODULE = [sys.executable, "-m", "velkor_compile"]
# The files of the tables below, as a user would name them in the working directory.
FILES = {
    "a.json": MA_CROSS.read_text(),  # crate btc_usd
    "b.json": (EXAMPLES / "rsi_mean_reversion.json").read_text(),  # crate eth_usdt
    "c.json": (EXAMPLES / "breakout_risk.json").read_text(),  # crate sol_usd
    "same_crate.json": MA_CROSS.read_text(),  # btc_usd again
    "invalid.json": '{"symbol": "BTC-USD"}',
}
BUILT = {"a.json": "btc_usd", "b.json": "eth_usdt", "c.json": "sol_usd"}


@pytest.fixture
def strategies(workdir, fake_cargo):
    for name, text in FILES.items():
        (workdir / name).write_text(text)
    return workdir


def run(capsys, *args):
    status = cli_module.main(["compile", *args])
    out, err = capsys.readouterr()
    return status, out, err


def built_line(name):
    crate = BUILT[name]
    return f"{name}: crate {crate}: built _out/{crate}/target/release/{crate}"


SAME_CRATE = ("crate btc_usd: failed: crate btc_usd is built from a.json too; each file needs a project of its own, "
              "and both would be written to _out/btc_usd")
# (files, the line of each file, exit status)
OUTCOMES = [
    (["a.json", "b.json", "c.json"], [built_line(name) for name in BUILT], 0),
    # One bad file fails alone: the others are still built.
    (["a.json", "invalid.json", "b.json"],
     [built_line("a.json"), "invalid.json: failed: not a valid strategy: the required member `timeframe` is "
      "missing at line 1 column 21", built_line("b.json")], 1),
    (["missing.json", "a.json"],
     ["missing.json: failed: io: reading missing.json: No such file or directory (os error 2)", built_line("a.json")], 1),
    # Two files for one project directory: the first builds, the second is refused before anything is written.
    (["a.json", "same_crate.json"], [built_line("a.json"), f"same_crate.json: {SAME_CRATE}"], 1),
    (["a.json", "a.json"], [built_line("a.json"), f"a.json: {SAME_CRATE}"], 1),
]


@pytest.mark.parametrize("jobs", [[], ["-j", "1"], ["-j", "3"], ["--jobs", "8"]])
@pytest.mark.parametrize("files, lines, status", OUTCOMES)
def test_every_file_gets_one_line_and_any_failure_fails_the_run(strategies, capsys, files, lines, status, jobs):
    code, out, err = run(capsys, *files, *jobs)
    assert code == status, err
    # One line per file, in the order they finished.
    assert sorted(out.splitlines()) == sorted(lines)
    for name, crate in BUILT.items():
        assert (strategies / "_out" / crate / "target/release" / crate).exists() == (name in files)
    assert "Traceback" not in err
    failed = sum(": failed: " in line for line in lines)
    totals = [f"{len(lines) - failed} built"] + ([f"{failed} failed"] if failed else [])
    assert err.splitlines()[-1] == "velkor-compile: " + ", ".join(totals)


@pytest.mark.parametrize("files, lines, status", OUTCOMES[:4])
def test_json_prints_one_document_per_file_with_the_answer_as_it_came(strategies, capsys, files, lines, status):
    code, out, _ = run(capsys, *files, "--json", "-j", "2")
    assert code == status
    documents = {document["path"]: document["answer"] for document in map(json.loads, out.splitlines())}
    assert set(documents) == set(files)
    reference = velkor_compile.Compiler()
    for name, line in zip(files, lines):
        answer = documents[name]
        if name in BUILT:
            # The same document a compile of that file alone answers (the project is built already).
            assert answer == json.loads(reference.command(velkor_compile.request_text(name)))
            assert answer["built"] is True and answer["path"] == f"_out/{BUILT[name]}/target/release/{BUILT[name]}"
        else:
            # The document as the compiler wrote it; a refused strategy's line is in plain words.
            refused = answer["error"].startswith("bad spec: strategy is not a valid StrategySpec: ")
            assert answer["ok"] is False and (": failed: not a valid strategy: " in line if refused
                                              else line.endswith(answer["error"]))


@pytest.mark.parametrize(
    "options, stdout, stderr_has",
    [
        # A dry run of several files writes nothing and says so per file.
        (["--dry-run"], {"a.json: crate btc_usd: checked (dry run, nothing written)",
                         "b.json: crate eth_usdt: checked (dry run, nothing written)"}, "2 checked"),
        # --quiet: no lines but errors.
        (["-q"], set(), None),
        # -v with several files builds them one at a time (cargo's own output would interleave).
        (["-v"], {built_line("a.json"), built_line("b.json")}, "a.json: cargo is building btc_usd"),
    ],
)
def test_options_with_several_files(strategies, capsys, options, stdout, stderr_has):
    code, out, err = run(capsys, "a.json", "b.json", *options)
    assert code == 0 and set(out.splitlines()) == stdout, err
    assert (strategies / "_out").exists() == ("--dry-run" not in options)
    assert err == "" if stderr_has is None else stderr_has in err


@pytest.mark.parametrize(
    "args, message",
    [
        (["a.json", "b.json", "--crate-name", "x"], "--crate-name names one crate; with several files"),
        (["a.json", "b.json", "-v", "-j", "2"], "-v shows cargo's output live, one build at a time"),
        (["a.json", "-j", "0"], "argument -j/--jobs: expected a number of builds of at least 1, not '0'"),
        (["a.json", "b.json", "--jobs", "two"], "expected a number of builds of at least 1, not 'two'"),
    ],
)
def test_options_that_cannot_apply_are_usage_errors(strategies, capsys, args, message):
    code, out, err = run(capsys, *args, "--json")
    assert code == 2 and message in err
    assert json.loads(out)["error"].startswith("usage: ")
    assert not (strategies / "_out").exists()


def test_one_file_prints_as_it_did_whatever_jobs_says(strategies, capsys):
    plain = run(capsys, "a.json")
    assert run(capsys, "a.json", "-j", "4") == plain
    assert plain[1].startswith("built: crate btc_usd, target binary, opt level release\n")


class Handle:
    """A compiler handle that records the thread of each use, to check that a
    handle is used only by the thread that made it and that each worker has one.
    Only the records outlive it: the handle itself goes with its thread.
    Threads are recorded as objects: an ended thread's ident may be reused."""

    records = []

    def __init__(self):
        self.real = velkor_compile.Compiler()
        self.record = {"thread": threading.current_thread(), "uses": []}
        Handle.records.append(self.record)

    def command(self, text, **stop):
        self.record["uses"].append(threading.current_thread())
        return self.real.command(text, **stop)


@pytest.mark.parametrize("jobs, files", [(1, 3), (2, 3), (3, 3), (8, 2)])
def test_each_worker_thread_builds_on_a_handle_of_its_own(strategies, capsys, monkeypatch, unraisable, jobs, files):
    Handle.records = []
    monkeypatch.setattr(commands_shared, "Compiler", Handle)
    names = ["a.json", "b.json", "c.json"][:files]
    assert run(capsys, *names, "-j", str(jobs))[0] == 0
    checker, *workers = Handle.records
    assert len(workers) == min(jobs, files)  # never more workers than files
    assert sum(len(record["uses"]) for record in workers) == files  # one build each, the checks on the first handle
    assert len(checker["uses"]) == files and checker["thread"] is threading.current_thread()
    for record in Handle.records:
        assert all(thread is record["thread"] for thread in record["uses"])
    assert len({id(record["thread"]) for record in workers}) == len(workers)
    assert unraisable == []  # no handle dropped on a thread other than its own


# A cargo that builds quickly for the crates in FAST and otherwise marks its
# start and waits for a signal, as a long build would.
SLOW_CARGO = """#!/bin/sh
name=$(sed -n 's/^name = "\\(.*\\)"$/\\1/p' Cargo.toml)
case " $FAST " in *" $name "*) mkdir -p target/release && echo built > target/release/$name; exit 0 ;; esac
touch "$STARTED/$name"
exec sleep 60
"""


def start_slow_run(strategies, fast, *args):
    """The CLI in a session of its own with SLOW_CARGO on PATH, SIGINT at its
    default whatever this process inherited."""
    stand_in(strategies / "bin", SLOW_CARGO)
    (strategies / "started").mkdir()
    env = dict(os.environ, PATH=f"{strategies / 'bin'}:{os.environ['PATH']}", STARTED=str(strategies / "started"),
               FAST=fast)
    return subprocess.Popen([*MODULE, "compile", *args], cwd=strategies, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, start_new_session=True,
                            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))


HALF_BUILT = "interrupted; the build in _out/{} is left half-built"


@pytest.mark.parametrize(
    "fast, jobs, signum, expected",
    [
        # Interrupted during the first build: that one is half-built, the others never start.
        ("", "1", signal.SIGINT, {"a.json": HALF_BUILT.format("btc_usd"), "b.json": "not started (interrupted)",
                                  "c.json": "not started (interrupted)"}),
        # The first had finished: it is reported built; the second is stopped, the third never starts.
        ("btc_usd", "1", signal.SIGINT, {"a.json": "built _out/btc_usd/target/release/btc_usd",
                                         "b.json": HALF_BUILT.format("eth_usdt"),
                                         "c.json": "not started (interrupted)"}),
        # Builds on two workers at once, both stopped by SIGTERM to the command alone (cargo runs in
        # a group of its own, so only the handles can stop it).
        ("", "2", signal.SIGTERM, {"a.json": HALF_BUILT.format("btc_usd"), "b.json": HALF_BUILT.format("eth_usdt"),
                                   "c.json": "not started (interrupted)"}),
    ],
)
def test_an_interrupt_stops_every_build_and_reports_each_file(strategies, fast, jobs, signum, expected):
    run = start_slow_run(strategies, fast, "a.json", "b.json", "c.json", "-j", jobs)
    building = sum("half-built" in line for line in expected.values())
    while len(list((strategies / "started").iterdir())) < building:
        assert run.poll() is None, run.communicate()
        time.sleep(0.05)
    (os.killpg if signum == signal.SIGINT else os.kill)(run.pid, signum)  # SIGINT to the group, as Ctrl-C at a terminal
    out, err = run.communicate(timeout=60)
    assert run.returncode == (130 if signum == signal.SIGINT else 143), err
    assert set(out.splitlines()) == {f"{name}: crate {BUILT[name]}: {line}" for name, line in expected.items()}
    assert err.splitlines()[-1].startswith("velkor-compile: interrupted: ")
    started = sorted(path.name for path in (strategies / "started").iterdir())
    assert started == [BUILT[name] for name, line in expected.items() if line.startswith("interrupted")]
    shutil.rmtree(strategies / "bin")


def test_a_second_interrupt_still_waits_for_every_report(strategies):
    """However many interrupts come, the run ends only once each file is reported."""
    run = start_slow_run(strategies, "", "a.json", "b.json", "-j", "1")
    while not any((strategies / "started").iterdir()):
        assert run.poll() is None, run.communicate()
        time.sleep(0.05)
    os.kill(run.pid, signal.SIGINT)  # the CLI alone: cargo goes on
    os.kill(run.pid, signal.SIGINT)
    os.killpg(run.pid, signal.SIGINT)  # then cargo too
    out, err = run.communicate(timeout=60)
    assert run.returncode == 130 and "Traceback" not in err, err
    assert len(out.splitlines()) == 2 and out.splitlines()[1] == "b.json: crate eth_usdt: not started (interrupted)"
