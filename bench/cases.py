"""The benchmark inputs, the candidates timed on them, and the performance targets.

Every function has a small input (per-call overhead) and a large one
(throughput). Candidates whose answer differs from the module's on an input are
reported and, where the difference is confined to some words or a separator,
timed on the words where they agree instead.
"""

import datetime
import importlib
import importlib.metadata
import operator
import os
import random
import sys
import types
import warnings

import _tavo

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import catalogue  # noqa: E402 - the suite's list of functions and their probes

import column_cases  # noqa: E402
import reference as ref  # noqa: E402
from harness import Candidate, Case, same_answer, short  # noqa: E402

# --- availability ------------------------------------------------------------

# The functions: those of the suite's catalogue (tests/catalogue), _tavo's first. The column
# functions (tavo._native.columns_*) are timed together, as "columns" (bench/column_cases.py), and so are
# the payload-key functions (tavo.keys), as "keys"; a
# function without cases of its own here is timed on its catalogue probe (probe_cases).
GROUPS = {"columns": "tavo._native.columns_", "keys": "tavo.keys."}
FUNCTIONS = [n for n in catalogue.FUNCTIONS if not any(n.startswith(p) for p in GROUPS.values())] + list(GROUPS)


def availability():
    """function name -> '' when it works, else why it is left out."""
    out = {}
    for name in FUNCTIONS:
        if name == "columns":
            out[name] = column_cases.unavailable()
            continue
        # a group works when each of its functions does
        members = [n for n in catalogue.FUNCTIONS if n.startswith(GROUPS[name])] if name in GROUPS else [name]
        out[name] = next(filter(None, map(why_not, members)), "")
    return out


def why_not(name):
    """'' when the catalogue function `name` works on its probe, else why it is left out."""
    try:
        f = catalogue.resolve(name)
    except (ImportError, AttributeError) as e:
        return "not built (%s)" % e
    try:
        f(*catalogue.PROBE[name])
    except NotImplementedError:
        return "not built yet (raises NotImplementedError)"
    except Exception as e:
        return "fails on a basic call: %s: %s" % (type(e).__name__, e)
    return ""


def probe_cases(func):
    """The cases of a function that has none of its own here: one call on its catalogue probe
    (the call's overhead), beside os.fspath of a str, the cheapest call of a C function."""
    args = catalogue.PROBE[func]
    return [Case(func, "small: catalogue probe", "small", {"main": short(args, 50)},
                 {"main": Candidate(func, "module", "f(*args)", {"f": catalogue.resolve(func), "args": args})},
                 [Candidate("os.fspath('1')", "built-in", "g('1')", {"g": os.fspath}, check=False)])]


def builders(func):
    """The function that makes `func`'s cases."""
    return BUILDERS.get(func) or (lambda: probe_cases(func))


PEERS = {  # import name -> distribution name
    "inflection": "inflection", "humps": "pyhumps", "more_itertools": "more-itertools",
    "boltons.iterutils": "boltons", "pandas": "pandas", "price_parser": "price-parser",
    "pyarrow": "pyarrow", "polars": "polars", "duckdb": "duckdb",  # the column cases (bench/column_cases.py)
}
_peer_modules = {}
peer_notes = {}


def peer(name):
    """The peer module, or None (noted once) when it is not installed."""
    if name not in _peer_modules:
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                _peer_modules[name] = importlib.import_module(name)
        except ImportError as e:
            _peer_modules[name] = None
            peer_notes[name] = "%s is not installed (pip install .[bench]); its columns are skipped (%s)" % (
                PEERS.get(name, name), e)
    return _peer_modules[name]


def peer_versions():
    out = {}
    for mod, dist in PEERS.items():
        try:
            out[dist] = importlib.metadata.version(dist)
        except importlib.metadata.PackageNotFoundError:
            out[dist] = None
    return out


def missing(label, kind, why):
    return Candidate(label, kind, "None", {}, skipped=why)


# --- text inputs -------------------------------------------------------------

CAMEL_ASCII = [
    "getHTTPResponseCode", "parseXMLDocument", "userID", "tcp2Server", "CamelCamelCase",
    "simpleTest", "HTMLParser", "getValue2", "IOError", "isValid", "maxRetryCount", "toJSON",
    "URLPath", "firstName", "lastModifiedAt", "x", "version2", "already_snake", "foo_Bar",
    "__Init__", "loadConfigFromFile", "sendHTTPSRequest", "rowIndex", "ABCTest", "pageSize",
    "foo-barBaz",
]
CAMEL_UNICODE = [
    "ÉcoleNormale", "straßeName", "größeÄndern", "ΟδόςΑθηνών", "имяФайла", "ΜέγεθοςΑρχείου",
    "årsRapport", "çaVaBien", "niñoPequeño", "łódźCentrum", "ИмяПользователя", "datenÜbersicht",
    "ÜberGrößeXML", "ĲsselMeer", "øreSundBro",
]
SNAKE_ASCII = [
    "foo_bar_baz", "user_id", "http_response_code", "parse_xml_document", "max_retry_count",
    "first_name", "last_modified_at", "_private_name", "FOO_BAR", "page_size", "row_index",
    "is_valid", "to_json", "a_b_c", "load_config_from_file", "x", "tcp2_server", "version_2",
    "__dunder__", "trailing_", "double__under",
]
SNAKE_UNICODE = [
    "école_normale", "straße_name", "größe_ändern", "οδός_αθηνών", "имя_файла",
    "μέγεθος_αρχείου", "års_rapport", "ça_va_bien", "niño_pequeño", "łódź_centrum",
    "имя_пользователя", "daten_übersicht", "über_größe", "øre_sund_bro",
]


def kb_text(words, sep=" ", size=1024):
    """Whole words, cycled, joined by sep, up to `size` UTF-8 bytes."""
    out, n, i = [], 0, 0
    while True:
        w = words[i % len(words)]
        add = len(w.encode()) + (len(sep.encode()) if out else 0)
        if n + add > size and out:
            break
        out.append(w)
        n += add
        i += 1
    return sep.join(out)


