"""tavo.columns, the package over the native kernels: every row of the four column functions
against the per-element function through each library's container (pyarrow Array and
ChunkedArray, polars Series, pandas Series of each string dtype, bare capsule producers),
over the three string types, slices and chunks; the caller's kind of column back; what is
refused; then the front ends over them (the polars namespace on expressions, in memory and
streaming, and on Series; the pandas accessor; DuckDB's SQL functions), row for row against
the per-element functions. The kernels' own contract (malformed arrays, release callbacks,
parse's types at the C interface) is tests/test_columns_native.py's; the column blocks of
the pages under docs/ run in tests/test_docs.py."""
import importlib.util
import inspect
import math
import pathlib
import re
import subprocess
import sys

import pytest
from hypothesis import given, settings, strategies as st

import _tavo
from catalogue.column_functions import TEXT_FUNCTIONS
from models.number import column_model
from models.price import column_row
from models import number_format as number_format_model
from strategies import SETTINGS, fraction_text, nasty_text, number_text, price_text

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
try:
    import duckdb
except ImportError:
    duckdb = None

FUNCTIONS = TEXT_FUNCTIONS + ["parse", "price"]
STRING_TYPES = {"utf8": pa.string(), "large_utf8": pa.large_string(), "string_view": pa.string_view()}
PRICE_TYPE = pa.struct([("amount", pa.float64()), ("currency", pa.string())])


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
    """Same values, same Python types (int against float), same sign of zero; a struct row
    (a dict) field by field."""
    assert len(got) == len(expected)
    for i, (g, e) in enumerate(zip(got, expected)):
        if isinstance(e, dict):
            assert type(g) is dict and list(g) == list(e), (i, g, e)
            same_rows(list(g.values()), list(e.values()))
        elif isinstance(e, float):
            assert isinstance(g, float) and g.hex() == e.hex(), (i, g, e)
        else:
            assert type(g) is type(e) and g == e, (i, g, e)


def price_row(text, decimal):
    """The row tavo.columns.price gives for `text`: tavo.price's, None for no text."""
    return None if text is None else column_row(tavo.price(text, decimal=decimal))


def expected_rows(name, rows, parse_type, decimal="."):
    """(Column type for utf8 input, rows) of the per-element function over the rows."""
    if name == "price":
        return "price", [price_row(r, decimal) for r in rows]
    if name == "parse":
        return column_model([None if r is None else tavo.parse(r, decimal=decimal) for r in rows], parse_type)
    f = getattr(_tavo, name)
    return "utf8", [None if r is None else f(r) for r in rows]


def call(name, column, parse_type, decimal="."):
    f = getattr(columns, name)
    if name == "price":
        return f(column, decimal=decimal)
    return f(column, type=parse_type, decimal=decimal) if name == "parse" else f(column)


def check_container(kind, column, result, chunks, string_type, out_type):
    """The result is the caller's kind of column, of the right length and type."""
    n = sum(map(len, chunks))
    text_type = string_type  # text keeps the input's layout
    arrow_out = {**STRING_TYPES, "int64": pa.int64(), "float64": pa.float64(), "price": PRICE_TYPE}[
        text_type if out_type == "utf8" else out_type]
    column_type = {"utf8": text_type, "price": "struct<amount: float64, currency: utf8>"}.get(out_type, out_type)
    if kind == "pyarrow.Array":
        assert isinstance(result, pa.Array) and result.type == arrow_out and len(result) == n
    elif kind == "pyarrow.ChunkedArray":
        assert isinstance(result, pa.ChunkedArray) and result.type == arrow_out
        assert [len(c) for c in result.chunks] == [len(c) for c in chunks]
    elif kind.endswith("capsule") or kind == "both capsules":
        assert type(result) is columns.Column and len(result) == n
        assert result.type == column_type
        assert result.num_chunks == (1 if kind == "array capsule" else len(chunks))
        # the array export is the same rows, joined
        assert pa.array(result).to_pylist() == pa.chunked_array(result).to_pylist()
    elif kind.startswith("polars"):
        assert isinstance(result, pl.Series) and result.name == "col" and len(result) == n
        if out_type == "price":
            assert result.dtype == pl.Struct({"amount": pl.Float64, "currency": pl.String})
    else:
        assert isinstance(result, pd.Series) and result.name == "col"
        assert result.index.equals(column.index)
        if out_type == "price":  # ArrowDtype whatever the input's dtype
            assert result.dtype == pd.ArrowDtype(PRICE_TYPE)


# --- every row against the per-element function ---------------------------------------------

