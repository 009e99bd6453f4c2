"""The column parse on each vector path (src/shared/cpu_paths.hpp, src/numparse/number_read.hpp)
against the per-element parse: rows of every length up to 80 ending at an unreadable page, and
rows over every byte class the reading tells apart; the column price of short rows of one number,
read from bit masks of their bytes, against the per-element price. The process runs the widest
path of its CPU; the last test runs this file again in a child for each path pinned by TAVO_CPU."""
import os

import pytest
from hypothesis import given, settings, strategies as st

import tavo
import arrow_kit as ak
from arrow_kit import Chunk
from models.number import column_model
from models.price import column_row
from strategies import one_number_price_text
from test_case_paths import PATHS, run_pinned, text_of

columns = ak.kernels()
FORMATS = {"l": "int64", "g": "float64"}

# Digits at both ends of their range, both marks, the signs and parentheses, separators
# the filter drops, the bytes next to '0'-'9' and text outside ASCII.
BYTE_CLASSES = "0123456789.,-()$ e/:\x00\x7f\u00e9\u20ac"
PATTERNS = ["$1,234.56 ", "(12.5)", "-3,000,000.25", "1.234.567,89", "9", "USD (0.07)", "1-2", "5..5", "12,34"]


def column_rows(values, decimal, fmt="u"):
    src, producer = ak.source(fmt, [Chunk.strings(values, fmt)], guard_data=True)
    got_fmt, chunks = ak.read_stream(columns.parse(src, decimal=decimal))
    assert producer.all_released_once()
    return FORMATS[got_fmt], [repr(v) for v in chunks[0]]


def model_rows(values, decimal):
    kind, rows = column_model([None if v is None else tavo.parse(v, decimal=decimal) for v in values])
    return kind, [repr(v) for v in rows]


# Every row has room after it but the last, which ends right before an unreadable page.
@pytest.mark.parametrize("decimal", [".", ","])
def test_rows_of_every_length_end_at_a_guarded_page(decimal):
    for pattern in PATTERNS:
        every = [text_of(pattern, n) for n in range(81)]
        for last in range(81):
            values = every + [text_of(pattern[1:] + pattern[:1], last)]
            assert column_rows(values, decimal) == model_rows(values, decimal), (pattern, last)


# Rows of every length past the short ones, read whole by the vector filters up to the longest
# they take and by the scratch buffer's byte filter after it: valid numbers (a sign or
# parentheses, digits among separators and text outside ASCII, a decimal mark) so that a byte
# kept twice, lost or written past the buffer changes the value.
@pytest.mark.parametrize("decimal", [".", ","])
@pytest.mark.parametrize("filler", ["7 x\u00e9", "12", "(3)4"])
def test_long_rows_of_every_length(filler, decimal):
    values = []
    for n in range(17, 260):
        body = text_of(filler, n) + decimal + "25"
        values.append(["-" + body, "(" + body + ")", body][n % 3])
    assert column_rows(values, decimal) == model_rows(values, decimal)


@given(st.lists(st.one_of(st.none(), st.text(alphabet=st.sampled_from(BYTE_CLASSES), max_size=24)), max_size=30),
       st.sampled_from([".", ","]), st.sampled_from(["u", "U", "vu"]))
@settings(max_examples=300, deadline=None)
def test_column_rows_over_every_byte_class(values, decimal, fmt):
    assert column_rows(values, decimal, fmt) == model_rows(values, decimal)


def price_row(text, decimal):
    """The row the column price gives for `text`: the per-element price's, None for no text."""
    return None if text is None else column_row(tavo.price(text, decimal=decimal))


# A short row of one number is read from bit masks of its bytes when 32 bytes can be read from
# its start: here every row but those in the last 32 bytes before an unreadable page, which are
# read byte by byte, as tavo.price reads every text.
@given(st.lists(st.one_of(st.none(), one_number_price_text()), min_size=1, max_size=30),
       st.sampled_from([None, ".", ","]), st.sampled_from(["u", "U", "vu"]))
@settings(max_examples=300, deadline=None)
def test_price_rows_of_one_number(values, decimal, fmt):
    src, producer = ak.source(fmt, [Chunk.strings(values, fmt)], guard_data=True)
    _, chunks = ak.read_stream(columns.price(src, decimal=decimal))
    assert producer.all_released_once()
    assert [repr(r) for r in chunks[0]] == [repr(price_row(v, decimal)) for v in values]


# Each number among each pair of what stands before and after it.
BEFORE = ["", "$", "(", "( $", "$ (", "$(", "USD ", "R ", "€\u00a0", "\u00a0", "Price: ", "KD ", "-", "x", "AU $", "£",
          ".", "\u2212", "(\t", "R(", "ab (", "x ( $", "$(", "USD (", "Rs("]
NUMBERS = ["12.5", "7", "0", "0.125", "0,5", "1.250", "12,500", "1.234,56", "1,234.56", "3.14159", "1.234.567",
           "9999999999999999", "9007199254740993.5", "12345678901234567"]
AFTER = ["", " €", ")", " )", "\u00a0€", "€", "k", "m", " M", "%", " %", " EUR)", " R", " R €", " L", ",-", "\u00b9\u00b2",
         ".", " руб.", " )     .", "円", "\t$", " USDT", " (ea)", "\u06f5", " \u0661\u0662", "*P]", "* \u20ac", ") €", ")$", ") EUR 5"]


@pytest.mark.parametrize("decimal", [None, ".", ","])
def test_price_rows_of_each_number_in_each_setting(decimal):
    values = [b + number + a for b in BEFORE for number in NUMBERS for a in AFTER]
    src, producer = ak.source("u", [Chunk.strings(values, "u")], guard_data=True)
    _, chunks = ak.read_stream(columns.price(src, decimal=decimal))
    assert producer.all_released_once()
    for value, got in zip(values, chunks[0]):
        assert repr(got) == repr(price_row(value, decimal)), value


@pytest.mark.skipif("TAVO_CPU" in os.environ, reason="runs in the children it starts, one per path")
@pytest.mark.parametrize("path", PATHS)
def test_each_path_pinned_matches_the_per_element_parse(path):
    run_pinned(path, __file__)
