"""A plain-Python twin of the decimal-mark evidence (tavo.number_format), written from
the rules with regular expressions rather than from the native byte walk.

A row's number is the leftmost match of NUMBER: an optional '.' or ',' right before the
first ASCII digit, the digits, then groups of digits each after one separator."""
import re

SEPARATORS = ".,' \u00a0\u202f\u2019"
NUMBER = re.compile(r"[.,]?[0-9]+(?:[%s][0-9]+)*" % re.escape(SEPARATORS))
GROUP = re.compile(r"[0-9]*")


def evidence(text):
    """'.', ',', 'either' or None (neither) for one text (None counts as neither)."""
    if text is None:
        return None
    m = NUMBER.search(text)
    if m is None:
        return None
    number = m.group()
    marks = [c for c in number if c in ".,"]
    if not marks:
        return None
    if len(set(marks)) == 2:
        return marks[-1]
    if len(marks) >= 2:
        return "," if marks[0] == "." else "."
    after = number[number.index(marks[0]) + 1:]
    return "either" if len(GROUP.match(after).group()) == 3 else marks[0]


def decide(point_rows, comma_rows, either_rows):
    if point_rows and not comma_rows:
        return "."
    if comma_rows and not point_rows:
        return ","
    if point_rows:
        return None
    return "." if not either_rows else None


def number_format(texts):
    """The fields of tavo.NumberFormat, as a tuple, for an iterable of str or None."""
    counts = {".": 0, ",": 0, "either": 0, None: 0}
    first = {}
    for i, t in enumerate(texts):
        e = evidence(t)
        counts[e] += 1
        first.setdefault(e, (i, t))
    return (decide(counts["."], counts[","], counts["either"]), counts["."], counts[","], counts["either"],
            counts[None], first.get("."), first.get(","), first.get("either"))
