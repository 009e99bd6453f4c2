"""multikeysort under comparison methods and lookups that lie, raise or mutate.

Whatever Python code does during a call, the call ends with a result that is
a permutation of the items, or with an exception; no reference is gained or
lost, and a failure leaves the list as the Python code left it.
"""
import contextlib
import gc
import random
import signal
import sys
import threading

import pytest

import multikeysort_model as model
from _tavo import multikeysort


def ids(xs):
    return [id(x) for x in xs]


def panic_type():
    """PanicException, taken from a call that ends in an internal failure."""
    rows = []

    class Shrink:
        def __lt__(self, other):
            rows.clear()
            return False

        __gt__ = __lt__

    rows.extend({"k": Shrink()} for _ in range(3))
    try:
        multikeysort(rows, "k")
    except BaseException as e:  # noqa: B036
        return type(e)
    raise AssertionError("no internal failure")


PanicException = panic_type()


def test_panic_exception_type():
    assert PanicException.__module__ == "lumo_runtime"
    assert not issubclass(PanicException, Exception)


class Liar:
    """Answers comparisons at random: True, False, a raise, an odd object."""

    rnd = random.Random(0)

    def _answer(self, other):
        r = self.rnd.random()
        if r < 0.3:
            return True
        if r < 0.6:
            return False
        if r < 0.7:
            raise ValueError("liar")
        if r < 0.8:
            return NotImplemented
        if r < 0.9:
            return [1] if self.rnd.random() < 0.5 else []
        return BadBool()

    __lt__ = __gt__ = _answer


class BadBool:
    def __bool__(self):
        raise RuntimeError("no truth")


def keyed(values, cls=dict):
    return [cls(k=v, i=i) for i, v in enumerate(values)]


def refcounts(objs):
    """Reference counts of the objects the test made (not of shared singletons)."""
    return [sys.getrefcount(o) for o in objs if not isinstance(o, (type(None), bool, int, str)) or
            (isinstance(o, int) and abs(o) > 1000)]


@pytest.mark.parametrize("columns", ["k", "-k", ["k", "-i"], ["-i", "k"], ["k", "k"]])
def test_random_answers(columns):
    liars = [Liar() for _ in range(40)]
    others = [1, 2.5, "s", None, (1,), float("nan"), 10**400]
    values = liars + others
    rows = keyed(values)
    before_rows, before_values = refcounts(rows), refcounts(values)
    for n in range(2000):
        sample = rows[: 2 + n % len(rows)]
        random.Random(n).shuffle(sample)
        if n % 2:
            out = list(sample)
            assert multikeysort(out, columns, True) is None
        else:
            out = multikeysort(sample, columns)
        assert sorted(ids(out)) == sorted(ids(sample))
        del out, sample
    assert refcounts(rows) == before_rows
    assert refcounts(values) == before_values


class Raising:
    def __init__(self, exc):
        self.exc = exc

    def __lt__(self, other):
        raise self.exc

    __gt__ = __lt__


@pytest.mark.parametrize("exc", [ValueError("x"), TypeError, ZeroDivisionError, LookupError, StopIteration])
def test_raising_comparisons_are_equal(exc):
    objs = [Raising(exc) for _ in range(200)]
    rows = keyed(objs)
    for _ in range(20):
        assert ids(multikeysort(rows, "k")) == ids(rows)
        assert ids(multikeysort(rows, "-k")) == ids(rows)
    # against other kinds too: only nulls move (to their end)
    mixed = keyed(objs[:5] + [None, 3, "x", 2.0])
    out = multikeysort(mixed, "k")
    assert out[0] is mixed[5] and sorted(ids(out)) == sorted(ids(mixed))


class PanicAt:
    """Raises PanicException from the named operation."""

    def __init__(self, where, v=0):
        self.where, self.v = where, v

    def __lt__(self, other):
        if self.where == "lt":
            raise PanicException("from lt")
        if self.where == "truth":
            return BoomTruth()
        return False

    def __gt__(self, other):
        if self.where == "gt":
            raise PanicException("from gt")
        return False

    def __index__(self):
        if self.where == "index":
            raise PanicException("from index")
        raise TypeError

    def __float__(self):
        if self.where == "float":
            raise PanicException("from float")
        raise TypeError


class BoomTruth:
    def __bool__(self):
        raise PanicException("from truth")


class PanicLookup(dict):
    def __getitem__(self, key):
        raise PanicException("from getitem")


