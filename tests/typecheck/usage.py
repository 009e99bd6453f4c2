"""Typed use of ``_tavo`` and of the package's column front ends, checked by mypy and
pyright against the installed stubs and package (with polars, pandas and DuckDB installed).

Each ``assert_type`` states the type a checker must infer; each line with an
ignore comment must be an error (both checkers report ignores that are not
needed, so a stub that became too loose fails the check as well).
"""
from __future__ import annotations

from collections import defaultdict
from typing import Any, Literal, TypedDict, assert_type

import duckdb
import pandas as pd
import polars as pl

import _tavo
import tavo
import tavo.columns
import tavo.keys
from _tavo import (
    backfill,
    backfill_iterdict,
    collapse,
    multikeysort,
    parse,
    same_order,
    sanitize_vulgar_string,
    uncamel,
    underscore_to_camelcase,
)

import tavo.duckdb
from tavo.pandas import SeriesAccessor
from tavo.polars import ExprNamespace, SeriesNamespace


class Row(TypedDict):
    name: str
    price: float


def numbers(cells: list[str]) -> list[float]:
    out: list[float] = []
    for cell in cells:
        value = parse(cell)
        assert_type(value, int | float | None)
        if value is not None:
            out.append(value)
    return out


def text(s: str) -> None:
    assert_type(uncamel(s), str)
    assert_type(uncamel(camel=s), str)
    assert_type(underscore_to_camelcase(s=s), str)
    assert_type(sanitize_vulgar_string(s), str)
    uncamel(5)  # type: ignore[arg-type]
    uncamel(s, s)  # type: ignore[call-arg]
    uncamel(Camel=s)  # type: ignore[call-arg]
    parse(b"12")  # type: ignore[arg-type]


def sorting(rows: list[dict[str, Any]], typed: list[Row]) -> None:
    assert_type(multikeysort(rows, ["-price", "name"]), list[dict[str, Any]])
    assert_type(multikeysort(rows, "price", False), list[dict[str, Any]])
    assert_type(multikeysort(rows, ("price",), inplace=True), None)
    assert_type(multikeysort(items=rows, columns=None), list[dict[str, Any]])
    flag: bool = len(rows) > 2
    assert_type(multikeysort(rows, "price", flag), list[dict[str, Any]] | None)
    # The element type of the rows carries over.
    assert_type(multikeysort(typed, "-price"), list[Row])
    counts: list[defaultdict[str, int]] = []
    assert_type(multikeysort(counts, "a"), list[defaultdict[str, int]])
    multikeysort(rows, 5)  # type: ignore[call-overload]
    multikeysort(rows)  # type: ignore[call-overload]
    multikeysort((1, 2), "a")  # type: ignore[call-overload]
    sorted_rows = multikeysort(rows, "a", inplace=True)
    sorted_rows.append({})  # type: ignore[attr-defined]


def sequences(values: list[int | None], rows: list[dict[str, float | None]]) -> None:
    assert_type(backfill(values), list[int | None])
    assert_type(backfill(["a", "b"]), list[str])
    assert_type(backfill_iterdict(rows), list[dict[str, float | None]])
    assert_type(collapse(), list[Any])
    assert_type(collapse([1, (2, 3)], "x"), list[Any])
    assert_type(same_order(["x"], ["x", "y"]), bool)
    assert_type(same_order(ref_list=[1], comp=[1.0]), bool)
    backfill((1, None))  # type: ignore[arg-type]
    backfill_iterdict([{1: 2}])  # type: ignore[dict-item]
    collapse(x=1)  # type: ignore[call-arg]


def payload_keys(payload: dict[str, Any], rows: list[dict[str, int]], pair: tuple[int, str], n: int) -> None:
    assert_type(tavo.keys.uncamel(payload), dict[str, Any])
    assert_type(tavo.keys.underscore_to_camelcase(payload, depth=2), dict[str, Any])
    assert_type(tavo.keys.uncamel(rows, depth=None), list[Any])
    assert_type(tavo.keys.uncamel(pair), tuple[Any, ...])
    assert_type(tavo.keys.uncamel(n, depth=True), int)
    assert_type(tavo.keys.uncamel({1: "a"}), dict[int, Any])
    tavo.keys.uncamel(payload, 2)  # type: ignore[call-overload]
    tavo.keys.uncamel(payload, depth=1.5)  # type: ignore[call-overload]
    tavo.keys.underscore_to_camelcase()  # type: ignore[call-overload]


