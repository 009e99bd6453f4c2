"""Coverage-guided fuzz target (atheris, libFuzzer) over the whole module.

Each input picks a function and builds its arguments from the fuzzer's bytes:
texts from nasty palettes (titlecase letters, astral code points, digits of
many scripts, every White_Space character, the vulgar fractions, lone
surrogates), rows of dictionaries with mixed values for multikeysort, nested
lists and tuples for the sequence functions. Results are compared with the
pure-Python models of tests/models where the inputs are ones the model
defines an exact answer for, and with invariants otherwise.
A crash, a sanitizer report or a mismatch stops the fuzzer with the input saved.

Run through tools/fuzz_check.sh, which builds the module with coverage and
AddressSanitizer instrumentation and preloads the runtime.
"""
import math
import os
import sys

import atheris

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests"))

import _tavo  # noqa: E402

try:  # the package tavo: parse with a decimal comma
    from tavo import parse as parse_with_mark  # noqa: E402
except ImportError:
    parse_with_mark = None


from models import multikeysort as sort_model  # noqa: E402
from models import number as number_model  # noqa: E402
from models import same  # noqa: E402
from models import sequences as iter_models  # noqa: E402
from models import text as text_model  # noqa: E402

CASE = text_model.case_data()
DIGITS = text_model.digit_data()

PALETTE = (
    "aAzZ09_-. ,()$%+e"
    "\u01c5\u01c8\u01cb\u01f2\u1f88\u1fbc"  # titlecase letters
    "\u0130\u00df\u0149\u01f0\u1e9e\u03a3\u03c3\u03c2\u1f80\ufb00\u0587"  # expanding and special mappings
    "\u00c0\u00e9\u2160\u2170\u24b6\u24d0\u00aa\u00ba\u02b0\u0345"  # Other_Uppercase / Other_Lowercase
    "\U0001d400\U0001d41a\U0001e900\U0001e922\U00010400\U00010428\U0001f600\U0010ffff"  # astral
    "\u0660\u0663\u06f5\u0966\u09e7\u0e53\uff10\uff19\U0001d7ce\U0001d7ff\U0001e950\u00b2\u2460"  # digits
    "\t\n\x0b\x0c\r\x1c\x85\xa0\u1680\u2000\u2007\u200a\u2028\u2029\u202f\u205f\u3000\u200b\ufeff"  # spaces
    "\u00bc\u00bd\u00be\u2153\u2154\u2155\u2156\u2157\u2158\u2159\u215a\u215b\u215c\u215d\u215e"
    "\u2150\u2151\u2152\u215f\u2189\u2044/"
)
SURROGATES = "\ud800\udbff\udc00\udfff"


def text(fdp, allow_surrogates=True):
    mode = fdp.ConsumeIntInRange(0, 4)
    n = fdp.ConsumeIntInRange(0, 48)
    if mode == 0:
        return fdp.ConsumeUnicodeNoSurrogates(n)
    if mode == 1 or (mode == 4 and not allow_surrogates):
        return "".join(PALETTE[fdp.ConsumeIntInRange(0, len(PALETTE) - 1)] for _ in range(n))
    if mode == 2:
        return "".join(chr(fdp.ConsumeIntInRange(0, 0x7F)) for _ in range(n))
    if mode == 3:
        return "".join(chr(fdp.ConsumeIntInRange(0, 0x10FFFF)) for _ in range(n)
                       ) if allow_surrogates else fdp.ConsumeUnicodeNoSurrogates(n)
    pieces = PALETTE + SURROGATES
    return "".join(pieces[fdp.ConsumeIntInRange(0, len(pieces) - 1)] for _ in range(n))


def has_surrogate(s):
    return any(0xD800 <= ord(c) <= 0xDFFF for c in s)


class Sub(str):
    pass


def maybe_subclass(fdp, s):
    return Sub(s) if fdp.ConsumeIntInRange(0, 7) == 0 else s


