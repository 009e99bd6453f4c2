"""A pure-Python model of tavo.price, written from its rules over characters (the module reads
UTF-8 bytes); the currency entries are those of the committed table."""
import math
import os
import re

from models.text import REPO

TABLE = os.path.join(REPO, "src", "numparse", "currency_table.inc")


def _entries():
    with open(TABLE, encoding="utf-8") as f:
        source = f.read()
    out = {}
    for literal, code in re.findall(r'^    \{"((?:[^"\\]|\\.)*)", \d+, "([A-Z]{3})"\},', source, re.M):
        raw = re.sub(rb"\\([0-7]{3})", lambda m: bytes([int(m.group(1), 8)]), literal.encode("ascii"))
        out[raw.decode("utf-8")] = code
    return out


CODES = _entries()
ENTRIES = list(CODES)
# Currencies of thousandths, written with three decimals ('KD 12.500').
THREE_DECIMALS = {"BHD", "JOD", "KWD", "OMR", "TND", "LYD"}
# Longest first (in UTF-8 bytes), as the module tries them.
BY_FIRST = {}
for _e in sorted(ENTRIES, key=lambda e: (-len(e.encode()), e.encode())):
    BY_FIRST.setdefault(_e[0], []).append(_e)
LONGEST = 24

# the spaces, and the characters that show nothing (marks of direction, zero widths)
_WIDE = "".join(map(chr, range(0x2000, 0x2010)))  # the spaces of U+2000..U+200A, then those that show nothing
SPACES = " \t\n\r\u00a0\u202f\u3000\u2060\ufeff" + _WIDE
GROUP_SPACES = " \u00a0\u202f\u3000\u2060\ufeff'\u2019\u02bc" + _WIDE
# the named references to a space left over from a web page
SPACE_ENTITIES = ("&nbsp;", "&thinsp;", "&ensp;", "&emsp;", "&numsp;", "&hairsp;", "&puncsp;")
# a numeric reference left over from a web page ('&#160;', '&#xA0;')
NUMERIC_ENTITY = re.compile(r"&#(?:([0-9]{1,6})|[xX]([0-9a-fA-F]{1,5}));")
SUPERSCRIPTS = {c: i for i, c in enumerate("\u2070\u00b9\u00b2\u00b3\u2074\u2075\u2076\u2077\u2078\u2079")}
MINUS = "-\u2212\u2013\u2014"
DASHES = "-\u2013\u2014"
PERCENT = "%\u066a\uff05"
RANGE_WORDS = {"~", "\uff5e", "\u301c", "to", "bis", "\u00e0", "a", "al", "au", "tot", "till", "til", "do", "\u0434\u043e"}


def is_digit(c):
    return "0" <= c <= "9"


def is_letter(c):
    """A letter a word goes on across: ASCII, or Latin, Greek, Cyrillic, Armenian, Hebrew and
    Arabic (U+00C0..U+06FF)."""
    return ("a" <= c.lower() <= "z" and c.isascii()) or "\u00c0" <= c <= "\u06ff"


def letter_before(t, i):
    return i > 0 and is_letter(t[i - 1])


def letter_at(t, i):
    return i < len(t) and is_letter(t[i])


def fits(t, at, e):
    if is_letter(e[0]) and letter_before(t, at):
        return False
    return not (is_letter(e[-1]) and letter_at(t, at + len(e)))


# the currency signs HTML names; a numeric reference stands for a sign past ASCII, or '$'
NAMED_CURRENCY_ENTITIES = {"&euro;": "€", "&pound;": "£", "&yen;": "¥", "&cent;": "¢", "&dollar;": "$"}


def entity_currency_at(t, i):
    """(length, the currency it stands for) of an HTML reference to a currency sign at i, or
    (0, None)."""
    for name, sign in NAMED_CURRENCY_ENTITIES.items():
        if t.startswith(name, i):
            return (len(name), sign) if sign in CODES else (0, None)
    m = NUMERIC_ENTITY.match(t, i)
    if m:
        code = entity_code(m)
        if (code == 0x24 or 0x80 <= code < 0x110000) and not 0xD800 <= code < 0xE000 and chr(code) in CODES:
            return len(m.group(0)), chr(code)
    return 0, None


def currency_text(t, at, n):
    """The currency that the n characters at `at` are: a sign as written, or the one an HTML
    reference stands for."""
    return entity_currency_at(t, at)[1] if t.startswith("&", at) else t[at:at + n]


