# The native column kernels (C++, the Arrow C data and stream interfaces); tavo.columns wraps
# their results back into the caller's kind of column.
from typing import Literal, final

@final
class Column:
    """The output chunks of a column function, one per input chunk."""

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
    ]: ...
    @property
    def num_chunks(self) -> int: ...
    def __len__(self) -> int: ...
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...
    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]: ...

def uncamel(source: object) -> Column: ...
def underscore_to_camelcase(source: object) -> Column: ...
def sanitize_vulgar_string(source: object) -> Column: ...
def parse(
    source: object, type: Literal["int64", "float64"] | None = None, *, decimal: Literal[".", ",", "infer"] = "infer"
) -> Column: ...
def price(source: object, *, decimal: Literal[".", ","] | None = None) -> Column: ...

# (decimal, point_rows, comma_rows, either_rows, neither_rows, point_example, comma_example,
# either_example): tavo.columns.number_format makes it a tavo.NumberFormat.
def number_format(
    source: object,
) -> tuple[
    Literal[".", ","] | None, int, int, int, int, tuple[int, str] | None, tuple[int, str] | None, tuple[int, str] | None
]: ...
