"""sanitize_vulgar_string: the documented cases, Unicode digits and white
space, number formatting, and comparisons with the pure-Python model and with
Python's own regular-expression engine."""
import math
import re
from decimal import Decimal

import pytest
from hypothesis import assume, example, given, settings, strategies as st

import _tavo
import catalogue
from hostile_kit import Text, same_under_collections
from models import text as model
from strategies import SETTINGS, fraction_text, maybe_sub

sanitize = _tavo.sanitize_vulgar_string


def exact_digits(x):
    """The integer digits of the exact value of a whole double."""
    assert x == math.floor(x)
    return str(int(x))


def rounded_six(x):
    """R(x * 1e6) / 1e6 with halves away from zero, in doubles."""
    t = x * 1e6
    r = math.floor(t)
    if t - r >= 0.5:
        r += 1
    return float(r) / 1e6


TWENTY = "1234567890" * 2
BIG_302 = "1" + "0" * 302


@pytest.mark.parametrize(
    "text, expected",
    [
        ("", ""),
        ("no fractions here", "no fractions here"),
        ("\u00bd", "0.5"),
        ("\u2154", "0.666667"),
        ("1\u2159", "1.166667"),
        ("2 \u215a", "2.833333"),
        (" \u00bd cup", "0.5 cup"),
        ("a\u00bd", "a 0.5"),
        ("a \t \u00bd", "a 0.5"),
        ("5\u00a0\u00bd", "5.5"),
        ("x 5 \u00bd", "x 5.5"),
        ("1.5\u00bd", "1.5.5"),
        ("-\u00bd", "- 0.5"),
        ("\u00bd\u00bd", "0.5 0.5"),
        ("5\u00bd\u00bd", "5.5 0.5"),
        ("\u00bd3", "0.53"),
        ("007\u00bd", "7.5"),
        ("1 \u215b", "1.125"),
        # Digits of any script are read by their decimal value.
        ("\u0663\u00bd", "3.5"),
        ("x\u0663\u00bd", "x3.5"),
        ("1\u0663\u00bd", "13.5"),
        ("\uff11\u00bd", "1.5"),
        ("\u0967\u0968 \u00be", "12.75"),             # Devanagari
        ("\U0001d7d7\u00bc", "9.25"),                  # mathematical bold nine
        ("\U00016d73\u00bd", "3.5"),                   # Kirat Rai three, new in Unicode 16.0
        ("\u00b2\u00bd", "\u00b2 0.5"),                # superscript two is not Nd
        ("\u2460\u00bd", "\u2460 0.5"),                # circled one is not Nd
        ("\u2150 \u2151 \u2152 \u2189 \u215f", "\u2150 \u2151 \u2152 \u2189 \u215f"),
        ("1/2", "1/2"),
        ("1\u20442", "1\u20442"),
        (TWENTY + "\u00bd", exact_digits(rounded_six(float(TWENTY) + 0.5))),
        (BIG_302 + "\u00bd", exact_digits(rounded_six(float(BIG_302) + 0.5))),
        ("1" + "0" * 303 + "\u00bd", "inf"),
        ("9" * 400 + "\u00bd", "inf"),
        ("0" * 400 + "1\u00bd", "1.5"),
        ("Foo-Bar+Baz: 17s 4\u00be 1 \u215b 20 93\u00be - 94\u215b",
         "Foo-Bar+Baz: 17s 4.75 1.125 20 93.75 - 94.125"),
        ("\u2153 cup", "0.333333 cup"),
    ],
)
def test_documented_cases(text, expected):
    assert sanitize(text) == expected


def test_big_values_have_no_point_and_all_digits():
    twenty = sanitize(TWENTY + "\u00bd")
    assert len(twenty) == 20 and twenty.isdigit()
    big = sanitize(BIG_302 + "\u00bd")
    assert len(big) == 303 and big.isdigit()
    # The exact decimal value of the double, not a shortest representation.
    assert Decimal(big) == Decimal(float(BIG_302))


