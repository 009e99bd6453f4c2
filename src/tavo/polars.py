"""The column functions as the polars namespace `tavo`, on expressions and on Series.

    import polars as pl
    import tavo.polars  # registers the namespace

    df.with_columns(pl.col("field").tavo.uncamel(), pl.col("price").tavo.parse())
    series.tavo.underscore_to_camelcase()

The methods are the functions of `tavo.columns`, each taking that function's parameters but
the column: the text functions give String, `parse(type=None, *, decimal="infer")` Float64 (or
Int64 with `type="int64"`), `price(*, decimal=None)` a Struct of `amount` (Float64) and
`currency` (String), null where a row holds no price.

An expression declares its output type, so a LazyFrame's schema is known before the
query runs; `parse` with `type=None` is therefore Float64 (a declared type cannot depend on
the values). The expression is elementwise (the streaming engine runs it batch by batch,
and every engine gives the same rows), but for `parse` with `decimal="infer"`, the
default: the decimal mark is then decided from the whole column the expression sees (the
whole group under `over()` or `group_by`), never from one batch, so that expression is not
elementwise. `decimal="."` or `","` keeps it elementwise. A Series method gives a Series of the same name.
The rows are those of `tavo.columns`: a null stays null.
"""

from __future__ import annotations

from typing import Any

from ._extras import missing

try:
    import polars as pl
except ImportError as e:
    raise ImportError(missing("tavo.polars", "polars", "polars")) from e

from ._frontends import ColumnFunction, ColumnMethods, Output

__all__ = ["ExprNamespace", "SeriesNamespace"]

_DTYPES: dict[Output, Any] = {"utf8": pl.String, "int64": pl.Int64, "float64": pl.Float64,
                              "price": pl.Struct({"amount": pl.Float64, "currency": pl.String})}


def _run(function: ColumnFunction, options: dict[str, Any], series: pl.Series) -> pl.Series:
    """One batch (or a whole Series) through the tavo.columns function; `options` hold the
    declared type, so the result has the type the expression declared."""
    if series.dtype == pl.Null:  # a column of nulls only, with no type of its own
        series = series.cast(pl.String)
    result: pl.Series = function.function(series, **options)
    return result


def _infers(options: dict[str, Any]) -> bool:
    """Whether these options ask for the decimal mark inferred from the whole column."""
    decimal = options.get("decimal")
    return isinstance(decimal, str) and decimal == "infer"


@pl.api.register_expr_namespace("tavo")
class ExprNamespace(ColumnMethods[pl.Expr]):
    """`pl.col(...).tavo`: each method gives an elementwise expression of declared type."""

    def __init__(self, expr: pl.Expr) -> None:
        self._expr = expr

    def _apply(self, function: ColumnFunction, options: dict[str, Any], declared: Output) -> pl.Expr:
        # An inferred decimal mark is decided from the whole column the expression is
        # given, never batch by batch: such an expression is not elementwise, so every
        # engine hands it the whole column (or, under over() and group_by, the whole group,
        # as any aggregating expression). With a mark given, rows are independent.
        return self._expr.map_batches(lambda s: _run(function, options, s), return_dtype=_DTYPES[declared],
                                      is_elementwise=not _infers(options))


@pl.api.register_series_namespace("tavo")
class SeriesNamespace(ColumnMethods[pl.Series]):
    """`series.tavo`: each method gives a Series of the same name."""

    def __init__(self, series: pl.Series) -> None:
        self._series = series

    def _apply(self, function: ColumnFunction, options: dict[str, Any], declared: Output) -> pl.Series:
        return _run(function, options, self._series).alias(self._series.name)
