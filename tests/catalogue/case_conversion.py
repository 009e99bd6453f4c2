"""Catalogue cases of uncamel and underscore_to_camelcase."""
from catalogue import add_text_cases, case_list

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