# Each fraction by itself, after a number, and after a non-number.
@pytest.mark.parametrize(
    "fraction, text",
    [("\u00bc", "0.25"), ("\u00bd", "0.5"), ("\u00be", "0.75"), ("\u2153", "0.333333"),
     ("\u2154", "0.666667"), ("\u2155", "0.2"), ("\u2156", "0.4"), ("\u2157", "0.6"),
     ("\u2158", "0.8"), ("\u2159", "0.166667"), ("\u215a", "0.833333"), ("\u215b", "0.125"),
     ("\u215c", "0.375"), ("\u215d", "0.625"), ("\u215e", "0.875")],
)
def test_fraction_table(fraction, text):
    assert sanitize(fraction) == text
    assert sanitize("x" + fraction) == "x " + text
    assert sanitize("3" + fraction) == "3" + text[1:]
    assert sanitize("\u00e9 " + fraction + " \u00e9") == "\u00e9 " + text + " \u00e9"


@pytest.mark.parametrize(
    "space, joins",
    [(" ", True), ("\t", True), ("\n", True), ("\x0b", True), ("\x0c", True), ("\r", True),
     ("\x85", True), ("\xa0", True), ("\u1680", True), ("\u2000", True), ("\u200a", True),
     ("\u2028", True), ("\u2029", True), ("\u202f", True), ("\u205f", True), ("\u3000", True),
     # not White_Space, though some are "spaces" to Python's str.isspace()
     ("\x1c", False), ("\x1f", False), ("\u200b", False), ("\u180e", False), ("\ufeff", False),
     ("\u2060", False), ("_", False)],
)
def test_white_space_between_number_and_fraction(space, joins):
    expected = "7.5" if joins else "7" + space + " 0.5"
    assert sanitize("7" + space + "\u00bd") == expected
    assert sanitize("7" + space * 3 + "\u00bd") == ("7.5" if joins else "7" + space * 3 + " 0.5")


@pytest.mark.parametrize(
    "text, expected",
    [
        ("\u00bd \u00bd", "0.5 0.5"),        # the second match does not reach into the first
        ("1\u00bd 2\u00bd", "1.5 2.5"),
        ("1\u00bd2\u00bd", "1.52.5"),
        ("1 2\u00bd", "1 2.5"),               # white space before digits ends the number
        ("1 \u00e9 \u00bd", "1 \u00e9 0.5"),
        ("  \u00bd", "0.5"),                   # start of text: no space
        ("\u3000\u00bd", "0.5"),
        ("\u00e9\u00bd", "\u00e9 0.5"),
        ("\u00bd\u00e9", "0.5\u00e9"),
        ("\u00ab\u00bd\u00bb", "\u00ab 0.5\u00bb"),   # other C2 code points around it
        ("\u2014\u2153\u2014", "\u2014 0.333333\u2014"),  # other E2 code points around it
        ("\u00b0\u00bb\u00bc", "\u00b0\u00bb 0.25"),
    ],
)
def test_match_boundaries(text, expected):
    assert sanitize(text) == expected


@pytest.mark.parametrize("text", ["plain ascii", "caf\u00e9 \u2014 no fraction", "4\u00be cups", ""])
def test_result_is_a_plain_str(text):
    result = sanitize(Text(text))
    assert type(result) is str
    assert result == sanitize(text)


@pytest.mark.parametrize("text", ["plain ascii", "caf\u00e9 \u2014 no fraction", ""])
def test_text_without_fractions_is_unchanged(text):
    assert sanitize(text) == text


@pytest.mark.parametrize("value, type_name", [(5, "int"), (b"\xc2\xbd", "bytes"), (None, "NoneType"),
                                              (1.5, "float"), (["\u00bd"], "list")])
def test_non_str_is_refused(value, type_name):
    with pytest.raises(TypeError) as info:
        sanitize(value)
    assert str(info.value) == f"argument 's': '{type_name}' object cannot be converted to 'PyString'"


@pytest.mark.parametrize("text", ["\ud800", "\u00bd\udfff", "1\udc80\u00bd", "abc\ud83d"])
def test_lone_surrogate_raises_the_encoding_error(text):
    with pytest.raises(UnicodeEncodeError) as info:
        sanitize(text)
    assert info.value.reason == "surrogates not allowed"


@pytest.mark.parametrize(
    "text",
    [
        "1" * 200_000 + "\u00bd",            # a long number: parsed once
        ("1 " * 100_000) + "\u00bd",         # digits and spaces that never reach a fraction
        "\u00bd" * 100_000,
        ("\u00a0" * 50_000 + "\u00bd") * 4,
        "\u0663" * 100_000 + "\u00bc",
    ],
)
def test_long_inputs_finish(text):
    # The scan is linear: each of these would take minutes if it were not.
    assert sanitize(text) == model.sanitize(text, model.digit_data())[0] if model.digit_data() else sanitize(text)