@pytest.mark.parametrize(
    "make, text",
    [
        (lambda: keyed([PanicAt("lt"), PanicAt("lt")]), "from lt"),
        (lambda: keyed([PanicAt("gt"), PanicAt("gt")]), "from gt"),  # sorted descending, so > is asked
        (lambda: keyed([PanicAt("truth"), PanicAt("truth")]), "from truth"),
        (lambda: keyed([PanicAt("index"), 1]), "from index"),
        (lambda: keyed([PanicAt("float"), 1]), "from float"),
        (lambda: [{"k": 1}, PanicLookup(k=2)], "from getitem"),
    ],
)
@pytest.mark.parametrize("inplace", [False, True])
def test_panic_from_python_resumes_as_internal_failure(make, text, inplace, capfd):
    rows = make()
    before = ids(rows)
    counts = refcounts(rows)
    with pytest.raises(PanicException) as info:
        multikeysort(rows, "-k" if text == "from gt" else "k", inplace)
    assert str(info.value) == text
    assert ids(rows) == before
    del info
    assert refcounts(rows) == counts
    assert "resuming a panic" in capfd.readouterr().err


class Mutator:
    """Changes the list from a comparison: at the `after`-th call counted in `calls`."""

    def __init__(self, rows, action, after, calls, v):
        self.rows, self.action, self.after, self.calls, self.v = rows, action, after, calls, v

    def __lt__(self, other):
        self.calls[0] += 1
        if self.calls[0] == self.after:
            self.action(self.rows)
        return self.v < other.v

    def __gt__(self, other):
        return self.v > other.v


@pytest.mark.parametrize(
    "action, shortens",
    [
        (lambda rows: rows.clear(), True),
        (lambda rows: rows.pop(), True),
        (lambda rows: rows.pop(0), True),
        (lambda rows: rows.append({"k": 0}), False),
        (lambda rows: rows.reverse(), False),
        (lambda rows: rows.__setitem__(0, "replaced"), False),
        (lambda rows: rows.extend(range(100)), False),
    ],
)
@pytest.mark.parametrize("inplace", [False, True])
def test_list_changed_during_sort(action, shortens, inplace):
    for trial in range(150):
        rows, calls = [], [0]
        after = 1 + trial % 60
        for v in random.Random(trial).sample(range(30), 30):
            rows.append({"k": Mutator(rows, action, after, calls, v)})
        originals = list(rows)
        counts = refcounts(originals)
        # the rows hold their list through the Mutators: compare with the
        # list restored to its first content, not with the list dropped
        try:
            out = multikeysort(rows, "k", inplace)
        except PanicException as e:
            assert shortens and calls[0] >= after
            assert "shortened" in str(e)
            expected = list(originals)  # as the comparison left it, nothing written
            action(expected)
            assert ids(rows) == ids(expected)
            del expected
        else:
            assert not (shortens and calls[0] >= after)
            if inplace:
                assert out is None
            else:
                assert len(out) == 30
            del out
        rows[:] = originals
        assert refcounts(originals) == counts


class ShrinkingLookup(dict):
    def __init__(self, rows, how, **kw):
        super().__init__(**kw)
        self.rows, self.how = rows, how

    def __getitem__(self, key):
        self.how(self.rows)
        return dict.__getitem__(self, key)


@pytest.mark.parametrize("how", [lambda rows: rows.clear(), lambda rows: rows.pop(), lambda rows: rows.pop(0)])
@pytest.mark.parametrize("inplace", [False, True])
def test_list_shortened_during_extraction(how, inplace):
    rows = [{"k": 3}]
    rows.append(ShrinkingLookup(rows, how, k=1))
    rows.extend([{"k": 2}, {"k": 0}])
    with pytest.raises(IndexError, match="list index out of range"):
        multikeysort(rows, "k", inplace)
    expected = [{"k": 3}, ShrinkingLookup(rows, how, k=1), {"k": 2}, {"k": 0}]
    how(expected)
    assert rows == expected  # as the lookup left it, not sorted


def test_list_grown_during_extraction_sorts_the_first_rows():
    rows = [{"k": 3}]

    class Grow(dict):
        def __getitem__(self, key):
            rows.append({"k": -1})
            return dict.__getitem__(self, key)

    rows.extend([Grow(k=1), {"k": 2}])
    out = multikeysort(rows, "k")
    assert len(rows) == 4
    assert ids(out) == ids([rows[1], rows[2], rows[0]])


