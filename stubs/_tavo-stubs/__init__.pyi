"""Type information for the native module ``_tavo``."""

from collections.abc import Mapping, Sequence
from typing import Any, Literal, TypeAlias, TypeVar, overload

__all__ = [
    "parse",
    "multikeysort",
    "sanitize_vulgar_string",
    "uncamel",
    "underscore_to_camelcase",
    "collapse",
    "backfill",
    "backfill_iterdict",
    "same_order",
]

_T = TypeVar("_T")
_V = TypeVar("_V")
# A row of ``multikeysort``: any mapping from column names to values.
# Items that are not dicts are accepted at run time too (they sort as if the
# column were missing), but a list of rows is what the function is for.
_Row = TypeVar("_Row", bound=Mapping[str, Any])

# Column names, each optionally prefixed with "-" for descending order.
_Columns: TypeAlias = str | Sequence[str] | None

def parse(s: str) -> int | float | None:
    """Extract number from string."""

@overload
def multikeysort(items: list[_Row], columns: _Columns, inplace: Literal[False] = False) -> list[_Row]:
    """Sort list of dictionaries by multiple keys."""
@overload
def multikeysort(items: list[_Row], columns: _Columns, inplace: Literal[True]) -> None: ...
@overload
def multikeysort(items: list[_Row], columns: _Columns, inplace: bool) -> list[_Row] | None: ...

def sanitize_vulgar_string(s: str) -> str:
    """Replace vulgar fractions with decimal equivalents."""

def uncamel(camel: str) -> str:
    """Convert camelCase to snake_case."""

def underscore_to_camelcase(s: str) -> str:
    """Convert underscore_delimited_text to camelCase."""

def collapse(*args: object) -> list[Any]:
    """Recursively flatten nested lists/tuples into a single list."""

# Every element of the result is an element of the input (None only where no
# real value exists at all), so the element type carries over unchanged.
def backfill(values: list[_T]) -> list[_T]:
    """Back-fill a sorted array with the latest value."""

def backfill_iterdict(iterdict: list[dict[str, _V]]) -> list[dict[str, _V]]:
    """Back-fill a sorted iterdict with the latest values."""

def same_order(ref_list: list[Any], comp: list[Any]) -> bool:
    """Compare two lists and check if elements in ref appear in same order in comp."""
