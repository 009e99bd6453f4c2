"""multikeysort against the pure-Python model on generated tables.

Each column draws its values from one family. Within the ordered families
(ints, numbers without NaN, texts, tuples of ints) the order is a strict weak
order, so the stable sort has exactly one answer and the module must give the
model's. A column of mixed values (NaN, str against numbers, bytes against
tuples...) has no such order; then only the permutation is checked.
"""
import datetime
import math

from hypothesis import given, settings
from hypothesis import strategies as st

import multikeysort_model as model
from _tavo import multikeysort


class MyStr(str):
    pass


class Missing(dict):
    """A dict whose absent keys answer a default without being inserted."""

    def __init__(self, data, defaults):
        super().__init__(data)
        self.defaults = defaults

    def __missing__(self, key):
        if key in self.defaults:
            return self.defaults[key]
        raise KeyError(key)


class Mapping:
    def __init__(self, data):
        self.data = data

    def __getitem__(self, key):
        return self.data[key]


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
NAMES = ["a", "b", "c"]


@st.composite
def tables(draw, ordered):
    families = {name: draw(st.sampled_from(sorted(FAMILIES))) for name in NAMES}
    if not ordered:
        mixed_name = draw(st.sampled_from(NAMES))

    def value(name):
        if not ordered and name == mixed_name:
            return draw(MIXED)
        return draw(st.one_of(st.none(), FAMILIES[families[name]]))

    rows = []
    for _ in range(draw(st.integers(0, 40))):
        data = {name: value(name) for name in NAMES if draw(st.integers(0, 4))}
        shape = draw(st.integers(0, 12))
        if shape == 0:
            rows.append(draw(st.sampled_from([5, None, [1, 2], "a", (1,)])))
        elif shape == 1:
            rows.append(Mapping(data))
        elif shape == 2:
            rows.append(Missing(data, {n: value(n) for n in NAMES if draw(st.booleans())}))
        else:
            rows.append(data)
    columns = draw(
        st.lists(st.tuples(st.sampled_from(NAMES + ["zz"]), st.booleans()), min_size=1, max_size=4).map(
            lambda cs: [("-" if desc else "") + name for name, desc in cs]
        )
    )
    if draw(st.integers(0, 5)) == 0:
        columns = columns[0] if draw(st.booleans()) else tuple(columns)
    return rows, columns


def ids(xs):
    return [id(x) for x in xs]


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
