"""uncamel and underscore_to_camelcase: the documented cases, the tricky code
points, and a comparison with the pure-Python model over arbitrary text."""
import functools
import sys

import pytest
from hypothesis import given, settings, strategies as st

import _tavo
import catalogue
from hostile_kit import Text, same_under_collections
from models import text as model
from strategies import SETTINGS, maybe_sub, nasty_text


@pytest.mark.parametrize(
    "text, expected",
    [
        ("", ""),
        ("A", "a"),
        ("ABC", "abc"),
        ("ABc", "a_bc"),
        ("aB", "a_b"),
        ("CamelCamelCase", "camel_camel_case"),
        ("CamelCase", "camel_case"),
        ("getHTTPResponseCode", "get_http_response_code"),
        ("parseXMLDocument", "parse_xml_document"),
        ("userID", "user_id"),
        ("XML", "xml"),
        ("tcp2Server", "tcp2_server"),
        ("version2", "version2"),
        ("foo_Bar", "foo_bar"),
        ("__Init__", "__init__"),
        ("Hello World", "hello world"),
        ("foo-Bar", "foo-bar"),
        ("\u00c9coleNormale", "\u00e9cole_normale"),
        ("a\u24b6", "a_\u24d0"),
        ("x\u00b2Y", "x\u00b2y"),
        ("x\u0663Y", "x\u0663y"),  # an Arabic-Indic digit is not an ASCII digit
        ("\u0130", "i\u0307"),
        ("\u01c5X", "\u01c5x"),
    ],
)
def test_uncamel_cases(text, expected):
    assert _tavo.uncamel(text) == expected


@pytest.mark.parametrize(
    "text, expected",
    [
        ("", ""),
        ("___", ""),
        ("foo__bar_", "fooBar"),
        ("_Foo", "foo"),
        ("_foo_bar", "fooBar"),
        ("a_b_c", "aBC"),
        ("foo_bar_baz", "fooBarBaz"),
        ("FOO_BAR", "fooBar"),
        ("fooBar", "foobar"),
        ("fooBar_baz", "foobarBaz"),
        ("foo_1bar", "foo1bar"),
        ("foo-bar baz", "foo-bar baz"),
        ("x_\u00dfa", "xSSa"),
        ("a_\u01c6", "a\u01c4"),
        ("\u01c5", "\u01c6"),
        ("\u039f\u0394\u039f\u03a3", "\u03bf\u03b4\u03bf\u03c3"),
    ],
)
def test_underscore_to_camelcase_cases(text, expected):
    assert _tavo.underscore_to_camelcase(text) == expected


# Expected values read from the Unicode 17.0 data files by hand.
@pytest.mark.parametrize(
    "text, expected",
    [
        ("a\u0130b", "a_i\u0307b"),            # capital I with dot above: two code points
        ("\u00dfA", "\u00df_a"),               # sharp s is Lowercase
        ("a\u1e9e", "a_\u00df"),               # capital sharp s lowercases to U+00DF
        ("a\u01c5", "a\u01c5"),                # titlecase: copied, no word start
        ("\u01c5a", "\u01c5a"),
        ("\u01c6X", "\u01c6_x"),               # dz with caron is Lowercase
        ("a\u2160", "a_\u2170"),               # Roman numeral one: Other_Uppercase
        ("\u2170A", "\u2170_a"),               # small Roman numeral one: Other_Lowercase
        ("\u00aaB", "\u00aa_b"),               # feminine ordinal: Other_Lowercase
        ("\u0345A", "\u0345_a"),               # combining ypogegrammeni: Other_Lowercase
        ("a\ua7ce", "a_\ua7cf"),               # new in Unicode 17.0
        ("\ua7cfA", "\ua7cf_a"),
        ("a\u03a3", "a_\u03c3"),               # never the final sigma
        ("\u039f\u0394\u039f\u03a3", "\u03bf\u03b4\u03bf\u03c3"),
        ("\u03c2A", "\u03c2_a"),
        ("a\U00010400", "a_\U00010428"),       # Deseret
        ("\U00010428\U00010400", "\U00010428_\U00010428"),
        ("x\U0001e900", "x_\U0001e922"),       # Adlam
        ("\U0001e900\U0001e901\U0001e923", "\U0001e922_\U0001e923\U0001e923"),
        ("a\u212a", "a_k"),                    # Kelvin sign
        ("a\u1f88", "a\u1f88"),                # titlecase Greek with prosgegrammeni
        ("a\u2102", "a_\u2102"),               # double-struck C: Uppercase, no mapping
        ("\u1d00A", "\u1d00_a"),               # small capital A is Lowercase
        ("9A", "9_a"),
        ("\uff19A", "\uff19a"),             # fullwidth nine: no underscore
        ("A\u00c0b", "a_\u00e0b"),             # run of capitals split before the last
        ("\u00c0\u00c1", "\u00e0\u00e1"),
        ("\U0001d400a", "\U0001d400a"),        # mathematical bold A: Uppercase, no mapping
        ("a\U0001d400", "a_\U0001d400"),
    ],
)
def test_uncamel_tricky_code_points(text, expected):
    assert _tavo.uncamel(text) == expected