def test_lookup_dropping_its_own_value():
    class Drop(dict):
        def __getitem__(self, key):
            v = dict.__getitem__(self, key)
            self.clear()
            return v

    class Val:
        def __index__(self):
            return 7

    rows = [{"k": 9}, Drop(k=Val()), {"k": 8}]
    assert [type(r).__name__ for r in multikeysort(rows, "k")] == ["Drop", "dict", "dict"]


def test_reentrant_sort_of_the_same_list():
    rows = []

    class Reenter:
        def __init__(self, v):
            self.v = v
            self.done = False

        def __lt__(self, other):
            if not self.done:
                self.done = True
                multikeysort(rows, "-k", True)
            return self.v < other.v

        def __gt__(self, other):
            return self.v > other.v

    rows.extend({"k": Reenter(v)} for v in [3, 1, 2, 5, 4])
    originals = list(rows)
    out = multikeysort(rows, "k")
    assert sorted(ids(out)) == sorted(ids(originals))


def test_lookup_count_is_one_per_item_and_column():
    calls = []

    class Counting(dict):
        def __getitem__(self, key):
            calls.append(key)
            return dict.__getitem__(self, key)

    rows = [Counting(a=i % 3, b=-i) for i in range(100)]
    multikeysort(rows, ["a", "-b", "zz"])
    assert sorted(calls) == ["a"] * 100 + ["b"] * 100


def test_no_reference_leaks_on_every_path():
    objs = [(1, i) for i in range(20)] + [10**400, "t", 1.5, 7, b"x", None]
    rows = keyed(objs)
    rows += [5, None, [1]]
    counts_rows, counts_objs = refcounts(rows), refcounts(objs)
    columns = ["k", "-k", ["k", "i"], ["-i", "k"], "zz", None, [], ("k", 1)]
    for _ in range(200):
        for c in columns:
            multikeysort(rows, c)
            copy = list(rows)
            multikeysort(copy, c, True)
            del copy
        with pytest.raises(TypeError):
            multikeysort(rows, "k", 1)
    assert refcounts(rows) == counts_rows
    assert refcounts(objs) == counts_objs


def test_python_compare_protocol():
    """`<` first; `>` only when `<` answered false; a raise ends the comparison."""
    log = []

    class Probe:
        def __init__(self, name, lt, gt):
            self.name, self.lt, self.gt = name, lt, gt

        def __lt__(self, other):
            log.append(("<", self.name, other.name))
            if self.lt == "raise":
                raise ValueError
            return self.lt

        def __gt__(self, other):
            log.append((">", self.name, other.name))
            if self.gt == "raise":
                raise ValueError
            return self.gt

    for lt in [True, False, "raise"]:
        for gt in [True, False, "raise"]:
            log.clear()
            a, b = Probe("a", lt, gt), Probe("b", lt, gt)
            multikeysort([{"k": a}, {"k": b}], "k")
            assert log, "an object key is compared through Python"
            for i, entry in enumerate(log):
                if entry[0] == ">":
                    previous = log[i - 1]
                    assert previous == ("<",) + entry[1:] and lt is False
            if lt is not False:
                assert all(e[0] == "<" for e in log)


def leak_scenarios():
    """Calls that cover the success and failure paths, each run repeatedly."""

    def shrink_during_sort():
        rows = []

        class S:
            def __lt__(self, other):
                rows.clear()
                return False

            __gt__ = __lt__

        rows.extend({"k": S()} for _ in range(5))
        with pytest.raises(PanicException):
            multikeysort(rows, "k")

    def shrink_during_lookup():
        rows = [{"k": 1}]
        rows.append(ShrinkingLookup(rows, lambda r: r.clear(), k=2))
        rows.append({"k": 3})
        with pytest.raises(IndexError):
            multikeysort(rows, "k", True)

    def panic_in_lt():
        with pytest.raises(PanicException):
            multikeysort(keyed([PanicAt("lt"), PanicAt("lt")]), "k")

    def mixed_values():
        values = [(1, 2), 10**400, "é", 2.5, -3, None, float("nan"), b"x", 2**64, Liar(), "\udc80"]
        rows = keyed(values * 3) + [5, None]
        multikeysort(rows, ["-k", "i"])
        multikeysort(list(rows), "k", True)

    def bad_arguments():
        with pytest.raises(TypeError):
            multikeysort((), "k")
        with pytest.raises(TypeError):
            multikeysort([], None, 0)

    def odd_columns():
        rows = keyed(range(5))
        for c in (None, 5, ("k", 1), Seq(["k"]), (c for c in "k"), ["\udc80", "-k"], "--k"):
            multikeysort(rows, c)

    return [shrink_during_sort, shrink_during_lookup, panic_in_lt, mixed_values, bad_arguments, odd_columns]


