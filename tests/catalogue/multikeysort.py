"""Catalogue cases of multikeysort: columns, keys that raise or answer oddly, lists
changed during the sort."""
import collections
import decimal
import math
import random

import _tavo
from catalogue import ListSpy, PANIC_TEXT, build, case_list, fresh, list_calls, panics, raises, returns_where
from fuzz_kit import row, sort_columns
from hostile_kit import (
    Answers, BadBool, Boom, Float, Getter, Index, Missing, Mutating, NotImplementedCmp, PanicCmp, Raising,
    RaisesPanic, hostile_str, numpy_like_bool, panic_type, raise_,
)
from models import multikeysort as multikeysort_model
from stress_kit import CAP, STRESS_SEED, Scenario, Slow, intact, is_internal, mutate_list

CASES, add = case_list()

_r1, _r2, _r3 = {"k": 3, "n": "c"}, {"k": 1, "n": "a"}, {"k": 2, "n": "b"}
_rows = [_r1, _r2, _r3]
_no_key = Getter(lambda key: raise_(Boom("getitem")))
_returns_raising = Getter(lambda key: Raising())
_shared = [1]
_dd = collections.defaultdict(lambda: 0, {"x": 1})
for label, args, expected in [
    ("example", (_rows, "k"), [_r2, _r3, _r1]),
    ("descending", (_rows, ["-k"]), [_r1, _r3, _r2]),
    ("text", (_rows, ("n",)), [_r2, _r3, _r1]),
    ("none-columns", (_rows, None), _rows),
    ("unknown-column", (_rows, ["zz"]), _rows),
    ("bad-columns", (_rows, 5), _rows),
    ("empty", ([], "k"), []),
    ("getitem-raises", ([_r1, _no_key, _r2], "k"), [_no_key, _r2, _r1]),
    ("getitem-raises-desc", ([_r1, _no_key, _r2], "-k"), [_r1, _r2, _no_key]),
    ("non-dicts", ([_r1, 5, None, _shared, _r2], "k"), [5, None, _shared, _r2, _r1]),
    ("defaultdict", ([_r1, _dd], ["k"]), [_dd, _r1]),
]:
    add(f"multikeysort-{label}", "multikeysort", *args, check=returns_where(
        lambda v, e=expected: type(v) is list and len(v) == len(e) and all(a is b for a, b in zip(v, e)),
        repr(expected)))

# Numbers compare exactly, ints of any size among themselves and against floats.
_w = [{"k": 2**64 + 1}, {"k": 2.0**64}, {"k": 2**64}, {"k": 2**63 - 1}, {"k": -(2**70)}, {"k": 2.0**53},
      {"k": 2**53 + 1}, {"k": 10**400}]
for label, columns, order in [("wide-ints", "k", [4, 5, 6, 3, 1, 2, 0, 7]),
                              ("wide-ints-desc", ["-k"], [7, 0, 1, 2, 3, 6, 5, 4])]:
    expected = [_w[i] for i in order]
    add(f"multikeysort-{label}", "multikeysort", _w, columns, check=returns_where(
        lambda v, e=expected: type(v) is list and len(v) == len(e) and all(a is b for a, b in zip(v, e)),
        "the numbers in order"))


# In place, over the native encodings of objects (tuples, bytes) and texts.
def _inplace_objects():
    items = [{"k": (i % 3, -i), "b": b"xy"[: i % 3], "t": "ab"[i % 2:]} for i in range(8)] + [5, None]
    return (items, ["-k", "b", "t"], True), {}


add("multikeysort-inplace-objects", "multikeysort", make=_inplace_objects,
    check=returns_where(lambda v: v is None, "None"))
add("multikeysort-inplace-not-a-bool", "multikeysort", _rows, "k", 1,
    check=raises(TypeError, "argument 'inplace': 'int' object cannot be converted to 'PyBool'"))

