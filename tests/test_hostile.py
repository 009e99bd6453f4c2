"""Hostile objects beyond the catalogue: what the caller sees on standard error,
re-entrant calls, finalizers that change the input, exhausted memory.

The catalogue (call_catalogue.py, run by test_catalogue.py) holds the plain
cases: dunders that raise, answer odd types or NotImplemented, mutate the list
being processed, and self-containing lists for collapse.
"""
import gc
import os
import subprocess
import sys
import textwrap

import pytest

import _tavo
from hostile_kit import Answers, Boom, Mutating, RaisesPanic, hostile_str, is_panic, need, need_panic

RESUME_LINES = (
    "--- Lumo is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n"
)


def _panic_calls():
    text = "from a hostile method"
    return text, [
        ("same_order", lambda: _tavo.same_order([RaisesPanic(text)], ["a", "b"])),
        ("same_order", lambda: _tavo.same_order(["a"], [Answers(RaisesPanic(text))])),
        ("multikeysort", lambda: _tavo.multikeysort([{"k": (1,)}, {"k": Answers(RaisesPanic(text))}], "k")),
    ]


@pytest.mark.parametrize("index", range(3))
def test_panic_from_python_is_resumed(index, capfd):
    panic = need_panic()
    text, calls = _panic_calls()
    name, call = calls[index]
    need(name)
    with pytest.raises(BaseException) as info:
        call()
    assert is_panic(info.value, text)
    assert type(info.value) is panic
    # A new exception carrying the same text, after the two lines and the
    # printed traceback of the one Python raised.
    err = capfd.readouterr().err
    assert RESUME_LINES in err
    after = err.split(RESUME_LINES, 1)[1]
    assert "Traceback" in after and f"PanicException: {text}" in after


def test_panic_is_not_an_exception():
    need_panic()
    text, calls = _panic_calls()
    need("same_order")
    with pytest.raises(BaseException) as info:
        try:
            calls[0][1]()
        except Exception:  # noqa: BLE001 - must not catch it
            pytest.fail("PanicException was caught as an Exception")
    assert type(info.value).__module__ == "lumo_runtime"
    assert type(info.value).__doc__ == (
        "\nThe exception raised when Vell code called from Python panics.\n\n"
        "Like SystemExit, this exception is derived from BaseException so that\n"
        "it will typically propagate all the way through the stack and cause the\n"
        "Python interpreter to exit.\n"
    )


def test_panic_without_text():
    panic = need_panic()
    need("same_order")

    class Bare:
        def __eq__(self, other):
            raise panic

        __hash__ = object.__hash__

    with pytest.raises(BaseException) as info:
        _tavo.same_order([Bare()], [1])
    # Raised as a class there is no instance text: str() of a bare instance is ''.
    assert is_panic(info.value)
    assert str(info.value) in ("", "Unwrapped panic from Python code")


def test_panic_with_unprintable_text():
    panic = need_panic()
    need("same_order")

    class Unprintable:
        def __str__(self):
            raise Boom("str")

    class Eq:
        def __eq__(self, other):
            raise panic(Unprintable())

        __hash__ = object.__hash__

    with pytest.raises(BaseException) as info:
        _tavo.same_order([Eq()], [1])
    assert is_panic(info.value, "Unwrapped panic from Python code")


# --- keyword names whose str misbehaves -----------------------------------------


def test_unprintable_keyword_is_reported_unraisable():
    spy, calls = hostile_str("bogus")
    seen = []
    old = sys.unraisablehook
    sys.unraisablehook = lambda u: seen.append((u.exc_type, type(u.object)))
    try:
        with pytest.raises(TypeError) as info:
            _tavo.uncamel("x", **{spy: 1})
    finally:
        sys.unraisablehook = old
    assert str(info.value) == "uncamel() got an unexpected keyword argument '<unprintable SpyStr object>'"
    assert seen == [(Boom, type(spy))]
    assert calls == ["__str__"]


