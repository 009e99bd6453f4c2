"""Pure-Python models of the text transforms, for comparison with the module.

The Unicode data is read straight from the Unicode Character Database files
(never from the interpreter's `unicodedata`, which is older), with a parser of
its own, independent of tools/gen_unicode_tables.py. `ucd_dir()` finds the
repository's copy in tools/ucd.
"""
import functools
import math
import os
from decimal import ROUND_HALF_EVEN, Decimal, localcontext

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def ucd_dir():
    """The folder holding 17.0.0/ and 16.0.0/: $TAVO_UCD_DIR, else the
    repository's own copy in tools/ucd (committed, so never missing)."""
    candidates = [os.environ.get("TAVO_UCD_DIR"), os.path.join(REPO, "tools", "ucd")]
    for c in candidates:
        if c and os.path.isfile(os.path.join(c, "17.0.0", "UnicodeData.txt")) and \
                os.path.isfile(os.path.join(c, "16.0.0", "UnicodeData.txt")):
            return c
    raise FileNotFoundError("no Unicode data: tools/ucd is missing and $TAVO_UCD_DIR is not set")


def _rows(path):
    with open(path, encoding="utf-8") as f:
        for line in f:
            body = line.partition("#")[0]
            if body.strip():
                yield [x.strip() for x in body.split(";")]


def _points(field):
    first, _, last = field.partition("..")
    return range(int(first, 16), int(last or first, 16) + 1)


def _property(path, name):
    return frozenset(cp for row in _rows(path) if row[1] == name for cp in _points(row[0]))


class CaseData:
    """Unicode 17.0: Uppercase, Lowercase, full unconditional case mappings."""

    def __init__(self, folder):
        self.lower = {}
        self.upper = {}
        for row in _rows(os.path.join(folder, "UnicodeData.txt")):
            cp = int(row[0], 16)
            if row[12]:
                self.upper[cp] = chr(int(row[12], 16))
            if row[13]:
                self.lower[cp] = chr(int(row[13], 16))
        for row in _rows(os.path.join(folder, "SpecialCasing.txt")):
            if len(row) > 4 and row[4]:
                continue  # a condition: context or language dependent
            cp = int(row[0], 16)
            self.lower[cp] = "".join(chr(int(x, 16)) for x in row[1].split())
            self.upper[cp] = "".join(chr(int(x, 16)) for x in row[3].split())
        props = os.path.join(folder, "DerivedCoreProperties.txt")
        self.uppercase = _property(props, "Uppercase")
        self.lowercase = _property(props, "Lowercase")

    def to_lower(self, ch):
        return self.lower.get(ord(ch), ch)

    def to_upper(self, ch):
        return self.upper.get(ord(ch), ch)

    def is_upper(self, ch):
        return ord(ch) in self.uppercase

    def is_lower(self, ch):
        return ord(ch) in self.lowercase

    def interesting(self):
        """Every code point with a case property or mapping."""
        return sorted(set(self.lower) | set(self.upper) | self.uppercase | self.lowercase)


class DigitData:
    """Unicode 16.0: Nd digits with their values, White_Space."""

    def __init__(self, folder):
        nd = _property(os.path.join(folder, "DerivedGeneralCategory.txt"), "Nd")
        self.digits = {}
        for row in _rows(os.path.join(folder, "UnicodeData.txt")):
            cp = int(row[0], 16)
            if cp in nd:
                self.digits[chr(cp)] = int(row[6])
        assert len(self.digits) == len(nd)
        self.white = frozenset(chr(c) for c in _property(os.path.join(folder, "PropList.txt"), "White_Space"))


@functools.lru_cache(maxsize=None)
def case_data():
    return CaseData(os.path.join(ucd_dir(), "17.0.0"))


@functools.lru_cache(maxsize=None)
def digit_data():
    return DigitData(os.path.join(ucd_dir(), "16.0.0"))


# --- case conversion -----------------------------------------------------------------


