"""The column functions as the pandas Series accessor `tavo`.

    import pandas as pd
    import tavo.pandas  # registers the accessor

    df["name"] = df["name"].tavo.uncamel()
    df["price"] = df["price"].tavo.parse(decimal=",")

The methods are the functions of `tavo.columns`, each taking that function's parameters but
the column (`parse(type=None, *, decimal="infer")`: the decimal mark decided from the whole
Series unless '.' or ',' is given). Each gives what `tavo.columns` gives for
the Series: the same index and name, text in the Series' own dtype, numbers in its dtype
family, with `parse` inferring int64 or float64 from the values when `type` is None:

- `ArrowDtype`: `int64[pyarrow]` or `double[pyarrow]`;
- `string`: the nullable `Int64` or `Float64`;
- `str` and `object`: NumPy `int64`, the nullable `Int64` when the ints have nulls (so that
  no int past 2**53 is rounded), or NumPy `float64` with NaN for nulls.

`price(*, decimal=None)` gives, for every dtype, a Series of
`ArrowDtype(struct<amount: double, currency: string>)`, null where a row holds no price:
`.struct.field("amount")` is one field, `.struct.explode()` a DataFrame of both.
The Series is read through pyarrow.
"""

from __future__ import annotations

from typing import Any

from ._extras import missing

try:
    import pandas as pd
except ImportError as e:
    raise ImportError(missing("tavo.pandas", "pandas", "pandas")) from e

from ._frontends import ColumnFunction, ColumnMethods, Output

__all__ = ["SeriesAccessor"]


@pd.api.extensions.register_series_accessor("tavo")
class SeriesAccessor(ColumnMethods[pd.Series]):
    """`series.tavo`: each method gives a new Series with the same index and name."""

    _declares = False  # parse's type follows the values, as in tavo.columns

    def __init__(self, series: pd.Series) -> None:
        self._series = series

    def _apply(self, function: ColumnFunction, options: dict[str, Any], declared: Output) -> pd.Series:
        result: pd.Series = function.function(self._series, **options)
        return result
