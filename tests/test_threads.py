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
    # A fresh interpreter each time, so that these calls are the first ones.
    out = subprocess.run([sys.executable, "-c", FIRST_USE_SCRIPT], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr[-2000:]
    assert out.stdout.strip() == "ok", out.stdout[-2000:]


# --- stress: callers and mutators on the very same objects -------------------
#
# For a bounded time per function, CALLERS threads call it on shared inputs
# while MUTATORS threads append, pop, clear, sort and reassign items of those
# same lists and dicts. On a free-threaded build nothing serialises them; with
# the interpreter lock, a tiny switch interval and Python-level comparisons
# let the mutators run in the middle of a call. Every result is checked: it
# must be one that some interleaving of whole operations could give (right
# types, elements drawn from the values the inputs ever held, the function's
# own invariants), or one of the function's documented exceptions. Afterwards
# the shared lists must be intact and the function must agree with its model.
#   TAVO_STRESS_SECONDS   time per function (default 2 free-threaded, else 1)
#   TAVO_STRESS_SEED      seed of the random choices (default: a fresh one,
#                         shown when a check fails)

import os
import random
import sysconfig

from models import sequences as iter_models
from models import multikeysort as multikeysort_model

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
STRESS_SECONDS = float(os.environ.get("TAVO_STRESS_SECONDS") or (2.0 if FREE_THREADED else 1.0))
STRESS_SEED = int(os.environ.get("TAVO_STRESS_SEED") or random.randrange(2**32))
CALLERS, MUTATORS = 3, 2
CAP = 48  # mutators keep every shared list at most this long


class Slow:
    """A value whose comparisons are Python code that lets other threads run."""

    def __init__(self, v):
        self.v = v

    def __eq__(self, other):
        time.sleep(0)
        return isinstance(other, Slow) and other.v == self.v

    def __lt__(self, other):
        time.sleep(0)
        return isinstance(other, Slow) and self.v < other.v

    def __gt__(self, other):
        time.sleep(0)
        return isinstance(other, Slow) and self.v > other.v

    __hash__ = object.__hash__

    def __repr__(self):
        return f"Slow({self.v})"


# The values that inputs are made of; results may hold only these (by identity).
LEAVES = tuple([i * 1000 + 7 for i in range(12)] + [f"v{i}é" for i in range(12)] +
               [float(i) + 0.5 for i in range(6)] + [Slow(i) for i in range(6)])
LEAF_IDS = frozenset(map(id, LEAVES))
KEYS = ("a", "b", "cé", "d")


def fresh(text):
    """An equal str that is a new object, its UTF-8 form not made yet."""
    return "".join(list(text))


def mutate_list(lst, rng, make):
    """One whole operation on `lst`; `make(rng)` gives a new element. The
    other mutator may shorten the list between reading its length and
    using it: such an operation is simply skipped."""
    op = rng.randrange(7)
    try:
        if op == 0 and len(lst) < CAP:
            lst.append(make(rng))
        elif op == 1:
            lst.pop(rng.randrange(len(lst)))
        elif op == 2:
            if rng.random() < 0.2:
                lst.clear()
            else:
                lst.reverse()
        elif op == 3:
            lst.sort(key=id)
        elif op == 4:
            lst[rng.randrange(len(lst))] = make(rng)
        elif op == 5:
            lst[:] = [make(rng) for _ in range(rng.randrange(CAP // 2))]
        elif len(lst) < CAP:
            lst.insert(rng.randrange(len(lst) + 1), make(rng))
    except (IndexError, ValueError):  # empty, or shortened meanwhile
        pass


def intact(lst, allowed_ids):
    """The shared list after the run: a sound list of allowed elements."""
    items = list(lst)
    assert len(items) == len(lst) <= CAP
    bad = [x for x in items if id(x) not in allowed_ids]
    assert not bad, f"list holds foreign objects: {bad[:3]!r}"


def is_internal(e, *texts):
    return is_panic(e) and (not texts or str(e) in texts)


class Scenario:
    """Shared inputs, a call on them, checks of each outcome, mutations and a
    final check.

    `check(arg, out)` holds for every result: the invariants that any
    interleaving keeps. When no mutation overlapped a call (the version did
    not move and no mutator was active), the inputs did not change during it,
    and `expect(copy_inputs())` (the plain-Python model on a copy) must then
    give the very result (`same`). `documented(e)` says which exceptions a
    call may end with while its inputs change under it."""

    name = ""

    def __init__(self):
        self.lock = threading.Lock()
        self.version = 0
        self.active = 0

    def changing(self):
        scenario = self

        class _Changing:
            def __enter__(self):
                with scenario.lock:
                    scenario.active += 1
                    scenario.version += 1

            def __exit__(self, *exc):
                with scenario.lock:
                    scenario.active -= 1
                    scenario.version += 1

        return _Changing()

    def state(self):
        with self.lock:
            return self.version, self.active

    def documented(self, e):
        return False

    def same(self, out, expected):
        return list(map(id, out)) == list(map(id, expected))

    def exact(self, arg, out):
        return True  # the call may be checked against the model

    def final(self):
        self.intact()
        arg, out = self.call(random.Random(0))
        assert self.same(out, self.expect(self.copy_inputs(), arg)), out


class TextScenario(Scenario):
    TEXTS = ("getHTTPResponse_code", "ÉtéÀParis_x", "4¾ cups ⅓ tsp", "(1,234.50)", "1,200m", "x½ and 7 ⅞",
             "__foo__Bar", "ǅungleΣΣ", "", "1e5", "σΣς_ΣΣ", "9" * 30)

    def __init__(self, func):
        super().__init__()
        self.name = func
        self.fn = getattr(_tavo, func)
        self.expected = {t: self.fn(fresh(t)) for t in self.TEXTS}  # one thread, one call each
        self.texts = [fresh(t) for t in self.TEXTS]

    def call(self, rng):
        try:
            s = self.texts[rng.randrange(len(self.texts))]
        except (IndexError, ValueError):  # emptied meanwhile
            s = fresh(self.TEXTS[0])
        return s, self.fn(s)

    def check(self, arg, out):
        # str is immutable: every call has exactly one right answer
        assert type(out) is type(self.expected[arg]) and out == self.expected[arg], (arg, out)

    def mutate(self, rng):
        mutate_list(self.texts, rng, lambda r: fresh(r.choice(self.TEXTS)))

    def copy_inputs(self):
        return None

    def expect(self, copy, arg):
        return self.expected[arg]

    def same(self, out, expected):
        return out == expected

    def intact(self):
        intact(self.texts, {id(t) for t in self.texts})
        assert all(t in self.expected for t in self.texts)


class CollapseScenario(Scenario):
    name = "collapse"

    def __init__(self):
        super().__init__()
        self.inner = [[LEAVES[i], (LEAVES[i + 1], LEAVES[i + 2])] for i in range(0, 12, 3)]
        self.outer = [self.inner[0], LEAVES[0], (self.inner[1], LEAVES[1]), self.inner[2]]
        self.tuples = [(LEAVES[2], self.inner[3]), (LEAVES[5], (LEAVES[6],))]

    def make_outer(self, rng):
        return rng.choice((rng.choice(self.inner), rng.choice(LEAVES), rng.choice(self.tuples)))

    def call(self, rng):
        return None, _tavo.collapse(self.outer, LEAVES[3])

    def check(self, arg, out):
        assert type(out) is list
        assert out and out[-1] is LEAVES[3]
        bad = [x for x in out if id(x) not in LEAF_IDS]
        assert not bad, f"not a leaf of the input: {bad[:3]!r}"
        # every list holds at most CAP entries, each at most 3 leaves deep
        assert len(out) <= CAP * (CAP + 3) * 3 + 1

    def mutate(self, rng):
        if rng.random() < 0.5:
            mutate_list(self.outer, rng, self.make_outer)
        else:
            mutate_list(rng.choice(self.inner), rng, lambda r: r.choice(LEAVES))

    def copy_inputs(self):
        # the inner lists are reached through the outer one and the tuples
        copies = {id(lst): list(lst) for lst in self.inner}

        def copy(x):
            if type(x) is list:
                return copies[id(x)] if id(x) in copies else [copy(y) for y in x]
            if type(x) is tuple:
                return tuple(copy(y) for y in x)
            return x

        return [copy(x) for x in self.outer]

    def expect(self, copy, arg):
        return iter_models.collapse(copy, LEAVES[3])

    def intact(self):
        intact(self.outer, LEAF_IDS | set(map(id, self.inner)) | set(map(id, self.tuples)))
        for lst in self.inner:
            intact(lst, LEAF_IDS)


def leaf_or_none(rng):
    return None if rng.random() < 0.4 else rng.choice(LEAVES)


class BackfillScenario(Scenario):
    name = "backfill"

    def __init__(self):
        super().__init__()
        rng = random.Random(STRESS_SEED)
        self.values = [leaf_or_none(rng) for _ in range(CAP // 2)]

    def call(self, rng):
        return None, _tavo.backfill(self.values)

    def check(self, arg, out):
        assert type(out) is list and out is not self.values and len(out) <= CAP
        bad = [x for x in out if x is not None and id(x) not in LEAF_IDS]
        assert not bad, bad[:3]
        # Nones remain only when every value read was None
        assert all(x is None for x in out) or all(x is not None for x in out), out

    def mutate(self, rng):
        mutate_list(self.values, rng, leaf_or_none)

    def copy_inputs(self):
        return list(self.values)

    def expect(self, copy, arg):
        return iter_models.backfill(copy)

    def intact(self):
        intact(self.values, LEAF_IDS | {id(None)})


class BackfillIterdictScenario(Scenario):
    """Rows drawn from a pool of dicts, which the mutators also change in place."""

    name = "backfill_iterdict"

    def __init__(self):
        super().__init__()
        rng = random.Random(STRESS_SEED)
        self.pool = [self.make_row(rng) for _ in range(8)]
        self.rows = [rng.choice(self.pool) for _ in range(CAP // 2)]

    @staticmethod
    def make_row(rng):
        return {k: leaf_or_none(rng) for k in KEYS if rng.random() < 0.8}

    def call(self, rng):
        return None, _tavo.backfill_iterdict(self.rows)

    def check(self, arg, out):
        assert type(out) is list and len(out) <= CAP
        pool = set(map(id, self.pool))
        for d in out:
            assert type(d) is dict and id(d) not in pool, "a result row must be a new dict"
            for k, v in d.items():
                assert type(k) is str and k in KEYS, k
                assert v is not None and id(v) in LEAF_IDS, (k, v)

    def documented(self, e):
        # a row changed while it was walked
        return is_internal(e, "dictionary changed size during iteration", "dictionary keys changed during iteration")

    def mutate(self, rng):
        if rng.random() < 0.5:
            mutate_list(self.rows, rng, lambda r: r.choice(self.pool))
            return
        row = rng.choice(self.pool)
        op = rng.randrange(4)
        if op == 0:
            row[rng.choice(KEYS)] = leaf_or_none(rng)
        elif op == 1:
            row.pop(rng.choice(KEYS), None)
        elif op == 2:
            row.clear()
        else:
            row.update(self.make_row(rng))

    def copy_inputs(self):
        return [dict(row) for row in self.rows]

    def expect(self, copy, arg):
        return iter_models.backfill_iterdict(copy)

    def same(self, out, expected):
        return [[(k, id(v)) for k, v in d.items()] for d in out] == \
            [[(k, id(v)) for k, v in d.items()] for d in expected]

    def intact(self):
        intact(self.rows, set(map(id, self.pool)))
        for row in self.pool:
            assert set(row) <= set(KEYS)
            assert all(v is None or id(v) in LEAF_IDS for v in row.values())


class SameOrderScenario(Scenario):
    """With `plain`, only ints, str and floats: comparing them runs no Python
    code, so the call reads both lists as they are at one moment (under their
    locks on a free-threaded build) and never finds one shortened."""

    def __init__(self, plain=False):
        super().__init__()
        self.name = "same_order" + ("_plain" if plain else "")
        self.leaves = tuple(x for x in LEAVES if not isinstance(x, Slow)) if plain else LEAVES
        self.plain = plain
        self.comp = list(self.leaves[::2])
        self.ref = list(self.leaves[:12:3])

    def call(self, rng):
        return None, _tavo.same_order(self.ref, self.comp)

    def check(self, arg, out):
        assert out is True or out is False

    def documented(self, e):
        # a list shortened between two of its reads, while a comparison ran Python code
        return not self.plain and type(e) is IndexError and str(e) == "list index out of range"

    def mutate(self, rng):
        mutate_list(self.ref if rng.random() < 0.3 else self.comp, rng, lambda r: r.choice(self.leaves))

    def copy_inputs(self):
        return list(self.ref), list(self.comp)

    def expect(self, copy, arg):
        return iter_models.same_order(*copy)

    def same(self, out, expected):
        return out is expected

    def intact(self):
        intact(self.ref, LEAF_IDS)
        intact(self.comp, LEAF_IDS)


class MultikeysortScenario(Scenario):
    """Rows in a list that changes. With `slow`, the first column holds Slow
    values, so the sort runs Python code in the middle of the call. With
    `rows_change`, the mutators also change the rows themselves (values
    reassigned, keys removed and added back). A call with inplace true
    changes the list: it counts as a mutation.

    With plain keys and rows that never change, the call runs no Python code:
    it sorts the list as it is at one moment (holding the list's lock, on a
    free-threaded build), so it never fails and its result is sorted."""

    COLUMNS = ["k", "-n"]

    def __init__(self, slow, rows_change=False):
        super().__init__()
        self.name = "multikeysort" + ("_python_keys" if slow else "") + ("_rows_change" if rows_change else "")
        self.slow, self.rows_change = slow, rows_change
        rng = random.Random(STRESS_SEED)
        self.pool = [{"k": (Slow(i % 5) if slow else i % 5), "n": f"r{i:02d}é", "x": i} for i in range(16)]
        self.items = [rng.choice(self.pool) for _ in range(CAP // 2)]

    def call(self, rng):
        if rng.random() < 0.25:
            with self.changing():
                return True, _tavo.multikeysort(self.items, self.COLUMNS, True)
        return False, _tavo.multikeysort(self.items, self.COLUMNS)

    def check(self, inplace, out):
        if inplace:
            assert out is None
            return
        # The rows are gathered from the list as it is after sorting, so a
        # list changed meanwhile gives its rows in an order of its own: the
        # invariants are the rows and the length.
        assert type(out) is list and out is not self.items and len(out) <= CAP
        pool = set(map(id, self.pool))
        assert all(id(d) in pool for d in out), "a result element that was never in the list"
        if not (self.slow or self.rows_change):
            # keys that never change, and no Python code: the very order of the model
            resorted = multikeysort_model.multikeysort(out, self.COLUMNS)
            assert list(map(id, resorted)) == list(map(id, out)), "a result out of order"

    def exact(self, inplace, out):
        return not inplace

    def documented(self, e):
        # the list was shortened while keys were taken (IndexError) or
        # before the sorted rows were gathered (internal failure), by another
        # thread that ran while a comparison ran Python code
        if not self.slow:
            return False
        return (type(e) is IndexError and str(e) == "list index out of range") or is_internal(e)

    def mutate(self, rng):
        if rng.random() < 0.2:
            # Other threads read the list without taking its lock (an index,
            # an iteration) while in-place calls store the sorted rows: they
            # see rows of the pool only.
            pool = set(map(id, self.pool))
            try:
                assert id(self.items[rng.randrange(len(self.items))]) in pool, "a foreign row read by index"
            except (IndexError, ValueError):  # empty, or shortened meanwhile
                pass
            assert all(id(row) in pool for row in self.items), "a foreign row read by iteration"
            return
        if self.rows_change and rng.random() < 0.5:
            row = rng.choice(self.pool)
            op = rng.randrange(3)
            if op == 0:
                row["k"] = Slow(rng.randrange(5)) if self.slow else rng.choice((rng.randrange(5), None, 2.5))
            elif op == 1:
                row.pop(rng.choice(("k", "n")), None)
            else:
                row.setdefault("k", Slow(0) if self.slow else 0)
                row.setdefault("n", f"r{rng.randrange(16):02d}é")
            return
        mutate_list(self.items, rng, lambda r: r.choice(self.pool))

    def copy_inputs(self):
        # the rows' contents too, as they may change after the copy is taken
        return [(row, dict(row)) for row in list(self.items)]

    def expect(self, copy, inplace):
        row_of = {id(content): row for row, content in copy}
        return [row_of[id(c)] for c in multikeysort_model.multikeysort([c for _, c in copy], self.COLUMNS)]

    def intact(self):
        intact(self.items, set(map(id, self.pool)))
        if self.rows_change:
            assert all(set(row) <= {"k", "n", "x"} for row in self.pool)


# longest first: a scenario's name starts with its function's
FUNCTIONS = ("underscore_to_camelcase", "sanitize_vulgar_string", "backfill_iterdict", "multikeysort",
             "same_order", "uncamel", "collapse", "backfill", "parse")

SCENARIOS = {
    "uncamel": lambda: TextScenario("uncamel"),
    "underscore_to_camelcase": lambda: TextScenario("underscore_to_camelcase"),
    "sanitize_vulgar_string": lambda: TextScenario("sanitize_vulgar_string"),
    "parse": lambda: TextScenario("parse"),
    "collapse": CollapseScenario,
    "backfill": BackfillScenario,
    "backfill_iterdict": BackfillIterdictScenario,
    "same_order": SameOrderScenario,
    "same_order_plain": lambda: SameOrderScenario(plain=True),
    "multikeysort": lambda: MultikeysortScenario(slow=False),
    "multikeysort_python_keys": lambda: MultikeysortScenario(slow=True),
    "multikeysort_rows_change": lambda: MultikeysortScenario(slow=False, rows_change=True),
}


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