def is_ascii_digit(ch):
    return "0" <= ch <= "9"


def uncamel(s, cd):
    c = list(s)
    out = []
    for i, ch in enumerate(c):
        if not cd.is_upper(ch):
            out.append(ch)
            continue
        if i > 0:
            prev = c[i - 1]
            if cd.is_lower(prev) or is_ascii_digit(prev) or (
                    cd.is_upper(prev) and i + 1 < len(c) and cd.is_lower(c[i + 1])):
                out.append("_")
        out.append(cd.to_lower(ch))
    return "".join(out)


def underscore_to_camelcase(s, cd):
    out = []
    after_underscore = False
    for ch in s:
        if ch == "_":
            after_underscore = True
            continue
        out.append(cd.to_upper(ch) if after_underscore and out else cd.to_lower(ch))
        after_underscore = False
    return "".join(out)


# --- vulgar fractions --------------------------------------------------------------------

FRACTIONS = {
    "\u00bc": 1 / 4, "\u00bd": 1 / 2, "\u00be": 3 / 4,
    "\u2153": 1 / 3, "\u2154": 2 / 3, "\u2155": 1 / 5, "\u2156": 2 / 5, "\u2157": 3 / 5,
    "\u2158": 4 / 5, "\u2159": 1 / 6, "\u215a": 5 / 6, "\u215b": 1 / 8, "\u215c": 3 / 8,
    "\u215d": 5 / 8, "\u215e": 7 / 8,
}


def format_decimal(x):
    """Returns (text, other): `other` is the text with the opposite rounding
    when the six-place rounding of the exact value is a tie, else None."""
    t = x * 1e6
    if math.isinf(t):
        return "inf", None
    r = math.floor(t)
    if t - r >= 0.5:
        r += 1
    y = float(r) / 1e6
    if math.isinf(y):
        return "inf", None
    with localcontext() as ctx:
        ctx.prec = 1000  # every double's exact value fits
        exact = Decimal(y)
        step = Decimal("0.000001")
        q = exact.quantize(step, rounding=ROUND_HALF_EVEN)
        other = None
        if abs(exact - q) == step / 2:
            other = _strip(format(q + step if q < exact else q - step, "f"))
        return _strip(format(q, "f")), other


def _strip(text):
    assert "." in text and "e" not in text.lower()
    return text.rstrip("0").rstrip(".")


def fraction_matches(s, dd):
    """(start, end, digits, fraction) of every match, by the plain rule: at each
    start take the longest digit run, then the longest white-space run; a match
    when a table fraction follows. The next search begins after the match."""
    out = []
    pos = 0
    n = len(s)
    while pos < n:
        for p in range(pos, n):
            q = p
            while q < n and s[q] in dd.digits:
                q += 1
            r = q
            while r < n and s[r] in dd.white:
                r += 1
            if r < n and s[r] in FRACTIONS:
                out.append((p, r + 1, s[p:q], s[r]))
                pos = r + 1
                break
        else:
            break
    return out


def digits_number(digits, dd):
    return float("".join(str(dd.digits[d]) for d in digits))


def sanitize(s, dd, matches=None):
    """Returns (text, alternatives): alternatives lists other acceptable texts
    (six-place ties rounded the other way)."""
    if matches is None:
        matches = fraction_matches(s, dd)
    pieces = []
    alternatives = []
    pos = 0
    for start, end, digits, fraction in matches:
        pieces.append(s[pos:start])
        v = FRACTIONS[fraction]
        if digits:
            text, other = format_decimal(digits_number(digits, dd) + v)
        else:
            text, other = format_decimal(v)
            if start != 0:
                text = " " + text
                other = other and " " + other
        if other:
            alternatives.append(("".join(pieces), text, other))
        pieces.append(text)
        pos = end
    pieces.append(s[pos:])
    result = "".join(pieces)
    others = []
    for head, text, other in alternatives:
        others.append(head + other + result[len(head) + len(text):])
    return result, others
