"""Catalogue cases of backfill and backfill_iterdict."""
import collections
import math

import _tavo
from catalogue import ListSpy, case_list, fresh, list_calls, mismatch, raises, returns_where
from hostile_kit import Boom, ListSub, Raising, Text, hostile_str, raise_
from models import same

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