def test_keyword_matches_by_bytes_not_by_eq():
    need("uncamel")
    spy, calls = hostile_str("camel")
    assert _tavo.uncamel(**{spy: "aB"}) == "a_b"
    assert calls == []


# --- re-entrant calls ------------------------------------------------------------


def test_same_order_reentered_from_eq():
    need("same_order")
    ref, comp = [], ["a", "x", "b"]
    depth = [0]

    class Reenters:
        def __eq__(self, other):
            depth[0] += 1
            if depth[0] < 50:
                assert _tavo.same_order(ref, comp) in (True, False)
            return other == "x"

        __hash__ = object.__hash__

    ref.append(Reenters())
    assert _tavo.same_order(ref, comp) is True


def test_multikeysort_reentered_on_the_same_list():
    need("multikeysort")
    items = []
    state = {"inner": 0}

    class Reenters:
        def __init__(self, v):
            self.v = v

        def __lt__(self, other):
            if state["inner"] < 3:
                state["inner"] += 1
                assert _tavo.multikeysort(items, "k", True) is None
            return self.v < other.v

        def __gt__(self, other):
            return self.v > other.v

    items.extend({"k": Reenters(v)} for v in [5, 3, 9, 1, 7])
    out = _tavo.multikeysort(items, "k")
    # The inner in-place sorts reorder the list under the outer one; the outer
    # gathers from the list as it then is, so it returns five of its items.
    assert len(out) == 5 and {id(x) for x in out} <= {id(x) for x in items}


def test_multikeysort_inplace_with_list_cleared_keeps_it_empty():
    need("multikeysort")
    panic = need_panic()
    items = []
    items.extend({"k": Mutating(items.clear)} for _ in range(5))
    with pytest.raises(panic):
        _tavo.multikeysort(items, "k", True)
    assert items == []


def test_multikeysort_shrunk_in_extraction_leaves_the_list():
    need("multikeysort")
    items = []

    class Drops(dict):
        def __missing__(self, key):
            del items[-1]
            return 0

    keep = [{"k": 2}, Drops(), {"k": 1}, {"k": 0}]
    items.extend(keep)
    with pytest.raises(IndexError):
        _tavo.multikeysort(items, "k", True)
    assert items == keep[:3]


def test_hostile_keyboard_interrupt_in_same_order_propagates():
    need("same_order")

    class Interrupts:
        def __eq__(self, other):
            raise KeyboardInterrupt

        __hash__ = object.__hash__

    with pytest.raises(KeyboardInterrupt):
        _tavo.same_order([Interrupts()], [1])


def test_recursion_error_in_eq_propagates():
    need("same_order")

    class Deep:
        def __eq__(self, other):
            return self == other

        __hash__ = object.__hash__

    with pytest.raises(RecursionError):
        _tavo.same_order([Deep()], [1])


# --- finalizers that change rows while backfill_iterdict runs ----------------------


@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
def test_backfill_iterdict_under_finalizers_that_change_rows():
    need("backfill_iterdict")
    rows = [{f"k{j}": (None if (i + j) % 3 else i) for j in range(20)} for i in range(300)]
    target = [0]

    class Changes:
        def __init__(self):
            self.me = self  # a cycle: only the collector frees it

        def __del__(self):
            row = rows[target[0] % len(rows)]
            target[0] += 7
            row[f"x{target[0]}"] = None
            row.pop(next(iter(row)), None)

    old = gc.get_threshold()
    gc.set_threshold(1, 1, 1)
    try:
        for _ in range(20):
            for _ in range(200):
                Changes()
            try:
                out = _tavo.backfill_iterdict(rows)
            except BaseException as e:  # noqa: BLE001
                assert is_panic(e), repr(e)
                assert str(e) in ("dictionary changed size during iteration",
                                  "dictionary keys changed during iteration")
            else:
                assert len(out) == len(rows) and all(type(d) is dict for d in out)
    finally:
        gc.set_threshold(*old)
        gc.collect()


# --- exhausted memory -----------------------------------------------------------------

