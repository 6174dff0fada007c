"""The package's types as a user's type checker sees them: mypy --strict passes
on the installed package and the examples, and the stubs are precise enough to
catch misuse (an untyped module would let every row of the misuse table pass)."""

import subprocess
import sys

import pytest

from conftest import EXAMPLES

pytest.importorskip("mypy")

MISUSE = {
    "command answers str": 'n: int = velkor_compile.Compiler().command("{}")',
    "command takes str": "velkor_compile.Compiler().command(b'{}')",
    "validate answers None": 'ok: bool = velkor_compile.validate("s.json")',
    "keyword-only options": 'velkor_compile.compile("s.json", "wasm")',
    "schema names": 'velkor_compile.schema("manifest")',
    "targets lists": 'velkor_compile.targets()["mcus"].upper()',
    "target names": 'velkor_compile.compile("s.json", target="armv7")',
    "opt level names": 'velkor_compile.compile("s.json", opt_level="fastest")',
    "answer members": 'velkor_compile.compile("s.json")["manifestt"]',
    "file entry types": 'velkor_compile.compile("s.json")["manifest"]["files"][0]["bytes_len"].upper()',
    "version members": 'velkor_compile.version_info()["versoin"]',
}

# Uses that must pass: the members a caller reads, with their types.
PROPER = """
import velkor_compile

answer = velkor_compile.compile("s.json", target="no_std", mcu="thumbv6m-none-eabi", opt_level="size")
size: int = answer["manifest"]["files"][0]["bytes_len"]
artifact: str | None = answer.get("path")
mcu: str | None = answer["manifest"]["target"].get("mcu")
built: bool = answer["built"]
dep: str = velkor_compile.version_info()["backtest_dep"]
kinds: list[str] = velkor_compile.targets()["targets"]
level: velkor_compile.OptLevel = "debug"
"""


def mypy(tmp_path, *args):
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir",
                           str(tmp_path / "cache"), *args], cwd=tmp_path, capture_output=True, text=True, timeout=600)


def test_strict_passes_and_stubs_catch_misuse(tmp_path):
    run = mypy(tmp_path, "-p", "velkor_compile")
    assert run.returncode == 0, run.stdout + run.stderr
    lines = ["import velkor_compile", ""]
    for name, statement in MISUSE.items():
        lines += [f"# {name}", statement]
    (tmp_path / "misuse.py").write_text("\n".join(lines) + "\n")
    (tmp_path / "proper.py").write_text(PROPER)
    run = mypy(tmp_path, *map(str, sorted(EXAMPLES.glob("*.py"))), "misuse.py", "proper.py")
    errors = [line for line in run.stdout.splitlines() if ": error:" in line]
    # The examples and the proper uses pass; each misuse line is flagged.
    assert errors and all(line.startswith("misuse.py:") for line in errors), run.stdout + run.stderr
    flagged = {int(line.split(":")[1]) for line in errors}
    for number, name in enumerate(MISUSE):
        assert 4 + 2 * number in flagged, f"{name} not flagged:\n{run.stdout}"
