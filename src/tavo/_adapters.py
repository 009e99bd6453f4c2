"""The caller's kind of column in and out of a column kernel of `tavo.columns`.

A kernel takes any Arrow column and gives a `tavo.columns.Column`; `apply` hands it the
caller's column and gives back the caller's kind: a pyarrow `Array` or `ChunkedArray`, a
polars `Series` of the same name, a pandas `Series` of the same index and name in the dtype
family of the input (read and rebuilt through pyarrow), anything else the `Column` itself.
The libraries are looked up, not imported: a column of theirs means they are loaded.
"""

from __future__ import annotations

import functools
import importlib
import sys
from typing import Any, Optional


def apply(kernel: Any, column: Any, args: tuple[Any, ...], kwargs: Optional[dict[str, Any]] = None) -> Any:
    """`kernel(column, *args, **kwargs)`, the column and the result in the caller's kind."""
    if kwargs:
        kernel = functools.partial(kernel, **kwargs)
    pa = sys.modules.get("pyarrow")
    if pa is not None:
        if isinstance(column, pa.ChunkedArray):
            return pa.chunked_array(kernel(column, *args))
        if isinstance(column, pa.Array):
            return pa.array(kernel(column, *args))
    pl = sys.modules.get("polars")
    if pl is not None and isinstance(column, pl.Series):
        return pl.Series(kernel(column, *args)).alias(column.name)
    pd = sys.modules.get("pandas")
    if pd is not None and isinstance(column, pd.Series):
        return _pandas(kernel, column, args, pd)
    return kernel(column, *args)


def readable(column: Any) -> Any:
    """The column as a kernel reads it: a pandas Series as a pyarrow string array, anything
    else as it is."""
    pd = sys.modules.get("pandas")
    if pd is not None and isinstance(column, pd.Series):
        return _pandas_arrow(column, pd)
    return column


def _pandas(kernel: Any, series: Any, args: tuple[Any, ...], pd: Any) -> Any:
    pa = importlib.import_module("pyarrow")  # there: _pandas_arrow imported it
    result = pa.chunked_array(kernel(_pandas_arrow(series, pd), *args))
    values = _pandas_values(result, series.dtype, pd, pa)
    # an object array of str would otherwise become pandas' str dtype
    dtype = object if series.dtype == object and values.dtype == object else None
    return pd.Series(values, dtype=dtype, index=series.index, name=series.name, copy=False)


def _pandas_arrow(series: Any, pd: Any) -> Any:
    """The pandas Series as a pyarrow string array."""
    try:
        pa = importlib.import_module("pyarrow")
    except ImportError:
        raise TypeError("tavo.columns reads a pandas Series through pyarrow, which is not installed "
                        "(pip install 'tavo[pandas]' installs it with tavo)") from None
    try:
        # pandas' own conversion: None, NaN and pd.NA of an object column are nulls
        data = pa.array(series)
    except (pa.ArrowInvalid, pa.ArrowTypeError) as e:
        raise TypeError("expected a pandas Series of strings (dtype str, string, object holding str, "
                        "or an ArrowDtype of a string type), got one of dtype %s that pyarrow cannot "
                        "read as text: %s" % (series.dtype, e)) from e
    if pa.types.is_null(data.type):  # an object column of missing values only, or empty
        data = data.cast(pa.string())
    return data


def _pandas_values(result: Any, dtype: Any, pd: Any, pa: Any) -> Any:
    """The result as pandas values in the dtype family of the input."""
    if isinstance(dtype, pd.ArrowDtype) or pa.types.is_struct(result.type):
        # a struct (price) has no NumPy or pandas dtype of its own: ArrowDtype in every family
        return pd.arrays.ArrowExtensionArray(result)
    is_text = pa.types.is_string(result.type) or pa.types.is_large_string(result.type) \
        or pa.types.is_string_view(result.type)
    is_int64 = pa.types.is_int64(result.type)
    if isinstance(dtype, pd.StringDtype):
        if is_text:
            return dtype.__from_arrow__(result)
        if dtype.na_value is pd.NA:
            numbers = pd.Int64Dtype() if is_int64 else pd.Float64Dtype()
            return numbers.__from_arrow__(result)
    if is_int64 and result.null_count:
        # NumPy's int64 has no null, and a float64 with NaN would round every value past
        # 2**53: the nullable Int64 keeps them all
        return pd.Int64Dtype().__from_arrow__(result)
    # object (and the NaN-valued str dtype for numbers): str and None, NumPy int64, or NumPy
    # float64 with NaN for nulls (parse never gives NaN for a row)
    return result.to_numpy(zero_copy_only=False)
