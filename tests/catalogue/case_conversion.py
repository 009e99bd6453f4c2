"""Catalogue cases of uncamel and underscore_to_camelcase."""
import _tavo
from catalogue import HAMMER_TEXT, add_text_cases, case_list, fresh
from fuzz_kit import expect_encode_error, has_surrogate, maybe_subclass, text
from models import text as text_model
from stress_kit import TextScenario

CASES, add = case_list()

add_text_cases(add, "uncamel", "camel", [
    ("", ""), ("getHTTPResponseCode", "get_http_response_code"), ("ABc", "a_bc"),
    ("tcp2Server", "tcp2_server"), ("ÉcoleNormale", "école_normale"), ("aⒶ", "a_ⓐ"),
    ("İ", "i\u0307"), ("ǅX", "ǅx"), ("x²Y", "x²y"), ("__Init__", "__init__"),
    ("😀Big\U0001d400Bold", "😀big_\U0001d400_bold"),
])
add_text_cases(add, "underscore_to_camelcase", "s", [
    ("", ""), ("foo_bar_baz", "fooBarBaz"), ("_foo_bar", "fooBar"), ("x_ßa", "xSSa"),
    ("a_\u01c6", "a\u01c4"), ("\u01c5", "\u01c6"), ("ΟΔΟΣ", "οδοσ"), ("___", ""), ("foo_1bar", "foo1bar"),
])

# --- the sweeps --------------------------------------------------------------

PROBE = {"uncamel": ("aB",), "underscore_to_camelcase": ("a_b",)}

NOMEMORY = {
    "uncamel-ascii": fresh("uncamel", "getHTTPResponseCode"),
    "uncamel-non-ascii": fresh("uncamel", "\u00c9coleNormale\U0001d400Bold\u0130"),
    "uncamel-keyword": fresh("uncamel", camel="CamelCase"),
    "uncamel-wrong-keyword": fresh("uncamel", Camel="x"),
    "uncamel-mismatch": fresh("uncamel", 5),
    "uncamel-long": fresh("uncamel", "\u00c9t\u00e9HTTPServer\u0130\u01c5X" * 50),
    "uncamel-surrogate": fresh("uncamel", "a\ud800B"),
    "underscore-ascii": fresh("underscore_to_camelcase", "foo_bar_baz"),
    "underscore-non-ascii": fresh("underscore_to_camelcase", "x_\u00dfa_\u01c6_\u039f\u0394\u039f\u03a3"),
    "underscore-mismatch": fresh("underscore_to_camelcase", ["a"]),
}
HAMMER = {
    "uncamel": lambda: _tavo.uncamel(HAMMER_TEXT),
    "underscore_to_camelcase": lambda: _tavo.underscore_to_camelcase(HAMMER_TEXT),
}
SCALE = {
    "uncamel-100MB-ascii": ("uncamel", "args = ('getHTTPResponseCode' * (100 * 2**20 // 19),)",
                            "r.startswith('get_http_response_code') and len(r) > 100 * 2**20", 8),
    "uncamel-100MB-unicode": ("uncamel", "args = ('ÉcoleNormaleΣΑ😀' * (100 * 2**20 // 30),)",
                              "r.startswith('école_normale_σα😀')", 8),
    "underscore_to_camelcase-100MB": ("underscore_to_camelcase", "args = ('foo_bar_ßaz_' * (100 * 2**20 // 12),)",
                                      "r.startswith('fooBarSSaz')", 8),
}


# --- the stress scenario (test_threads.py) ------------------------------------


STRESS = {
    "uncamel": lambda: TextScenario("uncamel", _tavo.uncamel),
    "underscore_to_camelcase": lambda: TextScenario("underscore_to_camelcase", _tavo.underscore_to_camelcase),
}


# --- the fuzz target (fuzz/fuzz_tavo.py) -------------------------------------


def _fuzz_case(fn, model):
    def target(fdp):
        s = text(fdp)
        if has_surrogate(s):
            return expect_encode_error(fn, s)
        out = fn(maybe_subclass(fdp, s))
        assert type(out) is str
        expected = model(s, text_model.case_data())
        assert out == expected, (fn.__name__, s, out, expected)

    return target


FUZZ = {
    "uncamel": _fuzz_case(_tavo.uncamel, text_model.uncamel),
    "underscore_to_camelcase": _fuzz_case(_tavo.underscore_to_camelcase, text_model.underscore_to_camelcase),
}
