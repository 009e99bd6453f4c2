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
import catalogue
from catalogue import CASES
from hostile_kit import is_panic, quiet

# These tests start threads of their own and set the switch interval, which is
# process-wide.
pytestmark = pytest.mark.thread_unsafe(reason="starts threads of its own and sets the switch interval")

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


def test_whole_catalogue_from_many_threads(fast_switching):
    cases = CASES

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
    """All threads call the same functions on the very same objects (each
    function's HAMMER call in the catalogue)."""
    calls = catalogue.HAMMER
    names = sorted(calls)
    expected = {}
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
    shared_ref = []
    shared_comp = []
    shared_items = []
    stop = threading.Event()

    def refill():
        shared_ref[:] = [Slow(v) for v in range(0, 40, 4)]
        shared_comp[:] = [Slow(v) for v in range(40)]
        shared_items[:] = [{"k": Slow(v)} for v in range(40, 0, -1)]

    refill()

    def target(i):
        for k in range(40):
            if stop.is_set():
                return
            role = (i + k) % 4
            if role == 0:
                try:
                    r = _tavo.same_order(shared_ref, shared_comp)
                    assert r in (True, False)
                except IndexError as e:
                    assert str(e) == "list index out of range"
            elif role == 1:
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
                shared_ref.append(Slow(1000))
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
    # A fresh interpreter each time, so that these calls are the first ones.
    out = subprocess.run([sys.executable, "-c", FIRST_USE_SCRIPT], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr[-2000:]
    assert out.stdout.strip() == "ok", out.stdout[-2000:]


# --- stress: callers and mutators on the very same objects -------------------
#
# Every function's scenarios are in its catalogue module (STRESS), built on
# tests/stress_kit.py, which says what is checked.
#   TAVO_STRESS_SECONDS   time per scenario (default 2 free-threaded, else 1)
#   TAVO_STRESS_SEED      seed of the random choices (stress_kit)

import os
import random
import sysconfig

from stress_kit import STRESS_SEED, Slow, fresh

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
STRESS_SECONDS = float(os.environ.get("TAVO_STRESS_SECONDS") or (2.0 if FREE_THREADED else 1.0))
CALLERS, MUTATORS = 3, 2
SCENARIOS = catalogue.STRESS


def stress(scenario, seconds=STRESS_SECONDS, seed=STRESS_SEED):
    """Runs callers and mutators on `scenario` for `seconds`. Returns the
    counts of checked results, of those checked against the model, and of
    documented exceptions, and the failures (the first few)."""
    deadline = time.monotonic() + seconds
    stop = threading.Event()
    failures = []
    counts = [[0, 0, 0] for _ in range(CALLERS)]

    def caller(i):
        rng = random.Random(seed * 101 + i)
        while not stop.is_set() and time.monotonic() < deadline:
            v0, active = scenario.state()
            try:
                arg, out = scenario.call(rng)
            except BaseException as e:  # noqa: BLE001 - judged here
                if not scenario.documented(e):
                    failures.append(f"caller {i}: undocumented {type(e).__name__}: {e}")
                    stop.set()
                counts[i][2] += 1
                continue
            try:
                scenario.check(arg, out)
                counts[i][0] += 1
                if active == 0 and scenario.exact(arg, out):
                    copy = scenario.copy_inputs()
                    if scenario.state() == (v0, 0):  # nothing changed since before the call
                        expected = scenario.expect(copy, arg)
                        assert scenario.same(out, expected), f"{out!r} where the model gives {expected!r}"
                        counts[i][1] += 1
            except AssertionError as e:
                failures.append(f"caller {i}: wrong result: {e}")
                stop.set()

    def mutator(i):
        rng = random.Random(seed * 101 + CALLERS + i)
        while not stop.is_set() and time.monotonic() < deadline:
            with scenario.changing():
                for _ in range(rng.randrange(1, 16)):
                    scenario.mutate(rng)
            if rng.random() < 0.3:
                time.sleep(rng.random() * 1e-3)  # quiet spells: calls that see no change

    errors = run_threads(lambda i: caller(i) if i < CALLERS else mutator(i - CALLERS), CALLERS + MUTATORS)
    failures += [f"thread {i}: {type(e).__name__}: {e}" for i, e in errors]
    if not failures:
        try:
            scenario.final()
        except AssertionError as e:
            failures.append(f"after the run: {e}")
    checked, exact, documented = (sum(c[k] for c in counts) for k in range(3))
    return checked, exact, documented, failures[:5]


def test_plain_same_order_reads_each_list_at_one_moment(fast_switching):
    """same_order on plain str holds both lists' locks for the whole call
    (free-threaded builds), so a list that another thread shortens and
    lengthens meanwhile is read as it was at one moment: True or False, never
    an IndexError. The items of `wanted` are made by this thread and read by
    the callers, the case where CPython's own item read takes the list's lock
    (on 3.13 a thread that takes a lock it holds gives up all it holds)."""
    wanted = [fresh(f"w{i:03d}é") for i in range(40)]
    filler = [fresh(f"f{i}") for i in range(3)]
    long_comp = [x for w in wanted for x in (*filler, fresh(w))]
    comp = list(long_comp)
    deadline = time.monotonic() + STRESS_SECONDS
    seen = set()

    def target(i):
        if i == 0:  # the mutator
            while time.monotonic() < deadline:
                comp[:] = long_comp
                del comp[len(wanted):]
            comp[:] = long_comp
            return
        while time.monotonic() < deadline:
            seen.add(_tavo.same_order(wanted, comp))

    errors = run_threads(target, CALLERS + 1)
    assert not errors, errors[:3]
    assert seen <= {True, False}
    assert _tavo.same_order(wanted, comp) is True


@pytest.mark.long
@pytest.mark.parametrize("name", list(SCENARIOS))
def test_stress_shared_inputs_mutated_by_other_threads(name, fast_switching):
    scenario = SCENARIOS[name]()
    with quiet():
        checked, exact, documented, failures = stress(scenario)
    assert not failures, f"seed {STRESS_SEED} (TAVO_STRESS_SEED): " + "; ".join(failures)
    # the run checked results, not only documented exceptions
    assert checked > 0, f"seed {STRESS_SEED}: no call returned ({documented} documented exceptions)"
