"""tavo: fast native helpers for cleaning and reshaping everyday data.

The nine functions are those of the extension module `_tavo` (the very same objects);
`tavo.columns` has the text and number functions over whole Arrow columns (pyarrow,
polars, pandas, DuckDB, Spark, or any producer of the Arrow PyCapsule interface).
`tavo.polars`, `tavo.pandas` and `tavo.duckdb`, each imported on its own, bring them into
those libraries: a polars namespace, a pandas accessor, DuckDB SQL functions.
"""

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

from . import columns

__all__ = [
    "backfill",
    "backfill_iterdict",
    "collapse",
    "columns",
    "multikeysort",
    "parse",
    "same_order",
    "sanitize_vulgar_string",
    "uncamel",
    "underscore_to_camelcase",
]
