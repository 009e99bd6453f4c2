"""Catalogue cases of sanitize_vulgar_string."""
import _tavo
from catalogue import HAMMER_TEXT, add_text_cases, case_list, fresh
from fuzz_kit import expect_encode_error, has_surrogate, maybe_subclass, text
from models import text as text_model
from stress_kit import TextScenario

CASES, add = case_list()

add_text_cases(add, "sanitize_vulgar_string", "s", [
    ("", ""), ("4¾ cups, ⅓ tsp", "4.75 cups, 0.333333 tsp"), (" ½ cup", "0.5 cup"), ("a½", "a 0.5"),
    ("٣½", "3.5"), ("x٣½", "x3.5"), ("１½", "1.5"), ("5½½", "5.5 0.5"), ("⅐ ⅑ ⅒ ↉ ⅟", "⅐ ⅑ ⅒ ↉ ⅟"),
    ("1" + "0" * 303 + "½", "inf"), ("-½", "- 0.5"), ("😀 ⅞", "😀 0.875"),
])

# --- the sweeps --------------------------------------------------------------

PROBE = {"sanitize_vulgar_string": ("1½",)}

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


# --- the stress scenario (test_threads.py) ------------------------------------


STRESS = {"sanitize_vulgar_string": lambda: TextScenario("sanitize_vulgar_string", _tavo.sanitize_vulgar_string)}


# --- the fuzz target (fuzz/fuzz_tavo.py) -------------------------------------


def fuzz_sanitize(fdp):
    s = text(fdp)
    if fdp.ConsumeBool():  # digits and spaces around fractions are what matter most
        s = "".join(c + ("1" if i % 3 == 0 else "\u00bd") for i, c in enumerate(s))
    if has_surrogate(s):
        return expect_encode_error(_tavo.sanitize_vulgar_string, s)
    out = _tavo.sanitize_vulgar_string(maybe_subclass(fdp, s))
    assert type(out) is str
    expected, others = text_model.sanitize(s, text_model.digit_data())
    assert out == expected or out in others, (s, out, expected)


FUZZ = {"sanitize_vulgar_string": fuzz_sanitize}