class Seq:
    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


@pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter")
@pytest.mark.parametrize("scenario", leak_scenarios(), ids=lambda f: f.__name__)
def test_total_reference_count_is_stable(scenario, capfd):
    import gc

    def growth(calls):
        gc.collect()
        before = sys.gettotalrefcount()
        for _ in range(calls):
            scenario()
        gc.collect()
        return sys.gettotalrefcount() - before

    growth(20)
    # the measurement itself costs a few references; a leak grows with the calls
    extra = [growth(40) - growth(10) for _ in range(4)]
    capfd.readouterr()
    assert min(extra) <= 0, extra


# --- exceptions that end the call -----------------------------------------------------
#
# An ordinary exception from a lookup, a conversion or a comparison is discarded
# (a null key, an equal pair). One that is not an Exception, and MemoryError and
# RecursionError, ends the call with that exception: nothing is written, so the
# list keeps its items in their order, and no Python code runs after it.

ENDING = [KeyboardInterrupt, SystemExit, GeneratorExit, MemoryError, RecursionError]
ORDINARY = [ValueError, TypeError, KeyError, ZeroDivisionError, UnicodeError, StopIteration]


class Raiser:
    """Raises `exc` from the operation named `where`; counts calls after that."""

    def __init__(self, where, exc, log, v=0):
        self.where, self.exc, self.log, self.v = where, exc, log, v

    def _op(self, name, answer):
        if self.log["raised"]:
            self.log["after"] += 1
        if name == self.where:
            self.log["raised"] = True
            raise self.exc(name)
        return answer

    def __lt__(self, other):
        if self.where == "truth":
            return self._op("lt", BoolRaiser(self))
        return self._op("lt", self.v < getattr(other, "v", 0))

    def __gt__(self, other):
        return self._op("gt", self.v > getattr(other, "v", 0))


class IndexRaiser(Raiser):
    def __index__(self):
        return self._op("index", self.v)


class FloatRaiser(Raiser):
    def __float__(self):
        return self._op("float", float(self.v))


class BoolRaiser:
    def __init__(self, owner):
        self.owner = owner

    def __bool__(self):
        return self.owner._op("truth", True)


class LookupRaiser(dict):
    def __init__(self, where, exc, log, **kw):
        super().__init__(**kw)
        self.where, self.exc, self.log = where, exc, log

    def __getitem__(self, key):
        if self.log["raised"]:
            self.log["after"] += 1
        if self.where == "getitem":
            self.log["raised"] = True
            raise self.exc("getitem")
        return dict.__getitem__(self, key)

    def __missing__(self, key):
        self.log["raised"] = True
        raise self.exc("missing")


class ColumnSeq:
    """A sequence of column names whose __len__ or item access raises."""

    def __init__(self, where, exc, log, names):
        self.where, self.exc, self.log, self.names = where, exc, log, names

    def __len__(self):
        if self.where == "len":
            self.log["raised"] = True
            raise self.exc("len")
        return len(self.names)

    def __getitem__(self, i):
        if self.where == "item" and i == 1:
            self.log["raised"] = True
            raise self.exc("item")
        return self.names[i]


def site_getitem(exc, log):
    return [{"k": 2}] + [LookupRaiser("getitem", exc, log, k=i) for i in range(20)], "k"


def site_missing(exc, log):
    return [{"k": 2}, LookupRaiser("missing", exc, log), {"k": 1}], "k"


def site_index(exc, log):
    return [{"k": IndexRaiser("index", exc, log, i)} for i in range(20)], "k"


def site_float(exc, log):
    return [{"k": FloatRaiser("float", exc, log, i)} for i in range(20)], "k"


def site_lt(exc, log):
    return [{"k": Raiser("lt", exc, log, i % 7)} for i in range(200)], "k"


def site_gt(exc, log):
    # `>` is asked only when it can matter: on a descending column
    return [{"k": Raiser("gt", exc, log, i % 7)} for i in range(200)], "-k"


def site_truth(exc, log):
    return [{"k": Raiser("truth", exc, log, i % 7)} for i in range(200)], "k"