# --- comparisons --------------------------------------------------------------------------

def check_against_model(text, dd, matches=None):
    expected, alternatives = model.sanitize(text, dd, matches)
    got = sanitize(text)
    assert got == expected or got in alternatives, (text, got, expected)


fraction_chars = "".join(model.FRACTIONS)


@given(st.text(alphabet=st.one_of(
    st.sampled_from(fraction_chars),
    st.sampled_from("0123456789 \t\n.-x\u00a0\u3000\u0663\uff11\U0001d7ce\u2150\u00b2\x1c\u00e9\u2014"),
    st.characters(codec="utf-8")), max_size=40))
@example("1" * 25 + "\u215b")
@settings(max_examples=1500, deadline=None)
def test_matches_model(text):
    check_against_model(text, model.digit_data())


@given(st.text(alphabet="0123456789 \t\r\n.-xy" + fraction_chars + "\u2150\u215f", max_size=40))
@settings(max_examples=1500, deadline=None)
def test_matches_python_regular_expressions(text):
    # On ASCII digits and white space Python's engine and the Unicode 16.0
    # classes agree, so its matches must give the same result.
    pattern = re.compile(r"(\d*)\s*([" + fraction_chars + "])")
    matches = [(m.start(), m.end(), m.group(1), m.group(2)) for m in pattern.finditer(text)]
    assert matches == model.fraction_matches(text, model.digit_data())
    check_against_model(text, model.digit_data(), matches)


@given(st.integers(min_value=0, max_value=10**40), st.sampled_from(fraction_chars))
@settings(max_examples=1500, deadline=None)
@example(2**33, "\u215b")
@example(2**40 + 1, "\u215d")
@example(10**15, "\u2153")
@example(2**45, "\u2153")  # six-place ties: either direction is allowed
@example(2**45 + 1, "\u2154")
def test_number_formatting(number, fraction):
    expected, other = model.format_decimal(float(str(number)) + model.FRACTIONS[fraction])
    got = sanitize(f"{number}{fraction}")
    assert got == expected or got == other


@given(st.floats(min_value=2.0**54, max_value=1e307), st.integers(-1, 1), st.sampled_from(fraction_chars))
@settings(max_examples=500, deadline=None)
@example(2.0**54, 0, "\u00bd")
def test_digit_runs_near_halfway_between_doubles(d, offset, fraction):
    # Integers right at, below and above the midpoint of two neighbouring
    # doubles: the digits must be rounded correctly (ties to even).
    number = (int(d) + int(math.nextafter(d, math.inf))) // 2 + offset
    expected, other = model.format_decimal(float(str(number)) + model.FRACTIONS[fraction])
    got = sanitize(f"{number}{fraction}")
    assert got == expected or got == other


@given(st.floats(min_value=0, max_value=1e6, allow_nan=False))
@settings(max_examples=500, deadline=None)
def test_number_formatting_of_decimal_inputs(x):
    # '12.5' before a fraction: only the digits after the point join it.
    text = repr(x)
    assume("e" not in text)
    whole, _, frac = text.partition(".")
    expected, other = model.format_decimal(float(frac) + 0.5)
    got = sanitize(text + "\u00bd")
    assert got in (whole + "." + expected, whole + "." + (other or expected))


# --- nasty inputs (strategies.py) -------------------------------------------------------


@given(st.data())
@SETTINGS
def test_sanitize_on_every_digit_and_space(data):
    s = data.draw(fraction_text())
    got = _tavo.sanitize_vulgar_string(maybe_sub(s, data.draw(st.booleans())))
    expected, others = model.sanitize(s, model.digit_data())
    assert type(got) is str
    assert got == expected or got in others, (s, got, expected)


@pytest.mark.hostile
@pytest.mark.parametrize("fn, arg", [
    ("sanitize_vulgar_string", "1 ½ cup, ¾ and 2⅔" * 30),
])
def test_same_under_collections(fn, arg):
    same_under_collections(getattr(_tavo, fn), arg)


# --- the catalogue: success paths, str subclasses, keywords ---------------------


@pytest.mark.hostile
@catalogue.parametrize(catalogue.vulgar_fractions.CASES)
def test_catalogue(case):
    catalogue.run(case)
