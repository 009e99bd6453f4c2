"""tavo.number_format and tavo.columns.number_format: the evidence of each row for its
decimal mark and the decision from all rows, against the rules of tests/models/number_format.py
(hand-picked rows, then hypothesis over texts of digits, both marks, group separators,
signs and letters); the refusal of tavo.columns.parse(decimal='infer') when the rows do
not decide."""
import itertools
import signal

import pytest
from hypothesis import example, given, strategies as st

import tavo
from models import number_format as model
from strategies import SETTINGS

NBSP, NNBSP, RSQ = "\u00a0", "\u202f", "\u2019"


@pytest.mark.parametrize("text, shows", [
    # both marks: the later one is the decimal point
    ("1.234,56", ","), ("1,234.56", "."), ("1.234.567,8", ","), ("1,2.3,4", ","), ("$1,234.5 (ea)", "."),
    # one mark twice or more: a thousands separator
    ("1.234.567", ","), ("1,234,567", "."), ("1.2.3", ","),
    # one mark once: the group after it says
    ("12,5", ","), ("3.14159", "."), ("0,25 EUR", ","), ("1.5", "."), ("1,2345", ","),
    ("1.250", "either"), ("12,500", "either"), ("-1,000", "either"), ("(1.000)", "either"),
    # a mark just before the first digit belongs to the number
    (".5", "."), (",75", ","), ("-.125", "either"), ("No.12", "."),
    # group separators are evidence of neither mark, and split the mark's group
    ("1 234", None), ("1'234'567", None), ("1" + NBSP + "234", None), ("1" + NNBSP + "234", None),
    ("1" + RSQ + "234", None), ("1 234,5", ","), ("1" + NNBSP + "234.56", "."), ("CHF 1'049.95", "."),
    ("1,5 000", ","), ("1,500 000", "either"), ("1'234.567", "either"),
    # only the first number speaks: a second figure, a date, a full stop after it
    ("12,50 (was 15.00)", ","), ("Total: 12,5.", ","), ("3 for 12.50", None), ("v2. 12,5", None),
    ("12.", None), ("12,,5", None), ("1.,5", None), ("1 . 5", None), ("1..234", None),
    # no number
    ("", None), ("abc", None), (".,", None), ("\u0661\u066b\u0662", None),
    # multi-byte characters whose bytes resemble the separators' are no separators
    ("1\u00a1234", None), ("1\u2018234,5", None), ("1\u202e234,5", None),
])
def test_evidence_of_one_row(text, shows):
    assert model.evidence(text) == shows
    r = tavo.number_format([text])
    counts = {".": r.point_rows, ",": r.comma_rows, "either": r.either_rows, None: r.neither_rows}
    assert counts[shows] == 1 and sum(counts.values()) == 1, r


@pytest.mark.parametrize("texts, decimal", [
    (["1.234,56", "12,5", None, "x"], ","),
    (["1,234.56", "2.5", "7"], "."),
    (["1,5", "2.5"], None),                 # mixed: no majority vote
    (["1,5"] * 99 + ["2.5"], None),
    (["1,250"], None),                       # either way only
    (["1,250", "12,5"], ","),                # the comma side decides, the either row agrees
    (["1.250", "1 234", None], None),
    (["12", "1 234", "abc", None], "."),     # nothing shows a mark: every mark reads the same
    ([], "."),
])
def test_decision(texts, decimal):
    r = tavo.number_format(texts)
    assert r.decimal == decimal
    assert tuple(r) == model.number_format(texts)


def test_record_fields_and_examples():
    r = tavo.number_format(iter(["x", "1.250", None, "2,5", "1.5", "3,5", "1.000"]))
    assert r == tavo.NumberFormat(None, 1, 2, 2, 2, (4, "1.5"), (3, "2,5"), (1, "1.250"))
    assert r.point_example == (4, "1.5") and r.neither_rows == 2
    with pytest.raises(AttributeError):
        r.decimal = ","  # immutable


def test_example_of_a_str_subclass_is_an_exact_str():
    class S(str):
        def __str__(self):
            raise AssertionError("read through __str__")
    r = tavo.number_format([S("1,5")])
    assert r.comma_example == (0, "1,5") and type(r.comma_example[1]) is str


# (each case makes its iterable: a generator shared by two threads would be read once)
@pytest.mark.parametrize("texts, message", [
    (lambda: ["1", 2], "number_format() takes str or None items, item 1 is 'int'"),
    (lambda: [b"1.5"], "number_format() takes str or None items, item 0 is 'bytes'"),
    (lambda: (x for x in ["a", "b", 1.5]), "number_format() takes str or None items, item 2 is 'float'"),
], ids=["list", "bytes", "generator"])
def test_items_other_than_str_or_none_are_refused(texts, message):
    with pytest.raises(TypeError) as info:
        tavo.number_format(texts())
    assert str(info.value) == message


@pytest.mark.parametrize("texts, error", [(5, TypeError), ("\ud800", UnicodeEncodeError)])
def test_not_iterable_and_surrogates(texts, error):
    with pytest.raises(error):
        tavo.number_format(texts if not isinstance(texts, str) else [texts])


def test_iterator_error_propagates():
    def gen():
        yield "1,5"
        raise LookupError("the source is gone")
    with pytest.raises(LookupError, match="the source is gone"):
        tavo.number_format(gen())


