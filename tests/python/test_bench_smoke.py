"""The compile benchmark still runs end to end on small inputs: it measures
every contender, finds the product's answers successful and prints its table
and targets. Its numbers are not checked here; they belong to the benchmark."""

import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
SCRIPT = ROOT / "bench" / "compile_bench.py"


@pytest.fixture(scope="module")
def quick_run():
    return subprocess.run(
        [sys.executable, str(SCRIPT), "--quick"],
        cwd=ROOT,
        capture_output=True,
        text=True,
        timeout=120,
    )


def test_quick_run_exits_cleanly(quick_run):
    assert quick_run.returncode == 0, quick_run.stderr[-2000:]


@pytest.mark.parametrize(
    "expected",
    [
        # The table and its rows: a workload or contender dropped from the run.
        "workload               contender  runs",
        "small strategy",
        "10000 indicators",
        "nested 127 levels",
        "inline 1 MB",
        "csv 1 MB",
        "20000 keys",
        "20000 colliding keys",
        # The reference no longer doing the product's work.
        "reference digests (spec hash and data files) equal the product's on every workload",
        # The per-call and linearity lines, and the targets with a verdict each.
        "small strategy dry run:",
        '{"cmd":"version"}:',
        "time per MB 1 MB / 0.1 MB",
        "keys sharing one std::hash value against ordinary keys",
        "\ntargets\n",
    ],
)
def test_quick_run_prints(quick_run, expected):
    assert expected in quick_run.stdout


def test_every_target_has_a_verdict(quick_run):
    targets = quick_run.stdout.split("\ntargets\n", 1)[-1].splitlines()
    verdicts = [line.split()[-1] for line in targets if line.startswith("  ") and not line.startswith("  (")]
    assert len(verdicts) == 8
    assert set(verdicts) <= {"PASS", "FAIL", "n/a"}
