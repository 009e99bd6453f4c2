"""The column functions as the library front ends offer them (`tavo.polars`, `tavo.pandas`,
`tavo.duckdb`, `tavo.spark`), described once.

`FUNCTIONS` is the table: one `ColumnFunction` record for each function of `tavo.columns`,
giving the function, the kind of column it gives, its options with their defaults, and the
SQL functions DuckDB registers for it. `ColumnMethods` is the method set of the polars
namespaces and the pandas accessor: one plain method per record, which hands the record
and the options to `_call`; a front end subclasses it and says, in `_apply`, how one
function runs on its kind of column. `ColumnFunction.arguments` is where the options are
checked and completed, for every front end.

A new column function is a record here and a method in `ColumnMethods` (and, for Spark, a
function in `tavo.spark`).
"""

from __future__ import annotations

from typing import Any, Callable, Generic, Literal, Mapping, NamedTuple, Optional, TypeVar

from . import columns

ParseType = Optional[Literal["int64", "float64"]]
Output = Literal["utf8", "int64", "float64", "price"]  # the column type a front end declares
Kind = Literal["text", "numbers", "price"]


class ColumnFunction(NamedTuple):
    name: str                     # the tavo.columns function's name, and the method's
    function: Callable[..., Any]  # the tavo.columns function
    # what it gives: text; numbers (int64 or float64, as its option `type` says); or prices,
    # the struct of amount and currency
    kind: Kind
    options: Mapping[str, Any]    # its keyword options and their defaults, as in tavo.columns
    sql: Mapping[str, Mapping[str, Any]]  # DuckDB: each SQL function's name and the options it fixes

    def arguments(self, given: Mapping[str, Any], declared: bool) -> dict[str, Any]:
        """The keyword arguments of `function`: each option as given, or its default. Every
        option is passed: a front end that sees its column in batches must never fall back
        on a default of the function's own, which could infer from what it is given. With
        `declared`, for a front end that declares its output type ahead, `type` is the
        declared one (see `declared`)."""
        arguments = {**self.options, **given}
        if "type" in arguments:
            type = arguments["type"]
            if type not in (None, "int64", "float64"):
                raise ValueError("type must be None, 'int64' or 'float64', not %r" % (type,))
            if declared:
                arguments["type"] = self.declared(type)
        return arguments

    def declared(self, type: ParseType = None) -> Output:
        """The column type a front end that declares its output ahead (a polars schema, a
        DuckDB or Spark signature) gives: text, prices, or float64 unless int64 is asked
        for. A declared type cannot depend on the values, so `type=None` is float64 there:
        the kernel's float64 target, which gives the inferred column's values as doubles."""
        if self.kind != "numbers":
            return "utf8" if self.kind == "text" else "price"
        return "int64" if type == "int64" else "float64"


UNCAMEL = ColumnFunction("uncamel", columns.uncamel, "text", {}, {"tavo_uncamel": {}})
UNDERSCORE_TO_CAMELCASE = ColumnFunction("underscore_to_camelcase", columns.underscore_to_camelcase, "text", {},
                                         {"tavo_underscore_to_camelcase": {}})
SANITIZE_VULGAR_STRING = ColumnFunction("sanitize_vulgar_string", columns.sanitize_vulgar_string, "text", {},
                                        {"tavo_sanitize_vulgar_string": {}})
# DuckDB hands a function its column a batch at a time, so no SQL function infers the mark:
# the decimal comma has a function of its own (a second argument would arrive as a whole
# column in every batch)
PARSE = ColumnFunction("parse", columns.parse, "numbers", {"type": None, "decimal": "infer"},
                       {"tavo_parse": {"decimal": "."}, "tavo_parse_decimal_comma": {"decimal": ","}})
# decimal=None: each text decides its own mark, batch or not
PRICE = ColumnFunction("price", columns.price, "price", {"decimal": None}, {"tavo_price": {}})

FUNCTIONS: tuple[ColumnFunction, ...] = (UNCAMEL, UNDERSCORE_TO_CAMELCASE, SANITIZE_VULGAR_STRING, PARSE, PRICE)

R = TypeVar("R")


class ColumnMethods(Generic[R]):
    """The column functions as methods of a front end's namespace; `R` is what they give
    (a polars expression, a polars or pandas Series). `_declares`: whether the front end
    declares its output type ahead (then parse's `type=None` is float64)."""

    _declares = True

    def _apply(self, function: ColumnFunction, options: dict[str, Any], declared: Output) -> R:
        raise NotImplementedError

    def _call(self, function: ColumnFunction, **given: Any) -> R:
        options = function.arguments(given, self._declares)
        return self._apply(function, options, function.declared(given.get("type")))

    def uncamel(self) -> R:
        """camelCase or PascalCase to snake_case, row by row (`tavo.uncamel`); nulls stay null."""
        return self._call(UNCAMEL)

    def underscore_to_camelcase(self) -> R:
        """underscore_delimited text to camelCase, row by row (`tavo.underscore_to_camelcase`);
        nulls stay null."""
        return self._call(UNDERSCORE_TO_CAMELCASE)

    def sanitize_vulgar_string(self) -> R:
        """Vulgar fractions (and the whole number in front of each) to decimal numbers, row by
        row (`tavo.sanitize_vulgar_string`); nulls stay null."""
        return self._call(SANITIZE_VULGAR_STRING)

    def parse(self, type: Optional[Literal["int64", "float64"]] = None, *,
              decimal: Literal[".", ",", "infer"] = "infer") -> R:
        """The number in each row (`tavo.parse`), null where there is none. `decimal=","`
        reads a comma as the decimal point (and drops the points), `decimal="."` the point;
        `decimal="infer"` (the default) decides it from the whole column, or raises ValueError
        when the rows do not decide it; `type` as in `tavo.columns.parse`."""
        return self._call(PARSE, type=type, decimal=decimal)

    def price(self, *, decimal: Optional[Literal[".", ","]] = None) -> R:
        """The amount and currency of the price in each row (`tavo.price`), as a struct of
        `amount` (float64) and `currency` (text), null where there is no price; `decimal`
        None (each text decides), "." or ",", as in `tavo.columns.price`."""
        return self._call(PRICE, decimal=decimal)