def expect_encode_error(fn, s):
    try:
        fn(s)
    except UnicodeEncodeError:
        return
    raise AssertionError(f"{fn.__name__}({s!r}) did not raise UnicodeEncodeError")


# --- text and numbers ----------------------------------------------------------------


def fuzz_case(fdp, fn, model):
    s = text(fdp)
    if has_surrogate(s):
        return expect_encode_error(fn, s)
    out = fn(maybe_subclass(fdp, s))
    assert type(out) is str
    expected = model(s, CASE)
    assert out == expected, (fn.__name__, s, out, expected)


def fuzz_uncamel(fdp):
    fuzz_case(fdp, _tavo.uncamel, text_model.uncamel)


def fuzz_underscore(fdp):
    fuzz_case(fdp, _tavo.underscore_to_camelcase, text_model.underscore_to_camelcase)


def fuzz_sanitize(fdp):
    s = text(fdp)
    if fdp.ConsumeBool():  # digits and spaces around fractions are what matter most
        s = "".join(c + ("1" if i % 3 == 0 else "\u00bd") for i, c in enumerate(s))
    if has_surrogate(s):
        return expect_encode_error(_tavo.sanitize_vulgar_string, s)
    out = _tavo.sanitize_vulgar_string(maybe_subclass(fdp, s))
    assert type(out) is str
    expected, others = text_model.sanitize(s, DIGITS)
    assert out == expected or out in others, (s, out, expected)


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
    if parse_with_mark is not None:
        comma = parse_with_mark(s, decimal=",")
        assert same(comma, number_model.parse_model(s, ",")), (s, comma)


# --- multikeysort ------------------------------------------------------------------------

NAMES = ["a", "b", "-a", "", "\u00e9", "\U0001f600", "k"]


class Lookup:
    """A non-dict item with its own __getitem__."""

    def __init__(self, d):
        self.d = d

    def __getitem__(self, key):
        return self.d[key]


def value(fdp):
    kind = fdp.ConsumeIntInRange(0, 13)
    if kind == 0:
        return None
    if kind == 1:
        return fdp.ConsumeIntInRange(-3, 3)
    if kind == 2:
        return fdp.ConsumeInt(fdp.ConsumeIntInRange(1, 40))
    if kind == 3:
        return fdp.ConsumeRegularFloat()
    if kind == 4:
        return [math.nan, -0.0, 0.0, math.inf, -math.inf, 5e-324, 1e308][fdp.ConsumeIntInRange(0, 6)]
    if kind == 5:
        return text(fdp, allow_surrogates=False)
    if kind == 6:
        return fdp.ConsumeBool()
    if kind == 7:
        return (fdp.ConsumeIntInRange(0, 2), fdp.ConsumeIntInRange(0, 2))
    if kind == 8:
        return 2 ** fdp.ConsumeIntInRange(60, 1100) * (1 if fdp.ConsumeBool() else -1)
    if kind == 9:
        return Sub(text(fdp, allow_surrogates=False))
    if kind == 10:
        return fdp.ConsumeBytes(2)
    if kind == 11:
        return "\ud800"
    if kind == 12:
        return fdp.ConsumeIntInRange(-2 ** 63, 2 ** 63 - 1)
    return float(fdp.ConsumeIntInRange(-5, 5))


def row(fdp):
    kind = fdp.ConsumeIntInRange(0, 11)
    d = {NAMES[fdp.ConsumeIntInRange(0, len(NAMES) - 1)]: value(fdp) for _ in range(fdp.ConsumeIntInRange(0, 3))}
    if kind == 0:
        return Lookup(d)
    if kind == 1:
        return [None, 5, "x", (1,)][fdp.ConsumeIntInRange(0, 3)]
    if kind == 2:
        d[1] = 2  # a non-str key
    return d


