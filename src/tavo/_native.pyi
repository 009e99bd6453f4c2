# The native functions of the package tavo beyond _tavo's nine (C++). The per-value ones are
# re-exported under their own names by a public module (tavo, tavo.keys); the column
# kernels (columns_*) are wrapped by tavo.columns, which gives their results back as the
# caller's kind of column.
from typing import Any, Iterable, Literal, SupportsIndex, TypeVar, final, overload

from ._price import Price

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
    """The evidence of each text for its decimal mark, and the mark decided from it all.

    Each text's first number (its first run of digits and the separators between
    them) shows '.' or ',' as the decimal point, reads either way (one mark once,
    before exactly three digits), or shows neither (no mark, no number, None).

    Args:
        texts: An iterable of str or None; anything else raises TypeError.

    Returns:
        (decimal, point_rows, comma_rows, either_rows, neither_rows, point_example,
        comma_example, either_example), which tavo.number_format gives as a
        tavo.NumberFormat; each example is (index, text) of the first row of its kind,
        or None.
    """

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

    Raises:
        ValueError: Two keys of one dict become the same key; a dict, list or tuple
            contains itself; depth is negative.

    Examples:
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

    Raises:
        ValueError: Two keys of one dict become the same key; a dict, list or tuple
            contains itself; depth is negative.

    Examples:
        >>> underscore_to_camelcase({'user_id': 1, 'items': [{'unit_price': 2}]})
        {'userId': 1, 'items': [{'unitPrice': 2}]}
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
    """Convert every string of an Arrow string column from camelCase to snake_case.

    Args:
        source: an Arrow string column (utf8, large_utf8 or string_view) from an object with __arrow_c_stream__ or __arrow_c_array__:
        a pyarrow Array or ChunkedArray, a polars or pandas Series, ... Anything else
        raises TypeError; malformed Arrow data (bad offsets or views, text that is not
        UTF-8) raises ValueError naming the row.

    Returns:
        Column: one chunk per input chunk; each row is uncamel() of the input row, null
        for null. utf8 in gives utf8 (large_utf8 when the text passes 2**31 - 1 bytes),
        large_utf8 gives large_utf8, string_view gives string_view.
    """
def columns_underscore_to_camelcase(source: object) -> Column:
    """Convert every string of an Arrow string column from underscore_delimited_text to camelCase.

    Args:
        source: an Arrow string column (utf8, large_utf8 or string_view) from an object with __arrow_c_stream__ or __arrow_c_array__:
        a pyarrow Array or ChunkedArray, a polars or pandas Series, ... Anything else
        raises TypeError; malformed Arrow data (bad offsets or views, text that is not
        UTF-8) raises ValueError naming the row.

    Returns:
        Column: each row is underscore_to_camelcase() of the input row, null for null;
        types as for uncamel().
    """
def columns_sanitize_vulgar_string(source: object) -> Column:
    """Replace vulgar fractions with decimal equivalents in every string of an Arrow string column.

    Args:
        source: an Arrow string column (utf8, large_utf8 or string_view) from an object with __arrow_c_stream__ or __arrow_c_array__:
        a pyarrow Array or ChunkedArray, a polars or pandas Series, ... Anything else
        raises TypeError; malformed Arrow data (bad offsets or views, text that is not
        UTF-8) raises ValueError naming the row.

    Returns:
        Column: each row is sanitize_vulgar_string() of the input row, null for null;
        types as for uncamel().
    """
def columns_parse(
    source: object, type: Literal["int64", "float64"] | None = None, *, decimal: Literal[".", ",", "infer"] = "infer"
) -> Column:
    """Extract a number from every string of an Arrow string column.

    Args:
        source: an Arrow string column (utf8, large_utf8 or string_view) from an object with __arrow_c_stream__ or __arrow_c_array__:
        a pyarrow Array or ChunkedArray, a polars or pandas Series, ... Anything else
        raises TypeError; malformed Arrow data (bad offsets or views, text that is not
        UTF-8) raises ValueError naming the row.
        type: None (inferred: 'int64' when every number read is an int within 64 bits, else
            'float64'), 'int64' or 'float64'.
        decimal: the decimal mark, '.' or ',' (the other one is dropped like any separator),
            as for tavo.parse(); or 'infer' (the default): the mark that number_format()
            decides from the whole column, and ValueError, with the rows' evidence, when it
            decides none. Anything else raises ValueError.

    Returns:
        Column of int64 or float64: each row is parse() of the input row, null where
        parse() gives None (and for null rows). float64 holds each int as the nearest double,
        as float() gives it; an int beyond the float range is inf or -inf. A forced 'int64'
        never wraps: a value that int64 cannot hold exactly (a fraction, a number outside
        64 bits) is null. A digit string longer than sys.get_int_max_str_digits() is null,
        as parse() gives None for it.
    """
def columns_price(source: object, *, decimal: Literal[".", ","] | None = None) -> Column:
    """Read the amount and the currency of every price text of an Arrow string column.

    Args:
        source: an Arrow string column (utf8, large_utf8 or string_view) from an object with __arrow_c_stream__ or __arrow_c_array__:
        a pyarrow Array or ChunkedArray, a polars or pandas Series, ... Anything else
        raises TypeError; malformed Arrow data (bad offsets or views, text that is not
        UTF-8) raises ValueError naming the row.
        decimal: None (the default: each text decides its own decimal mark), '.' or ',', as
            for tavo.price(). Anything else raises ValueError.

    Returns:
        Column of struct<amount: float64, currency: utf8>: each row is tavo.price() of the
        input row, its amount as the nearest double (as float() gives an int; an int beyond
        the float range is inf or -inf), its currency the text price() gives, null where it
        has none; the row is null where price() gives None (and for null rows).
    """

# (decimal, point_rows, comma_rows, either_rows, neither_rows, point_example, comma_example,
# either_example): tavo.columns.number_format makes it a tavo.NumberFormat.
def columns_number_format(
    source: object,
) -> tuple[
    Literal[".", ","] | None, int, int, int, int, tuple[int, str] | None, tuple[int, str] | None, tuple[int, str] | None
]:
    """The evidence of every row of an Arrow string column for its decimal mark, and the mark
    decided from it all (as tavo.number_format() reads a list of texts; a null row shows
    neither mark).

    Args:
        source: an Arrow string column (utf8, large_utf8 or string_view) from an object with __arrow_c_stream__ or __arrow_c_array__:
        a pyarrow Array or ChunkedArray, a polars or pandas Series, ... Anything else
        raises TypeError; malformed Arrow data (bad offsets or views, text that is not
        UTF-8) raises ValueError naming the row.

    Returns:
        (decimal, point_rows, comma_rows, either_rows, neither_rows, point_example,
        comma_example, either_example), which tavo.columns.number_format gives as a
        tavo.NumberFormat.
    """
