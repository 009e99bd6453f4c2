"""Shortest correct pure-Python versions of the nine functions of _tavo.

They are what a user would write without the module, and what the benchmark
times the module against. Each one gives the same answer as the module on the
benchmark inputs; run.py checks that before timing anything. Where Python's
own Unicode database (the interpreter's version) differs from the module's
(Unicode 17.0 case data, 16.0 digits and white space), these follow Python's.

A few functions also have a faster pure-Python form that is only right on
well-behaved data (uniform column types, no values unequal to themselves);
those carry a suffix and a note on where they hold.
"""

import math
import os
import re
import sys
from functools import cmp_to_key
from operator import index, itemgetter

import _tavo

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
from models.number import parse_model  # noqa: E402
from models.sequences import backfill, backfill_iterdict, collapse, same_order  # noqa: E402

__all__ = [
    "uncamel", "uncamel_regex", "underscore_to_camelcase", "underscore_to_camelcase_regex",
    "sanitize_vulgar_string", "format_decimal", "parse", "multikeysort",
    "multikeysort_two_pass", "collapse", "backfill", "backfill_iterdict",
    "same_order", "same_order_index", "keys_uncamel", "keys_underscore_to_camelcase",
]

_ASCII_DIGITS = frozenset("0123456789")


# --- case conversion ---------------------------------------------------------

def uncamel(camel):
    """camelCase to snake_case by the Uppercase/Lowercase properties, per code point."""
    out = []
    n = len(camel)
    for i, c in enumerate(camel):
        if not c.isupper():
            out.append(c)
            continue
        if i:
            p = camel[i - 1]
            if p.islower() or p in _ASCII_DIGITS or (
                    p.isupper() and i + 1 < n and camel[i + 1].islower()):
                out.append("_")
        out.append(c.lower())
    return "".join(out)


_UNCAMEL_RE = re.compile(r"(?<=[a-z0-9])(?=[A-Z])|(?<=[A-Z])(?=[A-Z][a-z])")


def uncamel_regex(camel):
    """The usual regular-expression version; right on ASCII text only."""
    return _UNCAMEL_RE.sub("_", camel).lower()


def underscore_to_camelcase(s):
    """Drop underscores, capitalise the character after one (once output has begun), lowercase the rest."""
    out = []
    after_underscore = False
    for c in s:
        if c == "_":
            after_underscore = True
            continue
        out.append(c.upper() if after_underscore and out else c.lower())
        after_underscore = False
    return "".join(out)


_UNDERSCORES_RE = re.compile(r"_+(.?)", re.DOTALL)


def _upper_group(m):
    return m.group(1).upper()


def underscore_to_camelcase_regex(s):
    """The usual regular-expression version; right on ASCII text only."""
    return _UNDERSCORES_RE.sub(_upper_group, s.lstrip("_").lower())


# --- vulgar fractions --------------------------------------------------------

_FRACTIONS = {
    "¼": 1 / 4, "½": 1 / 2, "¾": 3 / 4, "⅓": 1 / 3, "⅔": 2 / 3,
    "⅕": 1 / 5, "⅖": 2 / 5, "⅗": 3 / 5, "⅘": 4 / 5, "⅙": 1 / 6,
    "⅚": 5 / 6, "⅛": 1 / 8, "⅜": 3 / 8, "⅝": 5 / 8, "⅞": 7 / 8,
}
_FRACTION_RE = re.compile(r"(\d*)\s*([" + "".join(_FRACTIONS) + "])")


def format_decimal(x):
    """Round to six places (halves away from zero), print fixed, strip trailing zeros and point."""
    v = x * 1000000.0
    if math.isinf(v) or math.isnan(v):
        return "inf" if v > 0 else ("-inf" if v < 0 else "nan")
    r = math.trunc(v)
    if abs(v - r) >= 0.5:
        r += 1 if v > 0 else -1
    y = float(r) / 1000000.0
    if math.isinf(y):
        return "inf"
    return ("%.6f" % y).rstrip("0").rstrip(".")


def _fraction_replacement(m):
    digits = m.group(1)
    value = _FRACTIONS[m.group(2)]
    if digits:
        # float() reads every Nd digit by its decimal value, correctly rounded.
        return format_decimal(float(digits) + value)
    text = format_decimal(value)
    return text if m.start() == 0 else " " + text


def sanitize_vulgar_string(s):
    """Each vulgar fraction, with the whole number in front of it, becomes a decimal."""
    return _FRACTION_RE.sub(_fraction_replacement, s)


# --- number extraction -------------------------------------------------------

def parse(s):
    """An int or float read out of a human-written figure, or None (the tests' model)."""
    if not isinstance(s, str):
        raise TypeError("argument 's': '%s' object cannot be converted to 'PyString'"
                        % type(s).__qualname__)
    return parse_model(s)


# --- multi-key sort ----------------------------------------------------------

