"""One version everywhere: the answer the protocol fixes for "version", the
module, the installed distribution's metadata, the command line and the change
log's newest release."""

import importlib.metadata
import json
import pathlib
import re
import subprocess
import sys

import velkor_compile

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_every_version_is_the_protocols(tmp_path):
    cli = subprocess.run([sys.executable, "-m", "velkor_compile", "--version"], cwd=tmp_path,
                         capture_output=True, text=True, check=True)
    changelog = re.search(r"^## \[?(\d+\.\d+\.\d+)", (ROOT / "CHANGELOG.md").read_text(), re.MULTILINE)
    seen = {
        "version command": json.loads(velkor_compile.Compiler().command('{"cmd":"version"}'))["version"],
        "version()": velkor_compile.version(),
        "__version__": velkor_compile.__version__,
        "distribution metadata": importlib.metadata.version("velkor-compile"),
        "--version": cli.stdout.removeprefix("velkor-compile ").strip(),
        "CHANGELOG.md": changelog and changelog[1],
    }
    assert seen == dict.fromkeys(seen, "0.2.0")
