"""The column kernels of tavo._native, at the level of the Arrow C interfaces.

Columns are made and read with ctypes (arrow_kit), so every case runs without
pyarrow: the three string layouts, slices, chunks and nulls, compared row by row
with the per-element functions; malformed arrays from a producer that counts its
release callbacks and keeps a copy of its buffers; the exports of a Column.
pyarrow, when installed, is checked as a producer and consumer at the end.
"""
import ctypes
import gc
import math
import os
import re
import struct
import subprocess
import sys
import threading

import pytest
from hypothesis import given, strategies as st

import _tavo
import tavo
from models import number_format as number_format_model
import arrow_kit as ak
import catalogue
from arrow_kit import Chunk, source, utf8_chunk, view, view_chunk
from hostile_kit import check_sweep_output
from strategies import FRACTIONS, SETTINGS

columns = ak.kernels()

TEXT_FUNCTIONS = catalogue.column_functions.TEXT_FUNCTIONS
LAYOUTS = ["u", "U", "vu"]
OUT_FORMAT = {"u": "u", "U": "U", "vu": "vu"}
INT64_MIN, INT64_MAX = -(2**63), 2**63 - 1


# --- the model: what each row must be ------------------------------------------------------


def to_float(r):
    """float(r), or the infinity of r's sign for an int past the float range."""
    try:
        return float(r)
    except OverflowError:
        return math.inf if r > 0 else -math.inf


def parse_model(values, type=None, decimal="."):
    """(format, rows) that the column parse gives for `values` (str or None)."""
    results = [None if v is None else tavo.parse(v, decimal=decimal) for v in values]
    if type is None:
        fits = all(r is None or (isinstance(r, int) and INT64_MIN <= r <= INT64_MAX) for r in results)
        type = "int64" if fits else "float64"
    if type == "float64":
        return "g", [None if r is None else to_float(r) for r in results]
    rows = []
    for r in results:
        if isinstance(r, float) and math.isfinite(r) and r.is_integer():
            r = int(r)
        rows.append(r if isinstance(r, int) and INT64_MIN <= r <= INT64_MAX else None)
    return "l", rows


def model(function, values, fmt, type=None):
    if function == "parse":
        return parse_model(values, type)
    f = getattr(_tavo, function)
    return OUT_FORMAT[fmt], [None if v is None else f(v) for v in values]


def run(function, src, type=None, decimal="."):
    """The column function on `src`; parse with the mark `decimal` (None: not given, so
    inferred from the column)."""
    f = getattr(columns, function)
    if function != "parse":
        return f(src)
    kwargs = {} if decimal is None else {"decimal": decimal}
    return f(src, **kwargs) if type is None else f(src, type, **kwargs)


def flat(chunks):
    return [v for c in chunks for v in c]


def same_rows(got, want):
    """Equal row by row, floats by their bits (so -0.0 and 0.0 differ, and inf is inf)."""
    return len(got) == len(want) and all(
        (g is None and w is None) or (type(g) is type(w) and (g == w if not isinstance(g, float) else
                                                              math.copysign(1, g) == math.copysign(1, w) and g == w))
        for g, w in zip(got, want)
    )


# --- differential: every row against the per-element function --------------------------------

ident = st.text(alphabet=st.sampled_from("abcXYZ_019 é-ÉßΣ" + FRACTIONS[:4]), max_size=30)
prices = st.one_of(
    st.integers(INT64_MIN - 10, INT64_MAX + 10).map(str),
    st.integers(0, 10**6).map(lambda v: f"${v:,}"),
    st.floats(allow_nan=False).map(repr),
    st.text(alphabet=st.sampled_from("0123456789.,()-$ mk€'\u202f"), max_size=24),
    st.integers(0, 10**9).map(lambda v: f"{v:,}".replace(",", ".") + ",5"),
    # short rows near the grammar's shapes: a sign or parentheses around digits and marks
    st.tuples(st.sampled_from(["", "-", "(", "$", "-$", "(-", ")"]), st.text(alphabet="0123456789.,' ", max_size=15),
              st.sampled_from(["", ")", " €", "-", "("])).map("".join),
    st.sampled_from(["9" * 25, "-" + "9" * 40, "1" * 330 + ".5", "1" * 330 + ",5", "(" + "4" * 19 + ")", "n/a", "",
                     "1.234,56", "(1.234,50) EUR", "12,5 %", "1,2,3", "x" * 40 + "1.234.567,8" + "y" * 40]),
)


@st.composite
def columns_of(draw, texts):
    """(layout, values, chunk sizes, slice offset): values to be sent in chunks of those sizes,
    the first chunk sliced at `offset`."""
    # chunks without nulls too (no validity bitmap: the path that copies ASCII text at once)
    values = draw(st.lists(st.one_of(st.none(), texts) if draw(st.booleans()) else texts, max_size=40))
    cuts = sorted(draw(st.lists(st.integers(0, len(values)), max_size=3)))
    sizes = [b - a for a, b in zip([0, *cuts], [*cuts, len(values)])]
    return draw(st.sampled_from(LAYOUTS)), values, sizes, draw(st.integers(0, 3))


def chunked(fmt, values, sizes, pad):
    chunks, at = [], 0
    for k, n in enumerate(sizes):
        part = values[at:at + n]
        chunks.append(Chunk.strings((["pad\xe9"] * pad if k == 0 else []) + part, fmt, offset=pad if k == 0 else 0))
        at += n
    return chunks


