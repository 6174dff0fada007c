"""Compile a bundled example strategy for real and show what came out.

Builds examples/ma_cross.json as a native program (the "binary" target) with
cargo, offline: scripts/offline_cargo_setup.sh provides the crates the generated
project depends on from local sources, so no registry is needed. Prints the
manifest, the artifact path and what the program prints. Without cargo on this
machine, it shows a dry run instead.
"""

import json
import pathlib
import shutil
import subprocess
import sys

from velkor_compile import Compiler, version

ROOT = pathlib.Path(__file__).resolve().parents[1]
WORK = ROOT / "_demo"


def main() -> int:
    compiler = Compiler()
    print("velkor_compile", version())
    print("targets:", compiler.command('{"cmd":"targets"}'))

    strategy = json.loads((ROOT / "examples" / "ma_cross.json").read_text())
    request: dict[str, object] = {
        "cmd": "compile",
        "spec": {"strategy": strategy, "target": {"kind": "binary"}, "opt_level": "debug"},
        "out_dir": str(WORK / "out"),
    }
    if shutil.which("cargo") is None:
        print("cargo is not installed: showing a dry run")
        request["dry_run"] = True
    else:
        subprocess.run(["bash", str(ROOT / "scripts" / "offline_cargo_setup.sh"), str(WORK)], check=True,
                       stdout=subprocess.DEVNULL)
        print("building with cargo (offline) ...", flush=True)

    answer = json.loads(compiler.command(json.dumps(request)))
    if answer.get("ok") is False:
        print("error:", answer["error"], file=sys.stderr)
        return 1
    print("manifest:")
    print(json.dumps(answer["manifest"], indent=2))
    if answer["built"]:
        print("artifact:", answer["path"])
        run = subprocess.run([answer["path"]], capture_output=True, text=True, check=True)
        print("the program prints:")
        print(run.stdout, end="")
    return 0


if __name__ == "__main__":
    sys.exit(main())