def currency_from(t, i):
    if i >= len(t):
        return 0
    if t[i] == "&":
        return entity_currency_at(t, i)[0]
    for e in BY_FIRST.get(t[i], ()):
        if t.startswith(e, i) and fits(t, i, e):
            return len(e)
    return 0


def currency_until(t, end):
    if end and t[end - 1] == ";":
        for back in range(4, 11):
            if back <= end and t[end - back] == "&":
                n = entity_currency_at(t, end - back)[0]
                return n if n == back else 0
        return 0
    best = None
    for e in ENTRIES:
        n = len(e)
        if n <= end and len(e.encode()) <= LONGEST and t[end - n:end] == e and fits(t, end - n, e):
            if best is None or len(e.encode()) > len(best.encode()):
                best = e
    return len(best) if best else 0


def entity_code(m):
    return int(m.group(1)) if m.group(1) else int(m.group(2), 16)


def entity_space_at(t, i):
    """The length of a reference to a space at i ("&nbsp;", "&thinsp;", "&#160;"), or 0."""
    for name in SPACE_ENTITIES:
        if t.startswith(name, i):
            return len(name)
    m = NUMERIC_ENTITY.match(t, i)
    return len(m.group(0)) if m and entity_code(m) < 0x110000 and chr(entity_code(m)) in SPACES.replace("\t", "").replace("\n", "").replace("\r", "") else 0


def space_at(t, i):
    """The length of the space at i, or 0."""
    if i < len(t) and t[i] in SPACES:
        return 1
    return entity_space_at(t, i)


def entity_places(t, a, b):
    """The places of t[a:b] that numeric references take."""
    return {i for m in NUMERIC_ENTITY.finditer(t, a, b) for i in range(m.start(), m.end())}


def digits_in(t, a, b):
    """The digits of t[a:b], but for those of numeric references ('1&#160;299')."""
    inside = entity_places(t, a, b)
    return "".join(c for i, c in enumerate(t[a:b], a) if is_digit(c) and i not in inside)


def skip_spaces(t, i):
    while n := space_at(t, i):
        i += n
    return i


def skip_spaces_back(t, i):
    while True:
        if i > 0 and t[i - 1] in SPACES:
            i -= 1
            continue
        for back in range(4, 11):
            if back <= i and t[i - back] == "&":
                if entity_space_at(t, i - back) == back:
                    i -= back
                    break
                return i
        else:
            return i


def three_digits_at(t, i):
    return (i + 3 <= len(t) and all(is_digit(c) for c in t[i:i + 3])
            and (i + 3 == len(t) or not is_digit(t[i + 3])))


def figure_end(t, i):
    first = True
    while True:
        g = i
        while i < len(t) and is_digit(t[i]):
            i += 1
        group = i - g
        if i + 1 < len(t) and t[i] in ".," and is_digit(t[i + 1]):
            i += 1
            first = False
            continue
        sep = 1 if i < len(t) and t[i] in GROUP_SPACES else entity_space_at(t, i)
        if sep and (group <= 3 if first else group == 3) and three_digits_at(t, i + sep):
            i += sep
            first = False
            continue
        return i


def decimal_of(t, start, end, mark):
    marks = [i for i in range(start, end) if t[i] in ".,"]
    if not marks:
        return None
    if mark is not None:
        at = [i for i in marks if t[i] == mark]
        return at[0] if len(at) == 1 else None
    kinds = {t[i] for i in marks}
    if len(kinds) == 2:
        return marks[-1]
    if len(marks) > 1:
        return None
    last = marks[0]
    whole = digits_in(t, start, last)
    # three digits after it: a thousands group, but after more than three digits with no space
    # between them ('1250.000')
    if end - last == 4 and whole not in ("", "0") and (len(whole) <= 3 or last - start != len(whole)):
        return None
    return last


class Figure:
    pass