@pytest.mark.parametrize(
    "text, expected",
    [
        ("\u0130", "i\u0307"),
        ("a_\u0130", "a\u0130"),
        ("x_\u00df", "xSS"),
        ("\u00df", "\u00df"),
        ("\u1e9e", "\u00df"),
        ("a_\u1e9e", "a\u1e9e"),
        ("a_\u01c5", "a\u01c4"),
        ("a_\u01c4", "a\u01c4"),
        ("\u01c4", "\u01c6"),
        ("\u2160", "\u2170"),
        ("a_\u2170", "a\u2160"),
        ("\u24b6", "\u24d0"),
        ("a_\u24d0", "a\u24b6"),
        ("\ua7ce", "\ua7cf"),
        ("a_\ua7cf", "a\ua7ce"),
        ("\u03a3", "\u03c3"),
        ("a_\u03c2", "a\u03a3"),
        ("\U00010400", "\U00010428"),
        ("a_\U00010428", "a\U00010400"),
        ("\U0001e900", "\U0001e922"),
        ("a_\U0001e922", "a\U0001e900"),
        ("a_\u0390", "a\u0399\u0308\u0301"),   # three code points
        ("a_\u1f80", "a\u1f08\u0399"),         # the full mapping, not the titlecase U+1F88
        ("\u1f88", "\u1f80"),
        ("a_\u0149", "a\u02bcN"),
        ("a_\ufb00", "aFF"),
        ("a_\u00b5", "a\u039c"),               # micro sign
        ("a_\u00ff", "a\u0178"),
        ("a_\u0131", "aI"),                    # dotless i
        ("a_\u017f", "aS"),                    # long s
        ("a_\u0345", "a\u0399"),
        ("\u212a", "k"),
        ("a_\u00aa", "a\u00aa"),               # Lowercase but without mapping
        ("a_\u00e0_\u00c0", "a\u00c0\u00c0"),
        ("_\u00e0", "\u00e0"),                 # nothing output yet: lowercased
    ],
)
def test_underscore_to_camelcase_tricky_code_points(text, expected):
    assert _tavo.underscore_to_camelcase(text) == expected


@pytest.mark.parametrize("fn", [_tavo.uncamel, _tavo.underscore_to_camelcase])
@pytest.mark.parametrize("text", ["FooBar_baz", "\u00c9t\u00e9_X", ""])
def test_str_subclass_gives_plain_str(fn, text):
    result = fn(Text(text))
    assert type(result) is str
    assert result == fn(text)


@pytest.mark.parametrize("fn, param", [(_tavo.uncamel, "camel"), (_tavo.underscore_to_camelcase, "s")])
@pytest.mark.parametrize("value, type_name", [(5, "int"), (b"ab", "bytes"), (None, "NoneType"),
                                              (["a"], "list"), (bytearray(b"a"), "bytearray")])
def test_non_str_is_refused(fn, param, value, type_name):
    with pytest.raises(TypeError) as info:
        fn(value)
    assert str(info.value) == f"argument '{param}': '{type_name}' object cannot be converted to 'PyString'"