def agreeing_text(module_fn, peer_fn, words, seps=(" ", ",")):
    """A 1 KB text on which peer_fn gives the module's answer, and what had to change.

    Words on which the peer differs alone are dropped first; then, for each
    separator in turn, words on which it differs next to other words, then
    one by one any word whose prefix of the text differs.
    """
    def agree(t):
        try:
            return same_answer(peer_fn(t), module_fn(t), False)
        except Exception:
            return False

    notes = []
    good = [w for w in words if agree(w)]
    bad = [w for w in words if w not in good]
    if bad:
        examples = "; ".join("%s: _tavo %s, peer %s" % (short(w, 30), short(module_fn(w), 30),
                                                          short(_safe(peer_fn, w), 30))
                             for w in bad[:3])
        notes.append("differs on %d of %d words (%s)" % (len(bad), len(words), examples))
    for i, sep in enumerate(seps):
        pool = [w for w in good if agree(sep.join([w, w, w]))]  # each word next to others too
        dropped = [w for w in good if w not in pool]
        for _ in range(8):
            if not pool:
                break
            t = kb_text(pool, sep)
            if agree(t):
                if i:
                    sample = seps[0].join(good[:3])
                    notes.append("differs on the words joined by %r (%s: _tavo %s, peer %s); joined by %r instead"
                                 % (seps[0], short(sample, 40), short(module_fn(sample), 40),
                                    short(_safe(peer_fn, sample), 40), sep))
                if dropped:
                    notes.append("differs on %s inside a text; dropped" % ", ".join(repr(w) for w in dropped))
                notes.append("timed on a text of the %d words where they agree" % len(pool))
                return t, notes
            seq = t.split(sep)
            lo, hi = 0, len(seq)  # the prefix of lo words agrees, of hi words differs
            while hi - lo > 1:
                mid = (lo + hi) // 2
                if agree(sep.join(seq[:mid])):
                    lo = mid
                else:
                    hi = mid
            culprit = seq[hi - 1]
            if culprit not in pool:
                break
            pool.remove(culprit)
            dropped.append(culprit)
    notes.append("differs on every text tried")
    return None, notes


def _safe(fn, x):
    try:
        return fn(x)
    except Exception as e:
        return "<%s>" % type(e).__name__


def _text_case(func, label, size, text, others_entries):
    """others_entries: list of (label, kind, fn or None for a bound, expr override, peer name)."""
    mod = getattr(_tavo, func)
    case = Case(func, label, size, {"main": short(text, 50) + " (%d bytes)" % len(text.encode())},
                {"main": Candidate("_tavo." + func, "module", "f(x)", {"f": mod, "x": text})}, [])
    for entry in others_entries:
        clabel, kind, fn, words = entry
        if kind == "built-in":
            case.others.append(Candidate(clabel, kind, "x.lower()", {"x": text}, check=False))
            continue
        if fn is None:
            case.others.append(missing(clabel, kind, peer_notes.get(clabel.split(".")[0], "not installed")))
            continue
        if words is None:
            case.others.append(Candidate(clabel, kind, "f(x)", {"f": fn, "x": text}))
            continue
        t, notes = agreeing_text(mod, fn, words)
        if t is None:
            c = missing(clabel, kind, "; ".join(notes))
        elif t == text:
            c = Candidate(clabel, kind, "f(x)", {"f": fn, "x": text}, notes=notes)
        else:
            key = "agree:" + clabel
            case.inputs[key] = short(t, 50) + " (%d bytes)" % len(t.encode())
            case.module[key] = Candidate("_tavo." + func, "module", "f(x)", {"f": mod, "x": t}, input_key=key)
            c = Candidate(clabel, kind, "f(x)", {"f": fn, "x": t}, input_key=key, notes=notes)
        case.others.append(c)
    return case


def uncamel_cases():
    infl, humps = peer("inflection"), peer("humps")
    peers = [("inflection.underscore", "peer", infl and infl.underscore, CAMEL_ASCII),
             ("humps.decamelize", "peer", humps and humps.decamelize, CAMEL_ASCII)]
    small = "getHTTPResponseCode"
    return [
        _text_case("uncamel", "small: one identifier", "small", small,
                   [("str.lower", "built-in", None, None),
                    ("reference (pure Python)", "reference", ref.uncamel, None),
                    ("regex (pure Python)", "reference", ref.uncamel_regex, None)]
                   + [(a, b, c, None) for a, b, c, _ in peers]),
        _text_case("uncamel", "1 KB ASCII identifiers", "large", kb_text(CAMEL_ASCII),
                   [("str.lower", "built-in", None, None),
                    ("reference (pure Python)", "reference", ref.uncamel, None),
                    ("regex (pure Python)", "reference", ref.uncamel_regex, None)] + peers),
        _text_case("uncamel", "1 KB non-ASCII identifiers", "large", kb_text(CAMEL_UNICODE),
                   [("str.lower", "built-in", None, None),
                    ("reference (pure Python)", "reference", ref.uncamel, None)]),
        fresh_str_case("uncamel", kb_text(CAMEL_UNICODE)),
    ]


def fresh_str_case(func, text):
    """A new copy of a non-ASCII text each call: it has no cached UTF-8 form yet, so
    the call pays for encoding it (the other cases reuse one str, as a loop over
    the same value would). Both sides pay the copy."""
    return Case(func, "1 KB non-ASCII identifiers, a new str each call", "large",
                {"main": short(text, 50) + " (%d bytes, copied per call)" % len(text.encode())},
                {"main": Candidate("_tavo." + func, "module", "f((x + '#')[:-1])",
                                   {"f": getattr(_tavo, func), "x": text})},
                [Candidate("str.lower", "built-in", "(x + '#')[:-1].lower()", {"x": text}, check=False)])


