"""The extension surface: argument binding, thread binding and what reaches
Python as an exception."""

import json
import threading

import pytest

from conftest import LIMIT_ADDRESS_SPACE, VERSION_ANSWER
from velkor_compile import Compiler, PanicException

VERSION_REQUEST = '{"cmd":"version"}'
SENT_TO_OTHER_THREAD = "_velkor_compile::PyCompiler is unsendable, but sent to another thread"
DROPPED_ON_OTHER_THREAD = "_velkor_compile::PyCompiler is unsendable, but is being dropped on another thread"


def on_thread(work):
    """Runs `work` on a new thread; returns its result or re-raises what it raised."""
    outcome = {}

    def run():
        try:
            outcome["result"] = work()
        except BaseException as raised:  # PanicException included
            outcome["raised"] = raised

    worker = threading.Thread(target=run)
    worker.start()
    worker.join()
    if "raised" in outcome:
        raise outcome["raised"]
    return outcome.get("result")


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        # The whole text reaches the core, not just up to a NUL character, and
        # non-ASCII text goes in and comes back as UTF-8.
        ((VERSION_REQUEST + "\x00",), {}, None,
         '{"ok":false,"error":"invalid command envelope: expected {\\"cmd\\":...}"}'),
        (('{"cmd":"\u00e9\u2713\U0001f600"}',), {}, None, '{"ok":false,"error":"unknown cmd: \u00e9\u2713\U0001f600"}'),
        ((), {}, TypeError, "command() missing 1 required positional argument: 'cmd_json'"),
        (("{}", "{}"), {}, TypeError, "command() takes 1 positional argument but 2 were given"),
        (("{}",), {"spec": 1}, TypeError, "command() got an unexpected keyword argument 'spec'"),
        ((b"{}",), {}, TypeError, "argument 'cmd_json': 'bytes' object is not an instance of 'str'"),
        # A stop is a callable or None (no stop).
        ((VERSION_REQUEST,), {"stop": None}, None, VERSION_ANSWER),
        (("{}",), {"stop": 5}, TypeError, "argument 'stop': must be callable or None"),
        (("{}",), {"stop": "x"}, TypeError, "argument 'stop': must be callable or None"),
        (('{"cmd":"version","x":"\udfff"}',), {}, UnicodeEncodeError, "surrogates not allowed"),
    ],
)
def test_arguments_and_text(compiler, args, kwargs, error, message):
    if error is None:
        assert compiler.command(*args, **kwargs) == message
        return
    with pytest.raises(error) as raised:
        compiler.command(*args, **kwargs)
    assert message in str(raised.value)
    # The exclusive-use flag must have been released on the way out.
    assert compiler.command(VERSION_REQUEST) == VERSION_ANSWER


def test_use_from_another_thread_panics_and_leaves_the_handle_usable(compiler, unraisable):
    for request in (VERSION_REQUEST, "not json", b"not even a str"):
        with pytest.raises(PanicException, match=SENT_TO_OTHER_THREAD):
            on_thread(lambda: compiler.command(request))
    assert compiler.command(VERSION_REQUEST) == VERSION_ANSWER
    # The C library reuses the identifier of a finished thread for the next one
    # it starts; that new thread must still be refused, as must the main one.
    box = [on_thread(Compiler)]
    for use in (on_thread, lambda work: work()):
        with pytest.raises(PanicException, match=SENT_TO_OTHER_THREAD):
            use(lambda: box[0].command(VERSION_REQUEST))
    on_thread(lambda: Compiler() and None)  # created and dropped on one worker: nothing to report
    # A drop on another thread is reported; the hook is given the handle's
    # type, since the handle itself is being freed.
    box.clear()
    assert unraisable == [(RuntimeError, DROPPED_ON_OTHER_THREAD, Compiler)]


ALLOCATION_FAULT = """
    import velkor_compile
    handle = velkor_compile.Compiler()
    request = '{"cmd":"compile","spec":{"strategy":"' + "x" * (200 << 20) + '"}}'
    EXTRA = 64 << 20  # not enough for another copy of the request""" + LIMIT_ADDRESS_SPACE + """
    try:
        handle.command(request)
        print("returned")
    except velkor_compile.PanicException as panic:
        print("panic:", bool(str(panic)))
    del request
    print(handle.command('{"cmd":"version"}'))
"""


def test_allocation_failure_in_the_core_panics_and_the_handle_stays_usable(run_python):
    done = run_python(ALLOCATION_FAULT)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["panic: True", VERSION_ANSWER]


@pytest.mark.parametrize(
    "body, dropped_on_other_thread",
    [
        ("handle = Compiler(); handle.command('{}')", False),
        ("box = []\nworker = threading.Thread(target=lambda: box.append(Compiler()))\nworker.start(); worker.join()",
         True),
        ("threading.Thread(target=lambda: (Compiler(), threading.Event().wait()), daemon=True).start()", False),
    ],
    ids=["global", "worker-created-global", "daemon-thread-holds-it"],
)
def test_handle_alive_at_interpreter_exit(run_python, body, dropped_on_other_thread):
    done = run_python("import threading\nfrom velkor_compile import Compiler\n" + body + "\nprint('end')\n")
    assert done.returncode == 0 and done.stdout == "end\n", done.stderr
    assert (DROPPED_ON_OTHER_THREAD in done.stderr) == dropped_on_other_thread, done.stderr


def test_loaded_artifacts_are_freed_when_dropped_on_another_thread(run_python):
    # Resident pages in a fresh interpreter: 500 MB loaded, then given back
    # although the drop is refused (and reported) on the foreign thread.
    # Reset and drops on the owning thread: bench/stress.py.
    done = run_python("""
        import json, os, threading
        from velkor_compile import Compiler
        rss = lambda: int(open("/proc/self/statm").read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
        open("big.bin", "wb").truncate(50 << 20)
        box = [Compiler()]
        before = rss()
        for number in range(10):
            box[0].command('{"cmd":"artifact_bytes","path":"big.bin"}')
        loaded = rss()
        worker = threading.Thread(target=box.clear)
        worker.start(), worker.join()
        print(json.dumps([before, loaded, rss()]))
    """, timeout=300)
    assert done.returncode == 0 and DROPPED_ON_OTHER_THREAD in done.stderr, done.stderr
    before, loaded, released = json.loads(done.stdout)
    assert loaded - before > 450 << 20 and released - before < 8 << 20, (before, loaded, released)
