"""A small pure-Python model of multikeysort, written from its documented rules.

It covers the value types the tests generate: None, bool, int (any size),
float, str (and subclasses), and any other object as an opaque key compared
through Python's < and >.
"""
import functools
import math

NULL, INT, FLOAT, TEXT, OBJECT = range(5)


def ordinary(e):
    """An exception that a lookup, a conversion or a comparison may raise and
    that is then discarded. Others (KeyboardInterrupt, SystemExit, MemoryError,
    RecursionError...) end the call."""
    return isinstance(e, Exception) and not isinstance(e, (MemoryError, RecursionError))
INT64_MIN, INT64_MAX = -(2**63), 2**63 - 1


def utf8(s):
    try:
        return s.encode("utf-8")
    except UnicodeEncodeError:
        return None


def parse_column_text(text):
    if text.startswith("-"):
        return (text[1:], True)
    return (text, False)


def parse_columns(columns):
    if isinstance(columns, str):
        return [parse_column_text(columns)] if utf8(columns) is not None else []
    if isinstance(columns, list):
        return [parse_column_text(c) for c in columns if isinstance(c, str) and utf8(c) is not None]
    if isinstance(columns, (dict, set, frozenset, int, float)) or not hasattr(type(columns), "__getitem__"):
        return []
    try:
        elements = list(columns)
    except Exception as e:
        if not ordinary(e):
            raise
        return []
    if all(isinstance(c, str) and utf8(c) is not None for c in elements):
        return [parse_column_text(c) for c in elements]
    return []


def key_value(item, name):
    try:
        v = item[name]
    except Exception as e:
        if not ordinary(e):
            raise
        return (NULL, None)
    if v is None:
        return (NULL, None)
    if isinstance(v, int):  # bool included
        if INT64_MIN <= v <= INT64_MAX:
            return (INT, int(v))
        return (OBJECT, int(v))  # a wide int, compared exactly through Python
    if isinstance(v, float):
        return (FLOAT, float(v))
    if isinstance(v, str) and utf8(v) is not None:
        return (TEXT, utf8(v))
    return (OBJECT, v)


def python_compare(x, y):
    try:
        if x < y:
            return -1
    except Exception as e:
        if not ordinary(e):
            raise
        return 0
    try:
        return 1 if x > y else 0
    except Exception as e:
        if not ordinary(e):
            raise
        return 0


def as_python(key):
    kind, v = key
    if kind == TEXT:
        return v.decode("utf-8")
    return v


def compare_keys(a, b):
    ka, kb = a[0], b[0]
    if ka == NULL or kb == NULL:
        return (ka != NULL) - (kb != NULL)
    if ka in (INT, FLOAT) and kb in (INT, FLOAT):
        x, y = a[1], b[1]  # exact, also an int against a float; NaN is equal
        return -1 if x < y else 1 if x > y else 0
    if ka == TEXT and kb == TEXT:
        return (a[1] > b[1]) - (a[1] < b[1])
    return python_compare(as_python(a), as_python(b))


def drop_repeated_names(cols):
    """A column named like an earlier one only compares rows that the earlier
    one found equal, and finds them equal again: it is dropped."""
    seen = set()
    out = []
    for name, descending in cols:
        if name not in seen:
            seen.add(name)
            out.append((name, descending))
    return out


def key_names(items):
    names = set()
    for item in items:
        if isinstance(item, dict):
            for k in dict.keys(item):
                if isinstance(k, str) and utf8(k) is not None:
                    names.add(k)
    return names


def multikeysort(items, columns, inplace=False):
    """The expected result: the new list, or None after sorting `items`."""
    if columns is None:
        return None if inplace else list(items)
    names = key_names(items)
    cols = drop_repeated_names([c for c in parse_columns(columns) if c[0] in names])
    if not cols:
        return None if inplace else list(items)
    records = [[key_value(item, name) for name, _ in cols] for item in items]

    def compare(i, j):
        for c, (_, descending) in enumerate(cols):
            o = compare_keys(records[i][c], records[j][c])
            if o:
                return -o if descending else o
        return 0

    order = sorted(range(len(items)), key=functools.cmp_to_key(compare))  # stable
    out = [items[i] for i in order]
    if inplace:
        items[:] = out
        return None
    return out


def is_nan(v):
    return isinstance(v, float) and math.isnan(v)


def totally_ordered(items, cols):
    """True when every column's values fall in one totally ordered family, so
    that any correct stable sort gives the one order the model gives: numbers
    (ints of any size and floats, no NaN), or texts; missing keys and None in
    either case."""
    for name, _ in cols:
        kinds = {}
        for it in items:
            kind, payload = key_value(it, name)
            if kind == OBJECT and type(payload) is int:
                kind = INT  # a wide int: a number like any other
            kinds.setdefault(kind, []).append(payload)
        kinds.pop(NULL, None)
        if OBJECT in kinds or (TEXT in kinds and len(kinds) > 1):
            return False
        if any(math.isnan(v) for v in kinds.get(FLOAT, ())):
            return False
    return True
