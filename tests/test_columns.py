"""tavo.columns: every row of the four column functions against the per-element function,
over the three string types, slices, chunks and each library's container; the caller's kind
of column back; parse's types; what is refused. The integrations (pyarrow, a polars lazy
query, pandas pipe, a DuckDB Arrow UDF, Spark mapInArrow) are the README's Columns blocks,
run by tests/test_readme.py."""
import array
import ctypes
import importlib.util
import math
import struct
import subprocess
import sys

import pytest
from hypothesis import given, settings, strategies as st

import _tavo
from models.number import column_model
from strategies import SETTINGS, fraction_text, nasty_text, number_text

if importlib.util.find_spec("tavo") is None:
    pytest.skip("the tavo package is not installed (pip install .)", allow_module_level=True)
pa = pytest.importorskip("pyarrow", reason="the column tests make their columns with pyarrow")

import tavo  # noqa: E402
from tavo import columns  # noqa: E402

try:
    import polars as pl
except ImportError:
    pl = None
try:
    import pandas as pd
except ImportError:
    pd = None

TEXT_FUNCTIONS = ["uncamel", "underscore_to_camelcase", "sanitize_vulgar_string"]
FUNCTIONS = TEXT_FUNCTIONS + ["parse"]
STRING_TYPES = {"utf8": pa.string(), "large_utf8": pa.large_string(), "string_view": pa.string_view()}


def needs(module, name):
    return pytest.mark.skipif(module is None, reason=f"{name} is not installed")


# --- the containers -----------------------------------------------------------------------


class ArrayOnly:
    """An Arrow producer with the array capsule only."""

    def __init__(self, array):
        self.array = array

    def __arrow_c_array__(self, requested_schema=None):
        return self.array.__arrow_c_array__(requested_schema)


class StreamOnly:
    """An Arrow producer with the stream capsule only."""

    def __init__(self, chunked):
        self.chunked = chunked

    def __arrow_c_stream__(self, requested_schema=None):
        return self.chunked.__arrow_c_stream__(requested_schema)


class Both(StreamOnly):
    """Both capsules: the array joins the chunks, so only the stream keeps them apart."""

    def __arrow_c_array__(self, requested_schema=None):
        return self.chunked.combine_chunks().__arrow_c_array__(requested_schema)


def arrow_chunks(chunks, arrow_type, pad):
    """Each chunk as a pyarrow array; with pad, a slice out of a longer array (an offset
    into offsets that do not start at 0)."""
    if not pad:
        return [pa.array(rows, arrow_type) for rows in chunks]
    return [pa.array(["p" * pad] * pad + rows + ["tail"], arrow_type).slice(pad, len(rows)) for rows in chunks]


def single(chunks):
    return [[row for rows in chunks for row in rows]]


# kind -> (whether it keeps the chunks and string type it is given, maker(chunks, arrow type, pad))
KINDS = {
    "pyarrow.Array": (True, lambda c, t, p: arrow_chunks(single(c), t, p)[0]),
    "pyarrow.ChunkedArray": (True, lambda c, t, p: pa.chunked_array(arrow_chunks(c, t, p), t)),
    "array capsule": (True, lambda c, t, p: ArrayOnly(arrow_chunks(single(c), t, p)[0])),
    "stream capsule": (True, lambda c, t, p: StreamOnly(pa.chunked_array(arrow_chunks(c, t, p), t))),
    "both capsules": (True, lambda c, t, p: Both(pa.chunked_array(arrow_chunks(c, t, p), t))),
    "polars.Series": (False, lambda c, t, p: pl.Series("col", pa.chunked_array(arrow_chunks(c, t, p), t))),
    "pandas.Series[str]": (False, lambda c, t, p: pd.Series(single(c)[0], dtype="str", name="col")),
    "pandas.Series[string]": (False, lambda c, t, p: pd.Series(single(c)[0], dtype="string", name="col")),
    "pandas.Series[object]": (False, lambda c, t, p: pd.Series(single(c)[0], dtype=object, name="col")),
    "pandas.Series[ArrowDtype]": (
        False, lambda c, t, p: pd.Series(pd.arrays.ArrowExtensionArray(pa.chunked_array(arrow_chunks(c, t, p), t)),
                                          name="col")),
}
KIND_PARAMS = [
    pytest.param(k, marks=needs(pl, "polars")) if k.startswith("polars") else
    pytest.param(k, marks=needs(pd, "pandas")) if k.startswith("pandas") else k
    for k in KINDS
]