@pytest.mark.parametrize("function", TEXT_FUNCTIONS)
@SETTINGS
@given(data=columns_of(st.one_of(ident, st.text(alphabet="abcXYZ_019 -", max_size=30))))
def test_text_rows_equal_the_per_element_function(function, data):
    fmt, values, sizes, pad = data
    src, producer = source(fmt, chunked(fmt, values, sizes, pad))
    col = run(function, src)
    assert producer.all_released_once() and producer.buffers_unchanged()
    assert (len(col), col.num_chunks) == (len(values), len(sizes))
    out_fmt, chunks = ak.read_stream(col)
    assert (out_fmt, flat(chunks)) == model(function, values, fmt)
    assert [len(c) for c in chunks] == sizes


@pytest.mark.parametrize("decimal", [None, ".", ","])
@pytest.mark.parametrize("type", [None, "int64", "float64"])
@SETTINGS
@given(data=columns_of(prices))
def test_parse_rows_equal_the_per_element_parse(type, decimal, data):
    fmt, values, sizes, pad = data
    src, producer = source(fmt, chunked(fmt, values, sizes, pad))
    mark = decimal or number_format_model.number_format(values)[0]
    if mark is None:  # inferred, and the rows decide no mark
        with pytest.raises(ValueError, match="^cannot infer the decimal mark"):
            run("parse", src, type, decimal)
        assert producer.all_released_once()
        return
    col = run("parse", src, type, decimal)
    assert producer.all_released_once()
    out_fmt, chunks = ak.read_stream(col)
    want_fmt, want = parse_model(values, type, mark)
    assert out_fmt == want_fmt and same_rows(flat(chunks), want)
    assert col.type == {"l": "int64", "g": "float64"}[out_fmt]


@pytest.mark.parametrize("values, type, fmt, rows", [
    # one float anywhere makes the whole inferred column float64, ints as their nearest doubles
    (["1", "2.5", None], None, "g", [1.0, 2.5, None]),
    (["9007199254740993", "0.5"], None, "g", [9007199254740992.0, 0.5]),
    ([str(2**63 - 1), str(-(2**63))], None, "l", [2**63 - 1, -(2**63)]),
    # past 64 bits: float64 inferred, and past the float range an infinity of the sign
    ([str(2**63)], None, "g", [9.223372036854776e18]),
    (["9" * 400, "-" + "9" * 400], None, "g", [math.inf, -math.inf]),
    # forced int64 never wraps: what it cannot hold exactly is null
    (["2.5", "3.0", str(2**63), "1" + "0" * 30 + ".0", "7"], "int64", "l", [None, 3, None, None, 7]),
    (["12", "(3)"], "float64", "g", [12.0, -3.0]),
    ([None, "abc"], None, "l", [None, None]),
])
def test_parse_column_types(values, type, fmt, rows):
    for layout in LAYOUTS:
        col = run("parse", source(layout, [Chunk.strings(values, layout)])[0], type)
        fmt_got, chunks = ak.read_stream(col)
        assert fmt_got == fmt and same_rows(chunks[0], rows)


@pytest.mark.parametrize("fmt", ["u", "U"])
@pytest.mark.parametrize("text", ["(1,234.5678901)-x", "-98765432101234567", "$12.50 (x)", "0" * 15 + "1.5"])
def test_parse_short_rows_count_only_their_own_bytes(fmt, text):
    # A row of up to 16 bytes is filtered over the sixteen bytes from its start while the
    # chunk's text holds them: the bytes past the row (the number characters of the next
    # rows here) count for nothing, and the last rows, with fewer than sixteen bytes of
    # text left before the data buffer's end (an unreadable page), are read the other way.
    values = [text[:k] for k in range(len(text) + 1)] + ["7" * k for k in range(18)] + ["(1)", "-2.5"]
    for pad in (0, 3):
        src, producer = ak.source(fmt, [Chunk.strings(["9" * 20] * pad + values, fmt, offset=pad)], guard_data=True)
        fmt_got, chunks = ak.read_stream(columns.parse(src, decimal="."))
        want_fmt, want = parse_model(values)
        assert fmt_got == want_fmt and same_rows(chunks[0], want)
        assert producer.all_released_once()


def test_parse_inferred_type_settles_over_every_chunk():
    # the float in the last chunk turns the ints of the first into doubles
    src, _ = source("u", [Chunk.strings(["1", "2"]), Chunk.strings(["x"]), Chunk.strings(["0.5"])])
    col = columns.parse(src, decimal=".")
    assert col.type == "float64"
    assert ak.read_stream(col) == ("g", [[1.0, 2.0], [None], [0.5]])


@pytest.mark.thread_unsafe(reason="sets the interpreter's limit on integer text in turn: the limit is process-wide")
def test_parse_digit_limit_is_the_interpreters(int_digit_limit):
    digits = "7" * 700
    for limit, want in [(640, [None, 1]), (0, [math.inf, 1.0]), (700, [math.inf, 1.0])]:
        int_digit_limit(limit)
        col = columns.parse(source("u", [Chunk.strings([digits, "1"])])[0], decimal=".")
        fmt, rows = ak.read_stream(col)
        assert (fmt, rows[0]) == (("l" if want[0] is None else "g"), want)


