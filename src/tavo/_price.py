"""tavo.Price, what tavo.price returns (the native reader makes its instances)."""
from typing import NamedTuple


class Price(NamedTuple):
    """The amount and the currency of a price text.

    amount: an int or a float, as tavo.parse gives.
    currency: the currency sign, code or name as written next to the amount ('€', 'US$',
        'CHF', 'zł', 'руб.', '円'), or None where there is none.
    """

    amount: int | float
    currency: str | None
