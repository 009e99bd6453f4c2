"""The text and number functions of tavo over whole Arrow columns.

Each function takes a column of strings and returns a new column of the same length:
row i of the result is what the per-element function of `tavo` gives for row i, and a
null row gives a null row. The work runs in native code over the column's Arrow buffers,
without a Python object per row and without the interpreter lock.

What a function accepts: any object that exports Arrow data through the Arrow PyCapsule
interface (`__arrow_c_stream__`, preferred, or `__arrow_c_array__`) whose type is utf8,
large_utf8 or string_view, with any offset and any number of chunks. That covers a
pyarrow `Array` or `ChunkedArray`, a polars `Series` of `pl.String`, a pandas `Series` of
the default `str` dtype, of `string`, of an `ArrowDtype` of a string type, or of `object`
holding `str` (missing values: `None`, `NaN`, `pd.NA`), the column DuckDB hands to an
Arrow UDF, a nanoarrow array. Anything else (a column of numbers, a table, a list, a plain
object) raises `TypeError`; malformed Arrow data (negative or decreasing offsets, a
string_view row outside its buffers, invalid UTF-8) raises `ValueError` naming the row.

What a function returns: the caller's kind of column.

- pyarrow `Array` -> `Array`; `ChunkedArray` -> `ChunkedArray` (one output chunk per
  input chunk);
- polars `Series` -> `Series` with the same name;
- pandas `Series` -> `Series` with the same index and name, in the caller's dtype family
  (but for `price`'s struct, an `ArrowDtype` whatever the input's dtype):
  text stays in the input's dtype (`str`, `string`, `ArrowDtype` or `object`); numbers are
  `ArrowDtype` (`int64[pyarrow]`, `double[pyarrow]`) for an `ArrowDtype` input, the
  nullable `Int64`/`Float64` for `string`, and for `str` and `object` NumPy `int64` without
  nulls, the nullable `Int64` with nulls (NumPy's `int64` has no null, and a `float64` with
  `NaN` would round every int past 2**53), and NumPy `float64` with `NaN` for nulls. Every
  int64 value stays exact, whichever the dtype;
- anything else -> a `tavo.columns.Column`, which exports `__arrow_c_stream__` and
  `__arrow_c_array__` for any Arrow consumer (`pyarrow.chunked_array(col)`,
  `pl.Series(col)`, `duckdb`...).

Text comes back in the input's layout: utf8 for utf8 input (large_utf8 when a chunk's text
passes 2**31 - 1 bytes), large_utf8 for large_utf8, string_view for string_view (what polars
hands over and reads back without a conversion).

A library is imported only when the column came from it: none of pyarrow, polars or
pandas is needed otherwise. A pandas Series is read and rebuilt through pyarrow.
"""

from __future__ import annotations

from typing import Any, Literal, Optional, Protocol, Union

from . import _adapters
from . import _native
from ._native import Column
from ._number_format import NumberFormat

__all__ = ["Column", "number_format", "parse", "price", "sanitize_vulgar_string", "uncamel",
           "underscore_to_camelcase"]


class ArrowStreamExportable(Protocol):
    def __arrow_c_stream__(self, requested_schema: object = None) -> object: ...


class ArrowArrayExportable(Protocol):
    def __arrow_c_array__(self, requested_schema: object = None) -> tuple[object, object]: ...


ArrowColumn = Union[ArrowStreamExportable, ArrowArrayExportable]

def uncamel(column: ArrowColumn) -> Any:
    """camelCase or PascalCase to snake_case, row by row (see `tavo.uncamel`).

    `column`: a column of strings, any that `tavo.columns` accepts (its documentation lists
    them). Returns a text column of the same kind and length; null rows stay null.
    """
    return _adapters.apply(_native.columns_uncamel, column, ())


def underscore_to_camelcase(column: ArrowColumn) -> Any:
    """underscore_delimited text to camelCase, row by row (see
    `tavo.underscore_to_camelcase`).

    `column`: a column of strings, any that `tavo.columns` accepts (its documentation lists
    them). Returns a text column of the same kind and length; null rows stay null.
    """
    return _adapters.apply(_native.columns_underscore_to_camelcase, column, ())


