"""multikeysort: columns, key values and their order, the driver, hostile input."""
import collections
import contextlib
import datetime
import decimal
import fractions
import gc
import math
import random
import signal
import sys
import threading
import uuid

import pytest
from hypothesis import given, settings, strategies as st

import catalogue
from _tavo import multikeysort
from hostile_kit import Float, Index, Mutating, panic_type
from models import multikeysort as model
from strategies import DictSub, SETTINGS, Sub, any_scalar, huge_ints


def ids(xs):
    return [id(x) for x in xs]


class Mapping:
    """Not a dict: looked up like one, but its keys never name a column."""

    def __init__(self, data):
        self.data = data

    def __getitem__(self, key):
        return self.data[key]


class WithMissing(dict):
    def __missing__(self, key):
        return 0


class MyFloat(float):
    pass


class MyStr(str):
    pass


# --- reading the columns --------------------------------------------------------------

ROWS = [{"a": 2, "b": 1, "-x": 1, "": 3}, {"a": 1, "b": 2, "-x": 3, "": 1}, {"a": 3, "b": 3, "-x": 2, "": 2}]


def sorted_by(columns):
    return [r["a"] for r in multikeysort(ROWS, columns)]


@pytest.mark.parametrize(
    "columns, expected",
    [
        ("a", [1, 2, 3]),
        ("-a", [3, 2, 1]),
        (MyStr("-a"), [3, 2, 1]),
        (["a", 5, None, "-b"], [1, 2, 3]),
        (["-b", 5, None, "a"], [3, 1, 2]),
        ([b"a", "-b"], [3, 1, 2]),  # bytes skipped in a list
        (["\udc80", "-b"], [3, 1, 2]),  # a str without UTF-8 skipped in a list
        (("a", 5), [2, 1, 3]),  # one bad element spoils a tuple
        (("-b", "a"), [3, 1, 2]),
        (("a", "-b"), [1, 2, 3]),
        (range(3), [2, 1, 3]),
        (5, [2, 1, 3]),
        ({"a": 1}, [2, 1, 3]),
        ({"a"}, [2, 1, 3]),
        ((c for c in ["a"]), [2, 1, 3]),  # not a sequence
        ([], [2, 1, 3]),
        ((), [2, 1, 3]),
        ("", [1, 3, 2]),  # ascending, the empty name
        ("-", [2, 3, 1]),  # descending, the empty name
        ("--x", [1, 3, 2]),  # descending on '-x'
        ("\udc80", [2, 1, 3]),
        (["zzz"], [2, 1, 3]),  # no dict has it: dropped
        (["zzz", "-a"], [3, 2, 1]),
    ],
)
def test_columns(columns, expected):
    assert sorted_by(columns) == expected


class Seq:
    """A user-defined sequence, read by iteration."""

    def __init__(self, items, fail_at=None, bad_len=False):
        self.items, self.fail_at, self.bad_len = items, fail_at, bad_len

    def __len__(self):
        if self.bad_len:
            raise RuntimeError("no len")
        return len(self.items)

    def __getitem__(self, i):
        if i == self.fail_at:
            raise RuntimeError("boom")
        return self.items[i]


@pytest.mark.parametrize(
    "columns, expected",
    [
        (Seq(["-a"]), [3, 2, 1]),
        (Seq(["-a"], bad_len=True), [3, 2, 1]),  # the length only sizes a buffer
        (Seq(["-a", "b"], fail_at=1), [2, 1, 3]),  # a raising element: no columns at all
        (Seq(["-a", 1]), [2, 1, 3]),
    ],
)
def test_columns_from_user_sequence(columns, expected):
    assert sorted_by(columns) == expected


# --- key values and their order ----------------------------------------------------------


def observed(x, y):
    """-1, 0 or 1: how multikeysort orders the values x and y, checked both
    ways round and on both directions, with equal values kept in input order."""
    a, b = {"k": x}, {"k": y}
    asc_ab = ids(multikeysort([a, b], "k")) == ids([a, b])
    asc_ba = ids(multikeysort([b, a], "k")) == ids([b, a])
    desc_ab = ids(multikeysort([a, b], "-k")) == ids([a, b])
    desc_ba = ids(multikeysort([b, a], "-k")) == ids([b, a])
    outcome = {
        (True, False, False, True): -1,
        (False, True, True, False): 1,
        (True, True, True, True): 0,
    }
    return outcome[(asc_ab, asc_ba, desc_ab, desc_ba)]


class RaisingLt:
    def __lt__(self, other):
        raise ValueError("no")

    def __gt__(self, other):
        return True


class LtTruthRaises:
    class Bad:
        def __bool__(self):
            raise ValueError("no truth")

    def __lt__(self, other):
        return self.Bad()

    def __gt__(self, other):
        return True


class Reflected:
    """`<` declines; the reflected `>` of the other operand answers."""

    def __init__(self, v):
        self.v = v

    def __lt__(self, other):
        return NotImplemented

    def __gt__(self, other):
        return self.v > other.v


class Declines:
    def __lt__(self, other):
        return NotImplemented

    __gt__ = __lt__


class Truthy:
    def __init__(self, v):
        self.v = v

    def __bool__(self):
        return self.v


class OddResult:
    """Comparisons answer objects whose truth decides."""

    def __init__(self, v):
        self.v = v

    def __lt__(self, other):
        return Truthy(self.v < other.v)

    def __gt__(self, other):
        return Truthy(self.v > other.v)


class SubReflected(Reflected):
    def __gt__(self, other):  # asked first, as the subclass of the left operand's type
        return self.v > other.v


