"""Timings of the text transforms against CPython's str.lower() and against
regular-expression versions written in Python.

Run from the repository root after installing the module:
    python bench/bench_text.py [--rounds N]

Each figure is the median over interleaved rounds of the time per call. "fresh"
rows call every function on new copies of the text, so a non-ASCII str has no
cached UTF-8 form yet (the first call on a str pays for encoding it); the
other rows reuse one str object, as a loop over the same value would.
Times are process CPU time (time.process_time), so that other work on a shared
machine does not count.
"""
import argparse
import random
import re
import statistics
import time
import timeit

import _tavo

# --- texts --------------------------------------------------------------------------

WORDS = ["get", "http", "response", "code", "user", "id", "parse", "xml", "document",
         "value", "tcp2", "server", "max", "count", "index", "name", "list", "item"]
WORDS_FR = ["école", "normale", "supérieure", "élève", "numéro", "prénom", "âge", "été",
            "données", "clé", "façade", "œuvre", "garçon", "hôtel", "naïve", "crème"]
WORDS_EL = ["όνομα", "αριθμός", "χρήστης", "κωδικός", "τιμή", "λίστα", "στοιχείο", "δεδομένα"]


def identifiers(words, size, camel, seed=1):
    rng = random.Random(seed)
    out = []
    while sum(len(p) + 1 for p in out) < size + 40:
        picked = rng.sample(words, 3)
        if camel:
            first, *rest = picked
            name = first + "".join(w.upper() if rng.random() < 0.15 else w.capitalize() for w in rest)
        else:
            name = "_".join(picked)
        out.append(name)
    return " ".join(out)[:size]


ASCII_CAMEL = identifiers(WORDS, 1024, camel=True)
ASCII_SNAKE = identifiers(WORDS, 1024, camel=False)
FR_CAMEL = identifiers(WORDS_FR, 1024, camel=True)
FR_SNAKE = identifiers(WORDS_FR, 1024, camel=False)
EL_CAMEL = identifiers(WORDS_EL, 1024, camel=True)
PROSE_FR = ("Le café coûte 3 € — très cher, à vrai dire ; « c'est l'été » dit-il. " * 20)[:1024]
PROSE_ASCII = ("Add the flour, 2 cups of sugar and a pinch of salt; stir well. " * 20)[:1024]
PROSE_FRACTIONS = ("Add 2½ cups of flour, ¾ cup of sugar and 1 ⅛ tsp of salt; stir. " * 20)[:1024]

# --- regular-expression versions in Python ----------------------------------------------

_UNCAMEL_RE = re.compile(r"(?<=[a-z0-9])(?=[A-Z])|(?<=[A-Z])(?=[A-Z][a-z])")


def uncamel_re(s):
    return _UNCAMEL_RE.sub("_", s).lower()


_UNDERSCORE_RE = re.compile(r"_+([^_]?)")


def underscore_to_camelcase_re(s):
    s = s.lower().lstrip("_")
    return _UNDERSCORE_RE.sub(lambda m: m.group(1).upper(), s)


# --- measuring ------------------------------------------------------------------------


def per_call(fn, arg, fresh, number):
    if fresh:
        copies = [(arg + "#")[:-1] for _ in range(number)]
        t = timeit.timeit(lambda: [fn(c) for c in copies], number=1, timer=time.process_time)
    else:
        t = timeit.timeit(lambda: fn(arg), number=number, timer=time.process_time)
    return t / number


def compare(label, arg, fns, rounds, fresh=False):
    number = 2000
    samples = {name: [] for name in fns}
    for _ in range(rounds):
        for name, fn in fns.items():
            samples[name].append(per_call(fn, arg, fresh, number))
    medians = {name: statistics.median(v) for name, v in samples.items()}
    base = medians["str.lower"]
    print(f"\n{label}{' (fresh str each call)' if fresh else ''}, {len(arg)} code points, "
          f"{len(arg.encode())} UTF-8 bytes")
    for name, m in medians.items():
        print(f"  {name:32s} {m * 1e9:9.0f} ns   {m / base:6.2f}x str.lower")
    return medians


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=15)
    rounds = parser.parse_args().rounds
    assert uncamel_re("parseXMLDocument tcp2Server userID") == _tavo.uncamel("parseXMLDocument tcp2Server userID")
    assert underscore_to_camelcase_re("_foo__bar_baz") == _tavo.underscore_to_camelcase("_foo__bar_baz")

    lower = str.lower
    compare("uncamel, ASCII identifiers", ASCII_CAMEL,
            {"str.lower": lower, "uncamel": _tavo.uncamel, "uncamel (regex, Python)": uncamel_re}, rounds)
    compare("underscore_to_camelcase, ASCII identifiers", ASCII_SNAKE,
            {"str.lower": lower, "underscore_to_camelcase": _tavo.underscore_to_camelcase,
             "underscore_to_camelcase (regex)": underscore_to_camelcase_re}, rounds)
    for label, text in [("French identifiers", FR_CAMEL), ("Greek identifiers", EL_CAMEL)]:
        for fresh in (False, True):
            compare(f"uncamel, {label}", text,
                    {"str.lower": lower, "uncamel": _tavo.uncamel}, rounds, fresh)
    for fresh in (False, True):
        compare("underscore_to_camelcase, French identifiers", FR_SNAKE,
                {"str.lower": lower, "underscore_to_camelcase": _tavo.underscore_to_camelcase},
                rounds, fresh)
    compare("sanitize_vulgar_string, ASCII text without fractions", PROSE_ASCII,
            {"str.lower": lower, "sanitize_vulgar_string": _tavo.sanitize_vulgar_string}, rounds)
    for fresh in (False, True):
        compare("sanitize_vulgar_string, French text without fractions", PROSE_FR,
                {"str.lower": lower, "sanitize_vulgar_string": _tavo.sanitize_vulgar_string},
                rounds, fresh)
    compare("sanitize_vulgar_string, text with 60 fractions", PROSE_FRACTIONS,
            {"str.lower": lower, "sanitize_vulgar_string": _tavo.sanitize_vulgar_string}, rounds)


if __name__ == "__main__":
    main()
