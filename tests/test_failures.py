"""Internal failures raised as PanicException, and a PanicException raised by
Python code that the module calls."""
import contextlib
import ctypes
import gc
import os
import subprocess
import sys
import sysconfig
import textwrap
import threading

import pytest

import _tavo

PANIC_DOC = (
    "\nThe exception raised when Vell code called from Python panics.\n\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n"
)

# Counts references by hand and holds the collector off: process-wide state.
pytestmark = pytest.mark.thread_unsafe(reason="edits reference counts by hand and holds the collector off")


class DistinctKey(str):
    """Same text as a plain key but a different dict key: both land on one
    key text, so the second replaces the first one's value in the output."""

    def __eq__(self, other):
        return type(other) is DistinctKey and str.__eq__(self, other)

    def __hash__(self):
        return hash(("distinct", str(self)))


# The reference count is read and written at the start of the object, which is
# where the default build keeps it; a free-threaded build lays its header out
# differently (thread id first, split counts), so the trick cannot work there.
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
DEFAULT_LAYOUT_ONLY = "counts references through the default build's object header"


def refcount_cell(obj_id):
    return ctypes.c_ssize_t.from_address(obj_id)


class Finalizer:
    """Runs `action` from its finalizer, which runs when the module releases
    the last counted reference to it."""

    kept = []

    def __init__(self, action):
        self.action = action
        self.ran = False

    def __del__(self):
        Finalizer.kept.append(self)  # stays alive
        refcount_cell(id(self)).value += 1  # the row's reference counts again
        self.ran = True
        self.action()


@contextlib.contextmanager
def row_changed_mid_walk(action):
    """A row {'a': F, DistinctKey('a'): 2, 'c': 3} in which F's only counted
    references are the module's own while it walks the row.

    Walking it, the module stores F as the latest value and in the output, then
    replaces both by 2; that last release runs F's finalizer, and with it
    `action(row)`, between two items of the walk. The row's own reference to F
    is left uncounted until the finalizer restores it, so nothing else holds F.
    """
    if FREE_THREADED:
        pytest.skip(DEFAULT_LAYOUT_ONLY)
    row = {}
    fin = Finalizer(lambda: action(row))
    row["a"] = fin
    row[DistinctKey("a")] = 2
    row["c"] = 3
    fin_id = id(fin)
    del fin
    was_enabled = gc.isenabled()
    gc.disable()
    refcount_cell(fin_id).value -= 1
    try:
        yield row
    finally:
        fin = row.get("a")
        if fin is not None and not fin.ran:
            refcount_cell(fin_id).value += 1  # never released: restore by hand
        Finalizer.kept.clear()
        if was_enabled:
            gc.enable()


def add_key(row):
    row["d"] = 4


def swap_key(row):
    del row[DistinctKey("a")]
    row["d"] = 4


def trigger_panic(action):
    with row_changed_mid_walk(action) as row:
        try:
            _tavo.backfill_iterdict([{"a": 0}, row])
        except BaseException as exc:  # noqa: B036 - the type is what is looked at
            return exc
    raise AssertionError("no failure was raised")


@pytest.fixture(scope="module")
def panic_type():
    return type(trigger_panic(add_key))


@pytest.mark.parametrize(
    "action, text",
    [
        (add_key, "dictionary changed size during iteration"),
        (swap_key, "dictionary keys changed during iteration"),
    ],
)
def test_row_changed_during_its_walk(action, text, capfd, panic_type):
    exc = trigger_panic(action)
    assert type(exc) is panic_type
    assert exc.args == (text,)
    assert str(exc) == text
    err = capfd.readouterr().err
    assert text in err  # the diagnostic written at the failure


def test_unchanged_row_with_the_same_setup_succeeds():
    # The same walk with a finalizer that changes nothing: no failure, and
    # the result is the ordinary one.
    with row_changed_mid_walk(lambda row: None) as row:
        result = _tavo.backfill_iterdict([row])
        assert result == [{"a": 2, "c": 3}]
        assert row["a"].ran


def test_panic_exception_type(panic_type):
    assert panic_type.__module__ == "lumo_runtime"
    assert panic_type.__name__ == "PanicException"
    assert panic_type.__qualname__ == "PanicException"
    assert panic_type.__doc__ == PANIC_DOC
    assert panic_type.__bases__ == (BaseException,)
    assert not issubclass(panic_type, Exception)
    assert not hasattr(_tavo, "PanicException")
    assert "PanicException" not in _tavo.__all__
    assert all(getattr(_tavo, name) is not panic_type for name in dir(_tavo))