_raising_items = [{"k": Raising()} for _ in range(5)]
_ni_items = [{"k": NotImplementedCmp()} for _ in range(5)]
_badbool_items = [{"k": Answers(BadBool())} for _ in range(5)]
_index_items = [{"k": Index(3)}, {"k": Index(Boom("i"))}, {"k": Index("x")}, {"k": 1}, {"k": Float(2.5)},
                {"k": Float(Boom("f"))}, {"k": Float("no")}, {"k": decimal.Decimal("1.5")}, {"k": 2 ** 64},
                {"k": 2 ** 2000}, {"k": -(2 ** 2000)}, {"k": math.nan}, {"k": -0.0}]
for label, items in [("lt-raises", _raising_items), ("not-implemented", _ni_items), ("bool-raises", _badbool_items)]:
    # Every comparison comes out equal: the stable sort keeps the input order.
    add(f"multikeysort-{label}", "multikeysort", items, "k", check=returns_where(
        lambda v, e=items: all(a is b for a, b in zip(v, e)) and len(v) == len(e), "the input order"))
add("multikeysort-odd-numbers", "multikeysort", _index_items, "k", check=returns_where(
    lambda v: sorted(map(id, v)) == sorted(map(id, _index_items)), "a permutation"))


def _permutation_of(items):
    ids = sorted(map(id, items))
    return lambda v: v is None or sorted(map(id, v)) == ids


def _clears_during_sort():
    items = []
    items.extend({"k": Mutating(items.clear)} for _ in range(6))
    return (items, "k"), {}


def _extends_during_sort():
    items = []
    items.extend({"k": Mutating(lambda: items.append({"k": 0}))} for _ in range(4))
    return (items, "k"), {}


def _reverses_during_sort():
    items = []
    items.extend({"k": Mutating(items.reverse, True)} for _ in range(6))
    return (items, "k"), {}


def _shrinks_during_extraction():
    items = []
    items.extend([{"k": 1}, Getter(lambda key: items.clear()), {"k": 2}, {"k": 0}])
    return (items, "k"), {}


def _missing_shrinks():
    items = []
    items.extend([{"k": 1}, Missing(lambda key: items.pop()), {"k": 2}])
    return (items, "k"), {}


def _random_answers():
    import random

    rng = random.Random(7)
    items = [{"k": Mutating(lambda: None, None)} for _ in range(40)]
    for it in items:
        it["k"].answer = rng.random() < 0.5
    return (items, "k"), {}


def _inplace_clears():
    items = []
    items.extend({"k": Mutating(items.clear)} for _ in range(6))
    return (items, "k", True), {}


add("multikeysort-clears-during-sort", "multikeysort", make=_clears_during_sort, check=panics())
add("multikeysort-clears-during-sort-inplace", "multikeysort", make=_inplace_clears, check=panics())
add("multikeysort-extends-during-sort", "multikeysort", make=_extends_during_sort,
    check=returns_where(lambda v: type(v) is list and len(v) == 4, "the four items sorted"))
add("multikeysort-reverses-during-sort", "multikeysort", make=_reverses_during_sort,
    check=returns_where(lambda v: type(v) is list and len(v) == 6, "six items"))
add("multikeysort-shrinks-during-extraction", "multikeysort", make=_shrinks_during_extraction,
    check=raises(IndexError, "list index out of range"))
add("multikeysort-missing-shrinks", "multikeysort", make=_missing_shrinks,
    check=raises(IndexError, "list index out of range"))
add("multikeysort-random-answers", "multikeysort", make=_random_answers,
    check=returns_where(lambda v: type(v) is list and len(v) == 40, "forty items"))

_col_spy, _col_calls = hostile_str("-k")


class _BadSeq:
    def __len__(self):
        raise Boom("len")

    def __getitem__(self, i):
        if i < 1:
            return "k"
        raise Boom("getitem")


