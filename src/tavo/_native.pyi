# The native functions of the package tavo beyond _tavo's nine (C++). The per-value ones are
# re-exported under their own names by a public module (tavo, tavo.keys); the column
# kernels (columns_*) are wrapped by tavo.columns, which gives their results back as the
# caller's kind of column.
from typing import Any, Iterable, Literal, SupportsIndex, TypeVar, final, overload

from ._price import Price

# what tavo exports as it is (`from ._native import *`): the functions whose module is tavo
__all__ = ["parse", "price"]

_K = TypeVar("_K")
_T = TypeVar("_T")

def parse(s: str, *, decimal: Literal[".", ","] = ".") -> int | float | None:
    """Extract a number from a string, with '.' or ',' as the decimal mark.

    Args:
        s: String to parse.
        decimal: '.' (the default: _tavo.parse exactly, a ',' is dropped like any
            separator) or ',' (the comma is the decimal mark and a '.' is dropped).
            Anything else raises ValueError.

    Returns:
        Parsed int or float, or None if parsing fails.

    Examples:
        >>> parse('1,234.56')
        1234.56
        >>> parse('1.234,56', decimal=',')
        1234.56
        >>> parse('(1.234,50) EUR', decimal=',')
        -1234.5
        >>> parse('1,2,3', decimal=',') is None
        True
    """
def price(text: str, *, decimal: Literal[".", ","] | None = None) -> Price | None:
    """Read the amount and the currency of a price text.

    The price is the first number with a currency sign, code or name next to it (the
    first number of a range 'X - Y'), or else the first number with a fraction, or the
    first number; a percentage is no price. Digit groups may be split by '.', ',',
    spaces or apostrophes.

    Args:
        text: The price text.
        decimal: None (the default: each number decides; with both marks the later one,
            and one mark with exactly three digits after it is a thousands separator),
            '.' or ','. Anything else raises ValueError.

    Returns:
        tavo.Price(amount, currency): the amount an int or a float as parse gives,
        the currency as written or None; None when the text holds no price.

    Examples:
        >>> price('Price: 1 299,00 EUR')
        Price(amount=1299.0, currency='EUR')
        >>> price("CHF 1'049.95")
        Price(amount=1049.95, currency='CHF')
        >>> price('40% OFF') is None
        True
    """

# (decimal, point_rows, comma_rows, either_rows, neither_rows, point_example, comma_example,
# either_example): tavo.number_format makes it a tavo.NumberFormat.
def number_format(
    texts: Iterable[str | None],
) -> tuple[
    Literal[".", ","] | None, int, int, int, int, tuple[int, str] | None, tuple[int, str] | None, tuple[int, str] | None
]:
    ...

# A dict (or subclass) becomes a plain dict with the same kind of keys (str keys stay str),
# a list or tuple a plain one; anything else is returned as it is.
@overload
def keys_uncamel(data: dict[_K, Any], *, depth: SupportsIndex | None = None) -> dict[_K, Any]:
    """Convert the camelCase keys of a nested payload to snake_case.

    A dict (or subclass) becomes a new dict whose str keys are what tavo.uncamel gives
    for them and whose values are converted in turn; a list or tuple (or subclass)
    becomes a new list or tuple of converted items; anything else is returned as it is.
    The input is never changed.

    Args:
        data: The payload.
        depth: How many levels of dicts get their keys converted (lists and tuples
            are no level); None for all. Below it, objects are returned as they are.

    Returns:
        The payload with snake_case keys.

    Raises:
        ValueError: Two keys of one dict become the same key; a dict, list or tuple
            contains itself; depth is negative.

    Examples:
        >>> uncamel([{'userId': 1, 'rawData': {'fieldName': 2}}], depth=1)
        [{'user_id': 1, 'raw_data': {'fieldName': 2}}]
        >>> uncamel({'userId': 1, 'items': [{'unitPrice': 2}]})
        {'user_id': 1, 'items': [{'unit_price': 2}]}
    """
