"""Catalogue cases of backfill and backfill_iterdict."""
import collections
import math
import random

import _tavo
from catalogue import ListSpy, case_list, fresh, list_calls, mismatch, raises, returns_where
from fuzz_kit import Sub, value
from hostile_kit import Boom, ListSub, Raising, Text, hostile_str, raise_
from models import same
from models import sequences as iter_models
from stress_kit import CAP, KEYS, LEAF_IDS, STRESS_SEED, Scenario, intact, is_internal, leaf_or_none, mutate_list

CASES, add = case_list()

_all_none = [None, None]
_raising_value = Raising()
for label, args, expected in [
    ("example", [None, None, 1, 2, 3, None, 4], [1, 1, 1, 2, 3, 3, 4]),
    ("empty", [], []),
    ("real", [0, None, "", None], [0, 0, "", ""]),
    ("nan", [math.nan, None], [math.nan, math.nan]),
    ("hostile-values", [None, _raising_value, None], [_raising_value] * 3),
]:
    add(f"backfill-{label}", "backfill", args, check=returns_where(
        lambda v, e=expected: len(v) == len(e) and all(a is b or same(a, b) for a, b in zip(v, e)), repr(expected)))
add("backfill-all-none", "backfill", _all_none,
    check=returns_where(lambda v: v == [None, None] and v is not _all_none, "a new list of the Nones"))
add("backfill-list-subclass", "backfill", ListSpy([None, 1, None]),
    check=returns_where(lambda v: type(v) is list and v == [1, 1, 1] and not list_calls, "[1, 1, 1]"))

# --- backfill_iterdict -----------------------------------------------------------

_spy_key, _spy_key_calls = hostile_str("k")
_DictSpy = type("DictSpy", (dict,), {n: (lambda n: lambda self, *a: raise_(Boom(n)))(n)
                                     for n in ("__iter__", "keys", "items", "values", "__getitem__", "__len__",
                                               "get", "__contains__")})


def _twin_key():
    class Twin(str):
        def __hash__(self):
            return str.__hash__(self) + 1

        def __eq__(self, other):
            return self is other

    return Twin("a")


for label, rows, expected in [
    ("example", [{"a": 1, "b": None}, {"a": 4, "b": 2}, {"a": None, "b": None}],
     [{"a": 1, "b": 2}, {"a": 4, "b": 2}, {"a": 4, "b": 2}]),
    ("empty", [], []),
    ("late-key", [{"b": None, "a": 1}, {"b": 2, "a": 3}], [{"a": 1, "b": 2}, {"b": 2, "a": 3}]),
    ("counts", [{}, {"k": None}, {"k": 1}], [{}, {"k": 1}, {"k": 1}]),
    ("never", [{"a": None}], [{}]),
    ("hostile-values", [{"k": None}, {"k": _raising_value}], [{"k": _raising_value}, {"k": _raising_value}]),
    ("spy-key", [{_spy_key: None}, {_spy_key: 3}], [{"k": 3}, {"k": 3}]),
    ("dict-subclass", [_DictSpy({"a": None}), _DictSpy({"a": 5})], [{"a": 5}, {"a": 5}]),
    ("twin-keys", [{"a": None, _twin_key(): None}, {"a": 1}], [{"a": 1}, {"a": 1}]),
    ("astral-keys", [{"😀": None}, {"😀": "x"}], [{"😀": "x"}, {"😀": "x"}]),
]:
    add(f"backfill_iterdict-{label}", "backfill_iterdict", rows, check=returns_where(
        lambda v, e=expected: same(v, e) and all(type(k) is str for d in v for k in d) and not _spy_key_calls,
        repr(expected)))
add("backfill_iterdict-row-int", "backfill_iterdict", [{"a": 1}, 5], check=mismatch(None, "int", "PyDict"))
add("backfill_iterdict-row-hostile", "backfill_iterdict", [Raising()], check=mismatch(None, "Raising", "PyDict"))
add("backfill_iterdict-row-mapping", "backfill_iterdict", [collections.OrderedDict(a=1), collections.ChainMap({})],
    check=mismatch(None, "ChainMap", "PyDict"))
