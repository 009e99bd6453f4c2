"""A plain-Python twin of `parse`, written from the rules rather than from the
native code: keep the number characters (the decimal mark among them, the other
mark dropped), read an accounting negative, then match the float or the integer
grammar. Python's own float() is the reference for the correctly rounded
conversion."""
import math
import re
import sys

# Per decimal mark: what the filter drops, and the float grammar.
NOT_NUMBER_CHARS = {mark: re.compile(r"[^0-9()\-%s]+" % re.escape(mark)) for mark in ".,"}
FLOAT_TEXT = {mark: re.compile(r"-?(?:[0-9]+%s?[0-9]*|%s[0-9]+)" % (re.escape(mark), re.escape(mark)))
              for mark in ".,"}
INT_TEXT = re.compile(r"-?[0-9]+")


def parse_model(s, decimal="."):
    """parse(s, decimal=decimal): the decimal mark is "." or ","; the other one is
    dropped like any character that is not part of a number."""
    filtered = NOT_NUMBER_CHARS[decimal].sub("", s)
    if not filtered:
        return None
    as_float = decimal in filtered
    text = filtered
    if text[0] == "(" and text[-1] == ")":
        inner = text[1:-1]
        if not inner:
            return None
        text = "-" + inner
    if as_float:
        return float(text.replace(decimal, ".")) if FLOAT_TEXT[decimal].fullmatch(text) else None
    if not INT_TEXT.fullmatch(text):
        return None
    negative = text[0] == "-"
    digits = text.lstrip("-").lstrip("0") or "0"
    limit = sys.get_int_max_str_digits()
    if limit and len(digits) > limit:
        return None
    value = int(digits)
    return -value if negative else value


INT64_MIN, INT64_MAX = -(2**63), 2**63 - 1


def _float(v):
    """float() of a parse result, with ints past the float range as infinities."""
    try:
        return float(v)
    except OverflowError:
        return math.inf if v > 0 else -math.inf


def _int64(v):
    """v as an int64 if it holds it exactly, else None (never wraps)."""
    if isinstance(v, float):
        if not math.isfinite(v) or v != int(v):
            return None
        v = int(v)
    return v if INT64_MIN <= v <= INT64_MAX else None


def column_model(results, type=None):
    """The column form of parse: the per-element results (None for a null row) become
    (type name, values). Inferred int64 when every result is an int within 64 bits,
    else float64; a forced int64 holds only what it holds exactly."""
    if type is None:
        fits = all(r is None or (isinstance(r, int) and INT64_MIN <= r <= INT64_MAX) for r in results)
        type = "int64" if fits else "float64"
    convert = _int64 if type == "int64" else _float
    return type, [None if r is None else convert(r) for r in results]