@pytest.mark.parametrize("type, error, text", [
    ("float32", ValueError, "type must be None, 'int64' or 'float64', not 'float32'"),
    ("", ValueError, "not ''"),
    (64, TypeError, "type must be None, 'int64' or 'float64', not 'int'"),
    (b"int64", TypeError, "not 'bytes'"),
])
def test_parse_refuses_other_types(type, error, text):
    with pytest.raises(error, match=text.replace("(", r"\(").replace(")", r"\)").replace("'", "'")):
        columns.parse(source("u", [Chunk.strings(["1"])])[0], type)


@pytest.mark.parametrize("call, error, text", [
    (lambda src: columns.parse(src, None, ","), TypeError,
     "parse() takes from 1 to 2 positional arguments but 3 were given; decimal is keyword-only"),
    (lambda src: columns.parse(src, decimal=";"), ValueError, "decimal must be '.', ',' or 'infer', not ';'"),
    (lambda src: columns.parse(src, "int64", decimal=None), ValueError, "decimal must be '.', ',' or 'infer', not None"),
    # the type is looked at before the mark, and both before the source
    (lambda src: columns.parse(src, "int8", decimal=";"), ValueError, "type must be None, 'int64' or 'float64', not 'int8'"),
    (lambda src: columns.parse([1], decimal=";"), ValueError, "decimal must be '.', ',' or 'infer', not ';'"),
])
def test_parse_decimal_errors(call, error, text):
    src, producer = source("u", [Chunk.strings(["1,5"])])
    with pytest.raises(error) as info:
        call(src)
    assert type(info.value) is error and str(info.value) == text
    del src
    gc.collect()
    assert producer.all_released_once()


# --- layouts, slices and validity ------------------------------------------------------------


@pytest.mark.parametrize("fmt", LAYOUTS)
@pytest.mark.parametrize("pad", [0, 1, 7, 8, 9])
def test_slices_and_nulls_at_every_bit_position(fmt, pad):
    values = [None if i % 3 == 0 else f"someValue{i}ÉtéX" * (i % 4) for i in range(37)]
    chunk = Chunk.strings(["zzTop"] * pad + values, fmt, offset=pad)
    for via_stream in (True, False):
        src, producer = source(fmt, [chunk], stream=via_stream)
        col = columns.uncamel(src)
        assert producer.all_released_once() and producer.buffers_unchanged()
        assert ak.read_single(col) == model("uncamel", values, fmt)


def test_no_nulls_gives_no_validity_buffer():
    col = columns.uncamel(source("u", [Chunk.strings(["aB", "cD"])])[0])
    schema_cap, array_cap = col.__arrow_c_array__()
    a = ak.ArrowArray.from_address(ak._capsule_pointer(array_cap, ak.ARRAY_NAME))
    assert (a.null_count, a.offset, a.n_buffers, a.buffers[0]) == (0, 0, 3, None)


def test_invalid_utf8_in_a_null_row_is_not_read():
    chunk = utf8_chunk([0, 2, 4], b"ab\xff\xfe", valid=[True, False])
    assert ak.read_stream(columns.uncamel(source("u", [chunk])[0])) == ("u", [["ab", None]])


def test_empty_column_and_empty_chunks():
    src, producer = source("u", [])
    col = columns.uncamel(src)
    assert (len(col), col.num_chunks, col.type) == (0, 0, "utf8") and producer.all_released_once()
    assert ak.read_single(col) == ("u", [])
    col = columns.parse(source("vu", [Chunk.strings([], "vu"), Chunk.strings([], "vu")])[0], decimal=".")
    assert (len(col), col.num_chunks, col.type) == (0, 2, "int64")


# --- malformed input: ValueError naming the row, every release made once ----------------------

BAD_UTF8 = [b"\xff", b"\xc0\x80", b"\xed\xa0\x80", b"\xe2\x82", b"\xf4\x90\x80\x80", b"\xf8\x88\x80\x80\x80", b"a\x80"]

MALFORMED = [
    ("decreasing offsets", "u", [utf8_chunk([0, 3, 2, 5], b"abcde")], "row 1: offsets decrease"),
    ("decreasing large offsets", "U", [utf8_chunk([0, 1, 2, 1], b"ab", fmt="U")], "row 2: offsets decrease"),
    ("negative first offset", "u", [utf8_chunk([-1, 2, 3], b"abc")], "row 0: negative offset"),
    ("negative offset in a slice", "u", [utf8_chunk([0, 1, -5, 3], b"abc", offset=2)], "row 0: negative offset"),
    ("decrease in a later chunk", "u", [utf8_chunk([0, 1, 2], b"ab"), utf8_chunk([0, 1, 0], b"a")], "row 3:"),
    # an empty row is read before the row that needs the missing buffer: its text is not checked
    ("no data buffer past an empty row", "u", [Chunk("u", 2, [None, struct.pack("<3i", 5, 5, 10), None])],
     "row 1: the array has no data buffer"),
    ("a character split by a row boundary", "u", [utf8_chunk([0, 2, 4], "aéb".encode())], "row 0: invalid UTF-8"),
    ("view naming a missing buffer", "vu", [view_chunk([view(2, b"ab"), view(20, b"x" * 20, 1)], [b"x" * 20])],
     "row 1: string_view names data buffer 1, the array has 1"),
    ("view naming a negative buffer", "vu", [view_chunk([view(20, b"x" * 20, -1)], [b"x" * 20])],
     "row 0: string_view names data buffer -1"),
    ("view span outside its buffer", "vu", [view_chunk([view(20, b"x" * 20, 0, 10)], [b"x" * 25])],
     "row 0: string_view span of 20 bytes at offset 10 lies outside data buffer 0"),
    ("view of negative offset", "vu", [view_chunk([view(20, b"x" * 20, 0, -4)], [b"x" * 25])], "row 0:"),
    ("view of negative size", "vu", [view_chunk([view(-3)], [])], "row 0: string_view of negative size"),
    ("null count without a bitmap", "u", [Chunk("u", 1, [None, b"\0\0\0\0\1\0\0\0", b"a"], 0, 1)],
     "chunk 0: null_count is 1 but the array has no validity buffer"),
    ("two buffers", "u", [Chunk("u", 1, [None, b"\0\0\0\0\1\0\0\0"])], "chunk 0: a string array has 3 buffers"),
    ("negative length", "u", [Chunk("u", -1, [None, b"\0\0\0\0", b""])], "chunk 0: negative length"),
    ("no offsets buffer", "U", [Chunk("U", 2, [None, None, b"ab"])], "chunk 0: the array has no offsets buffer"),
    ("no variadic sizes", "vu", [Chunk("vu", 1, [None, view(20, b"x" * 20), b"x" * 20, None])],
     "chunk 0: the array has no buffer of variadic buffer sizes"),
    ("null count above the length", "u", [Chunk("u", 1, [b"\1", b"\0\0\0\0\1\0\0\0", b"a"], 0, 2)], "chunk 0:"),
] + [
    (f"invalid UTF-8 {bad!r} in {fmt}", fmt, [Chunk.strings(["fine", "okToo", bad + b"suffixLongerThan12"], fmt)],
     "row 2: invalid UTF-8")
    for bad in BAD_UTF8 for fmt in LAYOUTS
]


