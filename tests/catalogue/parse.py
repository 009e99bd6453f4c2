"""Catalogue cases of parse."""
import math

import _tavo
from catalogue import HAMMER_TEXT, add_text_cases, case_list, fresh
from fuzz_kit import expect_encode_error, has_surrogate, maybe_subclass, text
from models import number as number_model
from models import same
from stress_kit import TextScenario

CASES, add = case_list()

add_text_cases(add, "parse", "s", [
    ("1,200m", 1200), ("100.0", 100.0), ("(1)", -1), ("", None), ("USD (1,234.50)", -1234.5),
    ("-0.0", -0.0), ("9223372036854775808", 9223372036854775808), ("9" * 20, 99999999999999999999),
    ("(" + "3" * 4300 + ")", -int("3" * 4300)), ("7" * 5000, None), ("0" * 5000 + "12", 12),
    ("1" + "0" * 400 + ".0", math.inf), ("١٢٣", None), ("2.5e-3", None),
])

# --- the sweeps --------------------------------------------------------------

PROBE = {"parse": ("1",)}

NOMEMORY = {
    "parse-plain": fresh("parse", "1,200m"),
    "parse-negative": fresh("parse", "USD (1,234.50)"),
    "parse-none": fresh("parse", "abc"),
    "parse-huge-int": fresh("parse", "9" * 60),
    "parse-huge-negative": fresh("parse", "(" + "3" * 400 + ")"),
    "parse-huge-float": fresh("parse", "1" + "0" * 400 + ".5"),
    "parse-no-argument": fresh("parse"),
    "parse-two-arguments": fresh("parse", "1", "2"),
    "parse-unknown-keyword": fresh("parse", x="1"),
    "parse-twice": fresh("parse", "1", s="2"),
    "parse-surrogate-keyword": fresh("parse", **{"\ud800": "1"}),
    "parse-mismatch": fresh("parse", 5),
    "parse-keyword-mismatch": fresh("parse", s=5.5),
}
HAMMER = {"parse": lambda: _tavo.parse(HAMMER_TEXT)}
SCALE = {
    "parse-100MB-digits": ("parse", "args = ('1' * (100 * 2**20),)", "r is None", 6),
    "parse-100MB-fraction": ("parse", "args = ('0.' + '3' * (100 * 2**20),)", "r == 1/3", 6),
    "parse-100MB-noise": ("parse", "args = ('x,' * (50 * 2**20) + '(42)',)", "r == -42", 6),
}


# --- the stress scenario (test_threads.py) ------------------------------------


STRESS = {"parse": lambda: TextScenario("parse", _tavo.parse)}


# --- the fuzz target (fuzz/fuzz_tavo.py) -------------------------------------


def fuzz_parse(fdp):
    s = text(fdp)
    if fdp.ConsumeBool():
        s = "".join(c for c in s if c in "0123456789().-,$ ") or s
    if has_surrogate(s):
        return expect_encode_error(_tavo.parse, s)
    out = _tavo.parse(maybe_subclass(fdp, s))
    assert out is None or type(out) in (int, float), out
    expected = number_model.parse_model(s)
    assert same(out, expected), (s, out, expected)
    kept = "".join(c for c in s if c in "0123456789().-")
    assert same(_tavo.parse(kept), out), (s, kept)


FUZZ = {"parse": fuzz_parse}
