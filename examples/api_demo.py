"""Check and dry-run compile every bundled strategy through the Pythonic API.

Shows `velkor_compile.validate`, `velkor_compile.compile` and `CompileError`:
each example is checked, compiled for every target kind without writing
anything, and a broken strategy is shown failing with its message.
"""

import pathlib
import sys

import velkor_compile
from velkor_compile import CompileError

EXAMPLES = pathlib.Path(__file__).resolve().parent
KINDS: tuple[velkor_compile.Target, ...] = ("wasm", "binary", "no_std")


def main() -> int:
    mcu = velkor_compile.targets()["mcus"][0]
    for path in sorted(EXAMPLES.glob("*.json")):
        velkor_compile.validate(path)
        for target in KINDS:
            answer = velkor_compile.compile(
                path,
                target=target,
                mcu=mcu if target == "no_std" else None,
                crate_name="example",
                dry_run=True,
            )
            manifest = answer["manifest"]
            print(f"{path.name:32} {target:7} spec {manifest['spec_hash'][:16]}  files {len(manifest['files'])}")
    try:
        velkor_compile.compile({"symbol": "BTC-USD"}, dry_run=True)
    except CompileError as error:
        print(f"a broken strategy fails as expected: [{error.kind}] {error.message}")
        return 0
    print("a broken strategy was accepted", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