def figure_at(t, pos, mark):
    f = Figure()
    f.start, f.end = pos, figure_end(t, pos)
    f.cents = None
    if pos >= 1 and t[pos - 1] in ".," and (pos == 1 or (t[pos - 2].isascii() and not t[pos - 2].isalnum()
                                                          and t[pos - 2] not in ".," and not currency_until(t, pos))
                                            or t[pos - 2] in MINUS[1:]):
        f.start = pos - 1  # '$.99', '–.95': a decimal mark before the digits
    # '%20 İndirim': a percentage, its sign first (not that of the number before: '29%12,900원')
    if f.start >= 1 and t[f.start - 1] == "%" and not (f.start >= 2 and is_digit(t[f.start - 2])):
        f.percent, f.next = True, f.end
        return f
    f.no_cents = f.percent = f.negative = False
    f.shift = 0
    f.decimal_at, f.fraction = None, 0
    f.currency = None
    after = f.end
    if after + 1 < len(t) and t[after] in ".,:" and t[after + 1] in DASHES and decimal_of(t, f.start, f.end, mark) is None:
        q = after + 1
        while q < len(t) and t[q] in DASHES:
            q += 1
        if q >= len(t) or not is_digit(t[q]):
            f.no_cents, after = True, q
    if not f.no_cents:
        f.decimal_at = decimal_of(t, f.start, f.end, mark)
        if f.decimal_at is not None:
            f.fraction = len(digits_in(t, f.decimal_at + 1, f.end))
    marks = [i for i in range(f.start, f.end) if t[i] in ".,"]
    # '19⁹⁹': two superscript digits after a whole number are its cents
    if not marks and not f.no_cents and t[after:after + 2] and all(c in SUPERSCRIPTS for c in t[after:after + 2]) \
            and len(t[after:after + 2]) == 2 and not (after + 2 < len(t) and t[after + 2] in SUPERSCRIPTS):
        f.cents = "".join(str(SUPERSCRIPTS[c]) for c in t[after:after + 2])
        f.fraction = 2
        after += 2
    # '12:95 kr': cents after a colon before a currency (Swedish)
    if (not marks and not f.no_cents and f.cents is None and re.match(r":[0-9]{2}(?![0-9])", t[after:])
            and currency_from(t, skip_spaces(t, after + 3))):
        f.cents, f.fraction = t[after + 1:after + 3], 2
        after += 3

    # 'CHF –.95': a dash against a leading mark before two digits is no whole units, no sign
    lead = f.start
    if f.start == pos - 1 and f.end == pos + 2 and f.start >= 1 and t[f.start - 1] in DASHES:
        lead -= 1
    b = skip_spaces_back(t, lead)
    minus = None

    def take_minus(b, start):
        if b == 0 or t[b - 1] not in MINUS:
            return None, b
        q = skip_spaces_back(t, b - 1)
        if q and is_digit(t[q - 1]):
            return None, b
        c = currency_until(t, q)
        if c:
            r = skip_spaces_back(t, q - c)
            if r and is_digit(t[r - 1]):
                return None, b
        # spaced off what follows, a sign stands at the start or after '(', ':', '='
        if b != start and q and t[q - 1] not in "(:=":
            return None, b
        return b - 1, skip_spaces_back(t, b - 1)

    minus, b = take_minus(b, lead)
    before = None
    c = currency_until(t, b)
    if c:
        before = (b - c, c)
        b = skip_spaces_back(t, b - c)
        if minus is None:
            minus, b = take_minus(b, before[0])
    # after a word, parentheses hold a note ('Versandkosten (4,95 €)'); a currency is no word
    outside = None  # a currency before the '(': 'USD (1,234.00)', '$(12.50)'
    opened = False
    if b > 0 and t[b - 1] == "(":
        q = skip_spaces_back(t, b - 1)
        c = currency_until(t, q)
        if c:
            outside = (q - c, c)
        opened = bool(c) or not letter_before(t, q)
    f.prefix = b

    # 'k' or 'M' of a price: with a currency before the number or after the letter
    if f.cents is None and after < len(t) and t[after] in "kKmM" and not letter_at(t, after + 1) and (
            (before and not (after + 1 < len(t) and not t[after + 1].isascii()))
            or (not before and currency_from(t, skip_spaces(t, after + 1)))):
        f.shift = 3 if t[after] in "kK" else 6
        after += 1
    a = skip_spaces(t, after)
    if a < len(t) and t[a] in PERCENT:
        f.percent, f.next = True, a + 1
        return f
    if a < len(t) and (t[a] == "*" or t[a] in SUPERSCRIPTS):  # '12,99* €', '12,99¹ €': a footnote's marks
        q = a
        while q < len(t) and t[q] == "*":
            q += 1
        while q < len(t) and t[q] in SUPERSCRIPTS:
            q += 1
        q = skip_spaces(t, q)
        if currency_from(t, q):
            a = q
    after_at = a
    after_size = 0
    if not f.shift or not before:
        after_size = currency_from(t, a)
        if after_size and ("\n" in t[after:a] or "\r" in t[after:a]):
            # 'Taglia 44\n€ 39,90': a currency on the next line, before a number there, is that one's
            q = a + after_size
            while q < len(t) and space_at(t, q) and t[q] not in "\n\r":
                q += space_at(t, q)
            if q < len(t) and is_digit(t[q]):
                after_size = 0
        if after_size and a != after and a + after_size < len(t) and is_digit(t[a + after_size]):
            # '5 $10': the currency of the next number, but for one with its own ('19,99 €29,99 €')
            # or one that counts something after an amount with a separator ('19,99 €4 Stück')
            next_end = a + after_size  # its digits, the marks between them, spaces before three digits
            while next_end < len(t):
                sep = 1 if t[next_end] in GROUP_SPACES else entity_space_at(t, next_end)
                if is_digit(t[next_end]) or (t[next_end] in ".," and next_end + 1 < len(t)
                                             and is_digit(t[next_end + 1])):
                    next_end += 1
                elif sep and three_digits_at(t, next_end + sep):
                    next_end += sep
                else:
                    break
            q = skip_spaces(t, next_end)
            amount_like = f.end - f.start != len(digits_in(t, f.start, f.end))
            if not currency_from(t, q) and not (amount_like and (letter_at(t, q) or (next_end < len(t)
                                                                                    and t[next_end] in DASHES))):
                after_size = 0
        if after_size:
            f.next = a + after_size
            # '12€50': cents after the currency that follows the whole amount
            if (not before and a == after and f.decimal_at is None and not f.no_cents and f.cents is None and not f.shift
                    and re.match(r"[0-9]{2}(?![0-9]|[.,][0-9])", t[f.next:])):
                f.cents, f.fraction = t[f.next:f.next + 2], 2
                f.next += 2
            a = skip_spaces(t, f.next)
    closed = a < len(t) and t[a] == ")"
    if not after_size:
        f.next = after

    def single(at, n):
        return n == 1 and t[at].isascii() and t[at].isalpha()

    if before and not (after_size and single(*before) and not single(after_at, after_size)):
        f.currency = currency_text(t, *before)
    elif after_size:
        f.currency = currency_text(t, after_at, after_size)
    if opened and closed and not before and not after_size:
        # a negative amount's currency outside its parentheses: '$(1,234.00)', '(12,50) €'
        q = skip_spaces(t, a + 1)
        n = currency_from(t, q)
        if outside:
            f.currency = currency_text(t, *outside)
        elif n and not (q + n < len(t) and is_digit(t[q + n])):
            f.currency = currency_text(t, q, n)
            f.next = q + n
    f.negative = minus is not None or (opened and closed)
    # 'KD 12.500': one mark with three digits after it is the decimal point of a currency of thousandths
    if (f.currency is not None and CODES[f.currency] in THREE_DECIMALS and mark is None and f.decimal_at is None
            and not f.no_cents and f.cents is None and len(marks) == 1
            and len(digits_in(t, marks[0] + 1, f.end)) == 3):
        f.decimal_at, f.fraction = marks[0], 3
    return f


