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
    """Extract number from string.

    Args:
        s: String to parse.

    Returns:
        Parsed int or float, or None if parsing fails.

    Examples:
        >>> parse('1,200m')
        1200
        >>> parse('100.0')
        100.0
        >>> parse('(1)')
        -1
    """

@overload
def multikeysort(items: list[_Row], columns: _Columns, inplace: Literal[False] = False) -> list[_Row]:
    """Sort list of dictionaries by multiple keys.

    Uses pre-extracted values for O(n) extraction instead of O(n log n).

    Args:
        items: List of dictionaries to sort.
        columns: List of column names (prefix with '-' for descending).
        inplace: If True, sort in place; otherwise return new sorted list.

    Returns:
        Sorted list if inplace=False, otherwise None.
    """
@overload
def multikeysort(items: list[_Row], columns: _Columns, inplace: Literal[True]) -> None: ...
@overload
def multikeysort(items: list[_Row], columns: _Columns, inplace: bool) -> list[_Row] | None: ...

def sanitize_vulgar_string(s: str) -> str:
    """Replace vulgar fractions with decimal equivalents.

    Converts number and vulgar fraction combinations to number and decimal.

    Args:
        s: String containing vulgar fractions.

    Returns:
        String with fractions converted to decimals.

    Examples:
        >>> sanitize_vulgar_string("Foo-Bar+Baz: 17s 4¾ 1 ⅛ 20 93¾ - 94⅛")
        'Foo-Bar+Baz: 17s 4.75 1.125 20 93.75 - 94.125'
        >>> sanitize_vulgar_string("⅓ cup")
        '0.333333 cup'
    """

def uncamel(camel: str) -> str:
    """Convert camelCase to snake_case.

    Args:
        camel: CamelCase string.

    Returns:
        snake_case string.

    Examples:
        >>> uncamel('CamelCase')
        'camel_case'
        >>> uncamel('CamelCamelCase')
        'camel_camel_case'
        >>> uncamel('getHTTPResponseCode')
        'get_http_response_code'
    """

def underscore_to_camelcase(s: str) -> str:
    """Convert underscore_delimited_text to camelCase.

    Args:
        s: Underscore-delimited string.

    Returns:
        camelCase string.

    Examples:
        >>> underscore_to_camelcase('foo_bar_baz')
        'fooBarBaz'
        >>> underscore_to_camelcase('FOO_BAR')
        'fooBar'
        >>> underscore_to_camelcase('_foo_bar')
        'fooBar'
    """

def collapse(*args: object) -> list[Any]:
    """Recursively flatten nested lists/tuples into a single list.

    Args:
        args: Items to collapse (can be nested lists/tuples).

    Returns:
        Flattened list of items.

    Examples:
        >>> collapse([['a', ['b', ('c', 'd')]], -2, -1, [0, 1]])
        ['a', 'b', 'c', 'd', -2, -1, 0, 1]
    """

# Every element of the result is an element of the input (None only where no
# real value exists at all), so the element type carries over unchanged.
def backfill(values: list[_T]) -> list[_T]:
    """Back-fill a sorted array with the latest value.

    Args:
        values: List of values (may contain None).

    Returns:
        List with None values replaced by the most recent non-None value.

    Examples:
        >>> backfill([None, None, 1, 2, 3, None, 4])
        [1, 1, 1, 2, 3, 3, 4]
    """

def backfill_iterdict(iterdict: list[dict[str, _V]]) -> list[dict[str, _V]]:
    """Back-fill a sorted iterdict with the latest values.

    Args:
        iterdict: List of dicts with possibly None values.

    Returns:
        List of dicts with None values replaced by most recent non-None values per key.

    Examples:
        >>> backfill_iterdict([{'a': 1, 'b': None}, {'a': 4, 'b': 2}, {'a': None, 'b': None}])
        [{'a': 1, 'b': 2}, {'a': 4, 'b': 2}, {'a': 4, 'b': 2}]
    """

def same_order(ref_list: list[Any], comp: list[Any]) -> bool:
    """Compare two lists and check if elements in ref appear in same order in comp.

    Args:
        ref_list: Reference list of elements.
        comp: Comparison list to check order against.

    Returns:
        True if all ref elements appear in comp in the same relative order.

    Examples:
        >>> same_order(['x', 'y', 'z'], ['x', 'a', 'b', 'y', 'd', 'z'])
        True
        >>> same_order(['x', 'y', 'z'], ['x', 'z', 'y'])
        False
    """