ASCII_IDENTIFIERS = st.text(alphabet="aAbBzZ09_- ", max_size=40)
# the rows each function is tried on: identifiers and awkward text, unless it reads more
ROW_TEXT = {
    **{name: st.one_of(ASCII_IDENTIFIERS, nasty_text()) for name in TEXT_FUNCTIONS},
    "sanitize_vulgar_string": st.one_of(ASCII_IDENTIFIERS, fraction_text(), nasty_text()),
    "parse": st.one_of(number_text(), st.text(alphabet="0123456789.,()-' \u202f\u20ac", max_size=16)),
    "price": st.one_of(price_text(), nasty_text()),
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
    decimal = data.draw(st.sampled_from([".", ","] + [None] * (name == "price")), label="decimal") \
        if name in ("parse", "price") else "."

    column = make(chunks, STRING_TYPES[string_type], pad)
    result = call(name, column, parse_type, decimal)

    all_rows = [r for rows in chunks for r in rows]
    out_type, expected = expected_rows(name, all_rows, parse_type, decimal)
    check_container(kind, column, result, chunks, string_type, out_type)
    same_rows(rows_of(result), expected)


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


# Each text dtype of pandas -> (how to make it, what parse gives: int64 without nulls, int64
# with nulls, float64). An int64 with nulls in the NumPy family is the nullable Int64: a
# float64 with NaN would round every value past 2**53.
PANDAS_NUMBER_DTYPES = {
    "str": (lambda: "str", "int64", "Int64", "float64"),
    "str, python storage": (lambda: pd.StringDtype("python", na_value=float("nan")), "int64", "Int64", "float64"),
    "object": (lambda: object, "int64", "Int64", "float64"),
    "string": (lambda: "string", "Int64", "Int64", "Float64"),
    "string, python storage": (lambda: "string[python]", "Int64", "Int64", "Float64"),
    **{f"ArrowDtype {t}": ((lambda t=t: pd.ArrowDtype(getattr(pa, t)())), "int64[pyarrow]", "int64[pyarrow]",
                           "double[pyarrow]") for t in ("string", "large_string", "string_view")},
}
# past 2**53 (where a double no longer holds every int), up to both ends of int64
PAST_2_53 = ["9007199254740993", "-9007199254740993", "18014398509481987", "9223372036854775807",
             "-9223372036854775808", "7"]


def pandas_text_series(dtype_name, rows):
    make = PANDAS_NUMBER_DTYPES[dtype_name][0]
    try:
        series = pd.Series(rows, dtype=make(), index=range(100, 100 + len(rows)), name="raw")
    except (TypeError, ValueError) as e:  # pandas 2.2 has no na_value= for StringDtype
        pytest.skip(f"pandas {pd.__version__} has no {dtype_name} dtype: {e}")
    if dtype_name.startswith("str") and series.dtype == object:
        pytest.skip(f"pandas {pd.__version__} makes dtype='str' object")  # pandas 2 without infer_string
    return series


@needs(pd, "pandas")
@pytest.mark.parametrize("dtype_name", list(PANDAS_NUMBER_DTYPES))
@pytest.mark.parametrize("nulls", [False, True], ids=["no nulls", "nulls"])
@pytest.mark.parametrize("parse_type", ["int64", None, "float64"])
@pytest.mark.parametrize("through", ["tavo.columns", "accessor"])
def test_pandas_parse_keeps_every_digit(dtype_name, nulls, parse_type, through):
    """An int64 result is exact in every dtype family, with nulls or without; float64 is what
    pyarrow's float64 column holds."""
    rows = PAST_2_53 + ([None, "n/a"] if nulls else [])
    series = pandas_text_series(dtype_name, rows)
    result = series.tavo.parse(type=parse_type) if through == "accessor" else columns.parse(series, type=parse_type)
    # what the same column gives through pyarrow, and the per-element values
    assert rows_of(result) == columns.parse(pa.array(rows), type=parse_type).to_pylist()
    _, expected = column_model([None if r is None else tavo.parse(r) for r in rows], parse_type)
    assert expected[:len(PAST_2_53)] == ([float(int(r)) for r in PAST_2_53] if parse_type == "float64"
                                         else [int(r) for r in PAST_2_53])
    same_rows(rows_of(result), expected)
    ints, nullable_ints, floats = PANDAS_NUMBER_DTYPES[dtype_name][1:]
    want = floats if parse_type == "float64" else nullable_ints if nulls else ints
    assert str(result.dtype) == want and result.name == "raw" and result.index.equals(series.index)


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
    # the package lists _tavo's functions, its own modules and records, number_format, and each
    # function of tavo._native whose module is tavo (that very object), each once; _tavo's are
    # _tavo's very objects but for parse, which takes a decimal mark (tavo._native's)
    own = {n for n, f in vars(tavo._native).items() if callable(f) and getattr(f, "__module__", "") == "tavo"}
    assert {"parse", "price"} <= own and sorted(tavo._native.__all__) == sorted(own)
    assert len(set(tavo.__all__)) == len(tavo.__all__)
    assert set(tavo.__all__) == set(_tavo.__all__) | own | {"columns", "keys", "NumberFormat", "number_format",
                                                             "Price"}
    assert all(getattr(tavo, n) is getattr(tavo._native, n) for n in own)
    assert all(getattr(tavo, n) is getattr(_tavo, n) for n in _tavo.__all__ if n not in own)
    assert tavo.parse is tavo._native.parse and tavo.parse.__module__ == "tavo"
    assert sorted(columns.__all__) == sorted(FUNCTIONS + ["Column", "number_format"])
    assert "never wraps" in columns.parse.__doc__ and "inf" in columns.parse.__doc__
    assert "decimal" in columns.parse.__doc__


# The Arrow types and the capsule methods a column function reads, wherever that is said.
ACCEPTED_NAMES = re.compile(r"\b(?:utf8|large_utf8|string_view|__arrow_c_stream__|__arrow_c_array__)\b")


def documented_accepts():
    """The "In:" item of the columns reference page (docs/reference/columns.md), or None
    without the docs."""
    page = pathlib.Path(__file__).resolve().parent.parent / "docs" / "reference" / "columns.md"
    if not page.exists():
        return None
    return re.search(r"^- In: (.*?)^- ", page.read_text(encoding="utf-8"), re.S | re.M).group(1)


def test_what_a_function_accepts_is_said_alike():
    # The native text (the TypeError and the native docstrings), the module's documentation
    # (which the functions' docstrings refer to) and the reference page: one statement each, and the
    # same types and methods in all.
    with pytest.raises(TypeError) as refused:
        columns.uncamel(object())
    texts = {"TypeError": str(refused.value), "tavo.columns": columns.__doc__}
    texts.update({"_native.columns_" + name: getattr(columns._native, "columns_" + name).__doc__
                  for name in FUNCTIONS})
    if (page := documented_accepts()) is not None:
        texts["docs/reference/columns.md"] = page
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


# --- the front ends: tavo.polars, tavo.pandas, tavo.duckdb -----------------------------------

if pl is not None:
    import tavo.polars  # noqa: E402,F401
if pd is not None:
    import tavo.pandas  # noqa: E402,F401
if duckdb is not None:
    import tavo.duckdb  # noqa: E402
from tavo._frontends import FUNCTIONS as FRONTEND_FUNCTIONS  # noqa: E402

POLARS_ENGINES = ["in-memory", "streaming"]


def polars_expression(engine):
    def run(name, rows, options):
        frame = pl.LazyFrame({"x": pl.Series(rows, dtype=pl.String)})
        out = frame.select(getattr(pl.col("x").tavo, name)(**options)).collect(engine=engine)
        assert out.columns == ["x"]
        return out["x"]
    return run


def polars_series(name, rows, options):
    series = pl.Series("col", rows, dtype=pl.String)
    result = getattr(series.tavo, name)(**options)
    assert isinstance(result, pl.Series) and result.name == "col"
    return result


def pandas_accessor(name, rows, options):
    series = pd.Series(rows, dtype=object, index=[f"r{i}" for i in range(len(rows))][::-1], name="col")
    result = getattr(series.tavo, name)(**options)
    assert isinstance(result, pd.Series) and result.name == "col" and result.index.equals(series.index)
    return result


_duckdb = []


def duckdb_connection():
    """One connection with the functions registered, for the whole module."""
    if not _duckdb:
        con = duckdb.connect()
        tavo.duckdb.register(con)
        _duckdb.append(con)
    return _duckdb[0]


def duckdb_sql(name, rows, options):
    """A table query: a row number beside the text, the function over the text column."""
    con = duckdb_connection().cursor()
    con.register("t", pa.table({"i": pa.array(range(len(rows)), pa.int64()), "s": pa.array(rows, pa.string())}))
    sql = "tavo_" + name + ("_decimal_comma" if options.get("decimal") == "," else "")
    return [r[0] for r in con.execute(f"SELECT {sql}(s) FROM t ORDER BY i").fetchall()]


# front end -> (library, runner, the parse types it takes: a declared type for None or not)
FRONT_ENDS = {
    **{f"polars expression ({e})": (pl, polars_expression(e) if pl is not None else None, "declared")
       for e in POLARS_ENGINES},
    "polars Series": (pl, polars_series, "declared"),
    "pandas accessor": (pd, pandas_accessor, "inferred"),
    "duckdb": (duckdb, duckdb_sql, "float64 only"),
}
FRONT_END_PARAMS = [pytest.param(k, marks=needs(lib, k.split()[0])) for k, (lib, _, _) in FRONT_ENDS.items()]


def front_end_expected(front_end, name, rows, parse_type, decimal="."):
    """The per-element rows a front end gives: tavo.columns' for pandas; a declared type
    (float64 unless int64 is asked for) for polars and DuckDB."""
    if name == "price":
        return expected_rows(name, rows, None, decimal)[1]
    if name != "parse":
        return expected_rows(name, rows, None)[1]
    kind = FRONT_ENDS[front_end][2]
    if kind != "inferred":
        parse_type = "int64" if parse_type == "int64" else "float64"
    return expected_rows(name, rows, parse_type, decimal)[1]


@settings(SETTINGS, max_examples=40)
@pytest.mark.parametrize("name", FUNCTIONS)
@pytest.mark.parametrize("front_end", FRONT_END_PARAMS)
@given(data=st.data())
def test_front_end_rows_are_the_per_element_results(front_end, name, data):
    rows = data.draw(st.lists(st.one_of(st.none(), st.just(""), ROW_TEXT[name]), max_size=10), label="rows")
    options = {}
    if name == "parse" and FRONT_ENDS[front_end][2] != "float64 only":
        options["type"] = data.draw(st.sampled_from([None, "int64", "float64"]), label="type")
    # polars and pandas infer the decimal mark from the whole column by default; DuckDB's
    # tavo_parse reads '.'
    decimal = "." if front_end == "duckdb" else number_format_model.number_format(rows)[0]
    if name == "price":  # each text decides its own mark unless one is given (never in DuckDB)
        decimal = None if front_end == "duckdb" else data.draw(st.sampled_from([None, ".", ","]), label="decimal")
        if decimal is not None:
            options["decimal"] = decimal
    if name == "parse" and decimal is None:
        with pytest.raises(Exception, match="cannot infer the decimal mark"):
            FRONT_ENDS[front_end][1](name, rows, options)
        return
    got = FRONT_ENDS[front_end][1](name, rows, options)
    same_rows(rows_of(got) if not isinstance(got, list) else got,
              front_end_expected(front_end, name, rows, options.get("type"), decimal))


DECIMAL_COMMA_ROWS = ["1.234,5", "12,5", None, "n/a", "(3,25)", "€ 2.000", ""]


@pytest.mark.parametrize("front_end", FRONT_END_PARAMS)
def test_front_end_decimal_comma(front_end):
    """decimal="," reaches tavo.columns.parse: the comma is the point, a point is dropped."""
    got = FRONT_ENDS[front_end][1]("parse", DECIMAL_COMMA_ROWS, {"decimal": ",", "type": "float64"}
                                   if front_end != "duckdb" else {"decimal": ","})
    got = got if isinstance(got, list) else rows_of(got)
    expected = columns.parse(pa.array(DECIMAL_COMMA_ROWS), type="float64", decimal=",").to_pylist()
    same_rows(got, expected)
    assert got == [1234.5, 12.5, None, None, -3.25, 2000.0, None]


@pytest.mark.parametrize("bad", ["int32", "Int64", 64, str])
def test_front_ends_refuse_a_bad_type_in_the_same_words(bad):
    """`type` is checked in one place for every front end; a polars expression refuses it
    when it is made, before any row is read."""
    refused = {}
    for front_end, (library, run, _) in FRONT_ENDS.items():
        if library is not None and front_end != "duckdb":
            with pytest.raises(ValueError) as caught:
                run("parse", ["1"], {"type": bad})
            refused[front_end] = str(caught.value)
    if pl is not None:
        with pytest.raises(ValueError) as caught:
            pl.col("x").tavo.parse(type=bad)
        refused["polars expression, made"] = str(caught.value)
    if not refused:
        pytest.skip("neither polars nor pandas is installed")
    assert set(refused.values()) == {"type must be None, 'int64' or 'float64', not %r" % (bad,)}


@pytest.mark.parametrize("front_end", ["tavo.columns"] + [p for p in FRONT_END_PARAMS if p.values[0] != "duckdb"])
@pytest.mark.parametrize("decimal", [";", "infer", "", 1, b"."])
def test_price_refuses_other_marks_as_tavo_price_does(front_end, decimal):
    with pytest.raises(ValueError) as per_element:
        tavo.price("1,5 €", decimal=decimal)
    if front_end == "tavo.columns":
        with pytest.raises(ValueError) as refused:
            columns.price(pa.array(["1,5 €"]), decimal=decimal)
        assert str(refused.value) == str(per_element.value)
        return
    with pytest.raises(Exception, match=re.escape(str(per_element.value))):
        FRONT_ENDS[front_end][1]("price", ["1,5 €"], {"decimal": decimal})


@needs(pd, "pandas")
@pytest.mark.parametrize("dtype_name", list(PANDAS_NUMBER_DTYPES))
def test_pandas_price_is_an_arrow_struct_in_every_dtype_family(dtype_name):
    rows = ["1.234,56 €", None, "n/a", "$3", "(12.50)"]
    series = pandas_text_series(dtype_name, rows)
    for result in (columns.price(series), series.tavo.price()):
        assert result.dtype == pd.ArrowDtype(PRICE_TYPE) and result.name == "raw" and result.index.equals(series.index)
        same_rows(rows_of(result), [price_row(r, None) for r in rows])
        fields = result.struct.explode()
        assert list(fields.columns) == ["amount", "currency"] and fields.index.equals(series.index)
        assert fields["amount"].tolist()[::3] == [1234.56, 3.0]


# The first half of the column reads either way, the second shows the decimal comma: a
# batch of the first half alone would not decide its mark, the whole column does.
HALVES = ["1.250"] * 150_000 + ["12,5"] * 150_000


@pytest.mark.parametrize("front_end", [p for p in FRONT_END_PARAMS if p.values[0] != "duckdb"])
def test_front_end_infers_from_the_whole_column(front_end):
    got = FRONT_ENDS[front_end][1]("parse", HALVES, {"type": "float64"})
    got = got.to_list() if not isinstance(got, list) else got
    assert got[0] == 1250.0 and got[-1] == 12.5 and len(got) == len(HALVES)
    with pytest.raises(Exception, match=r"both marks: 1 show '\.' \(row 3: '2\.5'\), 1 show ','"):
        FRONT_ENDS[front_end][1]("parse", ["1.250", None, "x", "2.5", "1,5"], {})


@needs(duckdb, "duckdb")
def test_duckdb_never_infers():
    # a column of decimal commas only: tavo_parse still reads '.', the comma a separator
    assert duckdb_sql("parse", ["12,5", "1,25"], {}) == [125.0, 125.0]
    assert duckdb_sql("parse", ["12,5", "1,25"], {"decimal": ","}) == [12.5, 1.25]


@pytest.mark.parametrize("front_end", [p for p in FRONT_END_PARAMS if p.values[0] != "duckdb"])
@pytest.mark.parametrize("name", FUNCTIONS)
def test_front_end_refuses_a_column_of_numbers(front_end, name):
    series = (pl.Series("col", [1, 2]) if front_end.startswith("polars") else pd.Series([1, 2], name="col"))
    with pytest.raises(TypeError, match="utf8|str"):
        if front_end.startswith("polars expression"):
            series.to_frame().lazy().select(getattr(pl.col("col").tavo, name)()).collect(
                engine=front_end.split("(")[1][:-1])
        else:
            getattr(series.tavo, name)()


@pytest.mark.parametrize("front_end", FRONT_END_PARAMS)
def test_every_table_function_reaches_every_front_end(front_end):
    """The shared table is what each front end offers: a new row reaches all three."""
    names = [f.name for f in FRONTEND_FUNCTIONS]
    assert names == FUNCTIONS
    if front_end == "duckdb":
        listed = {r[0] for r in duckdb_connection().execute(
            "SELECT function_name FROM duckdb_functions() WHERE function_name LIKE 'tavo_%'").fetchall()}
        assert listed == {"tavo_" + n for n in names} | {"tavo_parse_decimal_comma"}
        assert set(tavo.duckdb.FUNCTION_NAMES) == listed
        return
    assert all(callable(getattr(namespace_of(front_end), n)) for n in names)


def namespace_of(front_end):
    return (pl.col("x").tavo if front_end.startswith("polars expression") else
            pl.Series([""]).tavo if front_end.startswith("polars") else pd.Series([""]).tavo)


@pytest.mark.parametrize("front_end", [p for p in FRONT_END_PARAMS if p.values[0] != "duckdb"])
@pytest.mark.parametrize("name", FUNCTIONS)
def test_front_end_methods_take_the_column_functions_parameters(front_end, name):
    """A method takes the tavo.columns function's parameters, the column aside: parse's
    decimal is keyword-only there too."""
    method = getattr(namespace_of(front_end), name)
    params = list(inspect.signature(getattr(columns, name)).parameters.values())[1:]
    assert list(inspect.signature(method).parameters.values()) == params
    with pytest.raises(TypeError, match=rf"\.{name}\(\) takes .*positional arguments? but"):
        method(*[None] * (sum(p.kind == p.POSITIONAL_OR_KEYWORD for p in params) + 1))
    with pytest.raises(TypeError, match=rf"\.{name}\(\) got an unexpected keyword argument 'column'$"):
        method(column=None)


DECLARED_ARROW_TYPES = {"utf8": pa.string(), "int64": pa.int64(), "float64": pa.float64(), "price": PRICE_TYPE}


@pytest.mark.parametrize("record", FRONTEND_FUNCTIONS, ids=lambda r: r.name)
def test_table_records_say_what_tavo_columns_does(record):
    """A record's options and defaults are its tavo.columns function's keyword parameters, and
    the type it declares (for each `type`, and for each SQL function's fixed options) is the
    type the function gives: the front ends that declare ahead (polars, DuckDB, Spark) rely
    on both, and a front end passes every option, so a default of the function's own is never
    used."""
    assert record.function is getattr(columns, record.name)
    params = list(inspect.signature(record.function).parameters.values())[1:]
    assert dict(record.options) == {p.name: p.default for p in params}
    for parse_type in ([None, "int64", "float64"] if "type" in record.options else [None]):
        asked = {} if parse_type is None else {"type": parse_type}
        for options in [asked] + [{**asked, **fixed} for fixed in record.sql.values()]:
            # an undeclared type=None follows the values: only a type asked for is compared there
            for declares in [True, False] if parse_type else [True]:
                got = record.function(pa.array(["12,5", None]), **record.arguments(options, declares))
                assert got.type == DECLARED_ARROW_TYPES[record.declared(parse_type)], (options, declares)


# --- polars: the declared schema, the engines ---------------------------------------------

@needs(pl, "polars")
def test_polars_lazy_schema_is_known_before_it_runs(monkeypatch):
    def never(*args):
        raise AssertionError("the query ran")
    monkeypatch.setattr(tavo.polars, "_run", never)
    frame = pl.LazyFrame({"a": pl.Series([], dtype=pl.String)}).select(
        **{name: getattr(pl.col("a").tavo, name)() for name in TEXT_FUNCTIONS}, p=pl.col("a").tavo.parse(),
        q=pl.col("a").tavo.parse(type="int64"), r=pl.col("a").tavo.parse(type="float64"),
        s=pl.col("a").tavo.parse(decimal=","), t=pl.col("a").tavo.price())
    assert frame.collect_schema() == pl.Schema({**{name: pl.String for name in TEXT_FUNCTIONS}, "p": pl.Float64,
                                                "q": pl.Int64, "r": pl.Float64, "s": pl.Float64,
                                                "t": pl.Struct({"amount": pl.Float64, "currency": pl.String})})


@needs(pl, "polars")
@pytest.mark.parametrize("name, parse_type, decimal", [(n, None, ".") for n in FUNCTIONS] +
                         [("parse", "int64", "."), ("parse", None, ","), ("parse", None, "infer")])
def test_polars_streaming_runs_batch_by_batch_and_matches_in_memory(monkeypatch, name, parse_type, decimal):
    """300,000 rows: the streaming engine calls the kernel on batches (on the whole column
    when parse infers the decimal mark); every engine gives the rows that tavo.columns gives
    for the whole Series (parse with its declared type)."""
    rnd_rows = ["getHTTPResponseCode", None, "user_id_2", "2 ½ cups", "$1,200.50", "(3)", "", "ÉcoleNormale",
                "12345678901234567890", "7", "1.250 €", "40% OFF"]
    series = pl.Series("x", rnd_rows * 25_000, dtype=pl.String)
    options = {"type": parse_type, "decimal": decimal} if name == "parse" else {}
    batches = []
    run = tavo.polars._run

    def counting(function, opts, s):
        batches.append(len(s))
        return run(function, opts, s)
    monkeypatch.setattr(tavo.polars, "_run", counting)
    query = series.to_frame().lazy().select(getattr(pl.col("x").tavo, name)(**options))
    results = {}
    for engine in POLARS_ENGINES:
        batches.clear()
        results[engine] = query.collect(engine=engine)["x"]
        assert sum(batches) == len(series)
        if engine == "streaming":
            assert len(batches) > 1 if decimal != "infer" else batches == [len(series)], batches
    whole = getattr(columns, name)(series, **options)
    if name == "parse" and parse_type is None:
        whole = whole.cast(pl.Float64)
    for engine, got in results.items():
        assert got.dtype == whole.dtype and got.to_list() == whole.to_list(), engine


@needs(pl, "polars")
def test_polars_parse_of_an_untyped_null_column():
    frame = pl.DataFrame({"x": [None, None]})
    assert frame.schema["x"] == pl.Null
    out = frame.select(u=pl.col("x").tavo.uncamel(), p=pl.col("x").tavo.parse(), q=pl.col("x").tavo.price())
    assert out.schema == pl.Schema({"u": pl.String, "p": pl.Float64,
                                    "q": pl.Struct({"amount": pl.Float64, "currency": pl.String})})
    assert out["q"].to_list() == [None, None] and out.null_count().row(0)[:2] == (2, 2)


# --- DuckDB: NULLs, types, a query over many vectors --------------------------------------------

@needs(duckdb, "duckdb")
def test_duckdb_nulls_types_and_a_table_of_many_vectors():
    con = duckdb_connection().cursor()
    assert con.execute("SELECT tavo_uncamel(NULL), tavo_parse(NULL), tavo_price(NULL)").fetchall() == [
        (None, None, None)]
    types = con.execute("SELECT " + ", ".join(f"typeof(tavo_{name}('a'))" for name in TEXT_FUNCTIONS)
                        + ", typeof(tavo_parse('1')), typeof(tavo_price('1'))").fetchall()
    assert types == [("VARCHAR",) * len(TEXT_FUNCTIONS) + ("DOUBLE", "STRUCT(amount DOUBLE, currency VARCHAR)")]
    # 10,000 rows (DuckDB's vectors hold 2,048), nulls among them, through a WHERE and a GROUP BY
    rows = [None if i % 7 == 0 else f"fieldName{i % 50}" for i in range(10_000)]
    con.register("names", pa.table({"n": pa.array(rows, pa.string())}))
    got = con.execute("SELECT tavo_uncamel(n) AS u, count(*) FROM names WHERE n IS NULL OR n LIKE 'field%' "
                      "GROUP BY u ORDER BY u NULLS FIRST").fetchall()
    counts = {}
    for r in rows:
        key = None if r is None else _tavo.uncamel(r)
        counts[key] = counts.get(key, 0) + 1
    assert got == sorted(counts.items(), key=lambda kv: (kv[0] is not None, kv[0] or ""))
    assert con.execute("SELECT sum(tavo_parse(p)) FROM (VALUES ('$1,200.50'), ('n/a'), (NULL), ('(3)')) t(p)"
                       ).fetchall() == [(1197.5,)]
    # the struct's fields in SQL, over many vectors: each row tavo.price's
    prices = [None if i % 11 == 0 else ["%d,%02d €" % (i, i % 100), "$%d.5" % i, "40%% OFF", "CHF %d'000" % i][i % 4]
              for i in range(10_000)]
    con.register("prices", pa.table({"i": pa.array(range(len(prices))), "p": pa.array(prices, pa.string())}))
    got = con.execute("SELECT tavo_price(p).amount, tavo_price(p).currency FROM prices ORDER BY i").fetchall()
    assert [None if a is None else {"amount": a, "currency": c} for a, c in got] == [price_row(p, None)
                                                                                     for p in prices]


def duckdb_tavo_functions(con):
    return {r[0] for r in con.execute("SELECT function_name FROM duckdb_functions() WHERE function_name LIKE 'tavo_%'"
                                      ).fetchall()}


# ways to reach register() a second time for a database, each leaving every function usable
REGISTER_AGAIN = {
    "twice": lambda con: [tavo.duckdb.register(con), tavo.duckdb.register(con)],
    "three times": lambda con: [tavo.duckdb.register(con) for _ in range(3)],
    "then on a cursor": lambda con: [tavo.duckdb.register(con), tavo.duckdb.register(con.cursor())],
    "on a cursor, then the connection": lambda con: [tavo.duckdb.register(con.cursor()), tavo.duckdb.register(con)],
    "after a rolled back transaction": lambda con: [
        con.begin(), tavo.duckdb.register(con), con.rollback(), tavo.duckdb.register(con)],
    "twice in a transaction": lambda con: [
        con.begin(), tavo.duckdb.register(con), tavo.duckdb.register(con), con.commit()],
    "after one was removed": lambda con: [
        tavo.duckdb.register(con), con.remove_function("tavo_uncamel"), tavo.duckdb.register(con)],
}


@needs(duckdb, "duckdb")
@pytest.mark.parametrize("how", list(REGISTER_AGAIN))
def test_duckdb_register_again_keeps_the_functions(how):
    con = duckdb.connect()
    REGISTER_AGAIN[how](con)
    assert duckdb_tavo_functions(con) == set(tavo.duckdb.FUNCTION_NAMES)
    for c in (con, con.cursor()):
        assert c.execute("SELECT tavo_uncamel('fooBar'), tavo_parse('$1,200.5'), tavo_parse_decimal_comma('1.234,5'), "
                         "tavo_underscore_to_camelcase('a_b'), tavo_sanitize_vulgar_string('½'), "
                         "tavo_price('1.250 €')").fetchall() == [
            ("foo_bar", 1200.5, 1234.5, "aB", "0.5", {"amount": 1250.0, "currency": "€"})]


@needs(duckdb, "duckdb")
def test_duckdb_functions_outlive_the_cursor_that_registered_them():
    """DuckDB keeps a function in the database after the connection that created it is gone,
    without its Python function: tavo.duckdb keeps that alive (in a child process, since a
    freed one is a crash)."""
    code = """if True:
        import gc, duckdb, pyarrow as pa, tavo.duckdb
        con = duckdb.connect()
        cursor = con.cursor()
        tavo.duckdb.register(cursor)
        cursor.close()
        del cursor
        gc.collect()
        junk = [[object() for _ in range(100)] for _ in range(1000)]  # reuses what was freed
        rows = [None if i % 7 == 0 else "fieldName%d" % i for i in range(5000)]
        con.register("t", pa.table({"n": pa.array(rows, pa.string())}))
        got = con.execute("SELECT tavo_uncamel(n), tavo_parse(n) FROM t").fetchall()
        assert got[:2] == [(None, None), ("field_name1", 1.0)], got[:2]
        print(len(got))
    """
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert (done.returncode, done.stdout.strip()) == (0, "5000"), done.stderr[-2000:]


@needs(duckdb, "duckdb")
@pytest.mark.parametrize("closed", ["connection", "cursor"])
def test_duckdb_register_refuses_a_closed_connection(closed):
    con = duckdb.connect()
    target = con if closed == "connection" else con.cursor()
    target.close()
    with pytest.raises(ValueError, match="connection is closed") as refused:
        tavo.duckdb.register(target)
    assert isinstance(refused.value.__cause__, duckdb.Error)  # DuckDB's own error stays visible as the cause


@needs(duckdb, "duckdb")
def test_duckdb_register_refuses_what_is_not_its_own():
    with pytest.raises(TypeError, match="DuckDB connection"):
        tavo.duckdb.register(duckdb.connect().sql("SELECT 1"))
    # a function of another kind or signature under a tavo_ name is not taken for tavo's
    for other in ("CREATE MACRO tavo_uncamel(x) AS 42", "python tavo_parse -> BIGINT"):
        con = duckdb.connect()
        if other.startswith("CREATE"):
            con.execute(other)
        else:
            con.create_function("tavo_parse", lambda column: column, [duckdb.sqltype("VARCHAR")],
                                duckdb.sqltype("BIGINT"), type="arrow")
        with pytest.raises(duckdb.CatalogException):
            tavo.duckdb.register(con)


@pytest.mark.parametrize("front_end, library", [("polars", "polars"), ("pandas", "pandas"), ("duckdb", "duckdb")])
def test_a_front_end_without_its_library_names_its_extra(front_end, library):
    code = (f"import sys; sys.modules[{library!r}] = None\n"
            "try:\n"
            f"    import tavo.{front_end}\n"
            "except ImportError as e:\n"
            "    print(e, '|', type(e.__cause__).__name__)\n")
    shown = loaded(code)
    assert shown == (f"tavo.{front_end} needs {library}, which is not installed here: pip install "
                     f"'tavo[{front_end}]' installs it with tavo | ModuleNotFoundError"), shown
    extras = (pathlib.Path(__file__).resolve().parent.parent / "pyproject.toml").read_text(encoding="utf-8")
    assert f'\n{front_end} = ["{library}' in extras
