"""Hint lines that the command line prints after an error message: what to do next.

The message itself is the compiler's, unchanged; a hint only adds a line. Each
rule looks at the message (for a failed build, the tail of cargo's standard
error that the message carries) and says how to get past the failure.
"""

from __future__ import annotations

import difflib
import re
from typing import Callable, List

from ._velkor_compile import PanicException
from .api import CompileError, version_info

STRAY_MCU = re.compile(r'^bad target: mcu "(?P<mcu>.*)" is not in the allowlist$')
MISSING_TARGET = re.compile(r"the `(?P<triple>[^`]+)` target may not be installed")
MISSING_CRATE = re.compile(r"no matching package named `(?P<crate>[^`]+)` found")
# What cargo prints when no registry answers (no network, a registry that is
# not configured, offline mode without the crates at hand).
NO_REGISTRY = re.compile(
    r"failed to download|[Cc]ould(?:n't| not) resolve host|failed to query replaced source registry|"
    r"[Uu]nable to update registry|failed to load source for dependency|--offline was specified"
)
# What generated projects depend on, the backtest crate's version as the core answers it.
DEPENDENCIES = (
    "generated projects take velkor-backtest {backtest_dep} and serde_json 1 (and wasm-bindgen 0.2 for wasm) "
    "from the crate registry cargo is configured to use"
)
OFFLINE = (
    "without internet, scripts/offline_cargo_setup.sh DIR (in the source checkout) prepares DIR for every "
    "target: `. DIR/env.sh`, then compile with --out-dir DIR/out (README: Targets)"
)
# What rustc says of a library another compiler built (a crate, or `core` in a
# sysroot): typically a folder that scripts/offline_cargo_setup.sh prepared,
# built with a cargo other than the one its env.sh selects.
OTHER_RUSTC = re.compile(r"compiled by an incompatible version of rustc|found invalid metadata files for crate")


def backtest_dep() -> str:
    """The version of the backtest crate that generated projects take, as the core answers it."""
    try:
        return version_info()["backtest_dep"]
    except (CompileError, PanicException):  # the hint goes without it rather than fail
        return "(version unknown)"


def hints(message: str, allowed_mcus: Callable[[], List[str]], backtest: Callable[[], str] = backtest_dep,
          mcu_from: str | None = None) -> list[str]:
    """The hint lines for an error message (none for most). `allowed_mcus` is
    asked for the allowlist only when the message is about an mcu, `backtest`
    for the backtest crate's version only when it is about the crates;
    `mcu_from` is the configuration file the mcu came from, when not from --mcu."""
    found: list[str] = []
    stray = STRAY_MCU.match(message)
    if stray is not None:
        allowed = allowed_mcus()
        close = difflib.get_close_matches(stray["mcu"], allowed, n=1)
        if mcu_from is not None:
            where = f"the mcu key of [tool.velkor-compile] in {mcu_from}"
            if close:
                found.append(f'did you mean mcu = "{close[0]}" ({where})?')
            found.append(f"{where} takes one of: " + ", ".join(allowed))
            return found
        if close:
            found.append(f"did you mean --mcu {close[0]}?")
        found.append("--mcu takes one of: " + ", ".join(allowed))
    if message.startswith("bad spec: ") and ("set `crate_name`" in message or "no crate_name" in message):
        found.append("name the crate with --crate-name NAME (a lowercase letter, then lowercase letters, digits or _)")
    if not message.startswith("build: "):
        return found
    if message.rstrip() == "build:":
        found.append("cargo failed without printing anything on stderr; run `cargo build` in the project "
                     "folder to see what it does")
    if message.startswith("build: spawning cargo: "):
        found.append("cargo is not on the PATH: install a Rust toolchain (rustup, or Debian's: README: Targets) "
                     "or add cargo's folder to PATH")
    for triple in dict.fromkeys(match["triple"] for match in MISSING_TARGET.finditer(message)):
        found.append(f"the standard library for {triple} is not installed: add it with `rustup target add {triple}`, "
                     "or without internet prepare a folder with scripts/offline_cargo_setup.sh (README: Targets)")
    missing = list(dict.fromkeys(match["crate"] for match in MISSING_CRATE.finditer(message)))
    unreachable = NO_REGISTRY.search(message) is not None and not missing
    if missing or unreachable:
        dependencies = DEPENDENCIES.format(backtest_dep=backtest())
        for crate in missing:
            found.append(f"cargo found no crate {crate} in the registry it searched: {dependencies}; {OFFLINE}")
        if unreachable:
            found.append(f"cargo could not reach a crate registry: {dependencies}; {OFFLINE}")
    if OTHER_RUSTC.search(message):
        found.append("a library was built by another rustc: in a folder that scripts/offline_cargo_setup.sh "
                     "prepared, run `. DIR/env.sh` first so that its cargo and rustc are used (README: Targets)")
    return found