def underscore_cases():
    infl, humps = peer("inflection"), peer("humps")
    camelize = infl and (lambda s: infl.camelize(s, False))
    peers = [("inflection.camelize", "peer", camelize, SNAKE_ASCII),
             ("humps.camelize", "peer", humps and humps.camelize, SNAKE_ASCII)]
    small = "foo_bar_baz"
    return [
        _text_case("underscore_to_camelcase", "small: one identifier", "small", small,
                   [("str.lower", "built-in", None, None),
                    ("reference (pure Python)", "reference", ref.underscore_to_camelcase, None),
                    ("regex (pure Python)", "reference", ref.underscore_to_camelcase_regex, None)]
                   + [(a, b, c, None) for a, b, c, _ in peers]),
        _text_case("underscore_to_camelcase", "1 KB ASCII identifiers", "large", kb_text(SNAKE_ASCII),
                   [("str.lower", "built-in", None, None),
                    ("reference (pure Python)", "reference", ref.underscore_to_camelcase, None),
                    ("regex (pure Python)", "reference", ref.underscore_to_camelcase_regex, None)] + peers),
        _text_case("underscore_to_camelcase", "1 KB non-ASCII identifiers", "large", kb_text(SNAKE_UNICODE),
                   [("str.lower", "built-in", None, None),
                    ("reference (pure Python)", "reference", ref.underscore_to_camelcase, None)]),
    ]


PROSE_UNICODE = ("Préchauffez le four à 200 °C. Mélangez la crème brûlée — 2 tasses — avec 1 c. à café "
                 "de sel; remuez 5 minutes, laissez reposer 30 minutes. Ψήστε στους 180 βαθμούς. ").split(" ")
PROSE = ("Preheat the oven to 200 degrees. Mix 2 cups of flour with 1 tsp of salt and 3 eggs, "
         "then stir for 5 minutes until smooth; rest the dough for 30 minutes. ").split(" ")
RECIPE = ("Add 1½ cups of flour, ¾ tsp salt, 2 ⅓ cups milk and ½ cup sugar; "
          "bake 25 minutes at 180 degrees, then cool for ⅛ hour. ").split(" ")


def sanitize_cases():
    def case(label, size, text):
        return _text_case("sanitize_vulgar_string", label, size, text,
                          [("str.lower", "built-in", None, None),
                           ("reference (pure Python, re.sub)", "reference", ref.sanitize_vulgar_string, None)])
    return [
        case("small: '4¾ cups'", "small", "4¾ cups"),
        case("1 KB text without fractions", "large", kb_text(PROSE)),
        case("1 KB non-ASCII text without fractions", "large", kb_text(PROSE_UNICODE)),
        case("1 KB text with fractions", "large", kb_text(RECIPE)),
    ]


# --- numbers -----------------------------------------------------------------

