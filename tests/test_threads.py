"""Many threads calling every function at once.

The interpreter lock serialises the calls, but Python code the functions call
(comparisons, lookups) lets other threads run in the middle of a call, and
those threads may change the very lists being processed. Nothing shared may
break: every call ends with its documented outcome or a documented exception.
"""
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import _tavo
from call_catalogue import CASES
from hostile_kit import is_built, is_panic, need, panic_type, quiet

THREADS = 12


@pytest.fixture
def fast_switching():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(old)


def run_threads(target, n=THREADS):
    barrier = threading.Barrier(n)
    errors = []

    def body(i):
        try:
            barrier.wait()
            target(i)
        except BaseException as e:  # noqa: BLE001 - reported below
            errors.append((i, e))

    threads = [threading.Thread(target=body, args=(i,)) for i in range(n)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=600)
    assert not any(t.is_alive() for t in threads), "a thread hung"
    return errors


def usable_cases():
    out = []
    for c in CASES:
        if c.needs_body and not is_built(c.func):
            continue
        if c.needs_panic and panic_type() is None:
            continue
        out.append(c)
    return out


def test_whole_catalogue_from_many_threads(fast_switching):
    cases = usable_cases()

    def target(i):
        # Each thread walks the catalogue from its own starting point, so that
        # different functions run side by side on the same shared inputs.
        for k in range(len(cases)):
            case = cases[(k + i * 7) % len(cases)]
            case.check(case.outcome())

    with quiet():
        errors = run_threads(target)
    assert not errors, errors[:3]


def test_same_inputs_hammered(fast_switching):
    """All threads call the same functions on the very same objects."""
    names = [n for n in ("uncamel", "underscore_to_camelcase", "sanitize_vulgar_string", "parse",
                         "collapse", "backfill", "backfill_iterdict", "same_order", "multikeysort")
             if is_built(n)]
    if not names:
        pytest.skip("no function is built yet")
    text = "getHTTPResponse_code 4¾ cups, ⅓ tsp USD (1,234.50) " * 20
    nested = [[i, (i, [i])] for i in range(200)]
    values = [None if i % 3 else i for i in range(500)]
    rows = [{"a": None if i % 2 else i, "b": i} for i in range(300)]
    ref, comp = list(range(0, 300, 3)), list(range(300))
    items = [{"k": (i * 37) % 101, "n": str(i)} for i in range(300)]
    expected = {}
    calls = {
        "uncamel": lambda: _tavo.uncamel(text),
        "underscore_to_camelcase": lambda: _tavo.underscore_to_camelcase(text),
        "sanitize_vulgar_string": lambda: _tavo.sanitize_vulgar_string(text),
        "parse": lambda: _tavo.parse(text),
        "collapse": lambda: _tavo.collapse(nested),
        "backfill": lambda: _tavo.backfill(values),
        "backfill_iterdict": lambda: _tavo.backfill_iterdict(rows),
        "same_order": lambda: _tavo.same_order(ref, comp),
        "multikeysort": lambda: _tavo.multikeysort(items, ["k", "-n"]),
    }
    for n in names:
        expected[n] = calls[n]()

    def target(i):
        for k in range(60):
            n = names[(k + i) % len(names)]
            assert calls[n]() == expected[n], n

    errors = run_threads(target)
    assert not errors, errors[:3]


def test_lists_changed_by_other_threads(fast_switching):
    """Comparisons that let other threads run while those threads shrink,
    clear and extend the lists being processed."""
    order_built, sort_built = is_built("same_order"), is_built("multikeysort")
    if not (order_built or sort_built):
        pytest.skip("same_order and multikeysort are not built yet")
    shared_ref = []
    shared_comp = []
    shared_items = []
    stop = threading.Event()

    class Yields:
        def __init__(self, v):
            self.v = v

        def __eq__(self, other):
            time.sleep(0)
            return isinstance(other, Yields) and other.v == self.v

        def __lt__(self, other):
            time.sleep(0)
            return isinstance(other, Yields) and self.v < other.v

        def __gt__(self, other):
            time.sleep(0)
            return isinstance(other, Yields) and self.v > other.v

        __hash__ = object.__hash__

    def refill():
        shared_ref[:] = [Yields(v) for v in range(0, 40, 4)]
        shared_comp[:] = [Yields(v) for v in range(40)]
        shared_items[:] = [{"k": Yields(v)} for v in range(40, 0, -1)]

    refill()

    def target(i):
        for k in range(40):
            if stop.is_set():
                return
            role = (i + k) % 4
            if role == 0 and order_built:
                try:
                    r = _tavo.same_order(shared_ref, shared_comp)
                    assert r in (True, False)
                except IndexError as e:
                    assert str(e) == "list index out of range"
            elif role == 1 and sort_built:
                try:
                    out = _tavo.multikeysort(shared_items, "k")
                    assert type(out) is list
                except BaseException as e:  # noqa: BLE001
                    # The list was shortened by another thread: while keys
                    # were taken (IndexError) or while gathering (internal failure).
                    assert isinstance(e, IndexError) or is_panic(e), repr(e)
            elif role == 2:
                del shared_comp[len(shared_comp) // 2:]
                shared_items.clear()
                time.sleep(0)
                shared_ref.append(Yields(1000))
            else:
                refill()

    with quiet():
        errors = run_threads(target)
    stop.set()
    assert not errors, errors[:3]


FIRST_USE_SCRIPT = textwrap.dedent(
    """
    import sys, threading
    sys.setswitchinterval(1e-6)
    import _tavo
    texts = ["{}".format(c) for c in "¼½¾⅓⅔⅕⅖⅗⅘⅙⅚⅛⅜⅝⅞"] + ["7 ⅞ and x½"]
    expected = ["0.25", "0.5", "0.75", "0.333333", "0.666667", "0.2", "0.4", "0.6", "0.8",
                "0.166667", "0.833333", "0.125", "0.375", "0.625", "0.875", "7.875 and x 0.5"]
    n = 32
    barrier = threading.Barrier(n)
    results = [None] * n
    def body(i):
        barrier.wait()
        try:
            results[i] = [_tavo.sanitize_vulgar_string(t) for t in texts]
        except BaseException as e:
            results[i] = repr(e)
    threads = [threading.Thread(target=body, args=(i,)) for i in range(n)]
    for t in threads: t.start()
    for t in threads: t.join()
    bad = [r for r in results if r != expected]
    print("ok" if not bad else "bad: %r" % bad[:2])
    """
)


@pytest.mark.parametrize("attempt", range(5))
def test_fraction_table_first_use_under_concurrent_callers(attempt):
    need("sanitize_vulgar_string")
    # A fresh interpreter each time, so that these calls are the first ones.
    out = subprocess.run([sys.executable, "-c", FIRST_USE_SCRIPT], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr[-2000:]
    assert out.stdout.strip() == "ok", out.stdout[-2000:]