@pytest.mark.parametrize("fn", [_tavo.uncamel, _tavo.underscore_to_camelcase])
@pytest.mark.parametrize("text", ["\ud800", "Ab\udfffC", "x" * 100 + "\udc80", "\u00e9\ud83d"])
def test_lone_surrogate_raises_the_encoding_error(fn, text):
    with pytest.raises(UnicodeEncodeError) as info:
        fn(text)
    assert info.value.reason == "surrogates not allowed"


# --- ASCII fast path against the plain rule (no Unicode data needed) ---------------------

class AsciiCase:
    """The case tests restricted to ASCII, where they are plain comparisons."""

    @staticmethod
    def to_lower(ch):
        return ch.lower() if "A" <= ch <= "Z" else ch

    @staticmethod
    def to_upper(ch):
        return ch.upper() if "a" <= ch <= "z" else ch

    @staticmethod
    def is_upper(ch):
        return "A" <= ch <= "Z"

    @staticmethod
    def is_lower(ch):
        return "a" <= ch <= "z"


ascii_identifiers = st.text(alphabet="aAbBzZ09_ -.@`[{", max_size=120)


@given(ascii_identifiers)
@settings(max_examples=1500, deadline=None)
def test_uncamel_ascii_matches_model(text):
    assert _tavo.uncamel(text) == model.uncamel(text, AsciiCase)


@given(ascii_identifiers)
@settings(max_examples=1500, deadline=None)
def test_underscore_to_camelcase_ascii_matches_model(text):
    assert _tavo.underscore_to_camelcase(text) == model.underscore_to_camelcase(text, AsciiCase)


class _Str(str):
    pass


# Identifiers of up to 32 bytes take a path of their own (words read straight from the str);
# a str subclass keeps its text apart from the object, and is read there. One positional
# argument goes to that path from the entry wrapper itself; a keyword argument is bound first.
@given(st.text(alphabet="aAbBzZ09_ -.@`[{", max_size=34), st.booleans())
@settings(max_examples=2000, deadline=None)
def test_short_ascii_identifiers_match_model(text, subclass):
    arg = _Str(text) if subclass else text
    expected = model.uncamel(text, AsciiCase)
    assert _tavo.uncamel(arg) == expected
    assert _tavo.uncamel(camel=arg) == expected
    expected = model.underscore_to_camelcase(text, AsciiCase)
    assert _tavo.underscore_to_camelcase(arg) == expected
    assert _tavo.underscore_to_camelcase(s=arg) == expected