class _SeqNonStr:
    def __len__(self):
        return 2

    def __getitem__(self, i):
        return ["k", 5][i] if i < 2 else raise_(IndexError(i))


for label, columns, expected in [
    ("columns-str-subclass", _col_spy, [_r1, _r3, _r2]),
    ("columns-list-of-spies", [_col_spy], [_r1, _r3, _r2]),
    ("columns-bad-sequence", _BadSeq(), _rows),
    ("columns-sequence-non-str", _SeqNonStr(), _rows),
    ("columns-generator-like", iter(["k"]), _rows),
    ("columns-surrogate", "k\ud800", _rows),
    ("columns-mixed-list", ["zz", 5, None, b"k", "\ud800", "k"], [_r2, _r3, _r1]),
]:
    add(f"multikeysort-{label}", "multikeysort", _rows, columns, check=returns_where(
        lambda v, e=expected: all(a is b for a, b in zip(v, e)) and len(v) == len(e) and not _col_calls,
        repr(expected)))

_items_spy = ListSpy([_r1, _r2])
add("multikeysort-list-subclass", "multikeysort", _items_spy, "k",
    check=returns_where(lambda v: type(v) is list and v == [_r2, _r1] and not list_calls, "a plain list"))


# A PanicException raised by Python code the module calls resumes as the call's own.
for label, make in [
    ("lt", lambda: (([{"k": PanicCmp(PANIC_TEXT)}, {"k": (1,)}], "k"), {})),
    ("bool", lambda: (([{"k": Answers(RaisesPanic(PANIC_TEXT))}, {"k": (1,)}], "k"), {})),
    ("missing", lambda: (([{"k": 1}, Missing(lambda key: raise_(panic_type()(PANIC_TEXT)))], "k"), {})),
    ("float", lambda: (([{"k": 1}, {"k": Float(panic_type()(PANIC_TEXT))}], "k"), {})),
    ("getitem", lambda: (([{"k": 1}, Getter(lambda key: raise_(panic_type()(PANIC_TEXT)))], "k"), {})),
    ("index", lambda: (([{"k": 1}, {"k": RaisesPanic(PANIC_TEXT)}], "k"), {})),
]:
    add(f"panic-multikeysort-{label}", "multikeysort", make=make, check=panics(PANIC_TEXT))

# --- the sweeps --------------------------------------------------------------

PROBE = {"multikeysort": ([{"a": 2}, {"a": 1}], "a")}


class _Version:
    """An object column value: ordered through __lt__ and __gt__ in Python."""

    def __init__(self, v):
        self.v = v

    def __lt__(self, other):
        return self.v < other.v

    def __gt__(self, other):
        return self.v > other.v


def _sort_in_place(columns, rows):
    def make():
        items = build(rows)
        return _tavo.multikeysort, (items, columns, True), {}, (items,), True

    return make


def _sort_clears():
    items = []
    items.extend({"k": Mutating(items.clear)} for _ in range(3))
    return _tavo.multikeysort, (items, "k"), {}, (), False


_rows = [{"price": 3, "name": "c"}, {"price": 1, "name": "a"}, {"price": 3, "name": "b"},
         {"price": 2.5, "name": "z"}, {"name": "q"}]
_obj_rows = [{"v": _Version(i % 3), "d": decimal.Decimal(i)} for i in range(6)]
_many_rows = [{"a": i % 7, "b": f"s{i % 5}", "c": (i * 0.5 if i % 3 else None)} if i % 11 else {"b": "x"}
              for i in range(40)]
