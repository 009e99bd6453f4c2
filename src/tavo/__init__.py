"""tavo: fast native helpers for cleaning and reshaping everyday data.

The functions are those of the extension module `_tavo` (the very same objects), but for
`parse`, which takes a keyword-only `decimal` ('.' or ',') and comes from `tavo._native`;
`price` reads the amount and currency of a price text into a `Price` named tuple;
`tavo.columns` has the text and number functions over whole Arrow columns (pyarrow,
polars, pandas, DuckDB, Spark, or any producer of the Arrow PyCapsule interface);
`tavo.keys` converts the keys of nested payloads (dicts, lists and tuples) between
camelCase and snake_case. `tavo.polars`, `tavo.pandas` and `tavo.duckdb`, each imported
on its own, bring the column functions into those libraries: a polars namespace, a pandas
accessor, DuckDB SQL functions.
"""

import _tavo
from _tavo import (  # the nine but parse, whose tavo form takes a decimal mark (tests check the list)
    backfill,
    backfill_iterdict,
    collapse,
    multikeysort,
    same_order,
    sanitize_vulgar_string,
    uncamel,
    underscore_to_camelcase,
)

from typing import Iterable, Optional

from . import _native, columns, keys
from ._native import parse as parse  # the explicit re-export form: its name is in __all__ through _tavo.__all__
from ._native import price
from ._number_format import NumberFormat
from ._price import Price


def number_format(texts: Iterable[Optional[str]]) -> NumberFormat:
    """The decimal mark of a column of number texts, decided from its rows (see
    `NumberFormat`), with the evidence for it.

    `texts`: an iterable of str or None; anything else raises TypeError naming the item.

        >>> number_format(["1.234,56", "12,5", None]).decimal
        ','
        >>> number_format(["1,5", "2.5"]).decimal is None
        True
    """
    return NumberFormat(*_native.number_format(texts))


__all__ = ["NumberFormat", "Price", "columns", "keys", "number_format", "price"]
__all__ += _tavo.__all__