NAN = float("nan")
D, DT = datetime.date, datetime.datetime
UTC = datetime.timezone.utc
PLUS2 = datetime.timezone(datetime.timedelta(hours=2))
Point = collections.namedtuple("Point", "x y")


class BackwardsDate(datetime.date):
    """A subclass whose comparisons run backwards: it keeps Python's order."""

    def __lt__(self, other):
        return datetime.date.__gt__(self, other)

    def __gt__(self, other):
        return datetime.date.__lt__(self, other)


class BackwardsBytes(bytes):
    def __lt__(self, other):
        return bytes.__gt__(self, other)

    def __gt__(self, other):
        return bytes.__lt__(self, other)


@pytest.mark.parametrize(
    "x, y, expected",
    [
        (True, 1, 0),
        (1, 1.0, 0),
        (True, 1.0, 0),
        (False, 0, 0),
        (2, 2.5, -1),
        (2.5, 3, -1),
        (-1, 0, -1),
        (-(2**63), 2**63 - 1, -1),
        # ints of any size compare exactly, with each other and with floats
        (2**64, 2.0**64, 0),
        (2**64 + 1, 2.0**64, 1),
        (2**64 + 1, 2**64, 1),
        (2**63, 2**63 - 1, 1),
        (2**63, 2.0**63, 0),
        (2**63 - 1, 2.0**63, -1),
        (-(2**63), -(2.0**63), 0),
        (-(2**63) + 1, -(2.0**63), 1),
        (-(2**63) - 1, -(2**63), -1),
        (-(2**63) - 1, -(2.0**63), -1),
        ((1 << 100) + 1, 1 << 100, 1),
        (-(1 << 100), -(1 << 100) - 1, 1),
        (2**53 + 1, 2**53, 1),
        (2**53 + 1, 2.0**53, 1),
        (2**53 - 1, 2.0**53, -1),
        (-(2**53) - 1, -(2.0**53), -1),
        (2**62 + 1, 2.0**62, 1),
        (2**64, 2**63 - 1, 1),
        (-(2**64), -(2**63), -1),
        (2**64, 1.5, 1),
        (2**64, NAN, 0),
        (2**64, "a", 0),
        (2**64, float("inf"), -1),
        (-(2**64), float("-inf"), 1),
        (True, 1.0, 0),
        (Index(2**64 + 1), 2**64, 1),  # __index__ beyond 64 bits: its integer, exactly
        (Index(2**64), 2.0**64, 0),
        (10**400, 10**401, -1),  # too big for a double: compared by Python
        (10**400, 5, 1),
        (10**400, float("inf"), -1),
        (-0.0, 0.0, 0),
        (float("-inf"), -1e308, -1),
        (NAN, 1, 0),
        (NAN, 1.0, 0),
        (NAN, NAN, 0),
        (NAN, "a", 0),
        ("Z", "a", -1),
        ("a", "ab", -1),
        ("", "a", -1),
        ("\x7f", "\x80", -1),  # byte order equals code point order
        ("\uffff", "\U00010000", -1),
        ("\ue000", "\U0001f600", -1),
        (MyStr("b"), "a", 1),
        ("10", 9, 0),  # str against int: TypeError both ways
        ("a", 1.5, 0),
        ("a", True, 0),
        ((1, 2), (1, 3), -1),
        ((1, 2), (1, 2), 0),
        ((1, 3), (1, 2, 5), 1),
        ((1,), 5, 0),  # tuple against int raises
        ((1,), "a", 0),
        (b"a", b"b", -1),
        (b"a", "b", 0),
        (decimal.Decimal("2.5"), 2, 1),  # __float__
        (decimal.Decimal("1.5"), 1.5, 0),
        (fractions.Fraction(1, 3), 0.3, 1),
        # __float__ without __index__: the nearest double, even against an int
        (decimal.Decimal("1.00000000000000000001"), decimal.Decimal(1), 0),
        (fractions.Fraction(2**64 + 1), 2**64, 0),
        (Index(7), 7, 0),
        (Index(7), 6.5, 1),
        (Index(2**70), 2**70 + 1, -1),  # through __index__, exactly
        (Float(2.0), 3, -1),
        (Float(NAN), 3, 0),
        (MyFloat(2.0), 1, 1),
        (Reflected(1), Reflected(2), -1),
        (Reflected(2), Reflected(2), 0),
        (Reflected(1), SubReflected(2), -1),
        (Declines(), Declines(), 0),  # unsupported: TypeError, so equal
        (OddResult(1), OddResult(2), -1),
        (OddResult(2), OddResult(2), 0),
        (RaisingLt(), RaisingLt(), 0),  # a raising < is equal; > is not asked
        (LtTruthRaises(), LtTruthRaises(), 0),
        # dates, naive datetimes, bytes and tuples of ordered values: native keys
        (D(2020, 1, 2), D(2020, 1, 10), -1),
        (D(1, 1, 1), D(9999, 12, 31), -1),
        (D(2020, 2, 1), D(2020, 1, 31), 1),
        (D(2020, 1, 1), D(2020, 1, 1), 0),
        (DT(2020, 1, 1, 0, 0, 0, 1), DT(2020, 1, 1), 1),
        (DT(2020, 1, 1, 23, 59, 59, 999999), DT(2020, 1, 2), -1),
        (DT(1, 1, 1), DT(9999, 12, 31, 23, 59, 59, 999999), -1),
        (DT(2020, 1, 1, fold=1), DT(2020, 1, 1), 0),  # fold plays no part between naive datetimes
        (DT(2020, 1, 1, 12, tzinfo=UTC), DT(2020, 1, 1, 13, tzinfo=PLUS2), 1),  # aware: by Python, in UTC
        (DT(2020, 1, 1, tzinfo=UTC), DT(2020, 1, 1), 0),  # aware against naive raises
        (DT(2020, 1, 1), D(2020, 1, 1), 0),  # a datetime against a date raises
        (D(2020, 1, 1), 5, 0),
        (BackwardsDate(2020, 1, 1), BackwardsDate(2020, 1, 2), 1),
        (b"a", b"a\x00", -1),
        (b"a\x00", b"a\x01", -1),
        (b"", b"\x00", -1),
        (b"\xff", b"\x00\x00", 1),
        (b"abcdefgh", b"abcdefgi", -1),  # longer than a packed key
        (b"abcdefg", b"abcdefg\x00", -1),
        (BackwardsBytes(b"a"), BackwardsBytes(b"b"), 1),
        ((), (0,), -1),
        ((1,), (1, 0), -1),
        ((-1,), (-256,), 1),
        ((-(2**63),), (2**63 - 1,), -1),
        ((2**64,), (2**63,), 1),  # wider than 64 bits: by Python
        ((1, "b"), (1, "a"), 1),
        (("\x00",), ("",), 1),
        (("a\x00b",), ("a",), 1),
        (("\U0001f600",), ("\uffff",), 1),
        ((1, 2.5), (1, 2), 1),
        ((2**53 + 1,), (float(2**53),), 1),  # exact, as Python compares an int with a float
        ((-0.0,), (0,), 0),
        ((float("-inf"),), (-1e308,), -1),
        ((NAN,), (1,), 0),
        ((True,), (1,), 0),
        ((1, b"a\x00"), (1, b"a"), 1),
        ((D(2020, 1, 1), 1), (D(2020, 1, 1), 0), 1),
        ((DT(2020, 1, 1, 0, 0, 1), "x"), (DT(2020, 1, 1), "y"), 1),
        ((1, "a"), (1, 2), 0),  # str against int raises
        (((1,),), ((2,),), -1),  # nested: by Python
        (("\udc80",), ("a",), 1),  # no UTF-8 text: by Python
        (Point(1, 2), (1, 3), -1),
        (tuple(range(20)), tuple(range(19)) + (20,), -1),
        (None, -(10**9), -1),  # None below everything
        (None, "", -1),
        (None, (), -1),
        (None, NAN, -1),
        (None, None, 0),
    ],
)
def test_value_order(x, y, expected):
    assert observed(x, y) == expected
    assert observed(y, x) == -expected


