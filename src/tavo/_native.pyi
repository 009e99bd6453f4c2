# The native per-value functions of the package tavo beyond _tavo's nine (C++); each is
# re-exported under its own name by a public module (tavo, tavo.keys).
from typing import Any, Iterable, Literal, SupportsIndex, TypeVar, overload

from ._price import Price

_K = TypeVar("_K")
_T = TypeVar("_T")

def parse(s: str, *, decimal: Literal[".", ","] = ".") -> int | float | None: ...
def price(text: str, *, decimal: Literal[".", ","] | None = None) -> Price | None: ...

# (decimal, point_rows, comma_rows, either_rows, neither_rows, point_example, comma_example,
# either_example): tavo.number_format makes it a tavo.NumberFormat.
def number_format(
    texts: Iterable[str | None],
) -> tuple[
    Literal[".", ","] | None, int, int, int, int, tuple[int, str] | None, tuple[int, str] | None, tuple[int, str] | None
]: ...

# A dict (or subclass) becomes a plain dict with the same kind of keys (str keys stay str),
# a list or tuple a plain one; anything else is returned as it is.
@overload
def keys_uncamel(data: dict[_K, Any], *, depth: SupportsIndex | None = None) -> dict[_K, Any]: ...
@overload
def keys_uncamel(data: list[Any], *, depth: SupportsIndex | None = None) -> list[Any]: ...
@overload
def keys_uncamel(data: tuple[Any, ...], *, depth: SupportsIndex | None = None) -> tuple[Any, ...]: ...
@overload
def keys_uncamel(data: _T, *, depth: SupportsIndex | None = None) -> _T: ...
@overload
def keys_underscore_to_camelcase(data: dict[_K, Any], *, depth: SupportsIndex | None = None) -> dict[_K, Any]: ...
@overload
def keys_underscore_to_camelcase(data: list[Any], *, depth: SupportsIndex | None = None) -> list[Any]: ...
@overload
def keys_underscore_to_camelcase(
    data: tuple[Any, ...], *, depth: SupportsIndex | None = None
) -> tuple[Any, ...]: ...
@overload
def keys_underscore_to_camelcase(data: _T, *, depth: SupportsIndex | None = None) -> _T: ...