def parse_cases():
    pp = peer("price_parser")
    f = _tavo.parse

    def case(label, size, text, bound=None):
        c = Case("parse", label, size, {"main": short(text, 50)},
                 {"main": Candidate("_tavo.parse", "module", "f(x)", {"f": f, "x": text})}, [])
        if bound:
            blabel, bfn, barg = bound
            c.others.append(Candidate(blabel, "built-in", "f(x)", {"f": bfn, "x": barg}, check=False))
        c.others.append(Candidate("reference (pure Python)", "reference", "f(x)",
                                  {"f": ref.parse, "x": text}, strict=True))
        if pp is None:
            c.others.append(missing("price_parser", "peer", peer_notes.get("price_parser", "")))
        else:
            c.others.append(Candidate("price_parser", "peer", "p(x).amount_float",
                                      {"p": pp.Price.fromstring, "x": text},
                                      notes=["compared by value: price_parser gives a float for every number"]))
        return c

    fspath_note = _calling_convention_note()
    one = case("small: '1' (call overhead)", "small", "1", ("os.fspath('1')", os.fspath, "1"))
    one.notes.append(fspath_note)
    words = "Net amount payable after every discount and adjustment, in US dollars: "
    long_figure = (words * (1024 // len(words)))[: 1024 - 18] + "USD (1,234,567.89)"
    return [
        one,
        case("small: '42'", "small", "42", ("int('42')", int, "42")),
        case("small: '1234.56'", "small", "1234.56", ("float('1234.56')", float, "1234.56")),
        case("small: '$1,234.56'", "small", "$1,234.56", ("float('1234.56')", float, "1234.56")),
        case("small: 'USD (1,234.50)'", "small", "USD (1,234.50)", ("float('-1234.50')", float, "-1234.50")),
        case("1 KB cell, one figure", "large", long_figure, ("float('-1234567.89')", float, "-1234567.89")),
    ] + decimal_comma_cases()


# The decimal comma: tavo.parse(s, decimal=",") against _tavo.parse on the same text written
# with a decimal point (the same shape: the marks swapped).
DECIMAL_COMMA_TEXTS = ["1.234,56", "EUR 12,50", "(1.234,50) EUR"]


def decimal_comma_label(text):
    return "small: %r, decimal=','" % text


def decimal_comma_cases():
    try:
        import tavo
        native = tavo.parse
        native("1", decimal=",")
    except (ImportError, AttributeError, TypeError):
        return []  # the package tavo is not installed: its targets say the cases did not run
    out = []
    for text in DECIMAL_COMMA_TEXTS:
        point = text.translate(str.maketrans(".,", ",."))
        c = Case("parse", decimal_comma_label(text), "small", {"main": short(text, 50)},
                 {"main": Candidate("tavo.parse(decimal=',')", "module", "f(x, decimal=',')",
                                    {"f": native, "x": text})}, [])
        c.others.append(Candidate("_tavo.parse(%r)" % point, "built-in", "f(x)", {"f": _tavo.parse, "x": point},
                                  strict=True, notes=["the same text with the point as decimal mark"]))
        out.append(c)
    return out


# tavo.price on texts of several countries: against _tavo.parse on the same text (which reads
# every digit with '.' as the mark, and builds no currency), and against price_parser.
PRICE_TEXTS = ["$1,234.56", "1.234,56 €", "Price: 1 299,00 €", "AED 8000 (USD 2179)", "27.00 руб.",
               "CHF 1'049.95"]


def price_label(text):
    return "small: %r" % text


def _price_parser_pair(r):
    return None if r.amount is None else (float(r.amount), r.currency)


def price_cases():
    try:
        import tavo
        native = tavo.price
        native("1")
    except (ImportError, AttributeError, TypeError):
        return []  # the package tavo is not installed: its targets say the cases did not run
    pp = peer("price_parser")
    out = []
    for text in PRICE_TEXTS:
        c = Case("tavo.price", price_label(text), "small", {"main": short(text, 50)},
                 {"main": Candidate("tavo.price", "module", "f(x)", {"f": native, "x": text})}, [])
        c.others.append(Candidate("_tavo.parse", "built-in", "f(x)", {"f": _tavo.parse, "x": text}, check=False,
                                  notes=["the same text, read by parse's rules"]))
        if pp is None:
            c.others.append(missing("price_parser", "peer", peer_notes.get("price_parser", "")))
        else:
            c.others.append(Candidate("price_parser", "peer", "g(p(x))",
                                      {"p": pp.Price.fromstring, "g": _price_parser_pair, "x": text},
                                      notes=["compared as (amount, currency): price_parser gives a Decimal"]))
        out.append(c)
    return out


def _calling_convention_note():
    """Which calling convention parse and os.fspath use, read from their method tables."""
    try:
        import ctypes

        def flags(fn):
            if type(fn) is not types.BuiltinFunctionType:  # only a C function has a method table
                return "not a C function"
            ml = ctypes.c_void_p.from_address(id(fn) + 2 * ctypes.sizeof(ctypes.c_void_p)).value
            return ctypes.c_int.from_address(ml + 2 * ctypes.sizeof(ctypes.c_void_p)).value

        fa, fb = flags(_tavo.parse), flags(os.fspath)
        names = {0x80 | 0x02: "METH_FASTCALL|METH_KEYWORDS", 0x08: "METH_O", 0x80: "METH_FASTCALL"}
        fa, fb = (names.get(f, hex(f)) if isinstance(f, int) else f for f in (fa, fb))
        return ("calling convention: _tavo.parse %s, os.fspath %s (one positional-or-keyword "
                "argument, returns it unchanged for a str)" % (fa, fb))
    except Exception as e:  # pragma: no cover
        return "calling convention not read: %s" % e


# --- multikeysort ------------------------------------------------------------

_TRIGRAMS = None


def make_rows(n, seed=7, prices=1000):
    """n row dicts: a unique-ish int 'a', 'price' in range(prices), a six-letter 'name'."""
    global _TRIGRAMS
    if _TRIGRAMS is None:
        letters = "abcdefghijklmnopqrstuvwxyz"
        _TRIGRAMS = [x + y + z for x in letters for y in letters for z in letters]
    tri = _TRIGRAMS
    m = len(tri)
    rnd = random.Random(seed)
    rows = []
    for i in range(n):
        r = rnd.getrandbits(30)
        rows.append({"id": i, "a": rnd.getrandbits(30), "price": rnd.randrange(prices),
                     "name": tri[r % m] + tri[(r // m) % m], "qty": rnd.random()})
    return rows


def multikeysort_cases(large_n=100_000):
    pd = peer("pandas")
    f = _tavo.multikeysort
    out = []
    for label, size, n in (("small: 10 rows", "small", 10), ("%d rows" % large_n, "large", large_n)):
        rows = make_rows(n)
        for cols in (["-price", "name"], ["a"]):
            title = "%s, columns %r" % (label, cols)
            c = Case("multikeysort", title, size, {"main": "%d row dicts of 5 keys, columns %r" % (n, cols)},
                     {"main": Candidate("_tavo.multikeysort", "module", "f(x, c)",
                                        {"f": f, "x": rows, "c": cols})}, [])
            if cols == ["a"]:
                c.others.append(Candidate("sorted(key=itemgetter('a'))", "built-in", "sorted(x, key=k)",
                                          {"x": rows, "k": operator.itemgetter("a")}))
            else:
                c.others.append(Candidate("two sorted() passes (pure Python)", "reference", "f(x, c)",
                                          {"f": ref.multikeysort_two_pass, "x": rows, "c": cols}))
                if size == "small":
                    c.others.append(Candidate("reference (pure Python, cmp_to_key)", "reference", "f(x, c)",
                                              {"f": ref.multikeysort, "x": rows, "c": cols}))
            if pd is None:
                c.others.append(missing("pandas sort_values", "peer", peer_notes.get("pandas", "")))
            else:
                names = [x.lstrip("-") for x in cols]
                asc = [not x.startswith("-") for x in cols]
                c.others.append(Candidate(
                    "pandas sort_values", "peer",
                    "D(x).sort_values(n, ascending=a, kind='stable').to_dict('records')",
                    {"D": pd.DataFrame, "x": rows, "n": names, "a": asc},
                    notes=["round trip: DataFrame(rows).sort_values(...).to_dict('records')"]))
            out.append(c)
    out += typed_column_cases()
    return out


# One column of one type against sorted(key=itemgetter(column)): the call a
# Python user writes instead. Sizes: a page of results (10), a group (100),
# and 100,000 rows for the object types the module encodes natively.
COLUMN_KINDS = ["int", "float", "str", "date", "datetime", "tuple", "bytes"]
LARGE_COLUMN_KINDS = ["date", "datetime", "tuple", "bytes"]


def column_values(kind, n, seed=13):
    rnd = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyz"
    day0 = datetime.date(1990, 1, 1)
    moment0 = datetime.datetime(1990, 1, 1)
    make = {
        "int": lambda: rnd.getrandbits(30),
        "float": lambda: rnd.random() * 1000,
        "str": lambda: "".join(rnd.choices(letters, k=6)),
        "date": lambda: day0 + datetime.timedelta(days=rnd.randrange(15000)),
        "datetime": lambda: moment0 + datetime.timedelta(seconds=rnd.randrange(10**9),
                                                         microseconds=rnd.randrange(10**6)),
        "tuple": lambda: (rnd.randrange(100), rnd.randrange(1000)),
        "bytes": lambda: "".join(rnd.choices(letters, k=6)).encode(),
    }[kind]
    return [make() for _ in range(n)]


def make_typed_rows(kind, n):
    """n row dicts of five keys; 'v' holds values of one type."""
    rnd = random.Random(17)
    return [{"id": i, "v": v, "name": "row%d" % i, "qty": rnd.random(), "ok": bool(i % 3)}
            for i, v in enumerate(column_values(kind, n))]


def typed_column_case(kind, n, size):
    rows = make_typed_rows(kind, n)
    c = Case("multikeysort", "%s%d rows, one %s column" % ("small: " if size == "small" else "", n, kind), size,
             {"main": "%d row dicts of 5 keys, column 'v' of %s values" % (n, kind)},
             {"main": Candidate("_tavo.multikeysort", "module", "f(x, c)",
                                {"f": _tavo.multikeysort, "x": rows, "c": ["v"]})}, [])
    c.others.append(Candidate("sorted(key=itemgetter('v'))", "built-in", "sorted(x, key=k)",
                              {"x": rows, "k": operator.itemgetter("v")}))
    return c


def typed_column_cases():
    out = [typed_column_case(kind, n, "small") for n in (10, 100) for kind in COLUMN_KINDS]
    out += [typed_column_case(kind, 100_000, "large") for kind in LARGE_COLUMN_KINDS]
    return out


# --- sequences ---------------------------------------------------------------

def nested(n, seed=3):
    """n int leaves in lists and tuples three levels deep, blocks of about ten."""
    out, i = [], 0
    while i < n:
        block = list(range(i, min(i + 10, n)))
        i += len(block)
        out.append([tuple(block[:3]), [block[3:5], (block[5:7], [block[7:]])]])
    return out


def collapse_cases(large_n=100_000, flat_n=1_000_000):
    mi, bi = peer("more_itertools"), peer("boltons.iterutils")
    f = _tavo.collapse

    def case(label, size, x, desc, bound=False):
        c = Case("collapse", label, size, {"main": desc},
                 {"main": Candidate("_tavo.collapse", "module", "f(x)", {"f": f, "x": x})}, [])
        if bound:
            c.others.append(Candidate("list(x)", "built-in", "list(x)", {"x": x}))
        c.others.append(Candidate("reference (pure Python)", "reference", "f(x)", {"f": ref.collapse, "x": x}))
        c.others.append(Candidate("more_itertools.collapse", "peer", "list(f(x))", {"f": mi.collapse, "x": x})
                        if mi else missing("more_itertools.collapse", "peer", peer_notes.get("more_itertools", "")))
        c.others.append(Candidate("boltons flatten", "peer", "f(x)", {"f": bi.flatten, "x": x})
                        if bi else missing("boltons flatten", "peer", peer_notes.get("boltons.iterutils", "")))
        return c

    nested_small = [[1, 2], (3, 4), 5, [6, [7]], 8]
    with_leaves = case("small: [[1, 2], (3, 4), 5, [6, [7]], 8]", "small", nested_small, "8 leaves, 3 levels")
    # the bound: a list of the same eight leaves, already flat
    with_leaves.others.insert(0, Candidate("list() of its 8 leaves", "built-in", "list(leaves)",
                                           {"leaves": ref.collapse(nested_small)}))
    return [
        case("small: flat list of 5 ints", "small", [1, 2, 3, 4, 5], "5 ints, no nesting", bound=True),
        with_leaves,
        case("small: [[1, [2, 3]], (4, 5)]", "small", [[1, [2, 3]], (4, 5)], "5 leaves, 3 levels"),
        case("nested, %d leaves" % large_n, "large", nested(large_n),
             "%d ints in lists and tuples 3 levels deep" % large_n),
        case("flat list of %d ints" % flat_n, "large", list(range(flat_n)), "%d ints, no nesting" % flat_n,
             bound=True),
    ]


def with_nones(n, share=0.1, seed=5):
    rnd = random.Random(seed)
    return [None if rnd.random() < share else rnd.randrange(1_000_000) for _ in range(n)]


def backfill_cases(large_n=1_000_000):
    pd = peer("pandas")
    f = _tavo.backfill

    def case(label, size, x, desc, bound):
        c = Case("backfill", label, size, {"main": desc},
                 {"main": Candidate("_tavo.backfill", "module", "f(x)", {"f": f, "x": x})}, [])
        if bound:
            c.others.append(Candidate("list(x)", "built-in", "list(x)", {"x": x}, check=False))
        c.others.append(Candidate("reference (pure Python)", "reference", "f(x)", {"f": ref.backfill, "x": x}))
        c.others.append(Candidate("pandas ffill().bfill()", "peer", "S(x).ffill().bfill().tolist()",
                                  {"S": pd.Series, "x": x},
                                  notes=["compared by value: pandas gives floats for an int column with None"])
                        if pd else missing("pandas ffill().bfill()", "peer", peer_notes.get("pandas", "")))
        return c

    return [
        case("small: [None, None, 1, 2, None, 4]", "small", [None, None, 1, 2, None, 4], "6 values", False),
        case("%d values, 10%% None" % large_n, "large", with_nones(large_n),
             "%d ints, 10%% None" % large_n, True),
    ]


ROW_KEYS = ["k%d" % i for i in range(10)]


def make_fill_rows(n, seed=11, keys=10):
    """n rows of the first `keys` ROW_KEYS, ints and strings in turn, 10% None."""
    rnd = random.Random(seed)
    ints = [None] * 100 + list(range(900))
    texts = [None] * 100 + ["v%d" % i for i in range(900)]
    columns = [rnd.choices(texts if j % 2 else ints, k=n) for j in range(keys)]
    for col in columns:  # every key gets a real value somewhere, as pandas assumes
        if n and all(v is None for v in col):
            col[-1] = 0
    names = ROW_KEYS[:keys]
    return [dict(zip(names, vals)) for vals in zip(*columns)]


def backfill_iterdict_cases(large_n=100_000):
    pd = peer("pandas")
    f = _tavo.backfill_iterdict

    def case(label, size, x, desc, bound=False):
        c = Case("backfill_iterdict", label, size, {"main": desc},
                 {"main": Candidate("_tavo.backfill_iterdict", "module", "f(x)", {"f": f, "x": x})}, [])
        if bound:  # copying every row: what a dict-by-dict fill cannot go below
            c.others.append(Candidate("[r.copy() for r in rows]", "built-in", "[r.copy() for r in x]",
                                      {"x": x}, check=False))
        c.others.append(Candidate("reference (plain Python loop)", "reference", "f(x)",
                                  {"f": ref.backfill_iterdict, "x": x}))
        c.others.append(Candidate("pandas ffill().bfill()", "peer", "D(x).ffill().bfill().to_dict('records')",
                                  {"D": pd.DataFrame, "x": x},
                                  notes=["compared by value: pandas gives floats for an int column with None"])
                        if pd else missing("pandas ffill().bfill()", "peer", peer_notes.get("pandas", "")))
        return c

    small = [{"a": None, "b": "x", "c": 1}, {"a": 2, "b": None, "c": None}, {"a": None, "b": "y", "c": 3},
             {"a": 4, "b": None, "c": None}, {"a": None, "b": None, "c": 5}]
    return [
        case("small: 5 rows of 3 keys", "small", small, "5 rows, 3 keys"),
        case("%d rows of 10 keys" % large_n, "large", make_fill_rows(large_n),
             "%d rows of 10 keys, 10%% None" % large_n),
    ] + [
        case("%s%d rows of 8 keys" % ("small: " if n < 1000 else "", n), "small" if n < 1000 else "large",
             make_fill_rows(n, keys=8), "%d rows of 8 keys, 10%% None" % n, bound=True)
        for n in (10, 100, large_n)
    ]


def same_order_cases(m=100, n=10_000):
    f = _tavo.same_order

    def case(label, size, a, b, desc, bound):
        c = Case("same_order", label, size, {"main": desc},
                 {"main": Candidate("_tavo.same_order", "module", "f(a, b)", {"f": f, "a": a, "b": b})}, [])
        if bound:
            c.others.append(Candidate("b.index(a[-1]) (one C scan)", "built-in", "b.index(a[-1])",
                                      {"a": a, "b": b}, check=False))
        c.others.append(Candidate("list.index version (pure Python)", "reference", "f(a, b)",
                                  {"f": ref.same_order_index, "a": a, "b": b}))
        c.others.append(Candidate("reference (pure Python, ==)", "reference", "f(a, b)",
                                  {"f": ref.same_order, "a": a, "b": b}))
        return c

    comp = ["word%05d" % i for i in range(n)]
    refs = [comp[i] for i in range(n // m - 1, n, n // m)]  # spread over comp, the last at its end
    return [
        case("small: 3 in 5", "small", ["x", "y", "z"], ["x", "a", "y", "b", "z"], "3 in 5 strings", False),
        case("%d in %d strings" % (m, n), "large", refs, comp,
             "%d reference strings spread over %d strings (answer True)" % (m, n), True),
    ]


# --- threads ---------------------------------------------------------------------
# On a free-threaded CPython the module runs without the interpreter lock, so
# threads calling it on inputs of their own should add up. Each thread gets its
# own inputs (a text, figures, a list of rows), made by the thread itself; a
# round calls uncamel, parse and multikeysort on them.

THREAD_FUNCTIONS = ("uncamel", "parse", "multikeysort")


def parallel_calls_unavailable():
    """'' when calls from several threads can run at the same time here, else why not."""
    import sys
    import sysconfig
    if not sysconfig.get_config_var("Py_GIL_DISABLED"):
        return "not a free-threaded CPython build: the interpreter lock serialises threads"
    if sys._is_gil_enabled():
        return "the interpreter lock is on in this free-threaded build (PYTHON_GIL=1, or a module that needs it)"
    return ""


def thread_round(seed):
    """One thread's own inputs, and a function that makes one round of calls on them."""
    text = kb_text(CAMEL_ASCII[seed % 3:] + CAMEL_ASCII[: seed % 3])
    rnd = random.Random(seed)
    figures = ["%s%d,%03d.%02d%s" % (rnd.choice(["", "$", "USD "]), rnd.randrange(1, 999), rnd.randrange(1000),
                                     rnd.randrange(100), rnd.choice(["", "m", "k"])) for _ in range(400)]
    rows = make_rows(1000, seed=seed)
    columns = ["-price", "name"]
    uncamel, parse, multikeysort = _tavo.uncamel, _tavo.parse, _tavo.multikeysort

    def one_round():
        for _ in range(40):
            uncamel(text)
        for f in figures:
            parse(f)
        multikeysort(rows, columns)

    return one_round


def builtin_thread_round(seed):
    """A round of the same shape made of CPython's own calls (str.lower, float, sorted with
    itemgetter) on a thread's own inputs: what two threads of this machine and interpreter
    reach whatever they call, the bound for the module's round."""
    text = kb_text(CAMEL_ASCII[seed % 3:] + CAMEL_ASCII[: seed % 3])
    rnd = random.Random(seed)
    figures = ["%d%03d.%02d" % (rnd.randrange(1, 999), rnd.randrange(1000), rnd.randrange(100)) for _ in range(400)]
    rows = make_rows(1000, seed=seed)
    key = operator.itemgetter("price", "name")
    lower = str.lower

    def one_round():
        for _ in range(40):
            lower(text)
        for f in figures:
            float(f)
        sorted(rows, key=key)

    return one_round


# --- payload keys (tavo.keys) --------------------------------------------------

_FIRST = ["anna", "boris", "chen", "dana", "emil", "fatima", "goran", "hana", "ivan", "julia"]
_STREETS = ["Mill Lane", "Harbour Road", "Station Street", "Church Walk", "Queens Avenue"]
_CITIES = ["Leeds", "Porto", "Ghent", "Lyon", "Turin", "Graz", "Malmo", "Split"]


def api_payload(n=2000, seed=17):
    """n records as a JSON API returns them (camelCase keys, str, int, float, bool and None
    values, a nested address and a list of order items): about 30 keys and 600 bytes of
    compact JSON per record, 1.2 MB for 2,000. Deterministic."""
    rnd = random.Random(seed)
    records = []
    for i in range(n):
        first = rnd.choice(_FIRST)
        items = [{"productId": rnd.randrange(10**5), "skuCode": "S%d" % rnd.randrange(1000),
                  "unitPrice": round(rnd.uniform(1, 200), 2), "quantityOrdered": rnd.randrange(1, 9)}
                 for _ in range(rnd.randrange(1, 4))]
        records.append({
            "userId": 100000 + i, "firstName": first.title(), "lastName": "Smith",
            "emailAddress": "%s%d@ex.io" % (first, i), "phoneNumber": "%07d" % i,
            "dateOfBirth": "19%02d-%02d-%02d" % (rnd.randrange(50, 99), rnd.randrange(1, 13), rnd.randrange(1, 29)),
            "accountStatus": rnd.choice(["active", "suspended", "closed"]), "isVerified": rnd.random() < 0.8,
            "createdAt": "2024-%02d-%02d" % (rnd.randrange(1, 13), rnd.randrange(1, 29)),
            "lastLoginAt": None if rnd.random() < 0.1 else "2025-01-%02d" % rnd.randrange(1, 29),
            "loyaltyPoints": rnd.randrange(5000), "preferredLanguage": rnd.choice(["en", "de", "fr"]),
            "marketingOptIn": rnd.random() < 0.5, "totalSpent": round(rnd.uniform(0, 5000), 2),
            "orderCount": len(items),
            "shippingAddress": {"streetName": rnd.choice(_STREETS), "houseNumber": rnd.randrange(1, 200),
                                "postalCode": "%04d" % rnd.randrange(10**4), "cityName": rnd.choice(_CITIES),
                                "countryCode": rnd.choice(["GB", "PT", "BE", "FR", "IT"])},
            "orderItems": items,
        })
    return {"pageNumber": 1, "pageSize": n, "totalCount": n, "resultItems": records}


def keys_cases(n=2000):
    import json
    import marshal

    import tavo.keys

    humps = peer("humps")
    text = json.dumps(api_payload(n), separators=(",", ":"))  # as an API sends it
    payload = json.loads(text)  # as a client gets it: equal keys are one object
    snake = json.loads(json.dumps(tavo.keys.uncamel(payload)))
    dumped = marshal.dumps(payload)
    small = json.loads(json.dumps(api_payload(1)["resultItems"][0]))
    small_snake = tavo.keys.uncamel(small)
    size = "%d records, %.2f MB of JSON" % (n, len(text.encode()) / 1e6)
    out = []
    for func, data, peer_name, ref_fn, what in (
            ("uncamel", payload, "decamelize", ref.keys_uncamel, "camelCase keys"),
            ("underscore_to_camelcase", snake, "camelize", ref.keys_underscore_to_camelcase, "snake_case keys")):
        f = getattr(tavo.keys, func)
        c = Case("keys", "%s: API payload, %d records" % (func, n), "large", {"main": "%s, %s" % (size, what)},
                 {"main": Candidate("tavo.keys." + func, "module", "f(x)", {"f": f, "x": data})}, [])
        c.others.append(Candidate("humps." + peer_name, "peer", "f(x)", {"f": getattr(humps, peer_name), "x": data})
                        if humps else missing("humps." + peer_name, "peer", peer_notes.get("humps", "")))
        c.others.append(Candidate("comprehension calling _tavo.%s per key" % func, "reference", "f(x)",
                                  {"f": ref_fn, "x": data}))
        c.others.append(Candidate("json.loads of the payload's text", "built-in", "f(t)",
                                  {"f": json.loads, "t": text}, check=False,
                                  notes=["builds the same structure from its %d bytes of JSON" % len(text)]))
        c.others.append(Candidate("marshal.loads of the payload", "built-in", "f(b)", {"f": marshal.loads, "b": dumped},
                                  check=False, notes=["builds the same structure in C: about the floor"]))
        out.append(c)
        sf = tavo.keys.uncamel if func == "uncamel" else tavo.keys.underscore_to_camelcase
        sx = small if func == "uncamel" else small_snake
        s = Case("keys", "%s: small: one record" % func, "small", {"main": "one record of the payload"},
                 {"main": Candidate("tavo.keys." + func, "module", "f(x)", {"f": sf, "x": sx})}, [])
        s.others.append(Candidate("comprehension calling _tavo.%s per key" % func, "reference", "f(x)",
                                  {"f": ref_fn, "x": sx}))
        out.append(s)
    return out


BUILDERS = {
    "uncamel": uncamel_cases, "underscore_to_camelcase": underscore_cases,
    "sanitize_vulgar_string": sanitize_cases, "parse": parse_cases,
    "multikeysort": multikeysort_cases, "collapse": collapse_cases, "backfill": backfill_cases,
    "backfill_iterdict": backfill_iterdict_cases, "same_order": same_order_cases,
    "columns": column_cases.cases, "keys": keys_cases, "tavo.price": price_cases,
}

# --- targets -----------------------------------------------------------------
# (title, case id, candidate label, rule, bound, issue)
#   rule 'ratio':   module/candidate <= bound
#   rule 'speedup': candidate/module >= bound
#   rule 'diff_ns': module - candidate <= bound nanoseconds per call

TARGETS = [
    ("uncamel 1KB ASCII vs str.lower", "uncamel/1 KB ASCII identifiers", "str.lower", "ratio", 1.5, 3),
    ("underscore_to_camelcase 1KB ASCII vs str.lower", "underscore_to_camelcase/1 KB ASCII identifiers",
     "str.lower", "ratio", 1.5, 3),
    ("uncamel 1KB ASCII vs regex (Python)", "uncamel/1 KB ASCII identifiers", "regex (pure Python)",
     "speedup", 20, 3),
    ("underscore_to_camelcase 1KB ASCII vs regex (Python)", "underscore_to_camelcase/1 KB ASCII identifiers",
     "regex (pure Python)", "speedup", 20, 3),
    ("uncamel 1KB non-ASCII vs str.lower", "uncamel/1 KB non-ASCII identifiers", "str.lower", "ratio", 3, 3),
    ("underscore_to_camelcase 1KB non-ASCII vs str.lower", "underscore_to_camelcase/1 KB non-ASCII identifiers",
     "str.lower", "ratio", 3, 3),
    ("sanitize_vulgar_string 1KB ASCII without fractions vs str.lower",
     "sanitize_vulgar_string/1 KB text without fractions", "str.lower", "ratio", 2, 3),
    ("sanitize_vulgar_string 1KB non-ASCII without fractions vs str.lower",
     "sanitize_vulgar_string/1 KB non-ASCII text without fractions", "str.lower", "ratio", 2, 3),
    ("parse('1234.56') vs float('1234.56')", "parse/small: '1234.56'", "float('1234.56')", "ratio", 1.5, 4),
    ("parse('42') vs int('42')", "parse/small: '42'", "int('42')", "ratio", 1.5, 4),
    ("parse('$1,234.56') vs pure Python", "parse/small: '$1,234.56'", "reference (pure Python)",
     "speedup", 10, 4),
    ("parse('USD (1,234.50)') vs pure Python", "parse/small: 'USD (1,234.50)'", "reference (pure Python)",
     "speedup", 10, 4),
    ("multikeysort 100k rows 'a' vs sorted(itemgetter)", "multikeysort/100000 rows, columns ['a']",
     "sorted(key=itemgetter('a'))", "ratio", 1.0, 5),
    ("multikeysort 100k rows ['-price','name'] vs two sorted() passes",
     "multikeysort/100000 rows, columns ['-price', 'name']", "two sorted() passes (pure Python)",
     "speedup", 3, 5),
    ("multikeysort 100k rows ['-price','name'] vs pandas", "multikeysort/100000 rows, columns ['-price', 'name']",
     "pandas sort_values", "speedup", 5, 5),
    ("collapse 1M flat ints vs list(x)", "collapse/flat list of 1000000 ints", "list(x)", "ratio", 2, 6),
    ("collapse nested vs more_itertools.collapse", "collapse/nested, 100000 leaves", "more_itertools.collapse",
     "speedup", 10, 6),
    ("backfill 1M 10% None vs list(x)", "backfill/1000000 values, 10% None", "list(x)", "ratio", 2, 6),
    ("backfill 1M 10% None vs pandas", "backfill/1000000 values, 10% None", "pandas ffill().bfill()",
     "speedup", 10, 6),
    ("backfill_iterdict 100k x 10 keys vs plain Python loop", "backfill_iterdict/100000 rows of 10 keys",
     "reference (plain Python loop)", "speedup", 5, 6),
    ("backfill_iterdict 100k x 10 keys vs pandas", "backfill_iterdict/100000 rows of 10 keys",
     "pandas ffill().bfill()", "speedup", 3, 6),
    ("same_order 100 in 10,000 strings vs list.index version", "same_order/100 in 10000 strings",
     "list.index version (pure Python)", "speedup", 5, 6),
    ("parse('1') call overhead vs os.fspath('1')", "parse/small: '1' (call overhead)", "os.fspath('1')",
     "diff_ns", 20, 7),
] + [
    ("tavo.parse(%r, decimal=',') vs _tavo.parse(%r)" % (t, t.translate(str.maketrans(".,", ",."))),
     "parse/" + decimal_comma_label(t), "_tavo.parse(%r)" % t.translate(str.maketrans(".,", ",.")), "ratio", 1.1, 28)
    for t in DECIMAL_COMMA_TEXTS
] + [
    ("uncamel one identifier vs str.lower", "uncamel/small: one identifier", "str.lower", "ratio", 1.2, 16),
    ("underscore_to_camelcase one identifier vs str.lower", "underscore_to_camelcase/small: one identifier",
     "str.lower", "ratio", 1.2, 16),
    ("collapse flat 5-item list vs list(x)", "collapse/small: flat list of 5 ints", "list(x)", "ratio", 1.3, 16),
    ("collapse([[1, 2], (3, 4), 5, [6, [7]], 8]) vs list() of its 8 leaves",
     "collapse/small: [[1, 2], (3, 4), 5, [6, [7]], 8]", "list() of its 8 leaves", "ratio", 2.0, 16),
] + [
    ("multikeysort %d rows, one %s column vs sorted(itemgetter)" % (n, kind),
     "multikeysort/%s%d rows, one %s column" % ("small: " if n < 1000 else "", n, kind),
     "sorted(key=itemgetter('v'))", "ratio", bound, 16)
    for n, kinds, bound in ((10, COLUMN_KINDS, 1.2), (100, COLUMN_KINDS, 1.0), (100_000, LARGE_COLUMN_KINDS, 1.0))
    for kind in kinds
] + [
    ("backfill_iterdict %d rows of 8 keys vs [r.copy() for r in rows]" % n,
     "backfill_iterdict/%s%d rows of 8 keys" % ("small: " if n < 1000 else "", n),
     "[r.copy() for r in rows]", "ratio", 1.5, 16)
    for n in (10, 100, 100_000)
] + [
    ("tavo.price(%r) vs _tavo.parse on the same text" % t, "tavo.price/" + price_label(t), "_tavo.parse",
     "ratio", 2.0, 35)
    for t in PRICE_TEXTS
] + [
    ("tavo.price(%r) vs price_parser" % t, "tavo.price/" + price_label(t), "price_parser", "speedup", 50, 35)
    for t in PRICE_TEXTS
] + [
    # the vector kernels: the same lines, tighter
    ("%s 1KB ASCII vs str.lower, vector kernels" % func, "%s/1 KB ASCII identifiers" % func, "str.lower", "ratio",
     1.0, 38)
    for func in ("uncamel", "underscore_to_camelcase")
] + column_cases.TARGETS + [
    ("tavo.keys.%s 1.2 MB API payload vs %s" % (func, candidate), "keys/%s: API payload, 2000 records" % func,
     candidate, rule, bound, 28)
    for func, peer_label in (("uncamel", "humps.decamelize"), ("underscore_to_camelcase", "humps.camelize"))
    for candidate, rule, bound in ((peer_label, "speedup", 20),
                                   ("comprehension calling _tavo.%s per key" % func, "speedup", 5),
                                   ("json.loads of the payload's text", "ratio", 0.4))
]