NOMEMORY = {
    "multikeysort-columns": fresh("multikeysort", _rows, ["-price", "name"]),
    "multikeysort-str-column": fresh("multikeysort", _rows, "name"),
    "multikeysort-tuple-columns": fresh("multikeysort", _rows, ("price", "-name", "zz")),
    "multikeysort-object-columns": fresh("multikeysort", _obj_rows, ["v", "-d"]),
    "multikeysort-getter": fresh("multikeysort", [_rows[0], Getter(lambda k: 5), _rows[1]], ["price"]),
    "multikeysort-raising-values": fresh("multikeysort", [{"k": Raising()}, {"k": Raising()}, {"k": 1}], "k"),
    "multikeysort-in-place": _sort_in_place(["-price", "name"], _rows),
    "multikeysort-numpy-flag": fresh("multikeysort", _rows, ["name"],
                                     numpy_like_bool(bool_method=lambda self: False)()),
    "multikeysort-flag-mismatch": fresh("multikeysort", _rows, ["name"], None),
    "multikeysort-items-mismatch": fresh("multikeysort", (1, 2), ["name"]),
    "multikeysort-too-many": fresh("multikeysort", [], [], False, 4),
    "multikeysort-panic": _sort_clears,
    "multikeysort-many-rows": fresh("multikeysort", _many_rows, ["-a", "b", "c", "missing"]),
    "multikeysort-many-rows-in-place": _sort_in_place(["c", "-b"], _many_rows),
}
_hammer_items = [{"k": (i * 37) % 101, "n": str(i)} for i in range(300)]
HAMMER = {"multikeysort": lambda: _tavo.multikeysort(_hammer_items, ["k", "-n"])}
SCALE = {
    "multikeysort-1e7-ints": (
        "multikeysort",
        "rows = [{'k': (i * 7919) % 1000, 'n': i % 97} for i in range(1000)]\n"
        "args = (rows * 10**4, ['k', '-n'])",
        "len(r) == 10**7 and all(r[i]['k'] <= r[i + 1]['k'] for i in range(0, 10**7 - 1, 997))", 20),
    "multikeysort-1e6-text": (
        "multikeysort",
        "args = ([{'s': 'key%07d' % ((i * 7919) % 10**6)} for i in range(10**6)], 's')",
        "len(r) == 10**6 and r[0]['s'] == 'key0000000' and r[-1]['s'] == 'key0999999'", 6),
    "multikeysort-1e5-long-prefixes": (
        "multikeysort",
        "args = ([{'s': 'x' * 2000 + str((i * 7919) % 10**5)} for i in range(10**5)], ['s', '-s'])",
        "len(r) == 10**5 and all(r[i]['s'] <= r[i + 1]['s'] for i in range(10**5 - 1))", 6),
}


# --- the stress scenario (test_threads.py) ------------------------------------

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


STRESS = {
    "multikeysort": lambda: MultikeysortScenario(slow=False),
    "multikeysort_python_keys": lambda: MultikeysortScenario(slow=True),
    "multikeysort_rows_change": lambda: MultikeysortScenario(slow=False, rows_change=True),
}


# --- the fuzz target (fuzz/fuzz_tavo.py) -------------------------------------


def fuzz_multikeysort(fdp):
    items = [row(fdp) for _ in range(fdp.ConsumeIntInRange(0, 12))]
    cols = sort_columns(fdp)
    inplace = fdp.ConsumeIntInRange(0, 2)
    before = list(items)
    if inplace == 2:
        out = _tavo.multikeysort(items, cols)
    else:
        out = _tavo.multikeysort(items, cols, bool(inplace))
    if inplace == 1:
        assert out is None
        got = items
    else:
        assert type(out) is list and out is not items
        assert all(a is b for a, b in zip(items, before)), "the input list changed"
        got = out
    assert sorted(map(id, got)) == sorted(map(id, before)), "not a permutation of the items"
    if cols is not None:
        names = multikeysort_model.key_names(before)
        kept = [c for c in multikeysort_model.parse_columns(cols) if c[0] in names]
        if multikeysort_model.totally_ordered(before, kept):
            expected = multikeysort_model.multikeysort(list(before), cols)
            assert all(a is b for a, b in zip(got, expected)), (before, cols, got, expected)


FUZZ = {"multikeysort": fuzz_multikeysort}
