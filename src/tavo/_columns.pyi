# The native column kernels (C++, the Arrow C data and stream interfaces); tavo.columns wraps
# their results back into the caller's kind of column.
from typing import Literal, final

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

def uncamel(source: object) -> Column:
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
def underscore_to_camelcase(source: object) -> Column:
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
def sanitize_vulgar_string(source: object) -> Column:
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
def parse(
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
def price(source: object, *, decimal: Literal[".", ","] | None = None) -> Column:
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
def number_format(
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
