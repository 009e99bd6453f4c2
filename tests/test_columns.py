"""tavo.columns, the package over the native kernels: every row of the four column functions
against the per-element function through each library's container (pyarrow Array and
ChunkedArray, polars Series, pandas Series of each string dtype, bare capsule producers),
over the three string types, slices and chunks; the caller's kind of column back; what is
refused. The kernels' own contract (malformed arrays, release callbacks, parse's types at
the C interface) is tests/test_columns_native.py's; the integrations (pyarrow, a polars lazy
query, pandas pipe, a DuckDB Arrow UDF, Spark mapInArrow) are the README's Columns blocks,
run by tests/test_readme.py."""
import importlib.util
import math
import pathlib
import re
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


# --- the caller's kind of column ------------------------------------------------------------

@needs(pd, "pandas")
@pytest.mark.parametrize("dtype, text, ints, floats", [
    pytest.param("str", "str", "int64", "float64", marks=pytest.mark.skipif(
        pd is not None and int(pd.__version__.split(".")[0]) < 3, reason="pandas 3's default str dtype")),
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
    assert loaded(code) == "[]"


def loaded(code):
    """What `code`, run in a new interpreter, prints: the libraries it found loaded."""
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout.strip()


@needs(pl, "polars")
def test_polars_column_loads_no_other_library():
    code = ("import sys, polars as pl, tavo; "
            "assert tavo.columns.uncamel(pl.Series('a', ['fooBar'])).to_list() == ['foo_bar']; "
            "print(sorted(m for m in ('pyarrow', 'pandas') if m in sys.modules))")
    assert loaded(code) == "[]"


def test_package_exports():
    nine = ["backfill", "backfill_iterdict", "collapse", "multikeysort", "parse", "same_order",
            "sanitize_vulgar_string", "uncamel", "underscore_to_camelcase"]
    assert sorted(tavo.__all__) == sorted(nine + ["columns"])
    assert all(getattr(tavo, n) is getattr(_tavo, n) for n in nine)
    assert sorted(columns.__all__) == sorted(FUNCTIONS + ["Column"])
    assert "never wraps" in columns.parse.__doc__ and "inf" in columns.parse.__doc__


# The Arrow types and the capsule methods a column function reads, wherever that is said.
ACCEPTED_NAMES = re.compile(r"\b(?:utf8|large_utf8|string_view|__arrow_c_stream__|__arrow_c_array__)\b")


def readme_accepts():
    """The README's "In:" item of its Columns section, or None without the README."""
    readme = pathlib.Path(__file__).resolve().parent.parent / "README.md"
    if not readme.exists():
        return None
    section = readme.read_text(encoding="utf-8").split("\n## Columns\n", 1)[1]
    return re.search(r"^- In: (.*?)^- ", section, re.S | re.M).group(1)


def test_what_a_function_accepts_is_said_alike():
    # The native text (the TypeError and the native docstrings), the module's documentation
    # (which the functions' docstrings refer to) and the README: one statement each, and the
    # same types and methods in all.
    with pytest.raises(TypeError) as refused:
        columns.uncamel(object())
    texts = {"TypeError": str(refused.value), "tavo.columns": columns.__doc__}
    texts.update({"_columns." + name: getattr(columns._columns, name).__doc__ for name in FUNCTIONS})
    if (readme := readme_accepts()) is not None:
        texts["README"] = readme
    names = {where: set(ACCEPTED_NAMES.findall(text)) for where, text in texts.items()}
    assert len(names["TypeError"]) == 5
    assert names == {where: names["TypeError"] for where in texts}


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
