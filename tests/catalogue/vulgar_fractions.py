"""Catalogue cases of sanitize_vulgar_string."""
import _tavo
from catalogue import HAMMER_TEXT, add_text_cases, case_list, fresh

CASES, add = case_list()

add_text_cases(add, "sanitize_vulgar_string", "s", [
    ("", ""), ("4¾ cups, ⅓ tsp", "4.75 cups, 0.333333 tsp"), (" ½ cup", "0.5 cup"), ("a½", "a 0.5"),
    ("٣½", "3.5"), ("x٣½", "x3.5"), ("１½", "1.5"), ("5½½", "5.5 0.5"), ("⅐ ⅑ ⅒ ↉ ⅟", "⅐ ⅑ ⅒ ↉ ⅟"),
    ("1" + "0" * 303 + "½", "inf"), ("-½", "- 0.5"), ("😀 ⅞", "😀 0.875"),
])

# --- the sweeps --------------------------------------------------------------

NOMEMORY = {
    "sanitize-fractions": fresh("sanitize_vulgar_string", "4\u00be cups, \u2153 tsp, 93\u00be - 94\u215b"),
    "sanitize-inf": fresh("sanitize_vulgar_string", "1" + "0" * 320 + "\u00bd"),
    "sanitize-plain": fresh("sanitize_vulgar_string", "nothing here"),
    "sanitize-many": fresh("sanitize_vulgar_string", "1\u00bd cup, \u2155x \u0663\u00bc; " * 40),
    "sanitize-mismatch": fresh("sanitize_vulgar_string", b"\xc2\xbd"),
}
HAMMER = {"sanitize_vulgar_string": lambda: _tavo.sanitize_vulgar_string(HAMMER_TEXT)}
SCALE = {
    "sanitize-100MB-no-fraction": ("sanitize_vulgar_string", "args = ('plain text 123 ' * (100 * 2**20 // 15),)",
                                   "r == args[0]", 6),
    "sanitize-100MB-dense-fractions": ("sanitize_vulgar_string", "args = ('1½ ' * (100 * 2**20 // 4),)",
                                       "r.startswith('1.5 1.5 ')", 8),
    "sanitize-100MB-one-number": ("sanitize_vulgar_string", "args = ('9' * (100 * 2**20) + '½',)", "r == 'inf'", 6),
    # inputs that a scanner restarting at every position would make quadratic
    "sanitize-100MB-digits-no-fraction": ("sanitize_vulgar_string", "args = ('9' * (100 * 2**20) + 'x',)",
                                          "r == args[0]", 6),
    "sanitize-100MB-spaces-then-fraction": ("sanitize_vulgar_string", "args = (' ' * (100 * 2**20) + '½',)",
                                            "r == '0.5'", 6),
    "sanitize-100MB-nd-digits-no-fraction": ("sanitize_vulgar_string", "args = ('\u0663' * (50 * 2**20) + 'x',)",
                                             "r == args[0]", 6),
}