def test_str_with_surrogates_is_an_object_key():
    # Not a text key: compared through Python, which orders str by code point.
    assert observed("\udc80", "a") == 1
    assert observed("\udc80", 5) == 0


@pytest.mark.parametrize(
    "item",
    [
        {"j": 1},  # key missing
        {"k": None},
        5,
        None,
        [1, 2],
        "k",
        Mapping({}),
        {},
    ],
)
def test_null_keys_first_ascending_last_descending(item):
    rows = [{"k": 3}, item, {"k": -5}, {"k": "x"}]
    up = multikeysort(rows, "k")
    down = multikeysort(rows, "-k")
    assert up[0] is item
    assert down[-1] is item


class RaisingLookup(dict):
    def __init__(self, exc):
        super().__init__(k=1)
        self.exc = exc

    def __getitem__(self, key):
        raise self.exc


def test_getitem_raising_an_ordinary_exception_is_a_null_key():
    rows = [{"k": 0}] + [RaisingLookup(e) for e in (KeyError("k"), TypeError(), ValueError(), RuntimeError(),
                                                    ZeroDivisionError(), UnicodeError(), StopIteration())]
    assert ids(multikeysort(rows, "k")) == ids(rows[1:] + rows[:1])
    assert ids(multikeysort(rows, "k")) == ids(model.multikeysort(rows, "k"))


@pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit, GeneratorExit, MemoryError, RecursionError])
@pytest.mark.parametrize("inplace", [False, True])
def test_getitem_raising_an_interrupt_or_exit_ends_the_call(exc, inplace):
    rows = [{"k": 0}, RaisingLookup(exc("from getitem")), {"k": -1}]
    before = ids(rows)
    with pytest.raises(exc, match="from getitem"):
        multikeysort(rows, "k", inplace)
    assert ids(rows) == before
    with pytest.raises(exc):
        model.multikeysort(list(rows), "k")


# --- the driver -------------------------------------------------------------------------


@pytest.mark.parametrize("columns", [None, [], "zzz", ["zzz", 1], 5, ("a", 1)])
def test_unsorted_copy(columns):
    rows = [{"a": 2}, {"a": 1}, 7]
    before = list(rows)
    out = multikeysort(rows, columns)
    assert out is not rows and type(out) is list
    assert ids(out) == ids(before)
    assert multikeysort(rows, columns, True) is None
    assert ids(rows) == ids(before)


@pytest.mark.parametrize("inplace", [False, True])
@pytest.mark.parametrize("columns", [None, "a", ["-a", "b"]])
def test_empty(columns, inplace):
    items = []
    out = multikeysort(items, columns, inplace)
    if inplace:
        assert out is None
    else:
        assert out == [] and out is not items


@pytest.mark.parametrize(
    "columns, expected",
    [
        ("a", [{"a": 1}, {"a": 2}]),
        ("-a", [{"a": 2}, {"a": 1}]),
        (["a"], [{"a": 1}, {"a": 2}]),
    ],
)
def test_two_rows(columns, expected):
    assert multikeysort([{"a": 2}, {"a": 1}], columns) == expected