def site_lt_after_int_ties(exc, log):
    return [{"a": i % 3, "k": Raiser("lt", exc, log, i % 7)} for i in range(300)], ["a", "-k"]


def site_lt_after_text_ties(exc, log):
    prefix = "same prefix, longer than a code "
    return [{"t": prefix + str(i % 2), "k": Raiser("lt", exc, log, i)} for i in range(300)], ["t", "k"]


def site_lt_after_object_ties(exc, log):
    return [{"o": (i % 2,), "k": Raiser("lt", exc, log, i)} for i in range(300)], ["-o", "k"]


def site_columns_len(exc, log):
    return [{"k": 2}, {"k": 1}], ColumnSeq("len", exc, log, ["k"])


def site_columns_item(exc, log):
    return [{"k": 2}, {"k": 1}], ColumnSeq("item", exc, log, ["k", "k"])


SITES = [site_getitem, site_missing, site_index, site_float, site_lt, site_gt, site_truth,
         site_lt_after_int_ties, site_lt_after_text_ties, site_lt_after_object_ties,
         site_columns_len, site_columns_item]


def fresh_log():
    return {"raised": False, "after": 0}


@pytest.mark.parametrize("site", SITES, ids=lambda f: f.__name__[5:])
@pytest.mark.parametrize("exc", ENDING, ids=lambda e: e.__name__)
@pytest.mark.parametrize("inplace", [False, True])
def test_interrupts_and_exits_end_the_call(site, exc, inplace):
    log = fresh_log()
    rows, columns = site(exc, log)
    before = ids(rows)
    counts = refcounts(rows)
    with pytest.raises(exc):
        multikeysort(rows, columns, inplace)
    assert log["raised"] and log["after"] == 0, "Python code ran after the exception"
    assert ids(rows) == before, "the list is left as it was"
    assert refcounts(rows) == counts
    # the model ends the same way
    log = fresh_log()
    rows, columns = site(exc, log)
    if site not in (site_index, site_float, site_columns_len):  # steps the model does not take
        with pytest.raises(exc):
            model.multikeysort(rows, columns)


@pytest.mark.parametrize("site", SITES, ids=lambda f: f.__name__[5:])
@pytest.mark.parametrize("exc", ORDINARY, ids=lambda e: e.__name__)
def test_ordinary_exceptions_are_discarded(site, exc):
    log = fresh_log()
    rows, columns = site(exc, log)
    out = multikeysort(rows, columns)
    assert log["raised"]
    assert sorted(ids(out)) == sorted(ids(rows))
    if site not in (site_index, site_float, site_columns_len):
        # the model sees the same order (the comparisons raise once, at the same place)
        log = fresh_log()
        rows2, columns2 = site(exc, log)
        expected = model.multikeysort(rows2, columns2)
        assert [rows2.index(r) for r in expected] == [rows.index(r) for r in out]


def test_the_call_after_an_interrupt_works():
    log = fresh_log()
    rows, columns = site_lt(KeyboardInterrupt, log)
    with pytest.raises(KeyboardInterrupt):
        multikeysort(rows, columns, True)
    rows = keyed([3, 1, 2])
    assert [r["k"] for r in multikeysort(rows, "k")] == [1, 2, 3]


# --- a signal during a long call --------------------------------------------------------


class SlowLess:
    def __init__(self, v):
        self.v = v

    def __lt__(self, other):
        sum(range(300))
        return self.v < other.v

    def __gt__(self, other):
        sum(range(300))
        return self.v > other.v


class SlowLookup(dict):
    def __getitem__(self, key):
        sum(range(3000))
        return dict.__getitem__(self, key)


def slow_comparisons():
    return [{"k": SlowLess(v)} for v in random.Random(1).sample(range(10**6), 20000)], "k"


def slow_lookups():
    return [SlowLookup(k=v) for v in random.Random(2).sample(range(10**6), 20000)], ["k"]


def slow_comparisons_after_ties():
    return [{"a": i % 2, "k": SlowLess(i % 1000)} for i in range(20000)], ["-a", "k"]


@pytest.mark.thread_unsafe(reason="interrupts by a timer signal, which only the main thread receives")
@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs setitimer")
@pytest.mark.parametrize("make", [slow_comparisons, slow_lookups, slow_comparisons_after_ties],
                         ids=lambda f: f.__name__)
