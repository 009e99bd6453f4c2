"""Catalogue cases of sanitize_vulgar_string."""
from catalogue import add_text_cases, case_list

CASES, add = case_list()

add_text_cases(add, "sanitize_vulgar_string", "s", [
    ("", ""), ("4¾ cups, ⅓ tsp", "4.75 cups, 0.333333 tsp"), (" ½ cup", "0.5 cup"), ("a½", "a 0.5"),
    ("٣½", "3.5"), ("x٣½", "x3.5"), ("１½", "1.5"), ("5½½", "5.5 0.5"), ("⅐ ⅑ ⅒ ↉ ⅟", "⅐ ⅑ ⅒ ↉ ⅟"),
    ("1" + "0" * 303 + "½", "inf"), ("-½", "- 0.5"), ("😀 ⅞", "😀 0.875"),
])
