"""The extension surface: module members, argument binding, thread binding and
what reaches Python as an exception."""

import importlib
import importlib.util
import json
import threading

import pytest

import velkor_compile
from velkor_compile import Compiler, PanicException
from velkor_compile import _velkor_compile as native

VERSION_REQUEST = '{"cmd":"version"}'
VERSION_RESPONSE = '{"version":"0.2.0","backtest_dep":"0.1.5"}'
ENVELOPE_ERROR = '{"ok":false,"error":"invalid command envelope: expected {\\"cmd\\":...}"}'
SENT_TO_OTHER_THREAD = "_velkor_compile::PyCompiler is unsendable, but sent to another thread"
DROPPED_ON_OTHER_THREAD = (
    "_velkor_compile::PyCompiler is unsendable, but is being dropped on another thread"
)

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
    "request_text, response",
    [
        # The whole text reaches the core, not just up to a NUL character, and
        # non-ASCII text goes in and comes back as UTF-8.
        (VERSION_REQUEST + "\x00", ENVELOPE_ERROR),
        ('{"cmd":"v\u00e9rsion\u2713\U0001f600"}',
         '{"ok":false,"error":"unknown cmd: v\u00e9rsion\u2713\U0001f600"}'),
    ],
)
def test_text_crosses_whole(compiler, request_text, response):
    assert compiler.command(request_text) == response


# --- argument binding -----------------------------------------------------


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((), {}, TypeError, "command() missing 1 required positional argument: 'cmd_json'"),
        (("{}", "{}"), {}, TypeError, "command() takes 1 positional argument but 2 were given"),
        (("{}",), {"spec": 1}, TypeError, "command() got an unexpected keyword argument 'spec'"),
        ((b"{}",), {}, TypeError, "argument 'cmd_json': 'bytes' object is not an instance of 'str'"),
        (('{"cmd":"version","x":"\udfff"}',), {}, UnicodeEncodeError, "surrogates not allowed"),
    ],
)
def test_bad_arguments_raise_and_leave_the_handle_usable(compiler, args, kwargs, error, message):
    reference = Compiler().command(VERSION_REQUEST)
    with pytest.raises(error) as raised:
        compiler.command(*args, **kwargs)
    assert message in str(raised.value)
    # The exclusive-use flag must have been released on the way out.
    assert compiler.command(VERSION_REQUEST) == reference


# --- PanicException ------------------------------------------------------


def test_panic_exception_is_one_class_per_interpreter():
    assert velkor_compile.PanicException is native.PanicException
    # A second instance of the native module in the same interpreter gets its
    # own Compiler type but must share the panic class, or `except` clauses
    # written against one instance would miss the other's panics.
    spec = importlib.util.spec_from_file_location(native.__name__, native.__file__)
    second = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(second)
    assert second is not native
    assert second.Compiler is not native.Compiler
    assert second.PanicException is native.PanicException
    # Reloading an initialised instance must not run its initialisation again.
    reloaded = importlib.reload(native)
    assert reloaded.Compiler is Compiler
    assert reloaded.PanicException is PanicException


SUBINTERPRETER_BODY = """
import os, velkor_compile
from velkor_compile import _velkor_compile as native
answer = velkor_compile.Compiler().command("not json")
shared = velkor_compile.PanicException is native.PanicException
os.write(WRITE_END, repr((shared, id(velkor_compile.PanicException), answer)).encode())
"""

SUBINTERPRETER = f"""
    import os
    import _xxsubinterpreters as interpreters
    import velkor_compile

    read_end, write_end = os.pipe()
    interpreter = interpreters.create()
    interpreters.run_string(interpreter, {SUBINTERPRETER_BODY!r}.replace("WRITE_END", str(write_end)))
    shared, panic_id, answer = eval(os.read(read_end, 4096))
    interpreters.destroy(interpreter)
    print(shared, panic_id != id(velkor_compile.PanicException),
          answer == velkor_compile.Compiler().command("not json"))
"""


def test_each_subinterpreter_has_its_own_panic_class(run_python):
    pytest.importorskip("_xxsubinterpreters")
    done = run_python(SUBINTERPRETER)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "True True True\n"


# --- thread binding ------------------------------------------------------


def test_use_from_another_thread_panics_and_leaves_the_handle_usable(compiler):
    before = compiler.command(VERSION_REQUEST)
    for request in (VERSION_REQUEST, "not json", b"not even a str"):
        with pytest.raises(PanicException) as raised:
            on_thread(lambda: compiler.command(request))
        assert str(raised.value) == SENT_TO_OTHER_THREAD
    assert compiler.command(VERSION_REQUEST) == before


def test_handle_of_a_finished_thread_is_not_adopted_by_a_new_thread(unraisable):
    # The C library reuses the identifier of a finished thread for the next one
    # it starts; that new thread must still be refused.
    box = [on_thread(Compiler)]
    with pytest.raises(PanicException, match=SENT_TO_OTHER_THREAD):
        on_thread(lambda: box[0].command(VERSION_REQUEST))
    with pytest.raises(PanicException, match=SENT_TO_OTHER_THREAD):
        box[0].command(VERSION_REQUEST)
    box.clear()
    assert unraisable == [(RuntimeError, DROPPED_ON_OTHER_THREAD, Compiler)]