# the words before a range's first number that open it ('from 26 to 50 €')
OPENING_WORDS = {"from", "From", "FROM", "ab", "Ab", "AB", "von", "Von", "od", "Od", "OD", "от", "От", "de", "De",
                 "desde", "Desde", "dès", "Dès", "vanaf", "Vanaf", "fra", "Fra", "från", "Från", "da", "Da", "dal",
                 "Dal", "at", "At"}


def named_before(t, start):
    """A word before the number at start, set apart by a space, that opens no range: the
    name the number belongs to ('iPhone 15 – 899 €')."""
    b = skip_spaces_back(t, start)
    if b == start or not letter_before(t, b):
        return False
    w = b
    while letter_before(t, w):
        w -= 1
    return t[w:b] not in OPENING_WORDS


def range_between(t, a, b):
    a, b = skip_spaces(t, a), skip_spaces_back(t, b)
    if a >= b:
        return False
    gap = t[a:b]
    return (len(gap) == 1 and gap in DASHES) or gap in RANGE_WORDS


def rises_to(t, a, b):
    """A range runs upward ('Modell 2024 – 899 €' is none): figures with as many digits after
    the mark compare by their digits' value, where it is all of the amount and has at most
    19 digits."""
    da, db = digits_in(t, a.start, a.end), digits_in(t, b.start, b.end)
    if len(da) > 19 or len(db) > 19 or a.shift or b.shift or a.cents is not None or b.cents is not None:
        return True
    return int(da) <= int(db)