def decimal_marks(s: str, column: Any) -> None:
    assert_type(tavo.parse(s), int | float | None)
    assert_type(tavo.parse(s, decimal=","), int | float | None)
    assert_type(tavo.parse(s=s, decimal="."), int | float | None)
    assert_type(tavo.columns.parse(column, "float64", decimal=","), Any)
    tavo.parse(s, ",")  # type: ignore[call-arg]
    tavo.parse(s, decimal=";")  # type: ignore[arg-type]
    tavo.parse(b"1", decimal=",")  # type: ignore[arg-type]
    tavo.columns.parse(column, None, ",")  # type: ignore[call-arg]
    assert_type(tavo.columns.parse(column, decimal="infer"), Any)
    tavo.parse(s, decimal="infer")  # type: ignore[arg-type]


def number_formats(texts: list[str | None], column: Any) -> None:
    found = tavo.number_format(texts)
    assert_type(found, tavo.NumberFormat)
    assert_type(found.decimal, Literal[".", ","] | None)
    assert_type(found.point_example, tuple[int, str] | None)
    assert_type(tavo.columns.number_format(column).comma_rows, int)
    tavo.number_format([1])  # type: ignore[list-item]


def prices(s: str, column: Any) -> None:
    assert_type(tavo.columns.price(column), Any)
    assert_type(tavo.columns.price(column, decimal=","), Any)
    tavo.columns.price(column, ".")  # type: ignore[call-arg]
    tavo.columns.price(column, decimal="infer")  # type: ignore[arg-type]
    assert_type(tavo.price(s), tavo.Price | None)
    assert_type(tavo.price(text=s, decimal=None), tavo.Price | None)
    p = tavo.price(s, decimal=",")
    if p is not None:
        assert_type(p.amount, int | float)
        assert_type(p.currency, str | None)
    tavo.price(s, ",")  # type: ignore[call-arg]
    tavo.price(s, decimal=";")  # type: ignore[arg-type]
    tavo.price(b"1")  # type: ignore[arg-type]


assert_type(_tavo.__all__, list[str])


def column_front_ends(names: pl.Series, prices: pd.Series) -> None:
    expr = ExprNamespace(pl.col("name"))
    assert_type(expr.uncamel(), pl.Expr)
    assert_type(expr.parse(type="int64", decimal=","), pl.Expr)
    assert_type(SeriesNamespace(names).underscore_to_camelcase(), pl.Series)
    assert_type(SeriesAccessor(prices).parse(type=None), pd.Series)
    assert_type(expr.price(decimal=None), pl.Expr)
    assert_type(SeriesNamespace(names).price(), pl.Series)
    assert_type(SeriesAccessor(prices).price(decimal="."), pd.Series)
    tavo.duckdb.register(duckdb.connect())
    expr.parse(type="int32")  # type: ignore[arg-type]
    expr.uncamel(1)  # type: ignore[call-arg]
    expr.uncamle()  # type: ignore[attr-defined]
    expr.parse("int64", ",")  # type: ignore[call-arg]
    SeriesAccessor(prices).parse(decimal=";")  # type: ignore[arg-type]
    SeriesAccessor(prices).price(decimal="infer")  # type: ignore[arg-type]
    expr.price(",")  # type: ignore[call-arg]
    SeriesNamespace(names).parse(decimal=1)  # type: ignore[arg-type]
    SeriesNamespace(names).parse(type="Int64")  # type: ignore[arg-type]
    SeriesAccessor(prices).price(type="float64")  # type: ignore[call-arg]
    SeriesAccessor(prices).uncamel(decimal=",")  # type: ignore[call-arg]
    tavo.duckdb.register("con")  # type: ignore[arg-type]
