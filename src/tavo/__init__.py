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

from . import _native, keys
from ._native import *  # tavo's own per-value functions (parse, which takes a decimal mark, and price)

# `import tavo` loads tavo's own modules only: `columns` and the records `NumberFormat` and
# `Price` (named tuples, which need `typing`) are loaded when first used. A type checker
# reads them here.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Iterable, Optional

    from . import columns as columns
    from ._number_format import NumberFormat as NumberFormat
    from ._price import Price as Price


def number_format(texts: "Iterable[Optional[str]]") -> "NumberFormat":
    """The decimal mark of a column of number texts, decided from its rows (see
    `NumberFormat`), with the evidence for it.

    `texts`: an iterable of str or None; anything else raises TypeError naming the item.

        >>> number_format(["1.234,56", "12,5", None]).decimal
        ','
        >>> number_format(["1,5", "2.5"]).decimal is None
        True
    """
    from ._number_format import NumberFormat

    return NumberFormat(*_native.number_format(texts))


_LAZY = {"columns": ".columns", "NumberFormat": "._number_format", "Price": "._price"}


def __getattr__(name: str) -> object:
    module = _LAZY.get(name)
    if module is None:
        raise AttributeError(f"module 'tavo' has no attribute {name!r}")
    import importlib

    loaded = importlib.import_module(module, __name__)
    value = loaded if name == "columns" else getattr(loaded, name)
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(_LAZY))


__all__ = ["NumberFormat", "Price", "columns", "keys", "number_format"]
__all__ += _tavo.__all__
__all__.remove("parse")  # tavo's own takes a decimal mark: it is in _native.__all__
__all__ += _native.__all__
