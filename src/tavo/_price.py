"""tavo.Price, what tavo.price returns (the native reader makes its instances)."""
from typing import NamedTuple

from ._native import _tuple_class


# The class is made from this named tuple by the native module, with the same
# name, fields and methods, so that it makes and frees each instance directly
# (the general path of a Python class costs as much as reading a short price).
@_tuple_class
class Price(NamedTuple):
    """The amount and the currency of a price text.

    amount: an int or a float, as tavo.parse gives.
    currency: the currency sign, code or name as written next to the amount ('€', 'US$',
        'CHF', 'zł', 'руб.', '円'), or None where there is none.
    """

    amount: int | float
    currency: str | None