def test_descending_then_ascending():
    rows = [{"a": a, "b": b, "i": i} for i, (a, b) in enumerate([(1, "x"), (2, "b"), (1, "a"), (2, "a"), (3, "z")])]
    out = multikeysort(rows, ["-a", "b"])
    assert [(r["a"], r["b"]) for r in out] == [(3, "z"), (2, "a"), (2, "b"), (1, "a"), (1, "x")]


@pytest.mark.parametrize("inplace", [False, True])
@pytest.mark.parametrize("column", ["k", "-k", ["k", "-j"], ["-k", "-j"]])
@pytest.mark.parametrize("kind", ["int", "float", "str", "tuple", "mixed", "date", "datetime", "bytes",
                                  "long bytes", "text tuple", "date tuple"])
def test_stable_with_many_equal_keys(kind, column, inplace):
    values = {
        "int": [0, 1, 2],
        "float": [0.5, -1.5, 2.25],
        "str": ["b", "a", "c"],
        "tuple": [(1,), (0, 1), (2,)],
        "mixed": [1, 1.0, True],  # all equal
        "date": [D(2020, 5, 1), D(1999, 1, 1), D(2020, 5, 2)],
        "datetime": [DT(2020, 5, 1, 0, 0, 0, 1), DT(2020, 5, 1), DT(2020, 5, 1, fold=1)],
        "bytes": [b"b", b"a\x00", b"a"],
        "long bytes": [b"abcdefgh\x00", b"abcdefgh", b"a"],
        "text tuple": [(1, "b" * 9), (1, "b" * 8), (0.5, "")],
        "date tuple": [(D(2020, 5, 1), 2), (D(2020, 5, 1), -1), (D(2020, 4, 1), 5)],
    }[kind]
    rows = [{"k": values[(i * 7) % 3], "j": 1, "i": i} for i in range(3000)]
    rows[5] = {"i": 5}  # missing key
    rows[9] = {"i": 9, "k": None}
    expected = model.multikeysort(list(rows), column)
    out = list(rows)
    if inplace:
        assert multikeysort(out, column, True) is None
    else:
        out = multikeysort(rows, column)
    assert ids(out) == ids(expected)
    # equal keys in input order, whatever the direction
    groups = collections.defaultdict(list)
    for r in out:
        groups[repr(r.get("k"))].append(r["i"])
    assert all(g == sorted(g) for g in groups.values())


def test_items_that_are_not_dicts_keep_their_order():
    odd = [5, None, [1], "s", (2,), Mapping({"k": 1})]
    rows = [{"k": 2}, odd[0], {"k": 1}, odd[1], odd[2], odd[3], odd[4], odd[5]]
    up = multikeysort(rows, "k")
    assert ids(up[:5]) == ids(odd[:5])
    assert up[6] is odd[5]  # a mapping gives its value, 1, after the equal {"k": 1}
    down = multikeysort(rows, "-k")
    assert ids(down[3:]) == ids(odd[:5])


def test_column_in_some_dicts_only():
    rows = [{"a": 3}, {"b": 1}, {"a": 1}, {"c": 1}]
    assert multikeysort(rows, "a") == [{"b": 1}, {"c": 1}, {"a": 1}, {"a": 3}]


def test_column_only_in_non_dict_mappings_is_dropped():
    rows = [Mapping({"a": 2}), Mapping({"a": 1}), {"b": 2}, {"b": 1}]
    assert ids(multikeysort(rows, ["a", "b"])) == ids([rows[0], rows[1], rows[3], rows[2]])
    # once a dict names it, the mappings are looked up too
    rows.append({"a": 0})
    assert ids(multikeysort(rows, "a"))[:3] == ids(rows[2:5])


def test_key_names_are_str_keys_of_dict_items():
    class Keys(dict):
        def keys(self):
            return ["a"]

    rows = [{1: "a", b"a": 1, "\udc80": 1}, Keys(x=1), {"b": 1}, {"a\x00": 5}]
    # neither the int, the bytes, the surrogate key nor an overridden keys() names 'a'
    assert ids(multikeysort(rows, "a")) == ids(rows)
    rows2 = [{"a": 2}, Keys(a=1)]
    assert ids(multikeysort(rows2, "a")) == ids(rows2[::-1])


@pytest.mark.parametrize("rows_count", [3, 40])
@pytest.mark.parametrize("column", ["price", "-price"])
def test_keys_made_at_run_time_are_found_by_text(column, rows_count):
    # Dict keys built at run time are not the column's str, and are found by
    # their text all the same (the same for a subclass's hook).
    name = "".join(["pr", "ice"])
    assert name is not "price"  # noqa: F632 - the point is that they differ
    rows = [{name: (i * 7) % 5, "i": i} for i in range(rows_count)]
    rows.insert(1, WithMissing())  # its hook answers 0 for the key
    sign = -1 if column[0] == "-" else 1  # ties keep their order either way
    expected = sorted(rows, key=lambda r: sign * r[name])
    assert ids(multikeysort(rows, [column])) == ids(expected)


