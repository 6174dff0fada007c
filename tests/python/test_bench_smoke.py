"""The compile benchmark still runs end to end on small inputs: every contender
is measured, the product's answers and the peers' digests check out, and each
target gets a verdict. Its numbers are not checked: they belong to the bench."""

import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_quick_run_measures_every_contender_and_gives_verdicts():
    done = subprocess.run(
        [sys.executable, str(ROOT / "bench" / "compile_bench.py"), "--quick"],
        cwd=ROOT, capture_output=True, text=True, timeout=300,
    )
    assert done.returncode == 0, done.stderr[-2000:]
    out = done.stdout
    for expected in ("inline 1 MB", "csv 1 MB", "20000 colliding keys", "small strategy dry run", '{"cmd":"version"}',
                     "compile --dry-run, in process", "compile --dry-run, process",
                     "peer digests (spec hash and data files) equal the product's on every workload"):
        assert expected in out
    targets = [line for line in out.split("\ntargets\n", 1)[1].splitlines() if line.startswith("  ") and "(" not in line[:4]]
    assert targets and all(line.split()[-1] in {"PASS", "FAIL", "n/a"} for line in targets)


BUILD_ROWS = ("cold: first strategy", "unchanged: same strategy again", "changed: same crate, new strategy",
              "new: deps built, shared target dir", "new: deps in sccache, own target dir",
              "2 strategies, -j 1", "2 strategies, -j 2")


def test_build_bench_smoke_run_fills_every_row_and_gives_verdicts():
    """With a stand-in cargo: every step runs through the command line and
    cargo alike, no step fails, and every target gets a verdict."""
    done = subprocess.run([sys.executable, str(ROOT / "bench" / "build_bench.py"), "--smoke"],
                          cwd=ROOT, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    table = [line for line in done.stdout.splitlines() if line.startswith("| ") and not line.startswith("| step")]
    assert [line.split(" | ")[0][2:] for line in table] == [row if "-j" not in row else row + (" (cold)")
                                                           for row in BUILD_ROWS]
    assert all("failed" not in line for line in table)
    timed = [line for line in table if "sccache" not in line]
    assert all(float(line.split(" | ")[1]) >= 0 and float(line.split(" | ")[2]) >= 0 for line in timed)  # every step timed
    verdicts = done.stdout.split("\ntargets\n", 1)[1].splitlines()
    assert len(verdicts) == 5 and all(line.split()[-1] in {"PASS", "FAIL", "n/a"} for line in verdicts)
