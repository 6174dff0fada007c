"""Time to artifact of real cargo builds through the command line, each step
beside cargo's own time for the same step in the same project.

The projects are built offline: ``scripts/offline_cargo_setup.sh DIR`` makes
DIR a place where generated binary projects build from Debian's crate
packages, and every project here is written below it. The cargo used is the
first of the one on PATH and Debian's /usr/bin/cargo that resolves a
generated project's dependencies from that set (rustup's cargo may come first
on PATH; Debian's fits the set by construction); its folder is put first on
PATH for every run, the command line's and cargo's alike.

Rows (release builds, the command line's default; "ours" is
``python -m velkor_compile compile ... -q``, process start included; "cargo"
is ``cargo build --release`` run directly in the project):

- cold: the first strategy, no target directory. cargo: the same project
  with its target directory removed.
- unchanged: the same strategy again. cargo: its no-op build.
- changed: the same crate with a changed strategy (another moving-average
  length). cargo: the crate rebuilt with its dependencies built (its source
  touched).
- new, shared target: a new strategy (another crate) with CARGO_TARGET_DIR
  shared with a project built before. cargo: that crate rebuilt there.
- new, sccache: a new strategy in a target directory of its own, with
  sccache as RUSTC_WRAPPER and the dependencies in its cache (a cache of the
  bench's own, filled by the cold build of another project). cargo: the same
  project built again from an empty target directory.
- N strategies, -j 1 and -j on all cores: N new crates, each in its own
  target directory (with sccache warm when installed, else cold). cargo: the
  same N builds one at a time, and as many at a time as there are cores.

Targets, from the ratios of this one run: unchanged at most 2x cargo's no-op
plus 50 ms; changed and new (dependencies built) at most 1.2x cargo's build
of that crate; -j on 2 cores at least 1.6x the throughput of -j 1. The
sccache rows are skipped (n/a) when sccache is not on PATH or beside this
interpreter.

--smoke runs every step with a stand-in cargo that writes the artifact (no
toolchain, no offline set-up, no sccache, N=2): a check that the script
runs, whose numbers mean nothing.

Usage: python bench/build_bench.py [--strategies N] [--smoke] [--keep DIR]
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass

ROOT = pathlib.Path(__file__).resolve().parents[1]
EXAMPLE = ROOT / "examples" / "ma_cross.json"
SETUP = ROOT / "scripts" / "offline_cargo_setup.sh"
CLI = [sys.executable, "-m", "velkor_compile", "compile"]
CARGO_BUILD = ["cargo", "build", "--release"]

SCCACHE_PORT = 4331 + os.getpid() % 1000

STAND_IN_CARGO = """#!/bin/sh
name=$(sed -n 's/^name = "\\(.*\\)"$/\\1/p' Cargo.toml)
mkdir -p target/release && echo built > "target/release/$name"
"""


@dataclass
class Row:
    step: str
    ours: float | None
    cargo: float | None
    target: str = ""
    verdict: str = ""
    note: str = ""

    @property
    def ratio(self) -> float | None:
        if self.ours is None or not self.cargo:
            return None
        return self.ours / self.cargo


class Bench:
    def __init__(self, root: pathlib.Path, env: dict[str, str], cores: int) -> None:
        self.root = root
        self.env = env
        self.cores = cores
        self.strategies = root / "strategies"
        self.strategies.mkdir(parents=True, exist_ok=True)

    def strategy(self, symbol: str, fast: int = 20) -> pathlib.Path:
        document = json.loads(EXAMPLE.read_text())
        document["symbol"] = symbol
        document["indicators"]["sma_fast"]["params"] = [fast]
        path = self.strategies / f"{symbol.lower()}-{fast}.json"
        path.write_text(json.dumps(document, indent=2))
        return path

    @staticmethod
    def crate(symbol: str) -> str:
        return symbol.lower().replace("-", "_")

    def ours(self, files: list[pathlib.Path], out: pathlib.Path, *options: str,
             env: dict[str, str] | None = None) -> tuple[float, str]:
        """Wall time of one command line, and its failure's message ('' when it succeeded)."""
        started = time.monotonic()
        done = subprocess.run([*CLI, *map(str, files), "--out-dir", str(out), "-q", *options], cwd=self.root,
                              env=env or self.env, capture_output=True, text=True)
        elapsed = time.monotonic() - started
        return elapsed, "" if done.returncode == 0 else (done.stderr.strip().splitlines() or ["?"])[0]

    def cargo(self, project: pathlib.Path, env: dict[str, str] | None = None) -> float:
        started = time.monotonic()
        done = subprocess.run(CARGO_BUILD, cwd=project, env=env or self.env, capture_output=True, text=True)
        elapsed = time.monotonic() - started
        if done.returncode != 0:
            raise SystemExit(f"cargo build failed in {project}:\n{done.stderr[-2000:]}")
        return elapsed

    def cargo_many(self, projects: list[pathlib.Path], jobs: int, env: dict[str, str] | None = None) -> float:
        started = time.monotonic()
        with ThreadPoolExecutor(max_workers=jobs) as pool:
            list(pool.map(lambda project: self.cargo(project, env), projects))
        return time.monotonic() - started