@pytest.mark.parametrize("length", list(range(0, 70)) + [255, 256, 257, 4095, 4096, 4097, 10000])
@pytest.mark.parametrize("pattern", ["aB", "ABc", "a_", "_A", "9X", "Ab_Cd__ef_GH1i"])
def test_ascii_lengths_around_word_and_block_edges(length, pattern):
    text = (pattern * (length // len(pattern) + 1))[:length]
    assert _tavo.uncamel(text) == model.uncamel(text, AsciiCase)
    assert _tavo.underscore_to_camelcase(text) == model.underscore_to_camelcase(text, AsciiCase)
    # The same text with one uncased non-ASCII code point takes the code point path.
    mixed = text + "\u20ac"
    assert _tavo.uncamel(mixed) == model.uncamel(mixed, AsciiCase)
    assert _tavo.underscore_to_camelcase(mixed) == model.underscore_to_camelcase(mixed, AsciiCase)


# Identifiers of up to 32 ASCII bytes are cut into pieces (at capitals, at underscores), each
# stored as one word where the word fits in the text and the result, byte-exact near the end:
# every piece length at every offset, for every length around those edges.
@pytest.mark.parametrize("length", range(1, 41))
@pytest.mark.parametrize("piece", ["Ba", "Baaa", "Baaaaaa", "Baaaaaaaa", "Baaaaaaaaaaaaaaa", "BCd", "a9", "a1B",
                                   "_a", "_aaaaaa", "_aaaaaaaaa", "__A", "a_", "_"])
def test_short_ascii_pieces_at_every_offset(length, piece):
    for offset in range(len(piece) + 1):
        for lead in ("", "a", "A", "_", "7"):
            text = (lead + "x" * offset + piece * 40)[:length]
            assert _tavo.uncamel(text) == model.uncamel(text, AsciiCase), text
            assert _tavo.underscore_to_camelcase(text) == model.underscore_to_camelcase(text, AsciiCase), text


# --- every code point, against the model built from the Unicode data ----------------------

def first_difference(got, expected):
    i = next((k for k, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))
    return f"first difference at {i}: got {got[i - 10:i + 10]!r}, expected {expected[i - 10:i + 10]!r}"


def scalar_values():
    return [chr(c) for c in range(sys.maxunicode + 1) if not 0xD800 <= c <= 0xDFFF]


def test_every_code_point_lowercase_and_uppercase():
    cd = model.case_data()
    chars = [ch for ch in scalar_values() if ch != "_"]
    lowered = "".join(chars)
    got = _tavo.underscore_to_camelcase(lowered)
    expected = "".join(cd.to_lower(ch) for ch in chars)
    assert got == expected, first_difference(got, expected)
    uppered = "".join("a_" + ch for ch in chars)
    got = _tavo.underscore_to_camelcase(uppered)
    expected = "".join("a" + cd.to_upper(ch) for ch in chars)
    assert got == expected, first_difference(got, expected)


def test_every_code_point_uncamel():
    # Each code point after a small letter (Uppercase test and lowercase
    # mapping), before a capital (Lowercase test), and between a capital and a
    # small letter (the capital-run rule).
    cd = model.case_data()
    text = "".join("a" + ch + "A " + "A" + ch + "a " for ch in scalar_values())
    got = _tavo.uncamel(text)
    expected = model.uncamel(text, cd)
    assert got == expected, first_difference(got, expected)


# --- arbitrary text against the model ------------------------------------------------------

@functools.lru_cache(maxsize=None)
def case_text():
    cd = model.case_data()
    interesting = [chr(c) for c in cd.interesting() if not 0xD800 <= c <= 0xDFFF]
    return st.text(
        alphabet=st.one_of(
            st.sampled_from(interesting),
            st.sampled_from("aAzZ09_ \u00b2\u0663\u01c5\u0130\u00df"),
            st.characters(codec="utf-8"),
        ),
        max_size=60,
    )


@given(st.data())
@settings(max_examples=400, deadline=None)
def test_uncamel_matches_model(data):
    text = data.draw(case_text())
    assert _tavo.uncamel(text) == model.uncamel(text, model.case_data())


@given(st.data())
@settings(max_examples=400, deadline=None)
def test_underscore_to_camelcase_matches_model(data):
    text = data.draw(case_text())
    assert _tavo.underscore_to_camelcase(text) == model.underscore_to_camelcase(text, model.case_data())


@pytest.mark.parametrize("repeat", [1, 7, 300])
def test_long_mixed_text_matches_model(repeat):
    cd = model.case_data()
    text = ("parseXML\u00c9cole_na\u00efve_\u0130D \u01c5A\u1e9e\U00010400x_\u00df\u2160\u24b6" * repeat)
    assert _tavo.uncamel(text) == model.uncamel(text, cd)
    assert _tavo.underscore_to_camelcase(text) == model.underscore_to_camelcase(text, cd)


# --- nasty inputs (strategies.py) -------------------------------------------------------


@given(st.data())
@SETTINGS
def test_case_conversion_on_nasty_text(data):
    s = data.draw(nasty_text())
    sub = data.draw(st.booleans())
    got = _tavo.uncamel(maybe_sub(s, sub))
    assert type(got) is str and got == model.uncamel(s, model.case_data())
    got = _tavo.underscore_to_camelcase(maybe_sub(s, sub))
    assert type(got) is str and got == model.underscore_to_camelcase(s, model.case_data())


@pytest.mark.hostile
@pytest.mark.parametrize("fn, arg", [
    ("uncamel", "parseXMLDocument" * 50 + "ÉcoleNormale"),
    ("underscore_to_camelcase", "foo_bar_ß" * 50),
])
def test_same_under_collections(fn, arg):
    same_under_collections(getattr(_tavo, fn), arg)


# --- the catalogue: success paths, str subclasses, keywords ---------------------


@pytest.mark.hostile
@catalogue.parametrize(catalogue.case_conversion.CASES)
def test_catalogue(case):
    catalogue.run(case)
