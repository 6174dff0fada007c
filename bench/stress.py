"""Long runs through the extension module: resident memory stays flat and the
answers never drift. Not part of the test suites (it runs for minutes); run it
after changes to the binding, the artifact cache or anything a command
allocates.

- "million commands": 1000 cycles of 1000 mixed commands through one handle
  (cheap commands, dry-run compiles, artifact loads, missing files, a reset at
  the end of each cycle, so every cycle answers the same texts);
- "10000 handles": handles created, used (an artifact load and a dry run) and
  dropped.

Each workload runs in a fresh interpreter (resident pages from
/proc/self/statm), so nothing else weighs on the numbers. Prints a table and
exits 1 when answers drifted or resident memory grew by 4 MB or more after the
warm-up.

Usage: python bench/stress.py [--cycles N] [--handles N]
"""

from __future__ import annotations

import argparse
import json
import pathlib
import subprocess
import sys
import tempfile
import textwrap
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
MB = 1 << 20
LIMIT = 4 * MB

PRELUDE = f"""
import json, os, pathlib, sys
from velkor_compile import Compiler

PAGE = os.sysconf("SC_PAGE_SIZE")

def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE

STRATEGY = json.loads(pathlib.Path({str(ROOT / "examples" / "ma_cross.json")!r}).read_text())
pathlib.Path("artifact.bin").write_bytes(os.urandom(4096))
DRY_RUN = json.dumps({{"cmd": "compile", "dry_run": True,
                       "spec": {{"strategy": STRATEGY, "target": {{"kind": "binary"}}}}}})
N = int(sys.argv[1])
"""

MILLION_COMMANDS = """
cheap = ['{"cmd":"version"}', '{"cmd":"targets"}', 'not json', '{"cmd":"nope"}', '["version"]',
         '{"cmd":"compile","spec":{}}', '{"cmd":"artifact_bytes"}']
cycle = [DRY_RUN] * 10
cycle += ['{"cmd":"artifact_bytes","path":"artifact.bin"}', '{"cmd":"artifact_bytes","path":"missing"}'] * 10
cycle += [cheap[i % len(cheap)] for i in range(1000 - len(cycle) - 1)]
cycle.append('{"cmd":"reset"}')
handle = Compiler()
expected = [handle.command(text) for text in cycle]
wrong = 0
after_warmup = None
for round in range(N):
    wrong += [handle.command(text) for text in cycle] != expected
    if round == N // 10:
        after_warmup = rss()
print(json.dumps({"commands": N * len(cycle), "wrong": wrong, "after_warmup": after_warmup, "at_end": rss()}))
"""

MANY_HANDLES = """
def one_handle():
    handle = Compiler()
    loaded = json.loads(handle.command('{"cmd":"artifact_bytes","path":"artifact.bin"}'))
    assert loaded["handle"] == 0 and loaded["len"] == 4096, loaded
    handle.command(DRY_RUN)

for _ in range(N // 10):
    one_handle()
after_warmup = rss()
for _ in range(N):
    one_handle()
print(json.dumps({"commands": 2 * N, "wrong": 0, "after_warmup": after_warmup, "at_end": rss()}))
"""


def measure(body: str, n: int, workdir: pathlib.Path) -> dict:
    script = workdir / "stress_run.py"
    script.write_text(PRELUDE + textwrap.dedent(body))
    started = time.perf_counter()
    done = subprocess.run([sys.executable, str(script), str(n)], cwd=workdir, capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"stress run failed:\n{done.stderr}")
    result = json.loads(done.stdout.strip().splitlines()[-1])
    result["seconds"] = time.perf_counter() - started
    return result


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cycles", type=int, default=1000, help="cycles of 1000 commands (default 1000)")
    parser.add_argument("--handles", type=int, default=10000, help="handles created and dropped (default 10000)")
    args = parser.parse_args()
    failed = False
    print(f"{'workload':<18} {'commands':>10} {'wrong':>6} {'RSS growth':>12} {'seconds':>8}  verdict")
    with tempfile.TemporaryDirectory() as scratch:
        for name, body, n in [("million commands", MILLION_COMMANDS, args.cycles),
                              ("10000 handles", MANY_HANDLES, args.handles)]:
            result = measure(body, n, pathlib.Path(scratch))
            growth = result["at_end"] - result["after_warmup"]
            ok = result["wrong"] == 0 and growth < LIMIT
            failed |= not ok
            print(f"{name:<18} {result['commands']:>10} {result['wrong']:>6} {growth / MB:>9.2f} MB "
                  f"{result['seconds']:>8.1f}  {'PASS' if ok else 'FAIL'}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
