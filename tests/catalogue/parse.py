"""Catalogue cases of parse."""
import math

from catalogue import add_text_cases, case_list

CASES, add = case_list()

add_text_cases(add, "parse", "s", [
    ("1,200m", 1200), ("100.0", 100.0), ("(1)", -1), ("", None), ("USD (1,234.50)", -1234.5),
    ("-0.0", -0.0), ("9223372036854775808", 9223372036854775808), ("9" * 20, 99999999999999999999),
    ("(" + "3" * 4300 + ")", -int("3" * 4300)), ("7" * 5000, None), ("0" * 5000 + "12", 12),
    ("1" + "0" * 400 + ".0", math.inf), ("١٢٣", None), ("2.5e-3", None),
])