@pytest.mark.parametrize("descending", [False, True])
@pytest.mark.parametrize("key_type", [str, MyStr])
@pytest.mark.parametrize("rows_count", [2, 300])
@pytest.mark.thread_unsafe(reason="sys.intern is process-wide: a second thread's probe finds the first one's")
def test_column_names_made_at_run_time_are_not_kept(key_type, descending, rows_count):
    # An interned str lives as long as the process on some versions (3.12):
    # a lookup str interned by the call would pile up one per distinct name.
    # If a call had interned a copy of the text, sys.intern would answer that
    # copy instead of the new str.
    for i in range(20):
        name = "".join(["run-time column ", str(i), key_type.__name__, str(descending), str(rows_count)])
        rows = [{key_type(name): (j * 7) % 3} for j in range(rows_count)]
        column = "".join(["-" if descending else "", name])
        assert multikeysort(rows, [column]) is not None
        probe = "".join(["run-time column ", str(i), key_type.__name__, str(descending), str(rows_count)])
        assert sys.intern(probe) is probe


def test_str_subclass_key_names_a_column():
    rows = [{MyStr("a"): 2}, {MyStr("a"): 1}]
    assert ids(multikeysort(rows, "a")) == ids(rows[::-1])


def test_missing_hook_inserts_default_and_sorts_by_it():
    d = collections.defaultdict(lambda: 5)
    rows = [{"a": 7}, d, {"a": 1}]
    assert ids(multikeysort(rows, "a")) == ids([rows[2], d, rows[0]])
    assert d == {"a": 5}
    w = WithMissing()  # answers 0 without inserting it
    out = multikeysort([{"a": 1}, w, {"a": -1}], "a")
    assert out[1] is w and "a" not in w


def test_inplace_sorts_the_same_list():
    rows = [{"a": 3}, {"a": 1}, {"a": 2}]
    expected = ids(sorted(rows, key=lambda r: r["a"]))
    assert multikeysort(rows, "a", inplace=True) is None
    assert ids(rows) == expected


def test_list_subclass():
    class L(list):
        def __getitem__(self, i):
            raise AssertionError("not called")

        def __len__(self):
            raise AssertionError("not called")

    rows = L([{"a": 2}, {"a": 1}])
    out = multikeysort(rows, "a")
    assert type(out) is list and out == [{"a": 1}, {"a": 2}]
    assert multikeysort(rows, "a", True) is None
    assert [r["a"] for r in list.__iter__(rows)] == [1, 2]


def test_duplicate_columns():
    rows = [{"a": 1, "i": 0}, {"a": 2, "i": 1}, {"a": 1, "i": 2}]
    # 'a' then '-a' on equal 'a' changes nothing; '-a' first decides
    assert [r["i"] for r in multikeysort(rows, ["a", "-a"])] == [0, 2, 1]
    assert [r["i"] for r in multikeysort(rows, ["-a", "a"])] == [1, 0, 2]
    assert [r["i"] for r in multikeysort(rows, ["a", "-i", "-a", "i", "a"])] == [2, 0, 1]


class CountingLookup(dict):
    def __init__(self, calls, **items):
        super().__init__(**items)
        self.calls = calls  # the test's own list: tests may run in several threads at once

    def __getitem__(self, key):
        self.calls.append(key)
        return dict.__getitem__(self, key)


@pytest.mark.parametrize("columns", [["a", "a"], ["a", "-a"] * 50, ["-a", "b", "a", "-b", "a"], ("b", "a", "b")])
def test_a_repeated_column_name_is_dropped(columns):
    """A column named like an earlier one is dropped: no lookup, no comparison,
    the order of the first one alone (repeats of the name never change it)."""
    calls, compared = [], []

    class Counted:
        def __init__(self, v):
            self.v = v

        def __lt__(self, other):
            compared.append(1)
            return self.v < other.v

        def __gt__(self, other):
            compared.append(1)
            return self.v > other.v

    rows = [CountingLookup(calls, a=Counted(i % 3), b=Counted(-i)) for i in range(30)]

    def name(c):
        return c[1:] if c.startswith("-") else c

    first = []
    for c in columns:
        if name(c) not in map(name, first):
            first.append(c)
    expected = ids(multikeysort(rows, first))
    single = (len(calls), len(compared))
    calls.clear(), compared.clear()
    assert ids(multikeysort(rows, columns)) == expected
    assert (len(calls), len(compared)) == single
    assert len(calls) == len(rows) * len(first), "one lookup per row and distinct name"
    assert expected == ids(model.multikeysort(rows, columns))


@pytest.mark.parametrize("columns", [None, "a", 5])
@pytest.mark.parametrize("flag", [None, 0, 1, "yes", 1.0])
def test_inplace_not_a_bool(columns, flag):
    with pytest.raises(TypeError, match=r"^argument 'inplace': .* cannot be converted to 'PyBool'$"):
        multikeysort([{"a": 1}], columns, flag)


@pytest.mark.parametrize("items", [(), ({"a": 1},), {"a": 1}, None, "ab", iter([])])
def test_items_not_a_list(items):
    with pytest.raises(TypeError, match=r"^argument 'items': '\w+' object cannot be converted to 'PyList'$"):
        multikeysort(items, "a", None)  # items is checked before inplace


def test_keywords():
    assert multikeysort(columns="-a", items=[{"a": 1}, {"a": 2}]) == [{"a": 2}, {"a": 1}]
    rows = [{"a": 1}, {"a": 0}]
    assert multikeysort(rows, inplace=True, columns="a") is None and rows == [{"a": 0}, {"a": 1}]


def test_result_holds_the_same_objects():
    rows = [{"a": 2}, {"a": 1}]
    out = multikeysort(rows, "a")
    assert out[0] is rows[1] and out[1] is rows[0]


def test_float_column_with_nan_terminates():
    rows = [{"a": x} for x in [3.0, NAN, 1.0, NAN, 2.0, -0.0, 0.0] * 300]
    out = multikeysort(rows, "a")
    assert sorted(ids(out)) == sorted(ids(rows))