def test_panic_is_not_caught_as_exception(panic_type):
    caught = None
    try:
        try:
            with row_changed_mid_walk(add_key) as row:
                _tavo.backfill_iterdict([row])
        except Exception:  # must not catch it
            caught = "Exception"
    except BaseException as exc:
        caught = type(exc)
    assert caught is panic_type


def test_same_type_for_every_failure(panic_type):
    assert type(trigger_panic(swap_key)) is panic_type


def test_failure_releases_what_the_call_held():
    value = object()
    before = sys.getrefcount(value)
    for _ in range(3):
        with row_changed_mid_walk(add_key) as row:
            with pytest.raises(BaseException, match="changed size"):
                _tavo.backfill_iterdict([{"a": value, "z": value}, {"z": None}, row])
    assert sys.getrefcount(value) == before


RESUME_LINES = (
    "--- Lumo is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n"
)


class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")


@pytest.mark.parametrize(
    "args, text",
    [(("boom from Python",), "boom from Python"), ((), ""), ((Unprintable(),), "Unwrapped panic from Python code")],
)
def test_panic_raised_by_python_code_resumes(panic_type, capfd, args, text):
    raised = []

    class Panicking:
        def __eq__(self, other):
            exc = panic_type(*args)
            raised.append(exc)
            raise exc

        __hash__ = None

    capfd.readouterr()
    with pytest.raises(panic_type) as info:
        _tavo.same_order([Panicking()], ["a"])
    assert info.value is not raised[0]  # a new exception
    assert info.value.args == (text,)
    err = capfd.readouterr().err
    start = err.index(RESUME_LINES)
    trace = err[start + len(RESUME_LINES):]
    assert trace.startswith("Traceback (most recent call last):")
    assert "in __eq__" in trace
    assert "PanicException" in trace


@pytest.mark.skipif(FREE_THREADED, reason=DEFAULT_LAYOUT_ONLY)
def test_panic_from_python_ends_the_process_when_uncaught():
    # Like SystemExit, nothing in between catches it as an Exception; the
    # interpreter exits with the traceback of the new exception.
    script = textwrap.dedent(
        """
        import sys
        sys.path.insert(0, sys.argv[1])
        import _tavo
        from test_failures import add_key, trigger_panic

        class Panicking:
            def __eq__(self, other):
                raise kind("deep trouble")

        kind = type(trigger_panic(add_key))
        try:
            _tavo.same_order([Panicking()], [1])
        except Exception:
            print("caught as Exception")
        print("not reached")
        """
    )
    here = os.path.dirname(os.path.abspath(__file__))
    proc = subprocess.run([sys.executable, "-c", script, here], capture_output=True, text=True, timeout=120)
    assert proc.returncode == 1
    assert "not reached" not in proc.stdout and "caught as Exception" not in proc.stdout
    assert RESUME_LINES in proc.stderr
    assert proc.stderr.rstrip().endswith("lumo_runtime.PanicException: deep trouble")


def _kernel_thread_name():
    with open(f"/proc/self/task/{threading.get_native_id()}/comm") as f:
        return f.read().rstrip("\n")


def test_diagnostic_names_the_thread(capfd):
    # The diagnostic starts with the name the kernel keeps for the thread
    # (at most 15 bytes), whatever it is, and where the failure happened.
    capfd.readouterr()
    trigger_panic(add_key)
    err = capfd.readouterr().err
    first = next(line for line in err.splitlines() if line.startswith("thread '"))
    assert first.startswith(f"thread '{_kernel_thread_name()}' failed at ")
    assert "backfill_iterdict" in first


@pytest.mark.skipif(FREE_THREADED, reason=DEFAULT_LAYOUT_ONLY)  # the skip inside the thread would be lost
def test_diagnostic_names_another_thread(capfd):
    # A thread named through the kernel (as prctl and pthread_setname_np do).
    libc = ctypes.CDLL(None)
    out = []

    def run():
        libc.prctl(15, b"tavo-worker-abc", 0, 0, 0)  # PR_SET_NAME
        out.append(_kernel_thread_name())
        trigger_panic(add_key)

    t = threading.Thread(target=run)
    capfd.readouterr()
    t.start()
    t.join()
    err = capfd.readouterr().err
    assert out == ["tavo-worker-abc"]
    assert "thread 'tavo-worker-abc' failed at " in err
