"""The column functions as the library front ends (`tavo.polars`, `tavo.pandas`,
`tavo.duckdb`) offer them, described once.

`ColumnMethods` is the method set every front end shares: one `ColumnMethod` for each
function of `tavo.columns`, whose parameters (the column aside) it takes, typed as they
are there. A front end subclasses it and says, in `_apply`, how one function runs on its
kind of column. `FUNCTIONS` holds the record of each method: its name, the `tavo.columns`
function that does the work, and what it gives (text; numbers that take `type=` and
`decimal=`; or prices, the struct of amount and currency, that take `decimal=`). A new column function is one line in `ColumnMethods`; the front ends read
both and need no edit.
"""

from __future__ import annotations

import inspect
from typing import Any, Callable, Concatenate, Generic, Literal, NamedTuple, Optional, ParamSpec, TypeVar, overload

from . import columns

ParseType = Optional[Literal["int64", "float64"]]
Output = Literal["utf8", "int64", "float64", "price"]
Kind = Literal["text", "numbers", "price"]

_DEFAULT: Any = object()  # an option not given: the tavo.columns function's default


class ColumnFunction(NamedTuple):
    name: str                       # the tavo.columns function's name, and the method's
    function: Callable[..., Any]    # the tavo.columns function
    # what it gives: text; numbers, taking the options type= and decimal= (default "infer");
    # or prices (the struct of amount and currency), taking decimal= (default None)
    kind: Kind

    @property
    def numbers(self) -> bool:
        return self.kind == "numbers"

    def options(self, type: ParseType = None, decimal: Any = _DEFAULT, declared: bool = False) -> dict[str, Any]:
        """The keyword arguments of the tavo.columns function for these options; with
        `declared`, for a front end that declares its output type ahead (see `declared`)."""
        if self.kind == "text":
            return {}
        if self.kind == "price":
            # None: each text decides its own mark, batch or not
            return {"decimal": None if decimal is _DEFAULT else decimal}
        if type not in (None, "int64", "float64"):
            raise ValueError("type must be None, 'int64' or 'float64', not %r" % (type,))
        # the mark is always passed: a front end that sees its column in batches must never
        # fall back on the function's default, which infers it from what it is given
        return {"type": self.declared(type) if declared else type, "decimal": "infer" if decimal is _DEFAULT
                else decimal}

    @staticmethod
    def infers(options: dict[str, Any]) -> bool:
        """Whether these options ask for the decimal mark inferred from the whole column."""
        decimal = options.get("decimal")
        return isinstance(decimal, str) and decimal == "infer"

    def declared(self, type: ParseType = None) -> Output:
        """The column type a front end that declares its output ahead (a polars schema, a
        DuckDB signature) gives: text, prices, or float64 unless int64 is asked for. A
        declared type cannot depend on the values, so `type=None` is float64 there: the
        kernel's float64 target, which gives the inferred column's values as doubles."""
        if self.kind != "numbers":
            return "utf8" if self.kind == "text" else "price"
        return "int64" if type == "int64" else "float64"


R = TypeVar("R")
P = ParamSpec("P")


class ColumnMethod(Generic[P]):
    """A method of `ColumnMethods`: the tavo.columns function `function` on the front
    end's column, taking that function's other parameters; what it gives is the front
    end's `R`."""

    def __init__(self, function: Callable[Concatenate[Any, P], Any], doc: str) -> None:
        whole = inspect.signature(function)
        kind: Kind = "numbers" if "type" in whole.parameters else "price" if "decimal" in whole.parameters else "text"
        self.record = ColumnFunction(function.__name__, function, kind)
        record = self.record
        options = list(whole.parameters.values())[1:]
        signature = whole.replace(parameters=options, return_annotation="R")  # the column aside

        def method(self: ColumnMethods[Any], /, *args: Any, **kwargs: Any) -> Any:
            try:
                given = signature.bind(*args, **kwargs).arguments
            except TypeError as e:
                raise TypeError("%s.%s() %s" % (type(self).__name__, record.name, e)) from None
            return self._call(record, **given)

        method.__name__ = record.name
        method.__qualname__ = "ColumnMethods." + record.name
        method.__doc__ = doc
        method.__signature__ = signature.replace(  # type: ignore[attr-defined]
            parameters=[inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD), *options])
        self._method = method

    @overload
    def __get__(self, front_end: None, owner: type[Any]) -> Callable[Concatenate[ColumnMethods[Any], P], Any]: ...
    @overload
    def __get__(self, front_end: ColumnMethods[R], owner: type[Any]) -> Callable[P, R]: ...

    def __get__(self, front_end: Optional[ColumnMethods[Any]], owner: type[Any]) -> Any:
        return self._method.__get__(front_end, owner)


class ColumnMethods(Generic[R]):
    """The column functions as methods of a front end's namespace; `R` is what they give
    (a polars expression, a polars or pandas Series). `_declares`: whether the front end
    declares its output type ahead (then parse's `type=None` is float64)."""

    _declares = True

    def _apply(self, function: ColumnFunction, options: dict[str, Any], declared: Output) -> R:
        raise NotImplementedError

    def _call(self, f: ColumnFunction, type: ParseType = None, decimal: Any = _DEFAULT) -> R:
        return self._apply(f, f.options(type, decimal, self._declares), f.declared(type))

    uncamel = ColumnMethod(
        columns.uncamel, "camelCase or PascalCase to snake_case, row by row (`tavo.uncamel`); nulls stay null.")
    underscore_to_camelcase = ColumnMethod(
        columns.underscore_to_camelcase, "underscore_delimited text to camelCase, row by row "
        "(`tavo.underscore_to_camelcase`);\nnulls stay null.")
    sanitize_vulgar_string = ColumnMethod(
        columns.sanitize_vulgar_string, "Vulgar fractions (and the whole number in front of each) to decimal "
        "numbers, row by\nrow (`tavo.sanitize_vulgar_string`); nulls stay null.")
    parse = ColumnMethod(
        columns.parse, "The number in each row (`tavo.parse`), null where there is none. `decimal=\",\"`\n"
        "reads a comma as the decimal point (and drops the points), `decimal=\".\"` the point;\n"
        "`decimal=\"infer\"` (the default) decides it from the whole column, or raises ValueError\n"
        "when the rows do not decide it; `type` as in `tavo.columns.parse`.")
    price = ColumnMethod(
        columns.price, "The amount and currency of the price in each row (`tavo.price`), as a struct of\n"
        "`amount` (float64) and `currency` (text), null where there is no price; `decimal`\n"
        "None (each text decides), \".\" or \",\", as in `tavo.columns.price`.")


FUNCTIONS: tuple[ColumnFunction, ...] = tuple(m.record for m in vars(ColumnMethods).values()
                                              if isinstance(m, ColumnMethod))