add("backfill_iterdict-key-int", "backfill_iterdict", [{1: 2}], check=mismatch(None, "int", "PyString"))
add("backfill_iterdict-key-hostile", "backfill_iterdict", [{"a": 1, Raising(): None}],
    check=mismatch(None, "Raising", "PyString"))
add("backfill_iterdict-key-surrogate", "backfill_iterdict", [{"a": None}, {"\ud800": 1}],
    check=raises(UnicodeEncodeError))

# --- the sweeps --------------------------------------------------------------

PROBE = {"backfill": ([None, 1],), "backfill_iterdict": ([{"a": None}, {"a": 1}],)}

_keyed = Text("k")
_sparse_rows = [{k: (i if (i + j) % 3 == 0 else None) for j, k in enumerate("wxyz")} for i in range(30)]
NOMEMORY = {
    "backfill-example": fresh("backfill", [None, None, 1, 2, 3, None, 4]),
    "backfill-subclass": fresh("backfill", ListSub([None, "a", None])),
    "backfill-mismatch": fresh("backfill", "abc"),
    "backfill_iterdict-example": fresh("backfill_iterdict",
                                       [{"a": 1, "b": None}, {"a": 4, "b": 2}, {"a": None, "b": None}]),
    "backfill_iterdict-keys": fresh("backfill_iterdict",
                                    [{_keyed: None, "\u00e9": 1}, {_keyed: 2, "\U0001f600": None}, {}]),
    "backfill_iterdict-non-dict-row": fresh("backfill_iterdict", [{"a": 1}, 5]),
    "backfill_iterdict-int-key": fresh("backfill_iterdict", [{"a": None}, {1: 2}]),
    "backfill_iterdict-sparse": fresh("backfill_iterdict", _sparse_rows),
    "backfill_iterdict-surrogate-key": fresh("backfill_iterdict", [{"a": None}, {"\ud800": 1}]),
}
_hammer_values = [None if i % 3 else i for i in range(500)]
_hammer_rows = [{"a": None if i % 2 else i, "b": i} for i in range(300)]
HAMMER = {
    "backfill": lambda: _tavo.backfill(_hammer_values),
    "backfill_iterdict": lambda: _tavo.backfill_iterdict(_hammer_rows),
}
SCALE = {
    "backfill-1e7": ("backfill", "args = ([None, 1, None, None, 2] * (2 * 10**6),)",
                     "len(r) == 10**7 and r[-1] == 2 and r[0] == 1", 3),
    "backfill_iterdict-1e7-values": (
        "backfill_iterdict",
        "row = {'a': None, 'b': 1, 'c': None, 'd': 2, 'e': None}\n"
        "args = ([{'a': 0, 'b': None, 'c': 3, 'd': None, 'e': 4}] + [row] * (2 * 10**6 - 1),)",
        "len(r) == 2 * 10**6 and r[-1] == {'a': 0, 'b': 1, 'c': 3, 'd': 2, 'e': 4}", 30),
}


# --- the stress scenario (test_threads.py) ------------------------------------

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


STRESS = {"backfill": BackfillScenario, "backfill_iterdict": BackfillIterdictScenario}


# --- the fuzz target (fuzz/fuzz_tavo.py) -------------------------------------


def fuzz_backfill(fdp):
    values = [None if fdp.ConsumeIntInRange(0, 2) == 0 else value(fdp) for _ in range(fdp.ConsumeIntInRange(0, 10))]
    out = _tavo.backfill(values)
    expected = iter_models.backfill(values)
    assert len(out) == len(expected) and all(a is b for a, b in zip(out, expected))


def fuzz_backfill_iterdict(fdp):
    keys = ["a", "b", "c", "\U0001f600", Sub("a")]
    rows = [{keys[fdp.ConsumeIntInRange(0, 4)]: (None if fdp.ConsumeBool() else fdp.ConsumeIntInRange(0, 9))
             for _ in range(fdp.ConsumeIntInRange(0, 3))} for _ in range(fdp.ConsumeIntInRange(0, 8))]
    out = _tavo.backfill_iterdict(rows)
    assert same(out, iter_models.backfill_iterdict(rows)), (rows, out)


FUZZ = {"backfill": fuzz_backfill, "backfill_iterdict": fuzz_backfill_iterdict}
