"""What the fuzz targets of the catalogue (FUZZ) build their inputs from.

A fuzz target takes a FuzzedDataProvider (atheris's, under libFuzzer: fuzz/fuzz_tavo.py
and tools/fuzz_check.sh) and builds a call's arguments from its bytes: texts from nasty
palettes (titlecase letters, astral code points, digits of many scripts, every
White_Space character, the vulgar fractions, lone surrogates), rows of dictionaries with
mixed values, nested lists and tuples. `RandomData` is a provider over a seeded random
source, with the methods the targets use, so that the suite runs every target too.
"""
import math
import random

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


def sort_columns(fdp):
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


class RandomData:
    """The methods of atheris.FuzzedDataProvider that the targets use, over random.Random(seed)."""

    def __init__(self, seed):
        self.rng = random.Random(seed)

    def ConsumeIntInRange(self, lo, hi):  # noqa: N802 - atheris's names
        return self.rng.randint(lo, hi)

    def ConsumeBool(self):  # noqa: N802
        return self.rng.random() < 0.5

    def ConsumeInt(self, nbytes):  # noqa: N802
        bits = 8 * nbytes
        return self.rng.randrange(-(1 << (bits - 1)), 1 << (bits - 1))

    def ConsumeRegularFloat(self):  # noqa: N802
        return self.rng.choice([self.rng.uniform(-1e6, 1e6), self.rng.uniform(-1, 1) * 10.0 ** self.rng.randint(-300, 300)])

    def ConsumeBytes(self, n):  # noqa: N802
        return bytes(self.rng.randrange(256) for _ in range(n))

    def ConsumeUnicodeNoSurrogates(self, n):  # noqa: N802
        return "".join(chr(self.rng.choice([self.rng.randrange(0xD800), self.rng.randrange(0xE000, 0x110000)]))
                       for _ in range(n))
