"""Catalogue cases of uncamel and underscore_to_camelcase."""
import _tavo
from catalogue import HAMMER_TEXT, add_text_cases, case_list, fresh

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