def rows_of(result):
    """The rows of a result as Python values, None for a null (NaN in pandas' NumPy dtypes:
    parse never gives NaN)."""
    if isinstance(result, (pa.Array, pa.ChunkedArray)):
        return result.to_pylist()
    if pl is not None and isinstance(result, pl.Series):
        return result.to_list()
    if pd is not None and isinstance(result, pd.Series):
        return [None if x is None or x is pd.NA or (isinstance(x, float) and math.isnan(x)) else x
                for x in result.tolist()]
    assert isinstance(result, columns.Column), type(result)
    return pa.chunked_array(result).to_pylist()


def same_rows(got, expected):
    """Same values, same Python types (int against float), same sign of zero."""
    assert len(got) == len(expected)
    for i, (g, e) in enumerate(zip(got, expected)):
        if isinstance(e, float):
            assert isinstance(g, float) and g.hex() == e.hex(), (i, g, e)
        else:
            assert type(g) is type(e) and g == e, (i, g, e)


def expected_rows(name, rows, parse_type):
    """(Column type for utf8 input, rows) of the per-element function over the rows."""
    if name == "parse":
        return column_model([None if r is None else _tavo.parse(r) for r in rows], parse_type)
    f = getattr(_tavo, name)
    return "utf8", [None if r is None else f(r) for r in rows]


def call(name, column, parse_type):
    f = getattr(columns, name)
    return f(column, type=parse_type) if name == "parse" else f(column)


def check_container(kind, column, result, chunks, string_type, out_type):
    """The result is the caller's kind of column, of the right length and type."""
    n = sum(map(len, chunks))
    text_type = "large_utf8" if string_type == "large_utf8" else "utf8"
    arrow_out = {"utf8": pa.string(), "large_utf8": pa.large_string(), "int64": pa.int64(),
                 "float64": pa.float64()}[text_type if out_type == "utf8" else out_type]
    if kind == "pyarrow.Array":
        assert isinstance(result, pa.Array) and result.type == arrow_out and len(result) == n
    elif kind == "pyarrow.ChunkedArray":
        assert isinstance(result, pa.ChunkedArray) and result.type == arrow_out
        assert [len(c) for c in result.chunks] == [len(c) for c in chunks]
    elif kind.endswith("capsule") or kind == "both capsules":
        assert type(result) is columns.Column and len(result) == n
        assert result.type == (text_type if out_type == "utf8" else out_type)
        assert result.num_chunks == (1 if kind == "array capsule" else len(chunks))
        # the array export is the same rows, joined
        assert pa.array(result).to_pylist() == pa.chunked_array(result).to_pylist()
    elif kind.startswith("polars"):
        assert isinstance(result, pl.Series) and result.name == "col" and len(result) == n
    else:
        assert isinstance(result, pd.Series) and result.name == "col"
        assert result.index.equals(column.index)


# --- every row against the per-element function ---------------------------------------------

ASCII_IDENTIFIERS = st.text(alphabet="aAbBzZ09_- ", max_size=40)
ROW_TEXT = {
    "uncamel": st.one_of(ASCII_IDENTIFIERS, nasty_text()),
    "underscore_to_camelcase": st.one_of(ASCII_IDENTIFIERS, nasty_text()),
    "sanitize_vulgar_string": st.one_of(ASCII_IDENTIFIERS, fraction_text(), nasty_text()),
    "parse": number_text(),
}


@settings(SETTINGS, max_examples=60)
@pytest.mark.parametrize("name", FUNCTIONS)
@pytest.mark.parametrize("kind", KIND_PARAMS)
@given(data=st.data())
def test_every_row_is_the_per_element_result(kind, name, data):
    keeps_types, make = KINDS[kind]
    rows = st.lists(st.one_of(st.none(), st.just(""), ROW_TEXT[name]), max_size=10)
    chunks = data.draw(st.lists(rows, min_size=0, max_size=4) if keeps_types else rows.map(lambda r: [r]),
                       label="chunks")
    string_type = data.draw(st.sampled_from(sorted(STRING_TYPES)), label="string type")
    pad = data.draw(st.sampled_from([0, 3]), label="offset")
    parse_type = data.draw(st.sampled_from([None, "int64", "float64"]), label="type") if name == "parse" else None

    column = make(chunks, STRING_TYPES[string_type], pad)
    result = call(name, column, parse_type)

    all_rows = [r for rows in chunks for r in rows]
    out_type, expected = expected_rows(name, all_rows, parse_type)
    check_container(kind, column, result, chunks, string_type, out_type)
    got = rows_of(result)
    if kind in ("pandas.Series[str]", "pandas.Series[object]") and out_type == "int64" and None in expected:
        # an int64 column with missing values is float64 with NaN in NumPy's dtypes
        expected = [None if v is None else float(v) for v in expected]
    same_rows(got, expected)


