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
  `.` a thousands separator), as `tavo.columns.parse(..., decimal=",")` reads it;
- `tavo_price(VARCHAR) -> STRUCT(amount DOUBLE, currency VARCHAR)`: the amount and currency
  of the price in the text, each text deciding its own decimal mark
  (`tavo.columns.price(...)`), NULL where there is no price; `tavo_price(p).amount` is one
  field.

Registering again is harmless (the functions the database has are kept, a missing one is
added), and a closed connection raises ValueError.

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

from ._extras import missing

try:
    import duckdb
except ImportError as e:
    raise ImportError(missing("tavo.duckdb", "duckdb", "duckdb")) from e

from ._frontends import FUNCTIONS, ColumnFunction, Output

__all__ = ["register", "FUNCTION_NAMES"]

_SQL_TYPES: dict[Output, str] = {"utf8": "VARCHAR", "int64": "BIGINT", "float64": "DOUBLE",
                                  "price": "STRUCT(amount DOUBLE, currency VARCHAR)"}
# duckdb.func.ARROW and .SPECIAL (duckdb.functional's before DuckDB 1.4): the names work in
# every version
_ARROW: Any = "arrow"
_SPECIAL: Any = "special"


def _batch_function(function: ColumnFunction, options: dict[str, Any]) -> Callable[[Any], Any]:
    """A batch (a pyarrow ChunkedArray) in, the tavo.columns result (the same kind) out."""
    def run(column: Any) -> Any:
        return function.function(column, **options)
    return run


# (SQL name, SQL return type, Python function) of each SQL function of the table, made once.
# The module holds the Python functions for good: a function stays in the database after
# the connection that created it is gone (a cursor that was collected), and DuckDB does not
# keep its Python function alive for it, so a later call would run freed memory.
_SQL_FUNCTIONS: tuple[tuple[str, str, Callable[[Any], Any]], ...] = tuple(
    (name, _SQL_TYPES[f.declared(fixed.get("type"))], _batch_function(f, f.arguments(fixed, declared=True)))
    for f in FUNCTIONS for name, fixed in f.sql.items())

FUNCTION_NAMES: tuple[str, ...] = tuple(name for name, _, _ in _SQL_FUNCTIONS)


def register(con: duckdb.DuckDBPyConnection) -> None:
    """Adds the SQL functions of `FUNCTION_NAMES` to the connection `con`: `tavo_` and the
    name of each function of `tavo.columns` (VARCHAR -> VARCHAR for text, VARCHAR -> DOUBLE
    for `tavo_parse`, VARCHAR -> STRUCT(amount DOUBLE, currency VARCHAR) for `tavo_price`),
    and `tavo_parse_decimal_comma` (VARCHAR -> DOUBLE).

    Registering again is harmless: a function the database already has (from an earlier
    call on `con`, or on another connection to it, such as the one a cursor came from) is
    kept, and one that is missing (removed, or rolled back with a transaction) is added. A
    closed connection raises ValueError, anything but a DuckDB connection TypeError."""
    if not isinstance(con, duckdb.DuckDBPyConnection):
        raise TypeError("tavo.duckdb.register expects a DuckDB connection (duckdb.connect() or a cursor of "
                        "one), got %s" % type(con).__name__)
    try:
        for name, returns, run in _SQL_FUNCTIONS:
            _create(con, name, run, returns)
    except duckdb.ConnectionException as e:
        raise ValueError("tavo.duckdb.register: the DuckDB connection is closed; register the functions on "
                         "an open one") from e


def _create(con: duckdb.DuckDBPyConnection, name: str, run: Callable[[Any], Any], returns: str) -> None:
    """Creates the function `name` (VARCHAR -> `returns`) unless the database has it."""
    try:
        _create_on(con, name, run, returns)
    except duckdb.NotImplementedException:
        # DuckDB keeps one Python function of a name for each connection, and this one made
        # it before: kept while the database still has it
        if _in_catalog(con, name, returns):
            return
        # a rolled back transaction took it out of the database but not out of the
        # connection, which then can neither remove nor create the name again: another
        # connection to the database (a cursor) creates it, for every connection to see
        cursor = con.cursor()
        try:
            _create_on(cursor, name, run, returns)
        finally:
            cursor.close()
    except duckdb.CatalogException:
        # another connection to the database made it (the one a cursor came from, say); a
        # function of another signature under the name is not ours, and its error stands
        if not _in_catalog(con, name, returns):
            raise


def _create_on(con: duckdb.DuckDBPyConnection, name: str, run: Callable[[Any], Any], returns: str) -> None:
    con.create_function(name, run, [duckdb.sqltype("VARCHAR")], duckdb.sqltype(returns), type=_ARROW,
                        null_handling=_SPECIAL)


def _in_catalog(con: duckdb.DuckDBPyConnection, name: str, returns: str) -> bool:
    """Whether the database, as `con` sees it (its open transaction included), has the
    scalar function `name`(VARCHAR) -> `returns`. `name` is one of FUNCTION_NAMES (letters
    and '_' only), so it stands in the query as it is."""
    rows = con.sql("SELECT return_type, parameter_types FROM duckdb_functions() "
                   "WHERE function_type = 'scalar' AND function_name = '%s'" % name).fetchall()
    return any(str(r) == returns and [str(p) for p in params] == ["VARCHAR"] for r, params in rows)