def _sort_value(item, name):
    """(kind, payload): 0 null, 1 number (int or float), 2 text, 3 object."""
    try:
        v = item[name]
    except Exception:
        return (0, None)
    if v is None:
        return (0, None)
    try:
        i = index(v)  # ints, bools and objects with __index__
        if -2**63 <= i < 2**63:
            return (1, i)
    except Exception:
        pass
    if isinstance(v, float):
        return (1, float.__float__(v))
    if not isinstance(v, (str, bytes, bytearray)):
        try:
            return (1, float(v))  # large ints, objects with __float__
        except Exception:
            pass
    else:
        try:
            if isinstance(v, str):
                v.encode("utf-8")
                return (2, str(v))
        except UnicodeEncodeError:
            pass
    return (3, v)


def _python_compare(x, y):
    try:
        if x < y:
            return -1
    except Exception:
        return 0
    try:
        if x > y:
            return 1
    except Exception:
        return 0
    return 0


def _compare_values(a, b):
    ka, va = a
    kb, vb = b
    if ka == 0 or kb == 0:
        return (ka != 0) - (kb != 0)
    if ka == 1 and kb == 1:
        if isinstance(va, float) or isinstance(vb, float):
            va, vb = float(va), float(vb)
            if va != va or vb != vb:
                return 0
        return (va > vb) - (va < vb)
    if ka == 2 and kb == 2:
        return (va > vb) - (va < vb)  # code point order is UTF-8 byte order
    return _python_compare(va, vb)


def multikeysort(items, columns, inplace=False):
    """Stable sort of dict rows by several columns; '-name' sorts descending."""
    if not isinstance(items, list):
        raise TypeError("argument 'items': '%s' object cannot be converted to 'PyList'"
                        % type(items).__qualname__)
    if inplace is not True and inplace is not False:
        raise TypeError("argument 'inplace': must be a boolean")
    cols = _parse_columns(columns) if columns is not None else []
    names = {k for it in items if isinstance(it, dict) for k in dict.keys(it) if isinstance(k, str)}
    cols = [(n, d) for n, d in cols if n in names]
    if cols:
        records = [([_sort_value(it, n) for n, _ in cols], i, it) for i, it in enumerate(items)]

        def cmp(a, b):
            for (_, desc), x, y in zip(cols, a[0], b[0]):
                o = _compare_values(x, y)
                if o:
                    return -o if desc else o
            return 0

        ordered = [r[2] for r in sorted(records, key=cmp_to_key(cmp))]
    else:
        ordered = list(items)
    if inplace:
        items[:] = ordered
        return None
    return ordered


def _parse_columns(columns):
    def text(c):
        return (c[1:], True) if c.startswith("-") else (c, False)

    def usable(c):
        if not isinstance(c, str):
            return False
        try:
            c.encode("utf-8")
        except UnicodeEncodeError:
            return False
        return True

    if isinstance(columns, str):
        return [text(columns)] if usable(columns) else []
    if isinstance(columns, list):
        return [text(c) for c in list(columns) if usable(c)]
    if isinstance(columns, (dict, set, int, float)) or not hasattr(type(columns), "__getitem__"):
        return []
    try:
        got = list(iter(columns))
    except Exception:
        return []
    return [text(c) for c in got] if all(usable(c) for c in got) else []


def multikeysort_two_pass(items, columns):
    """Fastest pure-Python form: one stable sorted() per column, last column first.

    Right only when every row has every column and each column holds values of
    one comparable type (no None, no NaN, no str mixed with numbers).
    """
    out = items
    for col in reversed(columns):
        desc = col.startswith("-")
        out = sorted(out, key=itemgetter(col[1:] if desc else col), reverse=desc)
    return out if out is not items else list(items)


# --- sequences ---------------------------------------------------------------
# collapse, backfill, backfill_iterdict and same_order are the tests' models
# (tests/models/sequences.py), imported above.

def same_order_index(ref_list, comp):
    """The list.index version; list.index also matches by identity, so a NaN is found in itself."""
    if len(comp) < len(ref_list):
        return False
    pos = 0
    try:
        for x in ref_list:
            pos = comp.index(x, pos)
    except ValueError:
        return False
    return True


# --- payload keys --------------------------------------------------------------
# What a user writes without tavo.keys: a recursive comprehension that calls the
# per-key function of _tavo on every str key.

def _keys_walker(convert):
    def walk(x):
        if isinstance(x, dict):
            return {convert(k) if isinstance(k, str) else k: walk(v) for k, v in x.items()}
        if isinstance(x, list):
            return [walk(v) for v in x]
        if isinstance(x, tuple):
            return tuple(walk(v) for v in x)
        return x

    return walk


keys_uncamel = _keys_walker(_tavo.uncamel)
keys_underscore_to_camelcase = _keys_walker(_tavo.underscore_to_camelcase)