def amount(t, f):
    text = "".join("." if i == f.decimal_at else c
                   for i, c in enumerate(t[f.start:f.end], f.start)
                   if (is_digit(c) and i not in entity_places(t, f.start, f.end)) or i == f.decimal_at)
    if f.cents is not None:
        text += "." + f.cents
    if f.shift:
        whole, point, fraction = text.partition(".")
        fraction = fraction.ljust(f.shift, "0")
        text = whole + fraction[:f.shift] + (("." + fraction[f.shift:]) if point else "")
    sign = "-" if f.negative else ""
    if "." in text:
        return float(sign + text)
    try:
        return int(sign + text)
    except ValueError:  # beyond the interpreter's limit on integer text
        return None


def _other_digits():
    """The decimal digits (Nd) past ASCII, by the Unicode data the module's table comes from:
    code point -> its ASCII digit."""
    out = {}
    with open(os.path.join(REPO, "tools", "ucd", "16.0.0", "UnicodeData.txt"), encoding="utf-8") as f:
        for line in f:
            fields = line.split(";")
            if fields[2] == "Nd" and int(fields[0], 16) >= 0x80:
                out[int(fields[0], 16)] = fields[6]
    return out


OTHER_DIGITS = _other_digits()


def price(text, decimal=None):
    """(amount, currency) or None, as tavo.price gives."""
    if not isinstance(text, str):
        raise TypeError(type(text).__name__)
    if decimal not in (None, ".", ","):
        raise ValueError(f"decimal must be '.' or ',', not {decimal!r}")
    found = ascii_price(text, decimal)
    if (found is None or found[1] is None) and any(ord(c) in OTHER_DIGITS for c in text):
        # read again with the digits of other scripts as ASCII ones, the Arabic separators as
        # the decimal mark in force and the other one, the full-width comma and stop as ',', '.'
        point, other = (",", ".") if decimal == "," else (".", ",")
        table = dict(OTHER_DIGITS, **{"\u066b": point, "\u066c": other, "\uff0c": ",", "\uff0e": "."})
        again = ascii_price(text.translate(str.maketrans(table)), decimal)
        if again is not None:
            return again
    return found


def ascii_price(text, decimal):
    """The price by the text's ASCII digits."""
    t, pos = text, 0
    previous = first = first_fraction = weak = None
    while True:
        while pos < len(t) and not is_digit(t[pos]):
            m = NUMERIC_ENTITY.match(t, pos) if t[pos] == "&" else None
            pos = m.end() if m else pos + 1  # a numeric reference passed whole: '&#8381;' is no number
        if pos == len(t):
            break
        f = figure_at(t, pos, decimal)
        pos = max(f.next, f.end)
        if f.percent:
            previous = None
            continue
        if f.currency is not None:
            chosen = f
            if (previous is not None and previous.fraction == f.fraction and range_between(t, previous.next, f.prefix)
                    and rises_to(t, previous, f) and not letter_before(t, previous.start)
                    and not named_before(t, previous.start)):
                chosen = previous
            if len(f.currency) == 1 and f.currency.isascii() and f.currency.isalpha():
                # a single letter ('R', 'L') is the currency only when no other one follows
                weak = weak or (chosen, f.currency)
                previous = f
                continue
            value = amount(t, chosen)
            return None if value is None else (value, f.currency)
        first = first or f
        if first_fraction is None and f.fraction:
            first_fraction = f
        previous = f
    if weak is not None:
        value = amount(t, weak[0])
        return None if value is None else (value, weak[1])
    chosen = first_fraction or first
    if chosen is None:
        return None
    value = amount(t, chosen)
    return None if value is None else (value, None)


def column_row(price):
    """The row a price column holds for the per-element result `price` (a tavo.Price or None):
    {"amount": the amount as a double (an int past the double range: inf), "currency": ...},
    or None where the text holds no price."""
    if price is None:
        return None
    try:
        amount = float(price.amount)
    except OverflowError:
        amount = math.inf if price.amount > 0 else -math.inf
    return {"amount": amount, "currency": price.currency}