MEMORY_SCRIPT = textwrap.dedent(
    """
    import resource, sys, _tavo
    fn, size = sys.argv[1], int(sys.argv[2])
    arg = {
        "uncamel": lambda: "aB" * size,
        "underscore_to_camelcase": lambda: "a_" * size,
        "sanitize_vulgar_string": lambda: "1\u00bd" * size,
        "parse": lambda: "1" * size,
        "collapse": lambda: [[0] * size],
        "backfill": lambda: [None, 1] * size,
        "same_order": lambda: [0] * size,
    }[fn]()
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    import re
    with open("/proc/self/status") as f:
        vm = int(re.search(r"VmSize:\\s+(\\d+) kB", f.read()).group(1)) * 1024
    # Room for a little more than the input: the result cannot be built.
    resource.setrlimit(resource.RLIMIT_AS, (vm + 3 * size, hard))
    try:
        if fn == "same_order":
            _tavo.same_order(arg, arg)
        else:
            getattr(_tavo, fn)(arg)
        print("ok")
    except MemoryError:
        print("MemoryError")
    except BaseException as e:
        print(type(e).__module__ + "." + type(e).__name__ + ": " + str(e))
    """
)


@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
@pytest.mark.skipif(os.environ.get("TAVO_SANITIZED") == "1", reason="address limits do not mix with ASan")
@pytest.mark.parametrize("fn", ["uncamel", "underscore_to_camelcase", "sanitize_vulgar_string", "parse",
                                "collapse", "backfill", "same_order"])
