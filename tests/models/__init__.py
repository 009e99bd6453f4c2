"""Pure-Python models of the module's functions, written from their documented
rules, and the comparison that judges a result against a model's.

- `models.text`: uncamel, underscore_to_camelcase and sanitize_vulgar_string, with
  the Unicode data read from the Unicode Character Database files in tools/ucd;
- `models.number`: parse;
- `models.multikeysort`: multikeysort and its key values;
- `models.sequences`: collapse, backfill, backfill_iterdict and same_order;
- `models.keys`: tavo.keys.uncamel and tavo.keys.underscore_to_camelcase.

The tests, the fuzz target (fuzz/) and the benchmark's pure-Python references
(bench/reference.py) import them from here.
"""
import math


def same(a, b):
    """Equal values of the same types, recursively; NaN equals NaN; -0.0 is not 0.0."""
    if a is b:
        return True
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return (math.isnan(a) and math.isnan(b)) or (a == b and math.copysign(1, a) == math.copysign(1, b))
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b
