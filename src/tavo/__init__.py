"""tavo: fast native helpers for cleaning and reshaping everyday data.

The functions are those of the extension module `_tavo` (the very same objects), but for
`parse`, which takes a keyword-only `decimal` ('.' or ',') and comes from `tavo._native`;
`tavo.columns` has the text and number functions over whole Arrow columns (pyarrow,
polars, pandas, DuckDB, Spark, or any producer of the Arrow PyCapsule interface).
"""

from _tavo import (
    backfill,
    backfill_iterdict,
    collapse,
    multikeysort,
    same_order,
    sanitize_vulgar_string,
    uncamel,
    underscore_to_camelcase,
)

from . import columns
from ._native import parse

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