def columns(fdp):
    kind = fdp.ConsumeIntInRange(0, 6)
    names = [NAMES[fdp.ConsumeIntInRange(0, len(NAMES) - 1)] for _ in range(fdp.ConsumeIntInRange(0, 3))]
    if kind == 0:
        return names[0] if names else ""
    if kind == 1:
        return tuple(names)
    if kind == 2:
        return None
    if kind == 3:
        return names + [5, None]
    if kind == 4:
        return 7
    return names


def fuzz_multikeysort(fdp):
    items = [row(fdp) for _ in range(fdp.ConsumeIntInRange(0, 12))]
    cols = columns(fdp)
    inplace = fdp.ConsumeIntInRange(0, 2)
    before = list(items)
    if inplace == 2:
        out = _tavo.multikeysort(items, cols)
    else:
        out = _tavo.multikeysort(items, cols, bool(inplace))
    if inplace == 1:
        assert out is None
        got = items
    else:
        assert type(out) is list and out is not items
        assert all(a is b for a, b in zip(items, before)), "the input list changed"
        got = out
    assert sorted(map(id, got)) == sorted(map(id, before)), "not a permutation of the items"
    if cols is not None:
        names = sort_model.key_names(before)
        kept = [c for c in sort_model.parse_columns(cols) if c[0] in names]
        if sort_model.totally_ordered(before, kept):
            expected = sort_model.multikeysort(list(before), cols)
            assert all(a is b for a, b in zip(got, expected)), (before, cols, got, expected)


# --- sequences -----------------------------------------------------------------------------


def nested(fdp, depth=0):
    kind = fdp.ConsumeIntInRange(0, 6 if depth < 6 else 3)
    if kind <= 3:
        return [None, fdp.ConsumeIntInRange(0, 3), "s", 2.5][kind]
    items = [nested(fdp, depth + 1) for _ in range(fdp.ConsumeIntInRange(0, 4))]
    if kind == 4:
        return items
    if kind == 5:
        return tuple(items)
    return type("L", (list,), {})(items)


def fuzz_sequences(fdp):
    which = fdp.ConsumeIntInRange(0, 3)
    if which == 0:
        args = [nested(fdp) for _ in range(fdp.ConsumeIntInRange(0, 3))]
        out = _tavo.collapse(*args)
        expected = iter_models.collapse(*args)
        assert len(out) == len(expected) and all(a is b for a, b in zip(out, expected))
    elif which == 1:
        values = [None if fdp.ConsumeIntInRange(0, 2) == 0 else value(fdp) for _ in range(fdp.ConsumeIntInRange(0, 10))]
        out = _tavo.backfill(values)
        expected = iter_models.backfill(values)
        assert len(out) == len(expected) and all(a is b for a, b in zip(out, expected))
    elif which == 2:
        keys = ["a", "b", "c", "\U0001f600", Sub("a")]
        rows = [{keys[fdp.ConsumeIntInRange(0, 4)]: (None if fdp.ConsumeBool() else fdp.ConsumeIntInRange(0, 9))
                 for _ in range(fdp.ConsumeIntInRange(0, 3))} for _ in range(fdp.ConsumeIntInRange(0, 8))]
        out = _tavo.backfill_iterdict(rows)
        assert same(out, iter_models.backfill_iterdict(rows)), (rows, out)
    else:
        pool = [0, 1, 2, 1.0, "x", None, math.nan, (1,)]
        ref = [pool[fdp.ConsumeIntInRange(0, 7)] for _ in range(fdp.ConsumeIntInRange(0, 5))]
        comp = [pool[fdp.ConsumeIntInRange(0, 7)] for _ in range(fdp.ConsumeIntInRange(0, 8))]
        out = _tavo.same_order(ref, comp)
        assert out is iter_models.same_order(ref, comp), (ref, comp, out)


TARGETS = [fuzz_uncamel, fuzz_underscore, fuzz_sanitize, fuzz_parse, fuzz_multikeysort, fuzz_sequences]


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    TARGETS[fdp.ConsumeIntInRange(0, len(TARGETS) - 1)](fdp)


def main():
    print("fuzzing:", ", ".join(t.__name__ for t in TARGETS), flush=True)
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