def touch(project: pathlib.Path) -> None:
    os.utime(project / "src" / "main.rs")


def at_most(row: Row, factor: float, plus: float = 0.0) -> Row:
    row.target = f"<= {factor:g}x cargo" + (f" + {plus * 1000:.0f} ms" if plus else "")
    if row.ours is None or row.cargo is None:
        row.verdict = "n/a"
    elif row.note.startswith("failed"):
        row.verdict = "FAIL"
    else:
        row.verdict = "PASS" if row.ours <= factor * row.cargo + plus else "FAIL"
    return row


def failed(message: str) -> str:
    return f"failed: {message[:90]}" if message else ""


def run(bench: Bench, count: int, sccache: str | None, smoke: bool) -> list[Row]:
    out = bench.root / "out"
    rows: list[Row] = []
    first = bench.strategy("BTC-USD")
    project = out / bench.crate("BTC-USD")

    ours, message = bench.ours([first], out)
    shutil.rmtree(project / "target")
    rows.append(Row("cold: first strategy", ours, bench.cargo(project), note=failed(message)))

    ours, message = bench.ours([first], out)
    cargo = bench.cargo(project)
    rows.append(at_most(Row("unchanged: same strategy again", ours, cargo, note=failed(message)), 2, 0.05))

    ours, message = bench.ours([bench.strategy("BTC-USD", fast=21)], out)
    touch(project)
    rows.append(at_most(Row("changed: same crate, new strategy", ours, bench.cargo(project), note=failed(message)),
                        1.2))

    # A shared target directory, warmed by the first project's build there.
    shared_env = dict(bench.env, CARGO_TARGET_DIR=str(bench.root / "shared-target"))
    bench.cargo(project, shared_env)
    ours, message = bench.ours([bench.strategy("ETH-USD")], out, env=shared_env)
    new_project = out / bench.crate("ETH-USD")
    touch(new_project)
    rows.append(at_most(Row("new: deps built, shared target dir", ours, bench.cargo(new_project, shared_env),
                            note=failed(message)), 1.2))

    cache_env = None
    if sccache is not None:
        # A server and a cache of the bench's own: another user's server on the default port is left alone.
        cache_env = dict(bench.env, RUSTC_WRAPPER=sccache, SCCACHE_DIR=str(bench.root / "sccache"),
                         SCCACHE_CACHE_SIZE="2G", SCCACHE_SERVER_PORT=str(SCCACHE_PORT))
        subprocess.run([sccache, "--stop-server"], env=cache_env, capture_output=True)
        warm = bench.strategy("SOL-USD")
        bench.ours([warm], out, env=cache_env)  # fills the cache: the dependencies' rustc outputs
        ours, message = bench.ours([bench.strategy("ADA-USD")], out, env=cache_env)
        new_project = out / bench.crate("ADA-USD")
        shutil.rmtree(new_project / "target")
        rows.append(at_most(Row("new: deps in sccache, own target dir", ours, bench.cargo(new_project, cache_env),
                                note=failed(message)), 1.2))
    else:
        rows.append(at_most(Row("new: deps in sccache, own target dir", None, None,
                                note="smoke run" if smoke else "sccache not installed"), 1.2))

    # N new crates, each with its own target directory.
    many_env = cache_env or bench.env
    files = [bench.strategy(f"N{n}-USD") for n in range(count)]
    projects = [out / bench.crate(f"N{n}-USD") for n in range(count)]
    times, cargo_times = {}, {}
    for jobs in (1, bench.cores):
        for project in projects:
            shutil.rmtree(project, ignore_errors=True)
        ours, message = bench.ours(files, out, "-j", str(jobs), env=many_env)
        for project in projects:
            shutil.rmtree(project / "target")
        cargo = bench.cargo_many(projects, jobs, many_env)
        times[jobs], cargo_times[jobs] = ours, cargo
        label = "sccache warm" if cache_env else "cold"
        rows.append(Row(f"{count} strategies, -j {jobs} ({label})", ours, cargo, note=failed(message)))
    if cache_env is not None:
        subprocess.run([sccache, "--stop-server"], env=cache_env, capture_output=True)
    speedup = times[1] / times[bench.cores] if times[bench.cores] else 0.0
    row = rows[-1]
    # cargo's own gain from running side by side says how free the cores were.
    cargo_speedup = cargo_times[1] / cargo_times[bench.cores] if cargo_times[bench.cores] else 0.0
    row.target = f">= 1.6x -j 1 throughput ({speedup:.2f}x; cargo's {cargo_speedup:.2f}x)"
    row.verdict = "n/a" if bench.cores < 2 else ("PASS" if speedup >= 1.6 and not row.note else "FAIL")
    if bench.cores < 2:
        row.note = "one core: nothing to run side by side"
    return rows


