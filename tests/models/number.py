"""A plain-Python twin of `parse`, written from the rules rather than from the
native code: keep the number characters, read an accounting negative, then
match the float or the integer grammar. Python's own float() is the
reference for the correctly rounded conversion."""
import re
import sys

NOT_NUMBER_CHARS = re.compile(r"[^0-9().\-]+")
FLOAT_TEXT = re.compile(r"-?(?:[0-9]+\.?[0-9]*|\.[0-9]+)")
INT_TEXT = re.compile(r"-?[0-9]+")


def parse_model(s):
    filtered = NOT_NUMBER_CHARS.sub("", s)
    if not filtered:
        return None
    as_float = "." in filtered
    text = filtered
    if text[0] == "(" and text[-1] == ")":
        inner = text[1:-1]
        if not inner:
            return None
        text = "-" + inner
    if as_float:
        return float(text) if FLOAT_TEXT.fullmatch(text) else None
    if not INT_TEXT.fullmatch(text):
        return None
    negative = text[0] == "-"
    digits = text.lstrip("-").lstrip("0") or "0"
    limit = sys.get_int_max_str_digits()
    if limit and len(digits) > limit:
        return None
    value = int(digits)
    return -value if negative else value