@pytest.mark.parametrize("function", TEXT_FUNCTIONS + ["parse"])
@pytest.mark.parametrize("stream", [True, False], ids=["stream", "array"])
@pytest.mark.parametrize("case, fmt, chunks, text", MALFORMED, ids=[m[0] for m in MALFORMED])
def test_malformed_arrays_raise_value_error(function, stream, case, fmt, chunks, text):
    if not stream and len(chunks) > 1:
        pytest.skip("one array only through __arrow_c_array__")
    src, producer = source(fmt, chunks, stream=stream)
    with pytest.raises(ValueError, match="^malformed Arrow data: " + text.replace("(", r"\(")):
        run(function, src)
    assert producer.all_released_once() and producer.buffers_unchanged()


# Any bytes in a row: well-formed UTF-8 (as Python's decoder reads it) is converted as the
# per-element function converts the str; anything else is refused, the fault naming the
# first byte of the first ill-formed sequence, where Python's decoder reports it too.
UTF8_PIECES = [b"a", b"B", b"_", b"\x80", b"\xbf", b"\xc2", b"\xdf", b"\xe0", b"\xed", b"\xef", b"\xf0", b"\xf4",
               b"\xf5", b"\xc0", b"\xa0", b"\x9f", b"\x90", b"\x8f"] + [c.encode() for c in "\u00e9\u0130\u2014\U0001f600\u00bd"]


@SETTINGS
@given(st.lists(st.sampled_from(UTF8_PIECES), max_size=24).map(b"".join), st.sampled_from(LAYOUTS))
def test_utf8_check_agrees_with_the_decoder(raw, fmt):
    src, producer = source(fmt, [Chunk.strings(["okToo", raw], fmt)])
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        with pytest.raises(ValueError, match=r"^malformed Arrow data: row 1: invalid UTF-8 \(byte 0x%02x at position %d\)"
                           % (raw[e.start], e.start)):
            columns.uncamel(src)
    else:
        assert ak.read_stream(columns.uncamel(src))[1] == [["ok_too", _tavo.uncamel(text)]]
    assert producer.all_released_once()


# Offsets that leave the extent (the span from the first to the last offset) before they
# decrease: no byte past the last offset may be read, so the data buffer ends right before
# an unreadable page. Run in a child process: a read past the extent stops it, not the run.
GUARDED_SCRIPT = """
import arrow_kit as ak
columns = ak.kernels()
fmt, functions, rows, huge = {fmt!r}, {functions!r}, 10, {huge}
for k in range(rows):
    offsets = [5 * i for i in range(rows + 1)]
    offsets[k] = huge
    for slice_offset in (0, 1):
        if k < slice_offset:
            continue
        chunk = ak.utf8_chunk(offsets, b"aBcD5" * rows, fmt=fmt, offset=slice_offset)
        for name in functions:
            src, producer = ak.source(fmt, [chunk], guard_data=True)
            try:
                getattr(columns, name)(src)
                print(k, slice_offset, name, "returned")
            except ValueError as e:
                print(k, slice_offset, name, e, producer.all_released_once())
"""


# string_view rows of every length (inline and not), packed into data buffers of several
# sizes, the views and each data buffer ending right before an unreadable page: the short-row
# conversions read ahead of a row only where its buffer holds the bytes. Every row is checked
# against the per-element function.
GUARDED_VIEWS_SCRIPT = """
import arrow_kit as ak
columns = ak.kernels()
words = ["aB", "getHTTPCode", "x_y_z", "userIdValue", "2 \u00bd", "12,5"]
rows = [(words[i % len(words)] * 8)[:n] for i, n in enumerate(range(48))] + [None, ""]
out = []
for last, size in ((last, size) for last in range(len(rows)) for size in (40, 64, 200)):
    values = rows[:last + 1][::-1]
    for name in {functions!r}:
        src, producer = ak.source("vu", [ak.Chunk.strings(values, fmt="vu", view_buffer_size=size)], guard_data=True)
        kw = {{"decimal": "."}} if name == "parse" else {{}}
        fmt, chunks = ak.read_stream(getattr(columns, name)(src, **kw))
        out.append((name, values, fmt, chunks[0], producer.all_released_once()))
print(repr(out))
"""