# --- parse: the column type ------------------------------------------------------------------

PARSE_CASES = [
    # rows, type argument, (column type, values)
    (["1", "-2", None, "$1,200"], None, ("int64", [1, -2, None, 1200])),
    (["1", "2.5", None], None, ("float64", [1.0, 2.5, None])),
    ([], None, ("int64", [])),
    (["n/a", None, "1.2.3"], None, ("int64", [None, None, None])),
    (["9223372036854775807", "(9223372036854775808)"], None, ("int64", [2**63 - 1, -(2**63)])),
    (["9223372036854775808", "1"], None, ("float64", [9.223372036854775808e18, 1.0])),
    (["9007199254740993"], "float64", ("float64", [9007199254740992.0])),  # nearest, ties to even
    (["1" * 400, "(" + "1" * 400 + ")", "1"], None, ("float64", [math.inf, -math.inf, 1.0])),
    (["1" * 400 + ".5", "-0.0"], None, ("float64", [math.inf, -0.0])),
    (["1" * 400, "7", "9223372036854775808", "2.5"], "int64", ("int64", [None, 7, None, None])),
    (["2.0", "-0.0", "1e3"], "int64", ("int64", [2, 0, 13])),
    (["1" + "0" * 4300, "5"], None, ("int64", [None, 5])),  # past sys.get_int_max_str_digits()
]


@pytest.mark.parametrize("rows, type_arg, expected", PARSE_CASES)
def test_parse_column_type(rows, type_arg, expected):
    # the table is the model's, and the column is the table's
    assert expected_rows("parse", rows, type_arg) == expected
    result = columns.parse(StreamOnly(pa.chunked_array([pa.array(rows, pa.string())], pa.string())), type=type_arg)
    assert result.type == expected[0]
    same_rows(pa.chunked_array(result).to_pylist(), expected[1])


@pytest.mark.thread_unsafe(reason="changes the interpreter's int digit limit")
def test_parse_reads_the_int_digit_limit_of_the_call():
    saved = sys.get_int_max_str_digits()
    rows = ["1" * 641, "2" * 640]
    try:
        for limit in (640, 0):
            sys.set_int_max_str_digits(limit)
            result = columns.parse(pa.array(rows))
            same_rows(result.to_pylist(), expected_rows("parse", rows, None)[1])
    finally:
        sys.set_int_max_str_digits(saved)


@pytest.mark.parametrize("bad", ["int32", "Int64", int, "", 64])
def test_parse_type_argument(bad):
    with pytest.raises(ValueError, match="int64"):
        columns.parse(pa.array(["1"]), type=bad)


# --- the caller's kind of column ------------------------------------------------------------

@needs(pd, "pandas")
@pytest.mark.parametrize("dtype, text, ints, floats", [
    ("str", "str", "int64", "float64"),
    ("string", "string", "Int64", "Float64"),
    (object, "object", "int64", "float64"),
    ("arrow string", "string[pyarrow]", "int64[pyarrow]", "double[pyarrow]"),
    ("arrow large_string", "large_string[pyarrow]", "int64[pyarrow]", "double[pyarrow]"),
])
def test_pandas_dtype_family(dtype, text, ints, floats):
    if isinstance(dtype, str) and dtype.startswith("arrow "):
        dtype = pd.ArrowDtype(getattr(pa, dtype.split()[1])())
    index = pd.Index([10, 20, 30], name="id")
    series = pd.Series(["userID", "12", "3.5"], dtype=dtype, index=index, name="raw")
    for part, result, want in ((series, columns.uncamel(series), text), (series.iloc[1:2], columns.parse(series.iloc[1:2]), ints),
                               (series.iloc[1:], columns.parse(series.iloc[1:]), floats)):
        assert str(result.dtype) == want and result.name == "raw"
        assert result.index.equals(part.index)
    assert columns.uncamel(series).tolist() == ["user_id", "12", "3.5"]


@needs(pd, "pandas")
@pytest.mark.parametrize("missing", [None, float("nan"), "pd.NA"])
def test_pandas_object_missing_values_are_nulls(missing):
    missing = pd.NA if missing == "pd.NA" else missing
    series = pd.Series(["fooBar", missing], dtype=object)
    assert rows_of(columns.uncamel(series)) == ["foo_bar", None]


def test_import_needs_no_column_library():
    code = ("import sys, tavo; "
            "assert tavo.columns.uncamel and tavo.uncamel is __import__('_tavo').uncamel; "
            "print(sorted(m for m in ('pyarrow', 'polars', 'pandas', 'duckdb') if m in sys.modules))")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert out.strip() == "[]"