def sanitize_vulgar_string(column: ArrowColumn) -> Any:
    """Replaces the vulgar fractions (and the whole number in front of each) by decimal
    numbers, row by row (see `tavo.sanitize_vulgar_string`).

    `column`: a column of strings, any that `tavo.columns` accepts (its documentation lists
    them). Returns a text column of the same kind and length; null rows stay null.
    """
    return _adapters.apply(_native.columns_sanitize_vulgar_string, column, ())


def parse(column: ArrowColumn, type: Optional[Literal["int64", "float64"]] = None, *,
          decimal: Literal[".", ",", "infer"] = "infer") -> Any:
    """Reads a number out of each row (see `tavo.parse`) into an int64 or float64 column.

    `column`: a column of strings, any that `tavo.columns` accepts (its documentation lists
    them). Returns a number column of the same kind and length. A null row, and a row
    that `tavo.parse` reads as None (no number, or an int with more digits than
    `sys.get_int_max_str_digits()`), is null.

    `type=None` infers the type from the values: int64 when every non-null result is an
    int within the 64-bit range, otherwise float64, each int converted to the nearest
    double as `float()` does. `type="int64"` or `type="float64"` forces it. A forced int64
    never wraps: a value it cannot hold exactly (a fraction, an int past the 64-bit range)
    is null. Ints past the float range (beyond about 1.8e308) are +inf or -inf in float64,
    as a decimal text too large for a double is, and null in int64.

    `decimal`: the decimal mark, as for `tavo.parse`: "." (a "," is dropped like any
    separator) or "," ("1.234,56" reads as 1234.56, a "." is dropped); or "infer", the
    default: the mark that `number_format` decides from the whole column. When the rows do
    not decide it (some show ".", others ","; or none shows either and some read either
    way, like "1,250"), ValueError is raised, giving the counts and an example row of each
    side, and nothing is returned: pass decimal="." or decimal="," then. Anything else
    raises ValueError.
    """
    return _adapters.apply(_native.columns_parse, column, (type,), {"decimal": decimal})


def price(column: ArrowColumn, *, decimal: Optional[Literal[".", ","]] = None) -> Any:
    """Reads the amount and the currency of a price out of each row (see `tavo.price`) into
    a struct column of two fields: `amount` (float64) and `currency` (utf8).

    `column`: a column of strings, any that `tavo.columns` accepts (its documentation lists
    them). Row i is `tavo.price` of row i: its amount as the nearest double (an int as
    `float()` gives it; an int past the float range is +inf or -inf), its currency the text
    `tavo.price` gives, null where there is none. The row itself (the struct) is null where
    `tavo.price` gives None (no price, or an int with more digits than
    `sys.get_int_max_str_digits()`) and for a null row.

    What comes back: a pyarrow `StructArray` (or a `ChunkedArray` of struct for a
    `ChunkedArray`), a polars `Struct` Series of the same name, a `tavo.columns.Column`
    (`type` 'struct<amount: float64, currency: utf8>'; the currency is large_utf8 for a chunk
    whose currencies pass 2**31 - 1 bytes), and for a pandas Series of any string
    dtype, a Series of the same index and name whose dtype is
    `ArrowDtype(struct<amount: double, currency: string>)`: its `.struct.field("amount")`
    is one field, `.struct.explode()` a DataFrame of both.

    `decimal`: None (the default: each text decides its own decimal mark, as `tavo.price`
    says), "." or ",", which every row is read with (a column whose mark is known, or
    decided by `number_format`, should pass it). Anything else raises ValueError.
    """
    return _adapters.apply(_native.columns_price, column, (), {"decimal": decimal})


def number_format(column: ArrowColumn) -> NumberFormat:
    """The decimal mark of a column of number texts, decided from all its rows, with the
    evidence for it (see `tavo.NumberFormat`): what `tavo.number_format` gives for the
    column's rows, a null row showing neither mark. One pass over the column, without the
    interpreter lock.

    `column`: a column of strings, any that `tavo.columns` accepts (its documentation lists
    them).
    """
    return NumberFormat(*_native.columns_number_format(_adapters.readable(column)))
