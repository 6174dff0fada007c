"""Long runs and many handles leave resident memory flat; "reset" and dropping
a handle really give loaded artifacts back. Measured in a fresh interpreter
(resident pages from /proc/self/statm), so nothing else of the test session
weighs on the numbers."""

import json
import pathlib
import textwrap

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
MB = 1 << 20

PRELUDE = f"""
import json, os, pathlib
from velkor_compile import Compiler

PAGE = os.sysconf("SC_PAGE_SIZE")

def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE

STRATEGY = json.loads(pathlib.Path({str(ROOT / "examples" / "ma_cross.json")!r}).read_text())
pathlib.Path("artifact.bin").write_bytes(os.urandom(4096))
DRY_RUN = json.dumps({{"cmd": "compile", "dry_run": True,
                       "spec": {{"strategy": STRATEGY, "target": {{"kind": "binary"}}}}}})
"""


def run_measurement(run_python, body):
    done = run_python(PRELUDE + textwrap.dedent(body), timeout=300)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.strip().splitlines()[-1])


def test_a_million_mixed_commands_through_one_handle(run_python):
    # One cycle: 1000 commands, mostly cheap ones, ten dry-run compiles, ten
    # artifact loads and ten missing files, ending with a reset so that every cycle
    # answers exactly the same texts.
    result = run_measurement(run_python, """
        cheap = ['{"cmd":"version"}', '{"cmd":"targets"}', 'not json', '{"cmd":"nope"}', '["version"]',
                 '{"cmd":"compile","spec":{}}', '{"cmd":"artifact_bytes"}']
        cycle = [DRY_RUN] * 10
        cycle += ['{"cmd":"artifact_bytes","path":"artifact.bin"}', '{"cmd":"artifact_bytes","path":"missing"}'] * 10
        cycle += [cheap[i % len(cheap)] for i in range(1000 - len(cycle) - 1)]
        cycle.append('{"cmd":"reset"}')
        handle = Compiler()
        expected = [handle.command(text) for text in cycle]
        wrong = 0
        samples = []
        for round in range(1000):
            answers = [handle.command(text) for text in cycle]
            wrong += answers != expected
            if round in (100, 999):
                samples.append(rss())
        print(json.dumps({"wrong": wrong, "after_warmup": samples[0], "at_end": samples[1]}))
    """)
    assert result["wrong"] == 0
    assert result["at_end"] - result["after_warmup"] < 4 * MB, result


def test_ten_thousand_handles_created_and_dropped(run_python):
    result = run_measurement(run_python, """
        def one_handle():
            handle = Compiler()
            loaded = json.loads(handle.command('{"cmd":"artifact_bytes","path":"artifact.bin"}'))
            assert loaded["handle"] == 0 and loaded["len"] == 4096, loaded
            handle.command(DRY_RUN)

        for _ in range(1000):
            one_handle()
        after_warmup = rss()
        for _ in range(10000):
            one_handle()
        print(json.dumps({"after_warmup": after_warmup, "at_end": rss()}))
    """)
    # 10,000 states each holding 4 KiB would keep about 40 MB if never freed.
    assert result["at_end"] - result["after_warmup"] < 4 * MB, result


@pytest.mark.parametrize("release", ["reset", "drop", "drop on another thread"])
def test_loaded_artifacts_are_freed(run_python, release):
    result = run_measurement(run_python, f"""
        with open("big.bin", "wb") as big:
            big.truncate(50 * 1024 * 1024)
        handle = Compiler()
        handle.command('{{"cmd":"artifact_bytes","path":"artifact.bin"}}')
        before = rss()
        for number in range(10):
            answer = json.loads(handle.command('{{"cmd":"artifact_bytes","path":"big.bin"}}'))
            assert answer["len"] == 50 * 1024 * 1024, answer
        loaded = rss()
        if {release!r} == "reset":
            assert handle.command('{{"cmd":"reset"}}') == '{{"ok":true}}'
            assert json.loads(handle.command('{{"cmd":"artifact_bytes","path":"artifact.bin"}}'))["handle"] == 0
        elif {release!r} == "drop":
            del handle
        else:
            # Reported through the unraisable hook, and still freed.
            import threading
            box = [handle]
            del handle
            worker = threading.Thread(target=box.clear)
            worker.start()
            worker.join()
        print(json.dumps({{"before": before, "loaded": loaded, "released": rss()}}))
    """)
    assert result["loaded"] - result["before"] > 450 * MB, result
    assert result["released"] - result["before"] < 8 * MB, result
