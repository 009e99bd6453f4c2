"""The column functions as DuckDB SQL scalar functions.

    import duckdb
    import tavo.duckdb

    con = duckdb.connect()
    tavo.duckdb.register(con)
    con.sql("SELECT tavo_uncamel(name), tavo_parse(price) FROM items")

`register(con)` adds to the connection, each vectorised over DuckDB's Arrow batches (a
whole batch per call into `tavo.columns`, no Python object per row), a NULL giving NULL:

- `tavo_<name>(VARCHAR) -> VARCHAR` for each text function `<name>` of `tavo.columns`
  (`tavo_uncamel`, `tavo_underscore_to_camelcase`, ...);
- `tavo_parse(VARCHAR) -> DOUBLE`: the number in the text (`.` the decimal point), NULL
  where there is none;
- `tavo_parse_decimal_comma(VARCHAR) -> DOUBLE`: the same with `,` the decimal point (and
  `.` a thousands separator), as `tavo.columns.parse(..., decimal=",")` reads it.

The decimal comma has a function of its own rather than a second argument: DuckDB keeps
one Python function per name (no `tavo_parse(text)` beside `tavo_parse(text, ',')`), and a
second argument arrives as a whole column of its own in every batch.

No SQL function infers the decimal mark (`tavo.columns.parse`'s default): DuckDB hands a
function its column a batch at a time, and a mark decided batch by batch could differ
within one column. Decide it over the whole column first
(`tavo.columns.number_format(con.sql("SELECT price FROM items").arrow()["price"]).decimal`)
and call `tavo_parse` or `tavo_parse_decimal_comma` accordingly.
"""

from __future__ import annotations

from typing import Any, Callable

import duckdb

from ._frontends import FUNCTIONS, ColumnFunction, Output

__all__ = ["register", "FUNCTION_NAMES"]

PREFIX = "tavo_"
_SQL_TYPES: dict[Output, str] = {"utf8": "VARCHAR", "int64": "BIGINT", "float64": "DOUBLE"}
# duckdb.func.ARROW and .SPECIAL (duckdb.functional's before DuckDB 1.4): the names work in
# every version
_ARROW: Any = "arrow"
_SPECIAL: Any = "special"


def _batch_function(function: ColumnFunction, options: dict[str, Any]) -> Callable[[Any], Any]:
    """A batch (a pyarrow ChunkedArray) in, the tavo.columns result (the same kind) out."""
    def run(column: Any) -> Any:
        return function.function(column, **options)
    return run


def _functions() -> list[tuple[str, ColumnFunction, dict[str, Any]]]:
    """(SQL name, record, options) of each SQL function, in order."""
    out: list[tuple[str, ColumnFunction, dict[str, Any]]] = []
    for f in FUNCTIONS:
        out.append((PREFIX + f.name, f, f.options(decimal=".", declared=True)))
        if f.numbers:
            out.append((PREFIX + f.name + "_decimal_comma", f, f.options(decimal=",", declared=True)))
    return out


FUNCTION_NAMES: tuple[str, ...] = tuple(name for name, _, _ in _functions())


def register(con: duckdb.DuckDBPyConnection) -> None:
    """Adds the SQL functions of `FUNCTION_NAMES` to the connection `con`: `tavo_` and the
    name of each function of `tavo.columns` (VARCHAR -> VARCHAR for text, VARCHAR -> DOUBLE
    for `tavo_parse`), and `tavo_parse_decimal_comma` (VARCHAR -> DOUBLE)."""
    varchar = duckdb.sqltype("VARCHAR")
    for name, f, options in _functions():
        returns = duckdb.sqltype(_SQL_TYPES[f.declared()])
        con.create_function(name, _batch_function(f, options), [varchar], returns, type=_ARROW,
                            null_handling=_SPECIAL)