@pytest.mark.parametrize("inplace", [False, True])
def test_ctrl_c_during_a_long_sort_raises(make, inplace):
    rows, columns = make()
    before = ids(rows)
    fired, returned = [], []

    def handler(signum, frame):
        fired.append(signum)
        raise KeyboardInterrupt

    old = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        with pytest.raises(KeyboardInterrupt):
            multikeysort(rows, columns, inplace)
            returned.append(True)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
    assert fired and not returned, "the interrupt ended the call itself"
    assert ids(rows) == before


# --- a lookup that sorts the same list again --------------------------------------------


@pytest.mark.parametrize("inplace", [False, True])
def test_lookup_sorting_the_same_list_ends_with_recursion_error(inplace):
    rows, calls = [], [0]
    cap = 20 * sys.getrecursionlimit()  # were RecursionError discarded, the work would grow without bound

    class Again(dict):
        def __getitem__(self, key):
            calls[0] += 1
            if calls[0] < cap:
                multikeysort(rows, "k", inplace)
            return dict.__getitem__(self, key)

    rows.extend(Again(k=v) for v in (3, 1, 2, 0))
    before = ids(rows)
    with pytest.raises(RecursionError):
        multikeysort(rows, "k", inplace)
    assert calls[0] <= sys.getrecursionlimit() + 50, "one lookup per level, then it unwinds"
    assert ids(rows) == before


# --- allocation failure while reading the columns ------------------------------------------

NOMEMORY_SCRIPT = r"""
import sys
import _testcapi
import _tavo

outcomes = []
for k in range(int(sys.argv[1])):
    name = "".join(["\xe9", str(k)])             # a fresh non-ASCII name: its UTF-8 text is made on demand
    rows = [{"a": 2, name: 1}, {"a": 1, name: 2}, {"a": 1, name: 1}]
    columns = ("".join(["a"]), "".join(["-\xe9", str(k)]))
    expected = [rows[1], rows[2], rows[0]]
    _testcapi.set_nomemory(k, k + 1)
    try:
        got = _tavo.multikeysort(rows, columns)
    except BaseException as e:
        _testcapi.remove_mem_hooks()
        outcomes.append(type(e).__name__)
    else:
        _testcapi.remove_mem_hooks()
        outcomes.append("sorted" if all(a is b for a, b in zip(got, expected)) and len(got) == 3 else "UNSORTED")
print(" ".join(outcomes))
"""


@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
def test_memory_error_while_reading_a_tuple_of_columns_is_raised():
    pytest.importorskip("_testcapi")
    import subprocess

    proc = subprocess.run([sys.executable, "-c", NOMEMORY_SCRIPT, "80"], capture_output=True, text=True,
                          timeout=120)
    assert proc.returncode == 0, proc.stderr[-2000:]
    outcomes = proc.stdout.split()
    assert len(outcomes) == 80
    assert "UNSORTED" not in outcomes, outcomes
    assert set(outcomes) <= {"sorted", "MemoryError", "PanicException"}, outcomes
    assert "MemoryError" in outcomes and outcomes[-1] == "sorted", "every allocation of the call was tried"


# --- many columns: bounded stack, work linear in rows x distinct columns ------------------

WIDE = 100_000


def wide_rows(kind, width=WIDE, n=3):
    """n rows tied on `width` columns of one kind; the last column decides."""
    names = [f"c{i}" for i in range(width)]
    value = {
        "int": lambda i: 7,
        "float": lambda i: 0.5,
        "text": lambda i: "x",
        "long text": lambda i: "a shared prefix longer than eight bytes",
        "object": lambda i: (1, 2),
        "null": lambda i: None,
        "mixed": lambda i: [7, 0.5, "x", (1,), None][i % 5],
    }[kind]
    rows = []
    for r in range(n):
        row = {name: value(i) for i, name in enumerate(names)}
        row[names[-1]] = (r * 7) % n  # the only column that tells the rows apart
        rows.append(row)
    return rows, names


KINDS = ["int", "float", "text", "long text", "object", "null", "mixed"]


def in_small_stack_thread(fn, stack=256 * 1024):
    out = []
    old = threading.stack_size(stack)
    try:
        t = threading.Thread(target=lambda: out.append(fn()))
        t.start()
        t.join()
    finally:
        threading.stack_size(old)
    assert out, "the thread died"
    return out[0]


@pytest.mark.thread_unsafe(reason="sets threading.stack_size, which is process-wide")
@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("descending", [False, True])
@pytest.mark.parametrize("small_stack", [False, True])
def test_many_tied_columns(kind, descending, small_stack):
    rows, names = wide_rows(kind)
    columns = ["-" + c for c in names] if descending else names
    sort = lambda: multikeysort(rows, columns)  # noqa: E731
    got = in_small_stack_thread(sort) if small_stack else sort()
    assert ids(got) == ids(model.multikeysort(rows, columns))


