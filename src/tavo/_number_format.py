"""The record of `tavo.number_format` and `tavo.columns.number_format`."""

from __future__ import annotations

from typing import Literal, NamedTuple, Optional


class NumberFormat(NamedTuple):
    """The decimal mark of a column of number texts, decided from its rows, and the
    evidence for it.

    Each row's first number (its first run of digits and the separators '.', ',', space,
    apostrophe, U+00A0, U+202F between them) shows '.' or ',' as the decimal point, reads
    either way (one mark once, before exactly three digits: '1.250'), or shows neither (no
    mark, no number, a null row). `decimal` is the side with evidence when the other has
    none; None when both have some (a mixed column), and when neither has any but some row
    reads either way; '.' when no row shows anything (every mark then reads the same).
    """

    decimal: Optional[Literal[".", ","]]
    point_rows: int          # rows that show '.' as the decimal point
    comma_rows: int          # rows that show ','
    either_rows: int         # rows that read either way
    neither_rows: int        # rows without a number or a mark (null rows too)
    point_example: Optional[tuple[int, str]]   # (index, text) of the first row showing '.'
    comma_example: Optional[tuple[int, str]]   # ... showing ','
    either_example: Optional[tuple[int, str]]  # ... reading either way