@pytest.mark.parametrize("values", [[0.0, -0.0, 0.0, -0.0], [-0.0, 0, False, 0.0]])
def test_signed_zero_is_zero(values):
    rows = [{"a": v} for v in values]
    assert ids(multikeysort(rows, "a")) == ids(rows)
    assert ids(multikeysort(rows, "-a")) == ids(rows)


def test_long_texts_and_common_prefixes():
    base = "prefix-" * 3
    words = [base + w for w in ["b", "a", "", "ab", "a\x00", "\x00", "ä", "z" * 5000]]
    rows = [{"s": w} for w in words * 50]
    expected = sorted(rows, key=lambda r: r["s"].encode())
    assert ids(multikeysort(rows, "s")) == ids(expected)
    assert ids(multikeysort(rows, "-s")) == ids(sorted(rows, key=lambda r: r["s"].encode(), reverse=True))


@pytest.mark.parametrize("n", [1, 2, 15, 16, 17, 63, 64, 65, 255, 256, 257, 1000, 5000])
@pytest.mark.parametrize("columns", [["a"], ["-a"], ["s"], ["-f"], ["a", "-s"], ["t"], ["-t", "a"]])
def test_sizes_around_thresholds(n, columns):
    import random

    rnd = random.Random(n)
    rows = [
        {"a": rnd.randrange(-5, 5), "s": rnd.choice(["", "a", "b", "ab", "abcdefghij", "abcdefghik"]),
         "f": rnd.choice([0.5, -1.0, 2.0, None]), "t": (rnd.randrange(3),)}
        for _ in range(n)
    ]
    for r in rows[::7]:
        r.pop("a", None)
    assert ids(multikeysort(rows, columns)) == ids(model.multikeysort(rows, columns))


def test_math_inf_and_extremes():
    values = [math.inf, -math.inf, 1e308, -1e308, 5e-324, 2**63 - 1, -(2**63), 2**53, 2**53 + 1]
    rows = [{"a": v} for v in values]
    assert ids(multikeysort(rows, "a")) == ids(model.multikeysort(rows, "a"))


@pytest.mark.parametrize("column", ["a", "-a"])
@pytest.mark.parametrize(
    "values",
    [
        [2**53 + 1, 2**53, 0.5, 2**62 + 1, 2**62, -1.5, -(2**62) - 1, -(2**62)],
        [2**64 + 1, 2**64, 2.0**64, 2**63, 2**63 - 1, 2.0**63, -(2**63), -(2**63) - 1, -(2.0**63)],
        [(1 << 100) + 1, 1 << 100, float(1 << 100), -(1 << 100), 10**400, -(10**400), 0, 0.5],
        [2**53 + 1, 2.0**53, 2**53 - 1, 2**53, float(2**53 + 2)],
        [uuid.UUID(int=(1 << 127) + (i * 7919) % 41).int for i in range(41)],  # one double for all
        [uuid.UUID(int=(i * 0x9E3779B97F4A7C15F39CC0605CEDC835) % 2**128).int for i in range(300)],
        [2**127, 2**127 - 1, 2.0**127, 2**128 - 1, 2**128, 2.0**128, -(2**127), -(2**127) - 1, -(2.0**127),
         3 * 2**126, 3.0 * 2**126, 2**64 - 1, 2**64, -(2**64), -(2.0**64), -(2**64) + 1, 2**96 + 1, 2.0**96],
    ],
    ids=["past 2**53", "around 64 bits", "past 64 bits", "one double", "uuids", "many uuids", "128-bit edges"],
)
def test_ints_of_any_size_and_floats_compare_exactly(values, column):
    # As Python compares them: no int rounds to a double, beside floats or not.
    rows = [{"a": v} for v in values]
    out = multikeysort(rows, column)
    assert [r["a"] for r in out] == sorted(values, reverse=column == "-a")
    assert ids(out) == ids(model.multikeysort(rows, column))


@pytest.mark.parametrize("extra", [0, 5, 50])
def test_many_columns_and_duplicates(extra):
    names = [f"c{i}" for i in range(extra)]
    rows = [dict({n: 0 for n in names}, a=i % 3, b=-i) for i in range(20)]
    columns = names + ["zz"] + names[::-1] + ["a", "-b", "zz2"] + names
    assert ids(multikeysort(rows, columns)) == ids(model.multikeysort(rows, columns))
    assert [r["a"] for r in multikeysort(rows, columns)] == [0] * 7 + [1] * 7 + [2] * 6


# --- against the model on generated tables --------------------------------------------------
#
# Each column draws its values from one family. Within the ordered families
# (ints, numbers without NaN, texts, tuples of ints) the order is a strict weak
# order, so the stable sort has exactly one answer and the module must give the
# model's. A column of mixed values (NaN, str against numbers, bytes against
# tuples...) has no such order; then only the permutation is checked.


class Missing(dict):
    """A dict whose absent keys answer a default without being inserted."""

    def __init__(self, data, defaults):
        super().__init__(data)
        self.defaults = defaults

    def __missing__(self, key):
        if key in self.defaults:
            return self.defaults[key]
        raise KeyError(key)