def test_string_view_rows_are_read_within_their_buffers():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    proc = subprocess.run([sys.executable, "-c", GUARDED_VIEWS_SCRIPT.format(functions=TEXT_FUNCTIONS + ["parse"])],
                          capture_output=True, text=True, timeout=300, env=env)
    assert proc.returncode == 0, proc.stderr[-2000:]
    results = eval(proc.stdout)
    assert len(results) == 50 * 3 * 4
    for name, values, fmt, got, released in results:
        assert (fmt, got) == model(name, values, "vu") and released, (name, values)


@pytest.mark.parametrize("fmt, huge", [("u", 5000), ("u", 2**31 - 1), ("U", 5000), ("U", 2**62)])
def test_offsets_past_the_extent_are_refused_before_any_byte_is_read(fmt, huge):
    functions = TEXT_FUNCTIONS + ["parse"]
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    proc = subprocess.run([sys.executable, "-c", GUARDED_SCRIPT.format(fmt=fmt, functions=functions, huge=huge)],
                          capture_output=True, text=True, timeout=300, env=env)
    assert proc.returncode == 0, proc.stderr[-2000:]
    want = []
    for k in range(10):
        for slice_offset in (0, 1):
            if k < slice_offset:
                continue
            # the first decrease is right after the huge offset, at row k of the array
            row = k - slice_offset
            text = f"malformed Arrow data: row {row}: offsets decrease ({5 * (k + 1)} after {huge})"
            want += [f"{k} {slice_offset} {name} {text} True" for name in functions]
    assert proc.stdout.splitlines() == want


# --- what is not a string column: TypeError ------------------------------------------------------

NOT_STRINGS = "expected an Arrow string column (utf8, large_utf8 or string_view)"


_an_int = ctypes.c_int64(0)


class WrongCapsule:
    def __arrow_c_stream__(self, requested_schema=None):
        return ak._new_capsule(ctypes.addressof(_an_int), b"not_a_stream", None)


class NotATuple:
    def __arrow_c_array__(self, requested_schema=None):
        return [1, 2]


class Raising:
    def __arrow_c_stream__(self, requested_schema=None):
        raise KeyError("producer's own error")



@pytest.mark.parametrize("obj, error, text", [
    (object(), TypeError,
     re.escape(NOT_STRINGS + " from an object with __arrow_c_stream__ or __arrow_c_array__, got 'object'")),
    (["camelCase"], TypeError, "got 'list'"),
    (5, TypeError, "got 'int'"),
    (WrongCapsule(), TypeError, "__arrow_c_stream__\\(\\) did not return a PyCapsule named 'arrow_array_stream'"),
    (NotATuple(), TypeError, "did not return a \\(schema, array\\) tuple"),
    (Raising(), KeyError, "producer's own error"),
])
def test_objects_without_string_data(obj, error, text):
    for function in TEXT_FUNCTIONS + ["parse"]:
        with pytest.raises(error, match=text):
            run(function, obj)


@pytest.mark.parametrize("stream", [True, False], ids=["stream", "array"])
@pytest.mark.parametrize("fmt, dictionary, shown", [
    ("l", False, "got int64 \\(Arrow format 'l'\\)"), ("z", False, "got binary \\(Arrow format 'z'\\)"),
    ("vz", False, "got binary_view \\(Arrow format 'vz'\\)"), ("", False, "got an Arrow type \\(Arrow format ''\\)"),
    ("+s", False, "got struct \\(a table's rows, or a struct column\\) \\(Arrow format '\\+s'\\)"),
    ("tsu:UTC", False, "got timestamp \\(Arrow format 'tsu:UTC'\\)"),
    ("i", True, "got a dictionary-encoded column \\(Arrow format 'i'; decode it first"),
])
def test_other_arrow_types_are_refused(stream, fmt, dictionary, shown):
    src, producer = source(fmt, [Chunk(fmt, 1, [None, b"\0" * 8])], stream=stream, dictionary=dictionary)
    with pytest.raises(TypeError, match=shown):
        columns.uncamel(src)
    assert producer.all_released_once()


def test_a_failing_stream_ends_the_call_with_its_error():
    src, producer = source("u", [Chunk.strings(["aB"]), Chunk.strings(["cD"])], fail_at=1)
    with pytest.raises(RuntimeError, match=r"the Arrow stream failed \(error 5\): the disk is on fire"):
        columns.uncamel(src)
    assert producer.all_released_once()


def test_a_consumed_capsule_is_refused():
    src, producer = source("u", [Chunk.strings(["aB"])], stream=False)
    pair = src.__arrow_c_array__()
    src.__arrow_c_array__ = lambda requested_schema=None: pair
    columns.uncamel(src)
    with pytest.raises(ValueError, match="'arrow_schema' capsule was already consumed"):
        columns.uncamel(src)


@pytest.mark.parametrize("missing", ["get_schema", "get_next"])
def test_a_stream_without_its_callbacks_is_refused_before_any_call(missing):
    src, producer = source("u", [Chunk.strings(["aB"])])
    capsule = src.__arrow_c_stream__()
    setattr(producer.structs[-1], missing, ak.GetSchema() if missing == "get_schema" else ak.GetNext())
    src.__arrow_c_stream__ = lambda requested_schema=None: capsule
    with pytest.raises(ValueError, match="^malformed Arrow data: the stream has no get_schema or get_next callback$"):
        columns.uncamel(src)
    assert producer.all_released_once()