def print_table(rows: list[Row], header: str) -> None:
    print(header)
    print()
    print("| step | ours (s) | cargo (s) | ratio | target | verdict | note |")
    print("|---|---:|---:|---:|---|---|---|")
    for row in rows:
        ours = f"{row.ours:.2f}" if row.ours is not None else "-"
        cargo = f"{row.cargo:.2f}" if row.cargo is not None else "-"
        ratio = f"{row.ratio:.2f}x" if row.ratio is not None else "-"
        print(f"| {row.step} | {ours} | {cargo} | {ratio} | {row.target or '-'} | {row.verdict or '-'} | "
              f"{row.note} |")
    print()
    print("targets")
    for row in rows:
        if row.verdict:
            print(f"  {row.step}: {row.target} {row.verdict}")


def find_cargo(root: pathlib.Path, env: dict[str, str]) -> str:
    """The first cargo that resolves a generated project's dependencies from the offline set."""
    probe = root / "probe"
    candidates = [found for found in (shutil.which("cargo", path=env["PATH"]), "/usr/bin/cargo")
                  if found and os.access(found, os.X_OK)]
    # Write the project without building it: a cargo that fails at once.
    fake = root / "no-cargo"
    fake.mkdir(exist_ok=True)
    (fake / "cargo").write_text("#!/bin/sh\nexit 1\n")
    (fake / "cargo").chmod(0o755)
    subprocess.run([*CLI, str(EXAMPLE), "--out-dir", str(probe), "--crate-name", "probe", "-q"],
                   env=dict(env, PATH=f"{fake}:{env['PATH']}"), capture_output=True)
    for cargo in candidates:
        done = subprocess.run([cargo, "generate-lockfile", "--offline"], cwd=probe / "probe", env=env,
                              capture_output=True, text=True)
        if done.returncode == 0:
            return cargo
    raise SystemExit(f"no cargo among {candidates} builds from the offline set in {root}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--strategies", type=int, metavar="N",
                        help="how many strategies the -j rows build (default 4 with sccache, else 2)")
    parser.add_argument("--smoke", action="store_true", help="a stand-in cargo, to check that the script runs")
    parser.add_argument("--keep", metavar="DIR", help="work in DIR and leave it (default: a temporary folder)")
    args = parser.parse_args()
    cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else (os.cpu_count() or 1)
    if args.smoke:
        cores = max(cores, 2)  # the same rows on any machine
    work = pathlib.Path(args.keep) if args.keep else pathlib.Path(tempfile.mkdtemp(prefix="build-bench-"))
    work.mkdir(parents=True, exist_ok=True)
    work = work.resolve()
    env = dict(os.environ, CARGO_TERM_COLOR="never")
    env.pop("CARGO_TARGET_DIR", None)
    env.pop("RUSTC_WRAPPER", None)
    try:
        if args.smoke:
            bin_dir = work / "stand-in"
            bin_dir.mkdir(exist_ok=True)
            (bin_dir / "cargo").write_text(STAND_IN_CARGO)
            (bin_dir / "cargo").chmod(0o755)
            env["PATH"] = f"{bin_dir}:{env['PATH']}"
            sccache, cargo, version = None, "a stand-in", "stand-in"
        else:
            # Binary builds only: no sysroot for an MCU is needed.
            subprocess.run(["sh", str(SETUP), "--mcu", "none", str(work)], check=True, stdout=subprocess.DEVNULL)
            cargo = find_cargo(work, env)
            env["PATH"] = f"{os.path.dirname(cargo)}:{env['PATH']}"
            version = subprocess.run([cargo, "--version"], capture_output=True, text=True, env=env).stdout.strip()
            beside = pathlib.Path(sys.executable).parent / "sccache"
            sccache = shutil.which("sccache", path=env["PATH"]) or (str(beside) if beside.exists() else None)
        count = args.strategies or (4 if sccache else 2)
        rows = run(Bench(work, env, cores), count, sccache, args.smoke)
        header = (f"build bench: {cores} cores, {version} ({cargo}), "
                  f"sccache {'at ' + sccache if sccache else 'not used'}, Python {sys.version.split()[0]}"
                  + (" -- smoke run with a stand-in cargo: the times mean nothing" if args.smoke else ""))
        print_table(rows, header)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