@pytest.mark.thread_unsafe(reason="sets threading.stack_size, which is process-wide")
@pytest.mark.parametrize(
    "columns",
    [
        ["a"] * 60_000,
        ["a", "-a"] * 50_000,
        [f"c{i % 1000}" for i in range(WIDE)],
        [f"-c{i % 7}" for i in range(WIDE)] + ["b"],
        ["zz"] * WIDE + ["b"],
    ],
    ids=["one name", "both directions", "1000 names", "7 names then b", "unknown names"],
)
@pytest.mark.parametrize("small_stack", [False, True])
def test_many_repeated_columns(columns, small_stack):
    rows = [dict({f"c{i}": 1 for i in range(1000)}, a=1, b=-i) for i in range(3)]
    sort = lambda: multikeysort(rows, columns)  # noqa: E731
    got = in_small_stack_thread(sort) if small_stack else sort()
    assert ids(got) == ids(model.multikeysort(rows, columns))


class CountingLess:
    calls = [0]

    def __init__(self, v):
        self.v = v

    def __lt__(self, other):
        self.calls[0] += 1
        return self.v < other.v

    def __gt__(self, other):
        self.calls[0] += 1
        return self.v > other.v


@pytest.mark.thread_unsafe(reason="counts comparisons in a class attribute that every thread shares")
@pytest.mark.parametrize("width", [10, 1000, 20_000])
@pytest.mark.parametrize("n", [2, 5, 40])
def test_comparisons_grow_with_rows_times_columns(width, n):
    """Tied object columns cost at most two Python comparisons per column for
    each record comparison, and record comparisons are those of one sort."""
    names = [f"c{i}" for i in range(width)]
    shared = CountingLess(0)
    rows = [dict({name: shared for name in names}, last=CountingLess(-i)) for i in range(n)]
    CountingLess.calls[0] = 0
    got = multikeysort(rows, names + ["last"])
    assert ids(got) == ids(rows[::-1])
    record_comparisons = n * max(1, (n - 1).bit_length())
    assert CountingLess.calls[0] <= 2 * (width + 1) * record_comparisons
    # a repeated name costs nothing
    CountingLess.calls[0] = 0
    multikeysort(rows, names * 3 + ["last"] * 2)
    assert CountingLess.calls[0] <= 2 * (width + 1) * record_comparisons


# --- collections and finalizers that change the list and the dicts -------------------------
#
# Every allocation may start a collection (gc.set_threshold(1)); collections run
# gc callbacks and finalizers of cyclic garbage, and releasing a key or a value
# runs its __del__. They change the dicts, reorder the list or replace its items
# while the call reads them. The call must never crash; when only the dicts
# change or the list is reordered, the rows come back as a permutation (in
# place: the list keeps every row).


@contextlib.contextmanager
def collecting_at_every_allocation(callback):
    old = gc.get_threshold()
    gc.callbacks.append(callback)
    gc.set_threshold(1)
    try:
        yield
    finally:
        gc.set_threshold(*old)
        gc.callbacks.remove(callback)


class DelKey(str):
    """A str key whose release runs Python code."""

    action = None

    def __del__(self):
        if DelKey.action:
            DelKey.action()


class AllocLess:
    """Compares by v, allocating on every comparison (each may start a collection)."""

    def __init__(self, v):
        self.v = v

    def __lt__(self, other):
        [self, other]  # noqa: B018
        return self.v < getattr(other, "v", 0)

    def __gt__(self, other):
        [self, other]  # noqa: B018
        return self.v > getattr(other, "v", 0)


class AllocLookup(dict):
    def __getitem__(self, key):
        [key]  # noqa: B018
        return dict.__getitem__(self, key)


class Garbage:
    """Cyclic garbage whose finalizer runs `action` when a collection frees it."""

    def __init__(self, action):
        self.me, self.action = self, action

    def __del__(self):
        self.action()


def hostile_rows(rnd):
    rows = []
    for i in range(24):
        kind = rnd.randrange(4)
        data = {DelKey("k"): AllocLess(rnd.randrange(5)), "é": rnd.randrange(3), "\udc80x": i,
                "t": "tx" * rnd.randrange(3), DelKey("o"): (rnd.randrange(2),)}
        if kind == 0:
            data = AllocLookup(data)
        elif kind == 1:
            data["k"] = rnd.randrange(5)  # a plain str key beside the DelKey one
        rows.append(data)
    return rows