small = st.integers(-4, 4)
FAMILIES = {
    "ints": st.one_of(small, st.integers(-(2**63), 2**63 - 1), st.booleans()),
    "numbers": st.one_of(
        small,
        st.integers(-(2**53), 2**53),
        st.floats(allow_nan=False),
        st.sampled_from([0.0, -0.0, 0.5, -1.5, 2.0**64, 2**64, -(2**64), 2**70 + 1, 10**400, -(10**400)]),
        st.booleans(),
    ),
    # Ints of any size beside floats: every pair compares exactly.
    "wide numbers": st.one_of(
        st.integers(),
        st.integers(2**53 - 4, 2**53 + 4),
        st.integers(2**63 - 4, 2**64 + 4),
        st.integers(-(2**64) - 4, -(2**63) + 4),
        st.integers(2**126, 2**128),
        st.floats(allow_nan=False),
        st.sampled_from([2.0**53, 2.0**63, -(2.0**63), 2.0**64, float(2**127)]),
    ),
    "texts": st.one_of(
        st.sampled_from(["", "a", "ab", "b", "B", "a\x00", "ä", "aa", "\U0001f600", "abcdefghi", "abcdefghj"]),
        st.text(max_size=12),
        st.text(max_size=3).map(MyStr),
    ),
    "tuples": st.one_of(st.tuples(small), st.tuples(small, small)),
    # Object values the module orders natively: exact dates, naive datetimes,
    # bytes, and tuples whose positions each hold values of one ordered kind.
    "dates": st.dates(),
    "datetimes": st.one_of(st.datetimes(), st.datetimes().map(lambda d: d.replace(fold=1))),
    "bytes": st.one_of(st.binary(max_size=3), st.binary(min_size=6, max_size=10)),
    "record tuples": st.one_of(
        st.tuples(),
        st.tuples(st.one_of(small, st.integers(), st.floats(allow_nan=False))),
        st.tuples(small, st.text(max_size=3)),
        st.tuples(small, st.text(max_size=3), st.binary(max_size=3)),
    ),
    "dated tuples": st.tuples(st.sampled_from([0, 0.5, -1.5, 2**53, 2**53 + 1, float(2**53)]), st.dates()),
}
MIXED = st.one_of(
    *FAMILIES.values(),
    st.just(math.nan),
    st.floats(),
    st.integers(),
    st.binary(max_size=2),
    st.just("\udc80"),
    st.just(None),
    st.dates(),
    st.datetimes(timezones=st.sampled_from([None, datetime.timezone.utc])),
    st.tuples(st.one_of(small, st.text(max_size=2), st.just(math.nan), st.tuples(small))),
)
TABLE_NAMES = ["a", "b", "c"]


@st.composite
def tables(draw, ordered):
    families = {name: draw(st.sampled_from(sorted(FAMILIES))) for name in TABLE_NAMES}
    if not ordered:
        mixed_name = draw(st.sampled_from(TABLE_NAMES))

    def value(name):
        if not ordered and name == mixed_name:
            return draw(MIXED)
        return draw(st.one_of(st.none(), FAMILIES[families[name]]))

    rows = []
    for _ in range(draw(st.integers(0, 40))):
        data = {name: value(name) for name in TABLE_NAMES if draw(st.integers(0, 4))}
        shape = draw(st.integers(0, 12))
        if shape == 0:
            rows.append(draw(st.sampled_from([5, None, [1, 2], "a", (1,)])))
        elif shape == 1:
            rows.append(Mapping(data))
        elif shape == 2:
            rows.append(Missing(data, {n: value(n) for n in TABLE_NAMES if draw(st.booleans())}))
        else:
            rows.append(data)
    columns = draw(
        st.lists(st.tuples(st.sampled_from(TABLE_NAMES + ["zz"]), st.booleans()), min_size=1, max_size=4).map(
            lambda cs: [("-" if desc else "") + name for name, desc in cs]
        )
    )
    if draw(st.integers(0, 5)) == 0:
        columns = columns[0] if draw(st.booleans()) else tuple(columns)
    return rows, columns


@settings(max_examples=400, deadline=None)
@given(tables(ordered=True), st.booleans())
def test_same_order_as_model(table, inplace):
    rows, columns = table
    expected = model.multikeysort(list(rows), columns)
    if inplace:
        got = list(rows)
        assert multikeysort(got, columns, True) is None
    else:
        got = multikeysort(rows, columns)
        assert got is not rows
    assert ids(got) == ids(expected)


