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
                     "peer digests (spec hash and data files) equal the product's on every workload"):
        assert expected in out
    targets = [line for line in out.split("\ntargets\n", 1)[1].splitlines() if line.startswith("  ") and "(" not in line[:4]]
    assert targets and all(line.split()[-1] in {"PASS", "FAIL", "n/a"} for line in targets)