def mutations(rows, rnd):
    """What the Python code run during the call does, by name; `keeps_rows`
    tells whether the list keeps the same row objects."""

    def clear_a_row():
        if rows:
            rows[rnd.randrange(len(rows))].clear()

    def drop_keys():
        for r in list(rows):
            if isinstance(r, dict):
                r.pop("k", None), r.pop("é", None)

    def replace_values():
        for r in list(rows):
            if isinstance(r, dict):
                r["k"] = AllocLess(rnd.randrange(5))
                r["t"] = DelKey("new")

    def reverse():
        rows.reverse()

    def swap():
        if len(rows) > 1:
            rows[0], rows[-1] = rows[-1], rows[0]

    def shrink():
        if rows:
            rows.pop(rnd.randrange(len(rows)))

    def replace_a_row():
        if rows:
            rows[rnd.randrange(len(rows))] = {"k": AllocLess(9), DelKey("t"): "new"}

    return {
        "clear a row": (clear_a_row, True),
        "drop keys": (drop_keys, True),
        "replace values": (replace_values, True),
        "reverse": (reverse, True),
        "swap": (swap, True),
        "shrink": (shrink, False),
        "replace a row": (replace_a_row, False),
    }


MUTATIONS = ["clear a row", "drop keys", "replace values", "reverse", "swap", "shrink", "replace a row"]
COLUMN_SETS = [["k"], ["-é", "k"], ["t", "-k"], ["o", "k", "é"], ("é", "t"), ["\udc80x", "k"]]


def check_outcome(call, rows, keeps_rows):
    originals = list(rows)
    try:
        out = call()
    except IndexError:  # the list became shorter during the extraction
        assert not keeps_rows
        return
    except BaseException as e:  # noqa: B036
        # a list shortened during the sort is an internal failure
        assert type(e).__name__ == "PanicException" and not keeps_rows, repr(e)
        return
    result = rows if out is None else out
    if keeps_rows:
        assert sorted(ids(result)) == sorted(ids(originals))
    else:
        assert all(isinstance(r, dict) for r in result)


@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
@pytest.mark.parametrize("mutation", MUTATIONS)
@pytest.mark.parametrize("trigger", ["gc callback", "finalizer of garbage", "release of a key"])
@pytest.mark.parametrize("inplace", [False, True])
def test_python_code_run_by_collections_and_releases(mutation, trigger, inplace):
    for trial in range(12):
        rnd = random.Random(trial)
        rows = hostile_rows(rnd)
        action, keeps_rows = mutations(rows, rnd)[mutation]
        columns = COLUMN_SETS[trial % len(COLUMN_SETS)]
        fire_at = 1 + trial * 3
        count = [0]

        def once():
            count[0] += 1
            if count[0] == fire_at:
                action()

        def callback(phase, info):
            if phase == "start" and trigger == "gc callback":
                once()

        garbage = [Garbage(once) for _ in range(40)] if trigger == "finalizer of garbage" else []
        del garbage  # freed only by a collection, which the call's allocations start
        DelKey.action = once if trigger == "release of a key" else None
        try:
            with collecting_at_every_allocation(callback):
                check_outcome(lambda: multikeysort(rows, columns, inplace), rows, keeps_rows)
        finally:
            DelKey.action = None
        gc.collect()


@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
def test_key_released_by_a_collection_clears_the_row_of_a_borrowed_value():
    """A collection started inside the call releases a key whose finalizer
    clears another row: the value taken from that row must stay alive."""

    class V:
        def __lt__(self, other):
            [other]  # noqa: B018
            return False

        __gt__ = __lt__

    for fire in range(1, 30):
        rows = []

        class K(str):
            def __del__(self):
                if len(rows) > 3:
                    rows[3].clear()

        k0 = K("a")
        rows.extend([{k0: None}, {"a": V()}, {"a": 1}, {"a": V(), "é": V()}] + [{"a": V()} for _ in range(8)])
        del k0
        n = [0]

        def callback(phase, info):
            if phase == "start":
                n[0] += 1
                if n[0] == fire:
                    rows[0].clear()

        with collecting_at_every_allocation(callback):
            check_outcome(lambda: multikeysort(rows, ["é", "a"], True), rows, True)
