"""Property tests with nasty inputs, against the pure-Python models in tests/.

The function tests compare each function with its model on well-chosen
alphabets; these add what is easy to miss there: every Nd digit of every
script and every White_Space character, titlecase letters and astral code
points, huge and negative integers at and around the 64-bit edges, NaN and
-0.0, subclasses of str, list, tuple and dict, and deep nesting. Each test
skips while its function or its model is not there.
"""
import collections
import functools
import math
import sys
import unicodedata

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import _tavo
from hostile_kit import need

SETTINGS = settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])


def model(name):
    return pytest.importorskip(name)


# --- alphabets -----------------------------------------------------------------------


def _ucd():
    text_model = model("text_model")
    dd, cd = text_model.digit_data(), text_model.case_data()
    assert dd is not None and cd is not None, "tools/ucd is missing"
    return text_model, dd, cd


def _titlecase():
    return [chr(c) for c in range(0x110000) if unicodedata.category(chr(c)) == "Lt"]


TITLECASE = _titlecase()
FRACTIONS = "\u00bc\u00bd\u00be\u2153\u2154\u2155\u2156\u2157\u2158\u2159\u215a\u215b\u215c\u215d\u215e"
NOT_TABLE_FRACTIONS = "\u2150\u2151\u2152\u215f\u2189\u2044/"
astral = st.characters(min_codepoint=0x10000, max_codepoint=0x10FFFF, codec="utf-8")
any_scalar = st.characters(codec="utf-8")


@functools.lru_cache(maxsize=None)
def nasty_text(dd, cd, max_size=40):
    digits = sorted(dd.digits)
    white = sorted(dd.white)
    cased = [chr(c) for c in cd.interesting()]
    return st.text(
        alphabet=st.one_of(
            st.sampled_from(digits),  # every Nd digit of every script
            st.sampled_from(white),  # every White_Space character
            st.sampled_from(TITLECASE),
            st.sampled_from(cased),
            st.sampled_from(FRACTIONS + NOT_TABLE_FRACTIONS),
            st.sampled_from("aAzZ09_-.()$,+ "),
            astral,
            any_scalar,
        ),
        max_size=max_size,
    )


class Sub(str):
    def __str__(self):
        raise AssertionError("str() of the argument was called")

    def __eq__(self, other):
        raise AssertionError("== on the argument was called")

    __hash__ = str.__hash__


class Plain(str):
    """A well-behaved str subclass, for keys the tests themselves hash and compare."""


def maybe_sub(s, sub):
    return Sub(s) if sub else s


# --- text -------------------------------------------------------------------------------


@given(st.data())
@SETTINGS
def test_case_conversion_on_nasty_text(data):
    need("uncamel", "underscore_to_camelcase")
    text_model, dd, cd = _ucd()
    s = data.draw(nasty_text(dd, cd))
    sub = data.draw(st.booleans())
    got = _tavo.uncamel(maybe_sub(s, sub))
    assert type(got) is str and got == text_model.uncamel(s, cd)
    got = _tavo.underscore_to_camelcase(maybe_sub(s, sub))
    assert type(got) is str and got == text_model.underscore_to_camelcase(s, cd)


@functools.lru_cache(maxsize=None)
def fraction_text(dd, cd):
    # Runs of any script's digits and any White_Space, then a fraction.
    piece = st.tuples(
        st.text(alphabet=st.sampled_from(sorted(dd.digits)), max_size=25),
        st.text(alphabet=st.sampled_from(sorted(dd.white)), max_size=3),
        st.sampled_from(FRACTIONS + NOT_TABLE_FRACTIONS + "x"),
    ).map("".join)
    return st.lists(st.one_of(piece, nasty_text(dd, cd, 6)), max_size=6).map("".join)


@given(st.data())
@SETTINGS
def test_sanitize_on_every_digit_and_space(data):
    need("sanitize_vulgar_string")
    text_model, dd, cd = _ucd()
    s = data.draw(fraction_text(dd, cd))
    got = _tavo.sanitize_vulgar_string(maybe_sub(s, data.draw(st.booleans())))
    expected, others = text_model.sanitize(s, dd)
    assert type(got) is str
    assert got == expected or got in others, (s, got, expected)