# --- the Column and its exports ---------------------------------------------------------------


@pytest.mark.parametrize("fmt, name", [("u", "utf8"), ("U", "large_utf8"), ("vu", "string_view")])
def test_the_docstring_names_the_layout_each_input_gives(fmt, name):
    said = dict(re.findall(r"(\w+)(?: in)? gives (\w+)", " ".join(columns.uncamel.__doc__.split())))
    for function in TEXT_FUNCTIONS:
        assert run(function, source(fmt, [Chunk.strings(["aB"], fmt)])[0]).type == said[name], function


def test_column_attributes():
    col = columns.uncamel(source("U", [Chunk.strings(["aB", None], "U"), Chunk.strings(["x"], "U")])[0])
    assert (len(col), col.type, col.num_chunks) == (3, "large_utf8", 2)
    assert repr(col) == "<tavo.columns.Column large_utf8, 3 rows in 2 chunks>"
    assert type(col).__module__ == "tavo.columns" and type(col).__name__ == "Column"
    with pytest.raises(TypeError):
        type(col)()
    with pytest.raises(AttributeError):
        col.type = "utf8"


def test_exports_are_fresh_each_time_and_outlive_the_column():
    chunks = [Chunk.strings(["aB", None, "cD"]), Chunk.strings([None] * 5), Chunk.strings(["eF"] * 3)]
    col = columns.uncamel(source("u", chunks)[0])
    want = [["a_b", None, "c_d"], [None] * 5, ["e_f"] * 3]
    assert ak.read_stream(col) == ak.read_stream(col) == ("u", want)
    # two streams open at once, read in turn
    caps = [col.__arrow_c_stream__(), col.__arrow_c_stream__(requested_schema=None)]
    array_caps = col.__arrow_c_array__()
    del col
    gc.collect()
    for cap in caps:
        holder = type("Holder", (), {"__arrow_c_stream__": lambda self, requested_schema=None, c=cap: c})()
        assert ak.read_stream(holder) == ("u", want)
    holder = type("Holder", (), {"__arrow_c_array__": lambda self, requested_schema=None: array_caps})()
    assert ak.read_single(holder) == ("u", flat(want))


def test_unconsumed_capsules_release_what_they_hold():
    col = columns.parse(source("u", [Chunk.strings(["1", "x"]), Chunk.strings(["2.5"])])[0], decimal=".")
    for _ in range(50):
        col.__arrow_c_stream__()
        col.__arrow_c_array__()
    assert ak.read_single(col) == ("g", [1.0, None, 2.5])


@pytest.mark.parametrize("method", ["__arrow_c_stream__", "__arrow_c_array__"])
def test_export_argument_binding(method):
    col = columns.uncamel(source("u", [Chunk.strings(["aB"])])[0])
    with pytest.raises(TypeError, match=rf"{method}\(\) takes from 0 to 1 positional arguments but 2 were given"):
        getattr(col, method)(None, None)
    with pytest.raises(TypeError, match="unexpected keyword argument 'schema'"):
        getattr(col, method)(schema=None)


@pytest.mark.parametrize("function", TEXT_FUNCTIONS + ["parse"])
def test_function_argument_binding(function):
    f = getattr(columns, function)
    with pytest.raises(TypeError, match=rf"{function}\(\) missing 1 required positional argument: 'source'"):
        f()
    src = source("u", [Chunk.strings(["aB"])])[0]
    assert len(f(source=src)) == 1


def test_threads_convert_their_own_columns_at_once():
    values = [f"someLongerIdentifierNumber{i}" for i in range(5000)]
    want = model("uncamel", values, "u")
    results, errors = [], []

    def work():
        try:
            for _ in range(5):
                results.append(ak.read_stream(columns.uncamel(source("u", [Chunk.strings(values)])[0])))
        except BaseException as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == [] and results == [(want[0], [want[1]])] * 20


# --- pyarrow as producer and consumer, when installed ---------------------------------------


@pytest.mark.parametrize("function", TEXT_FUNCTIONS + ["parse"])
@pytest.mark.parametrize("pa_type", ["string", "large_string", "string_view"])
def test_pyarrow_round_trip(function, pa_type):
    pa = pytest.importorskip("pyarrow")
    values = ["fooBar", None, "4¾ cups", "ÉtéCafé_x", "1,200m", "(3)", "", "getHTTPResponseCode"] * 3
    t = getattr(pa, pa_type)()
    whole = pa.array(values, type=t)
    want_fmt, want = model(function, values, {"string": "u", "large_string": "U", "string_view": "vu"}[pa_type])
    for arr, rows in [(whole, want), (whole.slice(3, 11), want[3:14]),
                      (pa.chunked_array([whole[:5], whole[5:5], whole[5:]]), want)]:
        col = run(function, arr)
        got = pa.chunked_array(col).to_pylist()
        assert same_rows(got, rows)
        assert pa.array(col).to_pylist() == got
        assert pa.chunked_array(col).num_chunks == (arr.num_chunks if hasattr(arr, "num_chunks") else 1)


# --- the catalogue's cases (also run by the leak check, the allocation-failure sweep and the threads) --


