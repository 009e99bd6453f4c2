"""The column functions as the library front ends (`tavo.polars`, `tavo.pandas`,
`tavo.duckdb`) offer them, described once.

`FUNCTIONS` holds one record per function: its name, the `tavo.columns` function that
does the work, and what it gives (text, or numbers that take `type=` and `decimal=`).
`ColumnMethods` is the method set every front end shares, written once over that table:
a front end subclasses it and says, in `_apply`, how one record runs on its kind of
column. A new column function is one record here and its method in `ColumnMethods`;
the front ends read both and need no edit.
"""

from __future__ import annotations

from typing import Any, Callable, Generic, Literal, NamedTuple, Optional, TypeVar

from . import columns

ParseType = Optional[Literal["int64", "float64"]]
Output = Literal["utf8", "int64", "float64"]


class ColumnFunction(NamedTuple):
    name: str                       # the tavo.columns function's name, and the method's
    function: Callable[..., Any]    # the tavo.columns function
    numbers: bool                   # numbers out, and the options type= and decimal= in

    def options(self, type: ParseType = None, decimal: str = ".", declared: bool = False) -> dict[str, Any]:
        """The keyword arguments of the tavo.columns function for these options; with
        `declared`, for a front end that declares its output type ahead (see `declared`)."""
        if not self.numbers:
            return {}
        if type not in (None, "int64", "float64"):
            raise ValueError("type must be None, 'int64' or 'float64', not %r" % (type,))
        out: dict[str, Any] = {"type": self.declared(type) if declared else type}
        # '.' is the function's own default: passed only when it is another
        if not (isinstance(decimal, str) and decimal == "."):
            out["decimal"] = decimal
        return out

    def declared(self, type: ParseType = None) -> Output:
        """The column type a front end that declares its output ahead (a polars schema, a
        DuckDB signature) gives: text, or float64 unless int64 is asked for. A declared type
        cannot depend on the values, so `type=None` is float64 there: the kernel's float64
        target, which gives the inferred column's values as doubles."""
        if not self.numbers:
            return "utf8"
        return "int64" if type == "int64" else "float64"


FUNCTIONS: tuple[ColumnFunction, ...] = (
    ColumnFunction("uncamel", columns.uncamel, False),
    ColumnFunction("underscore_to_camelcase", columns.underscore_to_camelcase, False),
    ColumnFunction("sanitize_vulgar_string", columns.sanitize_vulgar_string, False),
    ColumnFunction("parse", columns.parse, True),
)
BY_NAME = {f.name: f for f in FUNCTIONS}

R = TypeVar("R")


class ColumnMethods(Generic[R]):
    """The column functions as methods of a front end's namespace; `R` is what they give
    (a polars expression, a polars or pandas Series). `_declares`: whether the front end
    declares its output type ahead (then parse's `type=None` is float64)."""

    _declares = True

    def _apply(self, function: ColumnFunction, options: dict[str, Any], declared: Output) -> R:
        raise NotImplementedError

    def _call(self, name: str, type: ParseType = None, decimal: str = ".") -> R:
        f = BY_NAME[name]
        return self._apply(f, f.options(type, decimal, self._declares), f.declared(type))

    def uncamel(self) -> R:
        """camelCase or PascalCase to snake_case, row by row (`tavo.uncamel`); nulls stay null."""
        return self._call("uncamel")

    def underscore_to_camelcase(self) -> R:
        """underscore_delimited text to camelCase, row by row (`tavo.underscore_to_camelcase`);
        nulls stay null."""
        return self._call("underscore_to_camelcase")

    def sanitize_vulgar_string(self) -> R:
        """Vulgar fractions (and the whole number in front of each) to decimal numbers, row by
        row (`tavo.sanitize_vulgar_string`); nulls stay null."""
        return self._call("sanitize_vulgar_string")

    def parse(self, type: ParseType = None, decimal: str = ".") -> R:
        """The number in each row (`tavo.parse`), null where there is none. `decimal=","`
        reads a comma as the decimal point (and drops the points); `type` as in
        `tavo.columns.parse`."""
        return self._call("parse", type, decimal)