# --- numbers ----------------------------------------------------------------------------

int_edges = st.sampled_from([0, 1, -1, 2**53, 2**53 + 1, 2**63 - 1, 2**63, 2**63 + 1, 2**63 + 1024,
                             2**63 + 1025, 2**64, -(2**63), -(2**63) - 1, 10**4299])
huge_ints = st.one_of(st.integers(), int_edges, st.integers(min_value=-(10**400), max_value=10**400))


@functools.lru_cache(maxsize=None)
def number_text(dd):
    numeral = st.one_of(
        huge_ints.map(str),
        st.floats(allow_nan=True, allow_infinity=True).map(repr),
        st.sampled_from(["-0.0", "-0", "0.0", ".5", "5.", "-.5", "(1)", "(-1)", "((1))", "()", "nan", "inf",
                         "1e308", "4.9e-324", "1,234.50", "USD (1,234.50)", "0" * 5000 + "12",
                         "1" + "0" * 4300, "(" + "9" * 4300 + ")"]),
    )
    noise = st.text(alphabet=st.one_of(st.sampled_from(sorted(dd.digits)), st.sampled_from(sorted(dd.white)),
                                       st.sampled_from("$%,+km()-. ")), max_size=4)
    return st.lists(st.one_of(numeral, noise), max_size=4).map("".join)


@given(st.data())
@SETTINGS
def test_parse_on_nasty_numbers(data):
    need("parse")
    number_model = model("number_model")
    _, dd, _ = _ucd()
    s = data.draw(number_text(dd))
    got = _tavo.parse(maybe_sub(s, data.draw(st.booleans())))
    expected = number_model.parse_model(s)
    assert type(got) is type(expected), (s, got, expected)
    if isinstance(expected, float) and math.isnan(expected):
        assert math.isnan(got)
    else:
        assert got == expected, (s, got, expected)
        if isinstance(expected, float):
            assert math.copysign(1, got) == math.copysign(1, expected), s


# --- multikeysort ---------------------------------------------------------------------

NAMES = ["a", "b", "-a", "", "\u01c5", "\U0001f600"]


class DictSub(dict):
    pass


sort_values = st.one_of(
    st.none(), st.booleans(), huge_ints, st.floats(allow_nan=True), st.sampled_from([-0.0, 0.0, math.inf]),
    st.text(alphabet=any_scalar, max_size=4), st.text(max_size=3).map(Sub), st.tuples(st.integers(0, 2)),
)


def items_strategy():
    row = st.dictionaries(st.sampled_from(NAMES), sort_values, max_size=3)
    return st.lists(st.one_of(row, row.map(DictSub), st.sampled_from([None, 5, "x", (1,)])), max_size=14)


def columns_strategy():
    names = st.lists(st.sampled_from(NAMES + ["-b", "--a", "-"]), max_size=3)
    return st.one_of(names, names.map(tuple), st.sampled_from(NAMES), st.none(), names.map(lambda n: n + [5]))


def totally_ordered(m, items, cols):
    for name, _ in cols:
        kinds = {}
        for it in items:
            kind, payload = m.key_value(it, name)
            kinds.setdefault(kind, []).append(payload)
        kinds.pop(m.NULL, None)
        if m.OBJECT in kinds or (m.TEXT in kinds and len(kinds) > 1):
            return False
        if any(math.isnan(v) for v in kinds.get(m.FLOAT, ())):
            return False
        if m.INT in kinds and m.FLOAT in kinds and any(abs(v) > 2**53 for v in kinds[m.INT]):
            return False
    return True


