"""tavo: fast native helpers for cleaning and reshaping everyday data.

The nine functions are those of the extension module `_tavo` (the very same objects);
`tavo.columns` has the text and number functions over whole Arrow columns (pyarrow,
polars, pandas, DuckDB, Spark, or any producer of the Arrow PyCapsule interface).
"""

import _tavo
from _tavo import *  # noqa: F403 - the nine, as _tavo.__all__ lists them

from . import columns

__all__ = ["columns"]
__all__ += _tavo.__all__