@pytest.mark.thread_unsafe(reason="sets the process's SIGALRM handler and timer")
def test_endless_iterable_hears_ctrl_c():
    def interrupt(signum, frame):
        raise KeyboardInterrupt
    old = signal.signal(signal.SIGALRM, interrupt)
    signal.setitimer(signal.ITIMER_REAL, 0.2)
    try:
        with pytest.raises(KeyboardInterrupt):
            tavo.number_format(itertools.repeat("1.250"))
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)


# --- properties ------------------------------------------------------------------------

PIECES = st.one_of(
    st.text(alphabet="0123456789", min_size=1, max_size=5),
    st.sampled_from([".", ",", " ", "'", NBSP, NNBSP, RSQ, "-", "+", "(", ")", "$", "€", "EUR", "x", "..",
                     "\u00a1", "\u2018"]),
)
ROW = st.lists(PIECES, max_size=8).map("".join)
ROWS = st.lists(st.one_of(st.none(), ROW, st.sampled_from(["1.250", "12,5", "3.5", "1 234"])), max_size=30)


@SETTINGS
@given(ROW)
@example("1\u202f234,5")
def test_evidence_matches_the_model(text):
    r = tavo.number_format([text])
    kind = {".": 1, ",": 2, "either": 3, None: 4}[model.evidence(text)]
    assert r[kind] == 1, (text, r)


@SETTINGS
@given(ROWS)
def test_record_matches_the_model(texts):
    assert tuple(tavo.number_format(texts)) == model.number_format(texts)


# --- columns ----------------------------------------------------------------------------------

try:
    import pyarrow as pa
except ImportError:
    pa = None
needs_pyarrow = pytest.mark.skipif(pa is None, reason="pyarrow is not installed")
STRING_TYPES = ["string", "large_string", "string_view"]


@needs_pyarrow
@SETTINGS
@given(st.lists(ROWS, max_size=4), st.sampled_from(STRING_TYPES), st.integers(0, 3))
def test_column_record_and_parse_match_the_model(chunks, string_type, pad):
    from tavo import columns
    t = getattr(pa, string_type)()
    arrays = [pa.array(["9,9"] * pad + c, t)[pad:] if k == 0 else pa.array(c, t) for k, c in enumerate(chunks)]
    column = pa.chunked_array(arrays, t)
    rows = [r for c in chunks for r in c]
    want = model.number_format(rows)
    assert tuple(columns.number_format(column)) == want
    if want[0] is None:
        with pytest.raises(ValueError, match="^cannot infer the decimal mark: .*; pass decimal='.' or decimal=','$"):
            columns.parse(column, type="float64")
    else:
        got = columns.parse(column, type="float64").to_pylist()
        assert got == columns.parse(column, type="float64", decimal=want[0]).to_pylist()


# A chunk of 2**16 rows or more is read as numbers, with the mark its first rows show, while
# the evidence of its rows is gathered beside it (on a thread of its own): the result is the
# same whether that first guess holds, is read again, or the column is refused.
@needs_pyarrow
@pytest.mark.parametrize("string_type", STRING_TYPES)
@pytest.mark.parametrize("head, body, tail", [
    ("1.234,5", "12,5", "7"),  # the first rows show the column's ','
    ("1.250", "12,5", "9"),    # they decide nothing: read with '.', then again with ','
    ("3.5", "7", "1.250"),     # '.'
    ("12,5", "7", "3.14"),     # both marks: refused, the last row the example of '.'
])
def test_large_chunk_read_beside_its_evidence(string_type, head, body, tail):
    from tavo import columns
    t = getattr(pa, string_type)()
    rows = [head] * 2000 + [body, None] * 35_000 + [tail]
    column = pa.chunked_array([pa.array(rows[:10], t), pa.array(rows[10:], t)])
    want = model.number_format(rows)
    if want[0] is None:
        with pytest.raises(ValueError, match="^cannot infer the decimal mark: .*row 72000"):
            columns.parse(column)
    else:
        assert columns.parse(column).to_pylist() == columns.parse(column, decimal=want[0]).to_pylist()


def test_large_chunk_fault_is_named_once_whichever_walk_meets_it():
    import arrow_kit as ak
    columns = ak.kernels()
    src, producer = ak.source("u", [ak.Chunk.strings(["12,5"] * 70_000 + [b"\xff"] + ["7"] * 10, "u")])
    with pytest.raises(ValueError, match=r"^malformed Arrow data: row 70000: invalid UTF-8 \(byte 0xff at position 0\)"):
        columns.parse(src, decimal="infer")
    assert producer.all_released_once()


@needs_pyarrow
def test_column_front_ends_take_the_same_record():
    pl = pytest.importorskip("polars")
    pd = pytest.importorskip("pandas")
    from tavo import columns
    rows = ["1.234,5", None, "7", "1.250"]
    want = tavo.number_format(rows)
    assert columns.number_format(pa.array(rows)) == want
    assert columns.number_format(pl.Series(rows, dtype=pl.String)) == want
    assert columns.number_format(pd.Series(rows, dtype=object)) == want
    assert columns.number_format(pd.Series([None, None], dtype=object)) == tavo.number_format([None, None])


import catalogue  # noqa: E402


@catalogue.parametrize(catalogue.number_format.CASES)
def test_catalogue(case):
    catalogue.run(case)