@catalogue.parametrize(catalogue.column_functions.CASES)
def test_catalogue(case):
    catalogue.run(case)


@pytest.mark.scale
def test_text_past_two_gigabytes_becomes_large_utf8():
    # 1,500 rows of 1 MB camelCase (utf8 in: 1.5 GB fits int32 offsets) give 2.25 GB of
    # snake_case: the chunk's offsets widen to int64 on the way, and the small chunk
    # before it, made with int32 offsets, is widened at the end.
    row = "aB" * 500_000
    src, producer = source("u", [Chunk.strings(["xY", None]), Chunk.strings([row] * 1500)])
    col = columns.uncamel(src)
    del src, producer
    gc.collect()
    assert (col.type, len(col), col.num_chunks) == ("large_utf8", 1502, 2)
    cap = col.__arrow_c_stream__()
    s = ak.ArrowArrayStream.from_address(ak._capsule_pointer(cap, ak.STREAM_NAME))
    schema = ak.ArrowSchema()
    assert s.get_schema(ctypes.byref(s), ctypes.byref(schema)) == 0 and schema.format == b"U"
    schema.release(ctypes.byref(schema))
    out_row = "a_b" * 500_000
    arrays = []
    for _ in range(2):
        a = ak.ArrowArray()
        assert s.get_next(ctypes.byref(s), ctypes.byref(a)) == 0
        arrays.append(a)
    offsets = [ctypes.c_int64.from_address(arrays[0].buffers[1] + 8 * i).value for i in range(3)]
    assert offsets == [0, 3, 3] and ak.read_array("U", arrays[0]) == ["x_y", None]
    big = arrays[1]
    ends = [ctypes.c_int64.from_address(big.buffers[1] + 8 * i).value for i in (0, 1, 1431, 1432, 1500)]
    assert ends == [0, len(out_row), 1431 * len(out_row), 1432 * len(out_row), 1500 * len(out_row)]
    for i in (0, 1431, 1499):  # the rows before, across and after 2**31
        assert ctypes.string_at(big.buffers[2] + i * len(out_row), len(out_row)).decode() == out_row
    for a in arrays:
        a.release(ctypes.byref(a))
    s.release(ctypes.byref(s))
    with pytest.raises(ValueError, match="too large for one utf8 array"):
        columns.uncamel(source("u", [Chunk.strings([row] * 800), Chunk.strings([row] * 800)])[0]).__arrow_c_array__()


def _view_at(a, i):
    """(size, data buffer, offset) of view i of an exported string_view array."""
    v = a.buffers[1] + 16 * i
    return tuple(ctypes.c_int32.from_address(v + k).value for k in (0, 8, 12))


@pytest.mark.scale
def test_string_view_text_past_two_gigabytes_is_cut_into_data_buffers():
    # The same 2.25 GB of output from string_view input: views name their place by an int32
    # offset, so the text is handed over as two data buffers, cut at the first row that
    # would end past 2**31 - 1 bytes; joined into one array, the same.
    row = "aB" * 500_000
    out_row = "a_b" * 500_000
    size = len(out_row)
    src, producer = source("vu", [Chunk.strings(["xY", None], "vu"), Chunk.strings([row] * 1500, "vu")])
    col = columns.uncamel(src)
    del src, producer
    gc.collect()
    assert (col.type, len(col), col.num_chunks) == ("string_view", 1502, 2)
    first = (2**31 - 1) // size  # rows in the first data buffer
    for export in ("stream", "array"):
        if export == "stream":
            cap = col.__arrow_c_stream__()
            s = ak.ArrowArrayStream.from_address(ak._capsule_pointer(cap, ak.STREAM_NAME))
            arrays = []
            for _ in range(2):
                arrays.append(ak.ArrowArray())
                assert s.get_next(ctypes.byref(s), ctypes.byref(arrays[-1])) == 0
            assert ak.read_array("vu", arrays[0]) == ["x_y", None]
            big, at = arrays[1], 0
        else:
            schema_cap, array_cap = col.__arrow_c_array__()
            big, at = ak.ArrowArray.from_address(ak._capsule_pointer(array_cap, ak.ARRAY_NAME)), 2
            assert _view_at(big, 0)[0] == 3 and ctypes.string_at(big.buffers[1] + 4, 3) == b"x_y"
        assert big.n_buffers == 5  # validity, views, two data buffers, their sizes
        sizes = [ctypes.c_int64.from_address(big.buffers[4] + 8 * k).value for k in range(2)]
        assert sizes == [first * size + (3 if at else 0), (1500 - first) * size]
        assert [_view_at(big, at + i) for i in (0, first - 1, first, 1499)] == [
            (size, 0, 3 if at else 0), (size, 0, (first - 1) * size + (3 if at else 0)), (size, 1, 0),
            (size, 1, (1499 - first) * size)]
        for i in (0, first - 1, first, 1499):
            _, k, off = _view_at(big, at + i)
            assert ctypes.string_at(big.buffers[2 + k] + off, size).decode() == out_row
        if export == "stream":
            for a in arrays:
                a.release(ctypes.byref(a))
            s.release(ctypes.byref(s))
        big = None


# --- running out of memory ---------------------------------------------------------------

