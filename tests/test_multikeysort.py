"""multikeysort: columns, key values and their order, the driver, hostile input."""
import collections
import datetime
import decimal
import fractions
import math

import pytest

import multikeysort_model as model
from _tavo import multikeysort


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


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class Floaty:
    def __init__(self, v):
        self.v = v

    def __float__(self):
        return self.v


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
        (2**64, 2.0**64, 0),  # a float key, equal to the float
        (2**64 + 1, 2.0**64, 0),  # nearest double
        (2**63, 2**63 - 1, 0),  # 2**63 - 1 becomes 2.0**63 against a float key
        (-(2**63) - 1, -(2**63), 0),
        (2**53 + 1, 2**53, 1),  # two int keys compare exactly
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
        (Index(7), 7, 0),
        (Index(7), 6.5, 1),
        (Index(2**70), 2**70, 0),  # through __index__, then through the double
        (Floaty(2.0), 3, -1),
        (Floaty(NAN), 3, 0),
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
    # The lookup str is interned; dict keys built at run time are not, and
    # are found by their text all the same (the same for a subclass's hook).
    name = "".join(["pr", "ice"])
    assert name is not "price"  # noqa: F632 - the point is that they differ
    rows = [{name: (i * 7) % 5, "i": i} for i in range(rows_count)]
    rows.insert(1, WithMissing())  # its hook answers 0 for the key
    sign = -1 if column[0] == "-" else 1  # ties keep their order either way
    expected = sorted(rows, key=lambda r: sign * r[name])
    assert ids(multikeysort(rows, [column])) == ids(expected)


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
    calls = None

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

    CountingLookup.calls = calls
    rows = [CountingLookup(a=Counted(i % 3), b=Counted(-i)) for i in range(30)]

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


@pytest.mark.parametrize("flag, inplace", [(True, True), (False, False)])
def test_numpy_bool_flag(flag, inplace):
    np = pytest.importorskip("numpy")
    rows = [{"a": 2}, {"a": 1}]
    out = multikeysort(rows, "a", np.bool_(flag))
    if inplace:
        assert out is None and rows == [{"a": 1}, {"a": 2}]
    else:
        assert out == [{"a": 1}, {"a": 2}] and rows == [{"a": 2}, {"a": 1}]


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
def test_wide_ints_beside_floats_compare_exactly_among_themselves(column):
    # Ints past 2**53 share a double, but two int keys compare as integers.
    values = [2**53 + 1, 2**53, 0.5, 2**62 + 1, 2**62, -1.5, -(2**62) - 1, -(2**62)]
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
