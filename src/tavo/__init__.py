"""tavo: fast native helpers for cleaning and reshaping everyday data.

The functions are those of the extension module `_tavo` (the very same objects), but for
`parse`, which takes a keyword-only `decimal` ('.' or ',') and comes from `tavo._native`;
`tavo.columns` has the text and number functions over whole Arrow columns (pyarrow,
polars, pandas, DuckDB, Spark, or any producer of the Arrow PyCapsule interface);
`tavo.keys` converts the keys of nested payloads (dicts, lists and tuples) between
camelCase and snake_case. `tavo.polars`, `tavo.pandas` and `tavo.duckdb`, each imported
on its own, bring the column functions into those libraries: a polars namespace, a pandas
accessor, DuckDB SQL functions.
"""

import _tavo
from _tavo import *  # noqa: F403 - the nine, as _tavo.__all__ lists them

from . import columns, keys
from ._native import parse

__all__ = ["columns", "keys"]
__all__ += _tavo.__all__