COLUMN_MEMORY_SCRIPT = r"""
import array, sys
sys.path.insert(0, sys.argv[1])
import arrow_kit as ak
from hostile_kit import address_space_sweep
columns = ak.kernels()
function, fmt = sys.argv[2], sys.argv[3]
# 2,000,000 rows of one text, made without a Python object per row: an output larger
# than whatever room the heap has free
text = b"(1.234,50)" if function == "parse" else b"someIdentifierName"
n = 2_000_000
offsets = array.array("i" if fmt == "u" else "q", range(0, len(text) * (n + 1), len(text))).tobytes()
src, _ = ak.source(fmt, [ak.Chunk(fmt, n, [None, offsets, text * n])])
address_space_sweep(lambda: getattr(columns, function)(src))
"""


@pytest.mark.skipif(os.environ.get("TAVO_SANITIZED") == "1", reason="address limits do not mix with ASan")
@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
@pytest.mark.parametrize("fmt", ["u", "U"])
@pytest.mark.parametrize("function", TEXT_FUNCTIONS + ["parse"])
def test_out_of_memory_is_memory_error(function, fmt):
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run([sys.executable, "-c", COLUMN_MEMORY_SCRIPT, here, function, fmt],
                         capture_output=True, text=True, timeout=300)
    check_sweep_output(out)


# The text of utf8 rows is checked a window at a time (64 KiB) ahead of the rows: a fault
# in any window, at a window's edge or made by a row boundary inside a character, is found
# in its row at its byte, as the decoder finds it; the bytes of a null row are never judged.
def long_rows(at, fault):
    """Rows of two-byte text 'é' * 50 + 'x', about 3 windows, with `fault` placed at byte
    `at` of the text: the rows' bytes, the offsets, the validity."""
    data = bytearray(("é" * 50 + "x").encode() * 2000)
    offsets = list(range(0, len(data) + 1, 101))
    at -= at % 101 % 2  # a lead byte
    valid = [True] * (len(offsets) - 1)
    if fault == "split":
        offsets = sorted(set(offsets) | {at + 1})  # between the two bytes of a character
        valid = [True] * (len(offsets) - 1)
    else:
        data[at] = 0xFF
        if fault == "null row":
            valid[at // 101] = False
    return bytes(data), offsets, valid


@pytest.mark.parametrize("fmt", ["u", "U"])
@pytest.mark.parametrize("fault", ["bad byte", "split", "null row"])
@pytest.mark.parametrize("at", [0, 50000, 65534, 65536, 65538, 131072, 190000, 201998])
def test_long_text_checked_in_windows(at, fault, fmt):
    data, offsets, valid = long_rows(at, fault)
    rows = [data[a:b] if ok else None for a, b, ok in zip(offsets, offsets[1:], valid)]
    src, producer = source(fmt, [utf8_chunk(offsets, data, valid=valid, fmt=fmt)])
    for i, row in enumerate(rows):
        try:
            row is None or row.decode()
        except UnicodeDecodeError as e:
            with pytest.raises(ValueError, match=r"^malformed Arrow data: row %d: invalid UTF-8 \(byte 0x%02x at "
                               r"position %d\)" % (i, row[e.start], e.start)):
                columns.uncamel(src)
            break
    else:
        want = [None if row is None else _tavo.uncamel(row.decode()) for row in rows]
        assert ak.read_stream(columns.uncamel(src))[1] == [want]
    assert producer.all_released_once()


# Every lead byte with second bytes at the edges of each range, and third and fourth bytes
# that continue or do not, at both sides of a 16-byte block's edge, in text shorter than the
# wider paths' 32-byte blocks or longer: each judged as the decoder judges it.
SECOND_BYTES = [0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2, 0xE0, 0xF0, 0xFF]


@pytest.mark.parametrize("lead", range(0x80, 0x100), ids=hex)
def test_utf8_sequences_judged_as_the_decoder_does(lead):
    for second in SECOND_BYTES:
        for rest in (b"\x80\x80", b"\xbf\x41", b"\x41\x80", b"\xbf\xbf\x80"):
            for before, after in ((b"", b""), (b"x" * 14, b""), (b"x" * 14, b"y" * 40)):
                raw = before + bytes([lead, second]) + rest + after
                src, _ = source("u", [Chunk.strings([raw], "u")])
                try:
                    text = raw.decode()
                except UnicodeDecodeError as e:
                    with pytest.raises(ValueError, match=r"position %d\)" % e.start):
                        columns.uncamel(src)
                else:
                    assert ak.read_stream(columns.uncamel(src))[1] == [[_tavo.uncamel(text)]]


# A sequence whole, cut short or run on, at every offset of the first blocks of a span (16
# bytes; 32 on the wider paths, halves of 16), with more text after it. A span checked valid
# has its rows read unchecked: parse, which decodes nothing, would read through a sequence
# the span check let by.
@pytest.mark.parametrize("lead", [0x80, 0xC0, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5], ids=hex)
def test_utf8_sequences_at_every_offset_of_a_block(lead):
    for at in range(70):
        for rest in (b"", b"\x80", b"\x90\x80", b"\xa0\x80\x80", b"\x41", b"\xa0\x41", b"\x90\x80\x41"):
            raw = b"x" * at + bytes([lead]) + rest + b"y" * 40
            try:
                text = raw.decode()
            except UnicodeDecodeError as e:
                for function in (columns.uncamel, columns.parse):
                    src, _ = source("u", [Chunk.strings([raw], "u")])
                    with pytest.raises(ValueError, match=r"position %d\)" % e.start):
                        function(src)
            else:
                src, _ = source("u", [Chunk.strings([raw], "u")])
                assert ak.read_stream(columns.uncamel(src))[1] == [[_tavo.uncamel(text)]]