@overload
def keys_uncamel(data: list[Any], *, depth: SupportsIndex | None = None) -> list[Any]: ...
@overload
def keys_uncamel(data: tuple[Any, ...], *, depth: SupportsIndex | None = None) -> tuple[Any, ...]: ...
@overload
def keys_uncamel(data: _T, *, depth: SupportsIndex | None = None) -> _T: ...
@overload
def keys_underscore_to_camelcase(data: dict[_K, Any], *, depth: SupportsIndex | None = None) -> dict[_K, Any]:
    """Convert the snake_case keys of a nested payload to camelCase.

    A dict (or subclass) becomes a new dict whose str keys are what
    tavo.underscore_to_camelcase gives for them (a key without an underscore, such as
    'lastUpdate' or 'userID', is kept as it is) and whose values are converted in
    turn; a list or tuple (or subclass) becomes a new list or tuple of converted items;
    anything else is returned as it is. The input is never changed.

    Args:
        data: The payload.
        depth: How many levels of dicts get their keys converted (lists and tuples
            are no level); None for all. Below it, objects are returned as they are.

    Returns:
        The payload with camelCase keys (where they have underscores).

    Raises:
        ValueError: Two keys of one dict become the same key; a dict, list or tuple
            contains itself; depth is negative.

    Examples:
        >>> underscore_to_camelcase({'user_id': 1, 'items': [{'unit_price': 2}]})
        {'userId': 1, 'items': [{'unitPrice': 2}]}
        >>> underscore_to_camelcase({'user_id': 1, 'extra': {'raw_value': 2}}, depth=1)
        {'userId': 1, 'extra': {'raw_value': 2}}
    """
@overload
def keys_underscore_to_camelcase(data: list[Any], *, depth: SupportsIndex | None = None) -> list[Any]: ...
@overload
def keys_underscore_to_camelcase(
    data: tuple[Any, ...], *, depth: SupportsIndex | None = None
) -> tuple[Any, ...]: ...
@overload
def keys_underscore_to_camelcase(data: _T, *, depth: SupportsIndex | None = None) -> _T: ...

# --- the column kernels -----------------------------------------------------------------

@final
class Column:
    """The result of a tavo column function: Arrow buffers that any Arrow consumer reads
    through __arrow_c_stream__ or __arrow_c_array__ (pyarrow.chunked_array(col),
    pyarrow.array(col), polars.Series(col), ...). len() is the row count.
    """

    @property
    def type(
        self,
    ) -> Literal[
        "utf8",
        "large_utf8",
        "string_view",
        "int64",
        "float64",
        "struct<amount: float64, currency: utf8>",
        "struct<amount: float64, currency: large_utf8>",
    ]:
        """The Arrow type of the values: 'utf8', 'large_utf8', 'string_view', 'int64', 'float64',
        or price's 'struct<amount: float64, currency: utf8>' ('large_utf8' for a currency text
        past 2**31 - 1 bytes).
        """
    @property
    def num_chunks(self) -> int:
        """The number of arrays the stream export gives."""
    def __len__(self) -> int: ...
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...
    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]: ...

def columns_uncamel(source: object) -> Column:
    ...
def columns_underscore_to_camelcase(source: object) -> Column:
    ...
def columns_sanitize_vulgar_string(source: object) -> Column:
    ...
def columns_parse(
    source: object, type: Literal["int64", "float64"] | None = None, *, decimal: Literal[".", ",", "infer"] = "infer"
) -> Column:
    ...
def columns_price(source: object, *, decimal: Literal[".", ","] | None = None) -> Column:
    ...

# (decimal, point_rows, comma_rows, either_rows, neither_rows, point_example, comma_example,
# either_example): tavo.columns.number_format makes it a tavo.NumberFormat.
def columns_number_format(
    source: object,
) -> tuple[
    Literal[".", ","] | None, int, int, int, int, tuple[int, str] | None, tuple[int, str] | None, tuple[int, str] | None
]:
    ...

# Not for the package's users: the class of tavo.Price is made with it from its model.
_C = TypeVar("_C", bound=type)

def _tuple_class(model: _C, /) -> _C: ...
