"""Fixtures shared by the Python tests of the extension module."""

import subprocess
import sys
import textwrap

import pytest

import velkor_compile


@pytest.fixture
def compiler():
    """A fresh handle owned by the test's (main) thread."""
    return velkor_compile.Compiler()


@pytest.fixture
def unraisable(monkeypatch):
    """Collects what reaches sys.unraisablehook during the test.

    Each entry is (exc_type, str(exc_value), object). Only plain values are
    kept, so the hook never holds on to a traceback or a dying object.
    """
    seen = []

    def hook(report):
        seen.append((report.exc_type, str(report.exc_value), report.object))

    monkeypatch.setattr(sys, "unraisablehook", hook)
    return seen


@pytest.fixture
def run_python(tmp_path):
    """Runs a script in a fresh interpreter and returns the completed process.

    Used for what must not happen in the test process itself: interpreter exit
    and address-space limits.
    """

    def run(source, timeout=120):
        script = tmp_path / "script.py"
        script.write_text(textwrap.dedent(source))
        return subprocess.run(
            [sys.executable, str(script)],
            cwd=tmp_path,
            capture_output=True,
            text=True,
            timeout=timeout,
        )

    return run