def test_each_thread_with_its_own_handle_gets_its_own_answers():
    requests = [VERSION_REQUEST, "not json", '{"cmd":"targets"}', '{"cmd":"reset"}', '{"cmd":"nope"}'] * 20
    expected = [Compiler().command(text) for text in requests]
    barrier = threading.Barrier(8)

    def work(index, answers):
        handle = Compiler()
        barrier.wait()  # all handles alive and in use at once
        answers[index] = [handle.command(text) for text in requests]

    answers = {}
    workers = [threading.Thread(target=work, args=(index, answers)) for index in range(8)]
    [worker.start() for worker in workers]
    [worker.join() for worker in workers]
    assert answers == {index: expected for index in range(8)}


def create_here_drop_here():
    Compiler()


# Each scenario leaves `box` holding what the main thread drops afterwards
# (created on a worker and dropped on main: see the finished-thread test).
DROP_SCENARIOS = {
    "created on main, dropped on main": (lambda box: box.append(Compiler()), 0),
    "created on main, dropped on worker": (lambda box: (box.append(Compiler()), on_thread(box.clear)), 1),
    "created on worker, dropped on the same worker": (lambda box: on_thread(create_here_drop_here), 0),
}


@pytest.mark.parametrize("scenario", DROP_SCENARIOS)
def test_drop_on_a_foreign_thread_is_reported_as_unraisable(unraisable, scenario):
    arrange, reports = DROP_SCENARIOS[scenario]
    box = []
    arrange(box)
    box.clear()
    # The hook is given the handle's type: the handle itself is being freed.
    assert unraisable == [(RuntimeError, DROPPED_ON_OTHER_THREAD, Compiler)] * reports


# --- internal faults and interpreter exit ----------------------------------

ALLOCATION_FAULT = """
    import resource
    import velkor_compile

    handle = velkor_compile.Compiler()
    request = '{"cmd":"compile","spec":{"strategy":"' + "x" * (200 << 20) + '"}}'
    with open("/proc/self/status") as status:
        size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
    # Leave room for small allocations, not for another copy of the request.
    resource.setrlimit(resource.RLIMIT_AS, (size + (64 << 20), size + (64 << 20)))
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
    assert done.stdout.splitlines() == ["panic: True", VERSION_RESPONSE]


@pytest.mark.parametrize(
    "body, dropped_on_other_thread",
    [
        ("handle = Compiler(); handle.command('{}')", False),
        ("import threading\n"
         "box = []\n"
         "worker = threading.Thread(target=lambda: box.append(Compiler()))\n"
         "worker.start(); worker.join()", True),
        ("import threading\n"
         "never = threading.Event()\n"
         "def hold():\n"
         "    handle = Compiler(); never.wait()\n"
         "threading.Thread(target=hold, daemon=True).start()", False),
    ],
    ids=["global", "worker-created-global", "daemon-thread-holds-it"],
)
def test_handle_alive_at_interpreter_exit(run_python, body, dropped_on_other_thread):
    done = run_python("from velkor_compile import Compiler\n" + body + "\nprint('end')\n")
    assert done.returncode == 0, done.stderr
    assert done.stdout == "end\n"
    assert (DROPPED_ON_OTHER_THREAD in done.stderr) == dropped_on_other_thread, done.stderr


@pytest.mark.parametrize("release", ["reset", "drop", "drop on another thread"])
def test_loaded_artifacts_are_freed(run_python, release):
    # Resident pages in a fresh interpreter: 500 MB loaded, then given back.
    done = run_python(f"""
        import json, os, threading
        from velkor_compile import Compiler
        def rss():
            with open("/proc/self/statm") as statm:
                return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
        with open("big.bin", "wb") as big:
            big.truncate(50 << 20)
        handle = Compiler()
        handle.command('{{"cmd":"version"}}')
        before = rss()
        for number in range(10):
            assert json.loads(handle.command('{{"cmd":"artifact_bytes","path":"big.bin"}}'))["len"] == 50 << 20
        loaded = rss()
        if {release!r} == "reset":
            assert handle.command('{{"cmd":"reset"}}') == '{{"ok":true}}'
        else:  # a drop on another thread is reported through the unraisable hook, and still freed
            box = [handle]
            del handle
            worker = threading.Thread(target=box.clear if {release!r} != "drop" else None)
            worker.start()
            worker.join()
            box.clear()
        print(json.dumps([before, loaded, rss()]))
    """, timeout=300)
    assert done.returncode == 0, done.stderr
    before, loaded, released = json.loads(done.stdout.splitlines()[-1])
    assert loaded - before > 450 << 20 and released - before < 8 << 20, (before, loaded, released)