@needs(pl, "polars")
def test_polars_column_loads_no_other_library():
    code = ("import sys, polars as pl, tavo; "
            "assert tavo.columns.uncamel(pl.Series('a', ['fooBar'])).to_list() == ['foo_bar']; "
            "print(sorted(m for m in ('pyarrow', 'pandas') if m in sys.modules))")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert out.strip() == "[]"


def test_package_exports():
    nine = ["backfill", "backfill_iterdict", "collapse", "multikeysort", "parse", "same_order",
            "sanitize_vulgar_string", "uncamel", "underscore_to_camelcase"]
    assert sorted(tavo.__all__) == sorted(nine + ["columns"])
    assert all(getattr(tavo, n) is getattr(_tavo, n) for n in nine)
    assert sorted(columns.__all__) == sorted(FUNCTIONS + ["Column"])
    for name in FUNCTIONS:
        assert "utf8" in getattr(columns, name).__doc__
    assert "never wraps" in columns.parse.__doc__ and "inf" in columns.parse.__doc__


# --- what is refused -----------------------------------------------------------------------

BAD_COLUMNS = {
    "int64 array": lambda: pa.array([1, 2]),
    "float64 chunked array": lambda: pa.chunked_array([pa.array([1.5])]),
    "binary array": lambda: pa.array([b"fooBar"]),
    "dictionary of strings": lambda: pa.array(["fooBar"]).dictionary_encode(),
    "table": lambda: pa.table({"x": ["fooBar"]}),
    "list": lambda: ["fooBar"],
    "str": lambda: "fooBar",
    "None": lambda: None,
    "object": lambda: object(),
    "polars int Series": lambda: pl.Series("n", [1, 2]),
    "pandas int Series": lambda: pd.Series([1, 2]),
    "pandas object Series of str and int": lambda: pd.Series(["fooBar", 1], dtype=object),
}


@pytest.mark.parametrize("name", FUNCTIONS)
@pytest.mark.parametrize("bad", [
    pytest.param(k, marks=needs(pl, "polars")) if k.startswith("polars") else
    pytest.param(k, marks=needs(pd, "pandas")) if k.startswith("pandas") else k
    for k in BAD_COLUMNS
])
def test_refused_columns_raise_type_error(name, bad):
    with pytest.raises(TypeError, match="utf8|str"):
        getattr(columns, name)(BAD_COLUMNS[bad]())


# --- malformed data from a producer of our own ------------------------------------------------
# pyarrow checks what it builds, so the malformed arrays are C Data Interface structures made
# here with ctypes, whose release callbacks count their calls.


class ArrowSchema(ctypes.Structure):
    pass


class ArrowArray(ctypes.Structure):
    pass


SCHEMA_RELEASE = ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowSchema))
ARRAY_RELEASE = ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowArray))
ArrowSchema._fields_ = [
    ("format", ctypes.c_char_p), ("name", ctypes.c_char_p), ("metadata", ctypes.c_char_p),
    ("flags", ctypes.c_int64), ("n_children", ctypes.c_int64), ("children", ctypes.c_void_p),
    ("dictionary", ctypes.c_void_p), ("release", SCHEMA_RELEASE), ("private_data", ctypes.c_void_p)]
ArrowArray._fields_ = [
    ("length", ctypes.c_int64), ("null_count", ctypes.c_int64), ("offset", ctypes.c_int64),
    ("n_buffers", ctypes.c_int64), ("n_children", ctypes.c_int64), ("buffers", ctypes.POINTER(ctypes.c_void_p)),
    ("children", ctypes.c_void_p), ("dictionary", ctypes.c_void_p), ("release", ARRAY_RELEASE),
    ("private_data", ctypes.c_void_p)]
capsule_new = ctypes.pythonapi.PyCapsule_New
capsule_new.restype = ctypes.py_object
capsule_new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
SCHEMA_NAME, ARRAY_NAME = b"arrow_schema", b"arrow_array"  # kept alive: a capsule keeps the pointer