@given(items_strategy(), columns_strategy(), st.sampled_from([None, False, True]))
@SETTINGS
def test_multikeysort_on_nasty_rows(items, columns, inplace):
    need("multikeysort")
    m = model("multikeysort_model")
    before = list(items)
    args = (items, columns) if inplace is None else (items, columns, inplace)
    got = _tavo.multikeysort(*args)
    if inplace:
        assert got is None
        got = items
    else:
        assert type(got) is list and got is not items
        assert all(a is b for a, b in zip(items, before))
    assert sorted(map(id, got)) == sorted(map(id, before)), "not a permutation of the items"
    names = m.key_names(before)
    cols = [] if columns is None else [c for c in m.parse_columns(columns) if c[0] in names]
    if totally_ordered(m, before, cols):
        expected = m.multikeysort(list(before), columns)
        assert [id(x) for x in got] == [id(x) for x in expected]


# --- sequences ----------------------------------------------------------------------------

Point = collections.namedtuple("Point", "x y")


class ListSub(list):
    pass


class TupleSub(tuple):
    pass


leaves = st.one_of(st.none(), huge_ints, st.floats(allow_nan=True), st.text(max_size=3), st.text(max_size=2).map(Sub),
                   st.dictionaries(st.text(max_size=1), st.integers(), max_size=2), st.frozensets(st.integers(), max_size=2))
nested = st.recursive(
    leaves,
    lambda inner: st.one_of(st.lists(inner, max_size=4), st.lists(inner, max_size=4).map(tuple),
                            st.lists(inner, max_size=3).map(ListSub), st.lists(inner, max_size=3).map(TupleSub),
                            st.tuples(inner, inner).map(lambda t: Point(*t))),
    max_leaves=40,
)


def same_objects(a, b):
    return len(a) == len(b) and all(x is y for x, y in zip(a, b))


@given(st.lists(nested, max_size=4))
@SETTINGS
def test_collapse_on_nested_subclasses(args):
    need("collapse")
    m = model("iter_models")
    got = _tavo.collapse(*args)
    assert type(got) is list and same_objects(got, m.collapse(*args))


def test_collapse_deep_mixed_nesting():
    need("collapse")
    x = "leaf"
    for i in range(200_000):
        x = [x] if i % 3 else (x, ())
    assert _tavo.collapse(x, x) == ["leaf", "leaf"]


@given(st.lists(st.one_of(st.none(), leaves), max_size=30), st.booleans())
@SETTINGS
def test_backfill_on_nasty_values(values, sub):
    need("backfill")
    m = model("iter_models")
    arg = ListSub(values) if sub else values
    got = _tavo.backfill(arg)
    assert type(got) is list and got is not arg
    assert same_objects(got, m.backfill(list(values)))


def keys():
    return st.one_of(st.sampled_from(["a", "b", "\U0001f600", "\u01c5", ""]), st.sampled_from(["a", "b"]).map(Plain))


@given(st.lists(st.one_of(st.dictionaries(keys(), st.one_of(st.none(), leaves), max_size=4),
                          st.dictionaries(keys(), st.one_of(st.none(), st.integers()), max_size=3).map(DictSub)),
                max_size=10))
@SETTINGS
def test_backfill_iterdict_on_nasty_rows(rows):
    need("backfill_iterdict")
    m = model("iter_models")
    # Keys of equal text in one row (a str and a Plain) are outside what the model covers.
    for r in rows:
        texts = [str.__str__(k) for k in r]
        if len(set(texts)) != len(texts):
            return
    got = _tavo.backfill_iterdict(rows)
    expected = m.backfill_iterdict(rows)
    assert len(got) == len(expected)
    for g, e in zip(got, expected):
        assert type(g) is dict and all(type(k) is str for k in g)
        assert [str.__str__(k) for k in g] == [str.__str__(k) for k in e]
        assert all(g[k] is e[k] for k in e)


elements = st.one_of(st.sampled_from([0, 1, -0.0, 0.0, 1.0, True, math.nan, 2**53, 2**53 + 1, float(2**53), "x",
                                      (1,), [1], None]), st.integers(-2, 2))


@given(st.lists(elements, max_size=6), st.lists(elements, max_size=10), st.booleans())
@SETTINGS
def test_same_order_on_nasty_elements(ref, comp, sub):
    need("same_order")
    m = model("iter_models")
    got = _tavo.same_order(ListSub(ref) if sub else ref, comp)
    assert got is m.same_order(ref, comp)
