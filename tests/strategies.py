"""Hypothesis strategies for nasty inputs, shared by the property tests of each function.

What the function tests' own alphabets easily miss: every Nd digit of every
script and every White_Space character (Unicode 16.0), every code point with a
case property or mapping (Unicode 17.0), titlecase letters and astral code
points, huge and negative integers at and around the 64-bit edges, NaN and
-0.0, subclasses of str, list, tuple and dict, and deep nesting.
"""
import collections
import functools
import unicodedata

from hypothesis import HealthCheck, settings, strategies as st

from models import text as text_model

SETTINGS = settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])


# --- alphabets -----------------------------------------------------------------------


def _titlecase():
    return [chr(c) for c in range(0x110000) if unicodedata.category(chr(c)) == "Lt"]


TITLECASE = _titlecase()
FRACTIONS = "\u00bc\u00bd\u00be\u2153\u2154\u2155\u2156\u2157\u2158\u2159\u215a\u215b\u215c\u215d\u215e"
NOT_TABLE_FRACTIONS = "\u2150\u2151\u2152\u215f\u2189\u2044/"
astral = st.characters(min_codepoint=0x10000, max_codepoint=0x10FFFF, codec="utf-8")
any_scalar = st.characters(codec="utf-8")


@functools.lru_cache(maxsize=None)
def nasty_text(max_size=40):
    dd, cd = text_model.digit_data(), text_model.case_data()
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



@functools.lru_cache(maxsize=None)
def fraction_text():
    dd = text_model.digit_data()
    # Runs of any script's digits and any White_Space, then a fraction.
    piece = st.tuples(
        st.text(alphabet=st.sampled_from(sorted(dd.digits)), max_size=25),
        st.text(alphabet=st.sampled_from(sorted(dd.white)), max_size=3),
        st.sampled_from(FRACTIONS + NOT_TABLE_FRACTIONS + "x"),
    ).map("".join)
    return st.lists(st.one_of(piece, nasty_text(6)), max_size=6).map("".join)


# --- numbers ----------------------------------------------------------------------------

int_edges = st.sampled_from([0, 1, -1, 2**53, 2**53 + 1, 2**63 - 1, 2**63, 2**63 + 1, 2**63 + 1024,
                             2**63 + 1025, 2**64, -(2**63), -(2**63) - 1, 10**4299])
huge_ints = st.one_of(st.integers(), int_edges, st.integers(min_value=-(10**400), max_value=10**400))


@functools.lru_cache(maxsize=None)
def number_text():
    dd = text_model.digit_data()
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


# --- containers -------------------------------------------------------------------------

Point = collections.namedtuple("Point", "x y")


from hostile_kit import ListSub, TupleSub  # noqa: E402,F401 - shared with the tests


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



class DictSub(dict):
    pass



@functools.lru_cache(maxsize=None)
def price_text():
    """Texts near prices: digits (and runs past the int64, float and int-text limits), both
    marks, the group separators, signs, ranges, percentages, currency signs, codes and names."""
    pieces = st.sampled_from(
        ["1", "12", "0", "999", "1234", "5", "07", ".", ",", ",-", ".-", ":-", ":", " ", "\u00a0", "\u202f", "\u2009", "'",
         "\u2019", "%", "-", "(", ")", "+", "$", "€", "£", "¥", "US$", "R$", "zł", "Kč", "руб.", "円", "₹", "CHF",
         "EUR", "usd", "kr", "Fr.", "k", " to ", "from ", " - ", "x", "Free", "é", "Ж", "–", "\n", "\u06f5",
         "\uff11\uff0c\uff12", "\u0661\u066b\u0665",
         "9" * 25, "1" + "0" * 400, "9" * 4400])
    return st.lists(pieces, max_size=10).map("".join)


@functools.lru_cache(maxsize=None)
def one_number_price_text():
    """Texts of one number of ASCII digits and marks among what may stand around a price: the
    spaces, currencies, signs, superscripts and words that the price reading looks at."""
    def maybe(pieces):  # nothing half the time
        return st.one_of(st.just(""), st.sampled_from(pieces))
    spaces = maybe([" ", " ", " ", "\u00a0", "\u202f", "\u3000", "\t", "&nbsp;"])
    currencies = maybe(["$", "US$", "AU $", "€", "£", "¥", "₹", "R", "L", "KD", "KWD", "CHF", "EUR", "usd", "руб.",
                        "Fr.", "zł", "円"])
    others = maybe(["(", ")", "-", "\u2212", "\u2013", "%", "\u066a", ".", ",", "k", "M", "x", "Price:", "é", "Ж",
                    "\u00b2", "\u00b9\u00b2", "\u2079", "\u06f5", "\u1680\uff12", "*", ":-", ":95"])
    # what stands before a number, nearest last, and after it, nearest first
    before = st.tuples(others, spaces, currencies, spaces, others).map("".join)
    after = st.tuples(others, spaces, currencies, spaces, others).map("".join)
    figure = st.one_of(
        st.sampled_from(["12.5", "7", "0.125", "0,5", "00,250", "1.250", "12,500", "1.234,56", "1,234.56", "0",
                         "3.14159", "1.234.567", "1,234,567.891", "9999999999999999", "9007199254740993.5",
                         "123456789012.3456"]),
        st.builds(lambda groups, marks: "".join(g + m for g, m in zip(groups, marks + [""])),
                  st.lists(st.text(alphabet="0123456789", min_size=1, max_size=4), min_size=1, max_size=4),
                  st.lists(st.sampled_from([".", ","]), max_size=3)))
    return st.builds(lambda a, f, b: a + f + b, before, figure, after)