class RawArray:
    """One array exported by hand: format, length, buffers (bytes, or None for an absent
    validity buffer). Counts the calls of each release callback."""

    def __init__(self, fmt, length, buffers):
        self.fmt, self.length = fmt, length
        self.buffers = [None if b is None else ctypes.create_string_buffer(bytes(b), max(len(b), 1)) for b in buffers]
        self.released = {"schema": 0, "array": 0}

        def release_schema(p):
            self.released["schema"] += 1
            p.contents.release = SCHEMA_RELEASE()

        def release_array(p):
            self.released["array"] += 1
            p.contents.release = ARRAY_RELEASE()

        self.callbacks = SCHEMA_RELEASE(release_schema), ARRAY_RELEASE(release_array)

    def __arrow_c_array__(self, requested_schema=None):
        pointers = (ctypes.c_void_p * len(self.buffers))(
            *[None if b is None else ctypes.addressof(b) for b in self.buffers])
        self.schema = ArrowSchema(self.fmt.encode(), None, None, 2, 0, None, None, self.callbacks[0], None)
        self.array = ArrowArray(self.length, 0, 0, len(self.buffers), 0, pointers, None, None, self.callbacks[1], None)
        self.pointers = pointers
        return (capsule_new(ctypes.addressof(self.schema), SCHEMA_NAME, None),
                capsule_new(ctypes.addressof(self.array), ARRAY_NAME, None))


def offsets_array(fmt, offsets, data):
    width = "q" if fmt == "U" else "i"
    return RawArray(fmt, len(offsets) - 1, [None, array.array(width, offsets).tobytes(), data])


def view(text=b"", length=None, buffer=0, offset=0):
    """One string_view row: inline up to 12 bytes, else a prefix, a buffer index and an offset."""
    length = len(text) if length is None else length
    if 0 <= length <= 12:
        return struct.pack("<i12s", length, text)
    return struct.pack("<i4sii", length, text[:4], buffer, offset)


def views_array(views, data_buffers):
    sizes = array.array("q", [len(b) for b in data_buffers]).tobytes()
    return RawArray("vu", len(views), [None, b"".join(views), *data_buffers, sizes])


LONG = b"getHTTPResponseCode"
MALFORMED = {
    # name: (the producer, the row at fault)
    "decreasing offsets": (lambda f: offsets_array(f, [0, 2, 4, 3, 6], b"aBcDeF"), 2),
    "negative offset": (lambda f: offsets_array(f, [-1, 2], b"aBcDeF"), 0),
    "invalid UTF-8": (lambda f: offsets_array(f, [0, 1, 2, 4], b"ab\xffc"), 2),
    "UTF-8 cut short": (lambda f: offsets_array(f, [0, 1, 2, 4], b"a\xc3xy"), 1),
    "surrogate in UTF-8": (lambda f: offsets_array(f, [0, 3, 6], b"abc\xed\xa0\x80"), 1),
    "view of a missing buffer": (lambda f: views_array([view(b"ok"), view(LONG, buffer=1)], [LONG]), 1),
    "view past its buffer": (lambda f: views_array([view(LONG, offset=4)], [LONG]), 0),
    "view of negative length": (lambda f: views_array([view(b"ok"), view(b"ok"), view(length=-3)], [LONG]), 2),
    "inline view not UTF-8": (lambda f: views_array([view(b"ok"), view(b"a\xffb")], [LONG]), 1),
}


@pytest.mark.parametrize("case, fmt", [(case, fmt) for case in MALFORMED
                                       for fmt in (["vu"] if "view" in case else ["u", "U"])])
@pytest.mark.parametrize("name", FUNCTIONS)
def test_malformed_data_raises_value_error_naming_the_row(name, case, fmt):
    make, row = MALFORMED[case]
    source = make(fmt)
    with pytest.raises(ValueError, match=rf"\brow {row}\b"):
        getattr(columns, name)(source)
    assert source.released == {"schema": 1, "array": 1}


@pytest.mark.parametrize("make, kind", [
    (lambda: offsets_array("u", [0, 6, 6, 9], b"fooBarx_y"), "utf8"),
    (lambda: offsets_array("U", [0, 6, 6, 9], b"fooBarx_y"), "large_utf8"),
    (lambda: views_array([view(b"fooBar"), view(b""), view(b"x_y")], []), "utf8"),
    (lambda: views_array([view(LONG, offset=1), view(b""), view(b"x_y")], [b"x" + LONG]), "utf8"),
])
def test_hand_made_arrays_are_read_and_released_once(make, kind):
    source = make()
    rows = ["getHTTPResponseCode" if source.buffers[2:-1] else "fooBar", "", "x_y"]
    for name in FUNCTIONS:
        result = getattr(columns, name)(source)
        assert result.type == (kind if name != "parse" else "int64")
        same_rows(pa.chunked_array(result).to_pylist(), expected_rows(name, rows, None)[1])
    assert source.released == {"schema": 4, "array": 4}


def test_the_callers_buffers_are_not_written():
    source = pa.array(["fooBar", None, "x_y", "1½"] * 50)
    before = [bytes(b) if b is not None else None for b in source.buffers()]
    for name in FUNCTIONS:
        getattr(columns, name)(source)
    assert [bytes(b) if b is not None else None for b in source.buffers()] == before