@settings(max_examples=150, deadline=None)
@given(tables(ordered=True), st.booleans())
def test_long_lists_same_order_as_model(table, inplace):
    # Past the short-list length the general sort runs: the rows repeated.
    rows, columns = table
    if not rows:
        return
    rows = rows * (300 // len(rows) + 1)
    expected = model.multikeysort(list(rows), columns)
    got = list(rows)
    if inplace:
        assert multikeysort(got, columns, True) is None
    else:
        got = multikeysort(rows, columns)
    assert ids(got) == ids(expected)


@settings(max_examples=300, deadline=None)
@given(tables(ordered=False), st.booleans())
def test_mixed_values_give_a_permutation(table, inplace):
    rows, columns = table
    got = list(rows)
    if inplace:
        assert multikeysort(got, columns, True) is None
    else:
        got = multikeysort(rows, columns)
    assert sorted(ids(got)) == sorted(ids(rows))


@settings(max_examples=200, deadline=None)
@given(st.lists(st.one_of(st.integers(-3, 3), st.none(), st.floats(allow_nan=False, width=16)), max_size=60),
       st.booleans())
def test_one_numeric_column_matches_sorted(values, descending):
    rows = [{"a": v} if v is not None or i % 2 else {} for i, v in enumerate(values)]
    present = [r for r in rows if r.get("a") is not None]
    absent = [r for r in rows if r.get("a") is None]
    ordered = sorted(present, key=lambda r: r["a"], reverse=descending)
    expected = ordered + absent if descending else absent + ordered
    if not present and all(not r for r in rows):
        expected = rows  # no dict has the key: unsorted
    assert ids(multikeysort(rows, "-a" if descending else "a")) == ids(expected)


# --- nasty inputs (strategies.py) -------------------------------------------------------


NASTY_NAMES = ["a", "b", "-a", "", "\u01c5", "\U0001f600"]


sort_values = st.one_of(
    st.none(), st.booleans(), huge_ints, st.floats(allow_nan=True), st.sampled_from([-0.0, 0.0, math.inf]),
    st.text(alphabet=any_scalar, max_size=4), st.text(max_size=3).map(Sub), st.tuples(st.integers(0, 2)),
)


def items_strategy():
    row = st.dictionaries(st.sampled_from(NASTY_NAMES), sort_values, max_size=3)
    return st.lists(st.one_of(row, row.map(DictSub), st.sampled_from([None, 5, "x", (1,)])), max_size=14)


def columns_strategy():
    names = st.lists(st.sampled_from(NASTY_NAMES + ["-b", "--a", "-"]), max_size=3)
    return st.one_of(names, names.map(tuple), st.sampled_from(NASTY_NAMES), st.none(), names.map(lambda n: n + [5]))


@given(items_strategy(), columns_strategy(), st.sampled_from([None, False, True]))
@SETTINGS
def test_multikeysort_on_nasty_rows(items, columns, inplace):
    before = list(items)
    args = (items, columns) if inplace is None else (items, columns, inplace)
    got = multikeysort(*args)
    if inplace:
        assert got is None
        got = items
    else:
        assert type(got) is list and got is not items
        assert all(a is b for a, b in zip(items, before))
    assert sorted(map(id, got)) == sorted(map(id, before)), "not a permutation of the items"
    names = model.key_names(before)
    cols = [] if columns is None else [c for c in model.parse_columns(columns) if c[0] in names]
    if model.totally_ordered(before, cols):
        expected = model.multikeysort(list(before), columns)
        assert [id(x) for x in got] == [id(x) for x in expected]


# --- the catalogue: columns, odd keys, lists changed during the sort, panics ----


@pytest.mark.hostile
@catalogue.parametrize(catalogue.multikeysort.CASES)
def test_catalogue(case):
    catalogue.run(case)


# --- hostile objects: comparisons and lookups that lie, raise or mutate ------------------
#
# Whatever Python code does during a call, the call ends with a result that is
# a permutation of the items, or with an exception; no reference is gained or
# lost, and a failure leaves the list as the Python code left it.

PanicException = panic_type()


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


@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs setitimer")
@pytest.mark.parametrize("make", [slow_comparisons, slow_lookups, slow_comparisons_after_ties],
                         ids=lambda f: f.__name__)
@pytest.mark.parametrize("inplace", [False, True])
@pytest.mark.thread_unsafe(reason="interrupts by a timer signal, which only the main thread receives")
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


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("descending", [False, True])
@pytest.mark.parametrize("small_stack", [False, True])
@pytest.mark.thread_unsafe(reason="sets threading.stack_size, which is process-wide")
def test_many_tied_columns(kind, descending, small_stack):
    rows, names = wide_rows(kind)
    columns = ["-" + c for c in names] if descending else names
    sort = lambda: multikeysort(rows, columns)  # noqa: E731
    got = in_small_stack_thread(sort) if small_stack else sort()
    assert ids(got) == ids(model.multikeysort(rows, columns))


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
@pytest.mark.thread_unsafe(reason="sets threading.stack_size, which is process-wide")
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


@pytest.mark.parametrize("width", [10, 1000, 20_000])
@pytest.mark.parametrize("n", [2, 5, 40])
@pytest.mark.thread_unsafe(reason="counts comparisons in a class attribute that every thread shares")
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


@pytest.mark.parametrize("mutation", MUTATIONS)
@pytest.mark.parametrize("trigger", ["gc callback", "finalizer of garbage", "release of a key"])
@pytest.mark.parametrize("inplace", [False, True])
@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
@pytest.mark.usefixtures("settled_heap")
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


# --- hostile: re-entered on the same list, list changed while it sorts ---------------


@pytest.mark.hostile
def test_multikeysort_reentered_on_the_same_list():
    items = []
    state = {"inner": 0}

    class Reenters:
        def __init__(self, v):
            self.v = v

        def __lt__(self, other):
            if state["inner"] < 3:
                state["inner"] += 1
                assert multikeysort(items, "k", True) is None
            return self.v < other.v

        def __gt__(self, other):
            return self.v > other.v

    items.extend({"k": Reenters(v)} for v in [5, 3, 9, 1, 7])
    out = multikeysort(items, "k")
    # The inner in-place sorts reorder the list under the outer one; the outer
    # gathers from the list as it then is, so it returns five of its items.
    assert len(out) == 5 and {id(x) for x in out} <= {id(x) for x in items}


@pytest.mark.hostile
def test_multikeysort_inplace_with_list_cleared_keeps_it_empty():
    panic = panic_type()
    items = []
    items.extend({"k": Mutating(items.clear)} for _ in range(5))
    with pytest.raises(panic):
        multikeysort(items, "k", True)
    assert items == []


@pytest.mark.hostile
def test_multikeysort_shrunk_in_extraction_leaves_the_list():
    items = []

    class Drops(dict):
        def __missing__(self, key):
            del items[-1]
            return 0

    keep = [{"k": 2}, Drops(), {"k": 1}, {"k": 0}]
    items.extend(keep)
    with pytest.raises(IndexError):
        multikeysort(items, "k", True)
    assert items == keep[:3]