def test_exhausted_memory_never_crashes(fn):
    need(fn)
    out = subprocess.run([sys.executable, "-c", MEMORY_SCRIPT, fn, str(20_000_000)],
                         capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stderr[-2000:]
    last = out.stdout.strip().splitlines()[-1]
    assert last in ("ok", "MemoryError",
                    "lumo_runtime.PanicException: Python API call failed",
                    "lumo_runtime.PanicException: memory allocation failed"), last


# --- collapse: cycles and shared containers at any depth and width --------------------


def _chain(depth, leaf=7):
    x = [leaf]
    for _ in range(depth):
        x = [x]
    return x


@pytest.mark.parametrize("depth", [1, 255, 256, 257, 100_000])
def test_collapse_shared_deep_containers_are_not_cycles(depth):
    need("collapse")
    d = _chain(depth)
    wide = list(range(5000))
    assert _tavo.collapse([d, d], (d,), [[d, wide], wide], wide) == [7] * 4 + wide * 3


@pytest.mark.parametrize("depth", [0, 10, 300, 100_000])
@pytest.mark.parametrize("width", [0, 1, 2000])
def test_collapse_cycle_closing_at_any_depth(depth, width):
    need("collapse")
    top = [0] * width
    inner = top
    for _ in range(depth):
        inner.append([1])
        inner = inner[-1]
    inner.append((2, top))
    with pytest.raises(ValueError):
        _tavo.collapse(top)
    top.clear()  # break the cycle for the collector


WIDE_CYCLE_SCRIPT = textwrap.dedent(
    """
    import re, resource, sys, _tavo
    width = int(sys.argv[1])
    x = [0] * width
    x.append(x)
    with open("/proc/self/status") as f:
        vm = int(re.search(r"VmSize:\\s+(\\d+) kB", f.read()).group(1)) * 1024
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (vm + 40 * width + (256 << 20), hard))
    try:
        _tavo.collapse(x)
        print("no error")
    except BaseException as e:
        print(type(e).__name__)
    """
)


@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
@pytest.mark.skipif(os.environ.get("TAVO_SANITIZED") == "1", reason="address limits do not mix with ASan")
@pytest.mark.parametrize("width", [10**5, 2 * 10**6])
def test_collapse_wide_self_containing_list_in_bounded_memory(width):
    # The repeat must be seen before the result holds many copies of the list:
    # a few times the list's own size is all the memory the call may take.
    need("collapse")
    out = subprocess.run([sys.executable, "-c", WIDE_CYCLE_SCRIPT, str(width)],
                         capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stderr[-2000:]
    assert out.stdout.strip() == "ValueError", out.stdout


# --- collections and finalizers that change the inputs in the middle of a call --------

import copy  # noqa: E402
import signal  # noqa: E402
import threading  # noqa: E402

import iter_models  # noqa: E402
from hostile_kit import Finalized, SlowEq, SlowStr, collections_run, finalized_str  # noqa: E402

FREED_KEY_SCRIPT = textwrap.dedent(
    """
    import _tavo, gc
    class K(str):
        def __del__(self): rows[3].clear()
    class V: pass
    k0 = K('a'); rows = [{k0: None}, {}, {}, {'a': V()}]; del k0
    keep = [{} for _ in range(200)]
    n = [0]
    def cb(phase, info):
        if phase == 'start':
            n[0] += 1
            if n[0] == 2: rows[0].clear()
    gc.callbacks.append(cb); gc.set_threshold(1)
    try:
        out = _tavo.backfill_iterdict(rows)
    except BaseException as e:
        print(type(e).__name__, e)
    else:
        print(len(out), all(type(d) is dict for d in out))
    """
)


@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
def test_backfill_iterdict_key_freed_by_a_collection():
    # The row's only reference to its key goes while the module uses the key;
    # the key's finalizer then empties the row holding the next real value.
    need("backfill_iterdict")
    out = subprocess.run([sys.executable, "-c", FREED_KEY_SCRIPT], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr[-2000:]
    assert out.stdout.strip() in ("4 True", "PanicException dictionary changed size during iteration")


def _mixes(before, after):
    """The inputs a call may have seen when the rows changed once between two of
    its reads: the first j rows as they were, the rest as they are now."""
    return [before[:j] + after[j:] for j in range(len(before) + 1)] + [after]


def _rows_case():
    rows = [{"a": None if i % 3 else i, "b": None if i % 4 else -i, f"c{i % 5}": i} for i in range(60)]

    def change():
        rows[5].clear()
        rows[40] = {"z": 1, "a": None}
        rows[2]["b"] = 99  # a real value in place of a None, same size
        rows.append({"late": 1})

    return rows, change


def _check_backfill_iterdict(before, after, out):
    assert any(out == iter_models.backfill_iterdict(m) for m in _mixes(before, after[: len(before)]))


@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
@pytest.mark.parametrize("at", [1, 2, 3, 5, 8, 13, 40])
def test_backfill_iterdict_rows_changed_by_a_collection(at):
    need("backfill_iterdict")
    rows, change = _rows_case()
    before = copy.deepcopy(rows)
    with collections_run(change, at) as run:
        try:
            out = _tavo.backfill_iterdict(rows)
        except BaseException as e:  # noqa: BLE001
            assert is_panic(e, "dictionary changed size during iteration"), repr(e)
            return
    after = rows if run.fired else before
    assert len(out) == len(before) and all(type(d) is dict for d in out)
    assert all(type(k) is str for d in out for k in d)
    _check_backfill_iterdict(before, after, out)


@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
@pytest.mark.parametrize("subclass_keys", [False, True])
def test_backfill_iterdict_values_whose_finalizers_change_rows(subclass_keys):
    # A real value whose last reference is dropped by the module (the row lost
    # it to an earlier finalizer) runs a finalizer that empties later rows.
    need("backfill_iterdict")
    key = (lambda t: SlowStr(t)) if subclass_keys else str
    rows = []

    def wipe(i):
        def action():
            if i < len(rows):
                rows[i].clear()
        return action

    for i in range(30):
        rows.append({key("a"): Finalized(wipe(i + 1)), key("b"): None, key("c"): i})
    before = [dict(r) for r in rows]

    def drop_values():
        for r in rows[:10]:
            r[key("a")] = None  # same size: the old value's last reference is the module's

    with collections_run(drop_values, 2):
        try:
            out = _tavo.backfill_iterdict(rows)
        except BaseException as e:  # noqa: BLE001
            assert is_panic(e, "dictionary changed size during iteration"), repr(e)
            return
    assert len(out) == len(before) and all(type(d) is dict for d in out)
    assert all(type(k) is str for d in out for k in d)
    del before


@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
@pytest.mark.parametrize("at", [1, 2, 3, 6])
def test_backfill_list_shortened_by_a_collection(at):
    need("backfill")
    values = [None, 1, None, 2, None, 3] * 40

    def change():
        del values[100:]

    before = list(values)
    with collections_run(change, at) as run:
        try:
            out = _tavo.backfill(values)
        except IndexError:
            assert run.fired
            return
    assert out in (iter_models.backfill(before), iter_models.backfill(values))


@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
@pytest.mark.parametrize("at", [1, 2, 3, 6])
def test_collapse_lists_changed_by_a_collection(at):
    need("collapse")
    inner = [[i, (i, [i])] for i in range(50)]
    top = [inner, (inner[:5], [inner]), list(range(300))]

    def change():
        inner[10:] = []
        top[2].append("late")
        inner[0][1] = "replaced"

    before = copy.deepcopy(top)
    with collections_run(change, at):
        try:
            out = _tavo.collapse(top, [top[1]])
        except IndexError:
            return
    assert out in (iter_models.collapse(before, [before[1]]), iter_models.collapse(top, [top[1]]))


class AllocatingEq:
    """Equality that allocates (so collections start inside it) and compares `v`."""

    def __init__(self, v):
        self.v = v

    def __eq__(self, other):
        [[] for _ in range(3)]
        return isinstance(other, AllocatingEq) and other.v == self.v

    __hash__ = object.__hash__


@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
@pytest.mark.parametrize("at", [1, 2, 5, 20])
@pytest.mark.parametrize("target", ["comp", "ref"])
def test_same_order_lists_changed_by_a_collection(at, target):
    need("same_order")
    ref = [AllocatingEq(v) for v in (3, 7, 7, 20)]
    comp = [AllocatingEq(v) for v in range(30)]
    lists = {"comp": comp, "ref": ref}

    def change():
        lst = lists[target]
        for i in range(len(lst)):
            lst[i] = AllocatingEq(lst[i].v)  # freed: the module holds its own references
        del lst[len(lst) // 2:]

    with collections_run(change, at):
        try:
            out = _tavo.same_order(ref, comp)
        except IndexError:
            return
    assert out is True


@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
@pytest.mark.parametrize("fn, arg", [
    ("uncamel", "parseXMLDocument" * 50 + "ÉcoleNormale"),
    ("underscore_to_camelcase", "foo_bar_ß" * 50),
    ("sanitize_vulgar_string", "1 ½ cup, ¾ and 2⅔" * 30),
    ("parse", "$(1,234.56)"),
    ("parse", "9" * 40),
])
def test_text_functions_under_collections(fn, arg):
    need(fn)
    f = getattr(_tavo, fn)
    expected = f(arg)
    holder = [finalized_str(arg, lambda: None) for _ in range(20)]
    sub = finalized_str(arg, holder.clear)
    for at in (1, 2, 3):
        with collections_run(holder.clear, at):
            assert f(arg) == expected
            assert f(sub) == expected


# --- interrupts during long calls that run Python code ----------------------------------


def _interrupted(call, inputs, seconds=0.05, budget=20.0):
    """Runs `call()` again and again until SIGALRM's handler raises
    KeyboardInterrupt; the inputs must come out unchanged."""
    snapshot = copy.copy(inputs)
    old = signal.signal(signal.SIGALRM, signal.default_int_handler)
    # A signal whose handler runs inside a gc callback or a finalizer is lost
    # to the interpreter (it reports the exception as unraisable), whatever the
    # module does: no collections while the timer runs.
    was_enabled = gc.isenabled()
    gc.disable()
    calls = 0
    try:
        signal.setitimer(signal.ITIMER_REAL, seconds)
        with pytest.raises(KeyboardInterrupt):
            deadline = time.monotonic() + budget
            while time.monotonic() < deadline:
                call()
                calls += 1
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
        if was_enabled:
            gc.enable()
    assert inputs == snapshot
    return calls


import time  # noqa: E402

main_thread_only = pytest.mark.skipif(threading.current_thread() is not threading.main_thread(),
                                      reason="signals reach the main thread only")


@pytest.mark.thread_unsafe(reason="interrupts by a timer signal, which only the main thread receives")
@main_thread_only
def test_interrupt_ends_same_order_with_slow_eq():
    need("same_order")
    # About a second per call: the first one is still comparing when the timer fires.
    ref = [SlowEq(v, spin=1000) for v in range(20000)]
    comp = list(reversed([SlowEq(v, spin=1000) for v in range(20000)]))
    calls = _interrupted(lambda: _tavo.same_order(ref, comp), [ref, comp])
    assert calls == 0  # ended inside the first call, by the comparison it was running


@pytest.mark.thread_unsafe(reason="interrupts by a timer signal, which only the main thread receives")
@main_thread_only
@pytest.mark.parametrize("row_type", [dict, type("Row", (dict,), {})])
def test_interrupt_ends_backfill_iterdict(row_type):
    need("backfill_iterdict")
    rows = [row_type({SlowStr(f"k{j}"): (None if (i + j) % 3 else i) for j in range(8)}) for i in range(20000)]
    snapshot = [dict(r) for r in rows]
    _interrupted(lambda: _tavo.backfill_iterdict(rows), [rows])
    assert [dict(r) for r in rows] == snapshot and all(type(r) is row_type for r in rows)


class Nested(list):
    pass


@pytest.mark.thread_unsafe(reason="interrupts by a timer signal, which only the main thread receives")
@main_thread_only
def test_interrupt_during_collapse_of_list_subclasses():
    need("collapse")
    data = [Nested([Nested([i, (i,)]), Nested()]) for i in range(20000)]
    before = copy.deepcopy(data)
    _interrupted(lambda: _tavo.collapse(data), [data])
    assert data == before and all(type(x) is Nested for x in data)


@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
@pytest.mark.parametrize("at", range(1, 25))
@pytest.mark.parametrize("kind", ["finalized keys", "plain keys", "instance dicts"])
def test_backfill_iterdict_rows_emptied_by_a_collection(at, kind):
    # Each row holds the only references to its keys and values; a collection
    # empties every row, so whatever the module still used from a row is freed
    # then unless it holds a reference of its own, and the keys' finalizers
    # empty further rows.
    need("backfill_iterdict")
    if kind == "instance dicts" and sys.version_info >= (3, 13):
        # CPython 3.13 itself crashes when these finalizers empty instance
        # dicts from a gc callback, with or without the module in the test.
        pytest.skip("the interpreter crashes on this setup by itself")
    rows = []

    def empty_all():
        for r in rows:
            r.clear()

    class V(Finalized):
        pass

    class Record:
        pass

    for i in range(12):
        key = (lambda t: finalized_str(t, empty_all)) if kind == "finalized keys" else (lambda t: t)
        row = {key(f"k{j}"): (None if (i + j) % 2 else V(empty_all)) for j in range(6)}
        if kind == "instance dicts":  # key-sharing dicts: a table of keys apart from the values
            obj = Record()
            obj.__dict__.update(row)
            row = obj.__dict__
        rows.append(row)
    holder = [{} for _ in range(50)]  # garbage for the collector to walk
    with collections_run(empty_all, at):
        try:
            out = _tavo.backfill_iterdict(rows)
        except BaseException as e:  # noqa: BLE001
            assert is_panic(e, "dictionary changed size during iteration"), repr(e)
            return
    assert len(out) == 12 and all(type(d) is dict for d in out)
    assert all(type(k) is str and type(v) is V for d in out for k, v in d.items())
    del holder
