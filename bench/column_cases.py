"""The column cases: tavo.columns over 1,000,000-row columns against pyarrow's own
kernels and against the per-element ways people call the module today; two threads
each converting its own column; the peak memory of a call.

Needs pyarrow (polars for the polars lines, DuckDB for the DuckDB line); without them the
cases are skipped.
"""

import gc
import importlib
import random
import re
import time

import _tavo

from harness import Candidate, Case

ROWS = 1_000_000
THREAD_ROWS = 400_000

WORDS = ["get", "set", "user", "id", "http", "response", "code", "parse", "xml", "document", "max", "retry",
         "count", "first", "name", "last", "modified", "at", "page", "size", "row", "index", "to", "json",
         "load", "config", "from", "file", "send", "request", "value", "is", "valid", "tcp2", "server", "url"]
CAPITALS = ["HTTP", "XML", "ID", "URL", "JSON", "IO", "TCP"]
# mixed scripts: Latin with diacritics, Greek, Cyrillic, and ASCII words among them
WORDS_UNICODE = ["école", "normale", "straße", "größe", "ändern", "οδός", "αθηνών", "имя", "файла", "μέγεθος",
                 "αρχείου", "års", "rapport", "ça", "niño", "pequeño", "łódź", "centrum", "пользователя",
                 "über", "øre", "sund", "user", "name", "value"]
PROSE = ("Preheat the oven to 200 degrees. Mix 2 cups of flour with 1 tsp of salt and 3 eggs, then stir for "
         "5 minutes until smooth; rest the dough for 30 minutes.").split()
PROSE_UNICODE = ("Préchauffez le four à 200 °C. Mélangez la crème brûlée — 2 tasses — avec 1 c. à café de sel; "
                 "Ψήστε στους 180 βαθμούς. Смешайте муку с солью, 5 минут.").split()


def unavailable():
    """'' when the column cases can run, else why not."""
    try:
        importlib.import_module("tavo.columns")
    except ImportError as e:
        return "tavo.columns is not installed (pip install .): %s" % e
    try:
        importlib.import_module("pyarrow.compute")
    except ImportError:
        return "pyarrow is not installed (pip install .[bench])"
    return ""


def camel_identifiers(n, seed=1):
    """camelCase identifiers of 5 to 40 ASCII characters."""
    rnd = random.Random(seed)
    out = []
    for _ in range(n):
        words = [rnd.choice(WORDS)]
        while len(words) < 6 and (len(words) < 2 or rnd.random() < 0.6):
            w = rnd.choice(CAPITALS) if rnd.random() < 0.15 else rnd.choice(WORDS).capitalize()
            words.append(w)
        s = "".join(words)[:40]
        out.append(s if len(s) >= 5 else s + "Value")
    return out


def snake_identifiers(n, words, seed=2):
    rnd = random.Random(seed)
    return ["_".join(rnd.choice(words) for _ in range(rnd.randint(2, 5))) for _ in range(n)]


def camel_unicode(n, seed=3):
    rnd = random.Random(seed)
    return ["".join(w if i == 0 else w.capitalize() for i, w in enumerate(rnd.choice(WORDS_UNICODE)
                                                                          for _ in range(rnd.randint(2, 4))))
            for _ in range(n)]


def sentences(n, words, seed=4):
    rnd = random.Random(seed)
    out = []
    for _ in range(n):
        i = rnd.randrange(len(words))
        out.append(" ".join(words[i:i + rnd.randint(3, 8)]) or words[0])
    return out


def prices(n, seed=5, messy=True, comma=False):
    """Messy price texts ('$1,234.56', 'USD (12.50)', '1,200m'), or the same figures plainly written
    ('1234.56'), or with points between the thousands and a decimal comma ('1.234,56')."""
    rnd = random.Random(seed)
    out = []
    for _ in range(n):
        whole, cents, form = rnd.randrange(1, 999_999), rnd.randrange(100), rnd.randrange(4)
        if comma:
            out.append("{:,}".format(whole).replace(",", ".") + ",%02d" % cents)
            continue
        if not messy:
            out.append("%d.%02d" % (whole, cents))
            continue
        figure = "{:,}.{:02d}".format(whole, cents)
        out.append(["$" + figure, "USD (%s)" % figure, figure + " EUR", " %s m" % figure][form])
    return out


def _time_candidates(func_label, data_label, module_fn, x, others):
    case = Case("columns", "%s: %s" % (func_label, data_label), "large", {"main": data_label},
                {"main": Candidate("tavo.columns." + func_label, "module", "f(x)", {"f": module_fn, "x": x})}, [])
    case.others.extend(others)
    return case


def cases():
    import pyarrow as pa
    import pyarrow.compute as pc
    from tavo import columns

    def per_element(fn, x):
        return Candidate("per element: to_pylist, %s, pa.array" % fn.__name__, "reference",
                         "pa.array([f(s) for s in x.to_pylist()], t)",
                         {"pa": pa, "f": fn, "x": x, "t": x.type})

    def lower(x, ascii_too=True):
        out = [Candidate("pyarrow.compute.utf8_lower", "built-in", "f(x)", {"f": pc.utf8_lower, "x": x}, check=False)]
        if ascii_too:
            out.append(Candidate("pyarrow.compute.ascii_lower", "built-in", "f(x)", {"f": pc.ascii_lower, "x": x},
                                 check=False))
        return out

    out = []
    camel = pa.array(camel_identifiers(ROWS))
    out.append(_time_candidates("uncamel", "1,000,000 ASCII identifiers of 5-40 characters, pyarrow Array",
                                columns.uncamel, camel, lower(camel) + [per_element(_tavo.uncamel, camel)]))
    snake = snake_identifiers(ROWS, WORDS)
    # The other text lines: each function over ASCII text (against both lowerings) and over
    # mixed scripts (against utf8_lower only).
    for name, what, values, ascii_text in [
        ("uncamel", "1,000,000 non-ASCII identifiers (mixed scripts)", camel_unicode(ROWS), False),
        ("underscore_to_camelcase", "1,000,000 ASCII identifiers", snake, True),
        ("underscore_to_camelcase", "1,000,000 non-ASCII identifiers (mixed scripts)",
         snake_identifiers(ROWS, WORDS_UNICODE), False),
        ("sanitize_vulgar_string", "1,000,000 ASCII texts without fractions", sentences(ROWS, PROSE), True),
        ("sanitize_vulgar_string", "1,000,000 non-ASCII texts without fractions (mixed scripts)",
         sentences(ROWS, PROSE_UNICODE), False),
    ]:
        x = pa.array(values)
        out.append(_time_candidates(name, what + ", pyarrow Array", getattr(columns, name), x, lower(x, ascii_text)))
    messy, clean = pa.array(prices(ROWS)), pa.array(prices(ROWS, messy=False))
    # the inputs are what their labels say: identifiers of 5-40 ASCII characters, and the
    # same figures written messily and plainly (the messy ones negative in parentheses)
    assert pc.all(pc.and_(pc.greater_equal(pc.utf8_length(camel), 5), pc.less_equal(pc.utf8_length(camel), 40))).as_py()
    assert pc.all(pc.string_is_ascii(camel)).as_py() and pc.all(pc.string_is_ascii(pa.array(snake))).as_py()
    assert pc.all(pc.equal(pc.abs(columns.parse(messy)), pc.cast(clean, pa.float64()))).as_py()
    out.append(_time_candidates(
        "parse", "1,000,000 messy price texts, pyarrow Array", lambda x: columns.parse(x, decimal="."), messy,
        [Candidate("pyarrow.compute.cast(clean numeric text, float64)", "built-in", "f(x, t)",
                   {"f": pc.cast, "x": clean, "t": pa.float64()}, check=False),
         per_element(_tavo.parse, messy)]))
    out[-1].others[-1].expr = "pa.array([f(s) for s in x.to_pylist()], pa.float64())"
    # the decimal comma: '123.456,78' against the cast of the same numbers written plainly
    commas = pa.array(prices(ROWS, messy=False, comma=True))
    assert pc.all(pc.equal(columns.parse(commas, decimal=","), pc.cast(clean, pa.float64()))).as_py()
    out.append(_time_candidates(
        "parse", "1,000,000 texts like '123.456,78', decimal=',', pyarrow Array",
        lambda x: columns.parse(x, decimal=","), commas,
        [Candidate("pyarrow.compute.cast(the same numbers written plainly, float64)", "built-in", "f(x, t)",
                   {"f": pc.cast, "x": clean, "t": pa.float64()}, check=False)]))
    # the decimal mark decided from the column: the evidence alone, and parse inferring it
    assert columns.number_format(commas).decimal == ","
    out.append(_time_candidates(
        "number_format", "1,000,000 texts like '123.456,78', pyarrow Array", columns.number_format, commas,
        [Candidate("pyarrow.compute.cast(the same numbers written plainly, float64)", "built-in", "f(x, t)",
                   {"f": pc.cast, "x": clean, "t": pa.float64()}, check=False)]))
    out.append(_time_candidates(
        "parse", "1,000,000 texts like '123.456,78', decimal='infer', pyarrow Array",
        lambda x: columns.parse(x, decimal="infer"), commas,
        [Candidate("tavo.columns.parse(decimal=',')", "reference", "f(x, decimal=',')",
                   {"f": columns.parse, "x": commas})]))

    # the amount and currency of a price: the same messy texts, against the cast of the clean ones
    priced = columns.price(messy)
    assert pc.all(pc.equal(pc.abs(pc.struct_field(priced, "amount")), pc.cast(clean, pa.float64()))).as_py()
    out.append(_time_candidates(
        "price", "1,000,000 messy price texts, pyarrow Array", columns.price, messy,
        [Candidate("pyarrow.compute.cast(clean numeric text, float64)", "built-in", "f(x, t)",
                   {"f": pc.cast, "x": clean, "t": pa.float64()}, check=False)]))

    out += polars_cases(camel)
    out += duckdb_cases(camel)
    return out


def polars_cases(camel):
    """uncamel over a polars Series, and as the expression of tavo.polars in a query,
    against map_elements(_tavo.uncamel)."""
    try:
        import polars as pl
        import tavo.polars  # noqa: F401
    except ImportError:
        return []  # its target says the case did not run
    from tavo import columns
    series = pl.Series("name", camel)
    frame = series.to_frame()
    per_element = series.map_elements(_tavo.uncamel, return_dtype=pl.String)
    # a polars Series compares row by row: checked here once, not by the harness
    assert columns.uncamel(series).equals(per_element)
    assert frame.select(pl.col("name").tavo.uncamel())["name"].equals(per_element)
    note = ["checked equal to tavo's before timing"]
    return [
        _time_candidates(
            "uncamel", "1,000,000 ASCII identifiers, polars Series", columns.uncamel, series,
            [Candidate("polars map_elements(_tavo.uncamel)", "peer", "x.map_elements(f, return_dtype=t)",
                       {"x": series, "f": _tavo.uncamel, "t": pl.String}, check=False, notes=note)]),
        Case("columns", "uncamel: 1,000,000 ASCII identifiers, polars expression pl.col(x).tavo.uncamel()",
             "large", {"main": "1,000,000 ASCII identifiers in a DataFrame"},
             {"main": Candidate("pl.col(x).tavo.uncamel()", "module", "d.select(c(n).tavo.uncamel())",
                                {"d": frame, "c": pl.col, "n": "name"})},
             [Candidate("polars map_elements(_tavo.uncamel)", "peer",
                        "d.select(c(n).map_elements(f, return_dtype=t))",
                        {"d": frame, "c": pl.col, "n": "name", "f": _tavo.uncamel, "t": pl.String},
                        check=False, notes=note)]),
    ]


UNCAMEL_REGEX = r"lower(regexp_replace(n, '([a-z0-9])([A-Z])', '\1_\2', 'g'))"


def duckdb_cases(camel):
    """tavo_uncamel in a DuckDB query over a 1,000,000-row table, against the regular
    expression people write in SQL; both results fetched as Arrow."""
    try:
        import duckdb
        import pyarrow as pa
        import tavo.duckdb
    except ImportError:
        return []
    con = duckdb.connect()
    tavo.duckdb.register(con)
    con.register("source", pa.table({"n": camel}))
    con.execute("CREATE TABLE names AS SELECT n FROM source")
    con.unregister("source")
    sql = "SELECT %s FROM names"
    # checked once here (every row); the regular expression differs from uncamel on runs of
    # capitals (HTTPCode), so it is not compared
    got = con.sql(sql % "tavo_uncamel(n)").to_arrow_table().column(0)
    assert got.to_pylist() == [_tavo.uncamel(s) for s in camel.to_pylist()]
    return [Case("columns", "uncamel: 1,000,000 ASCII identifiers, DuckDB query tavo_uncamel(n)", "large",
                 {"main": "1,000,000 ASCII identifiers in a DuckDB table"},
                 {"main": Candidate("SQL tavo_uncamel(n)", "module", "con.sql(q).to_arrow_table()",
                                    {"con": con, "q": sql % "tavo_uncamel(n)"})},
                 [Candidate("SQL lower(regexp_replace(...))", "built-in", "con.sql(q).to_arrow_table()",
                            {"con": con, "q": sql % UNCAMEL_REGEX}, check=False,
                            notes=["the regular expression differs on runs of capitals: not compared"])])]


CASE_IDS = {
    "uncamel": "columns/uncamel: 1,000,000 ASCII identifiers of 5-40 characters, pyarrow Array",
    "uncamel_u": "columns/uncamel: 1,000,000 non-ASCII identifiers (mixed scripts), pyarrow Array",
    "underscore": "columns/underscore_to_camelcase: 1,000,000 ASCII identifiers, pyarrow Array",
    "underscore_u": "columns/underscore_to_camelcase: 1,000,000 non-ASCII identifiers (mixed scripts), pyarrow Array",
    "sanitize": "columns/sanitize_vulgar_string: 1,000,000 ASCII texts without fractions, pyarrow Array",
    "sanitize_u": "columns/sanitize_vulgar_string: 1,000,000 non-ASCII texts without fractions (mixed scripts), "
                  "pyarrow Array",
    "parse": "columns/parse: 1,000,000 messy price texts, pyarrow Array",
    "parse_comma": "columns/parse: 1,000,000 texts like '123.456,78', decimal=',', pyarrow Array",
    "number_format": "columns/number_format: 1,000,000 texts like '123.456,78', pyarrow Array",
    "parse_infer": "columns/parse: 1,000,000 texts like '123.456,78', decimal='infer', pyarrow Array",
    "price": "columns/price: 1,000,000 messy price texts, pyarrow Array",
    "polars": "columns/uncamel: 1,000,000 ASCII identifiers, polars Series",
    "polars_expr": "columns/uncamel: 1,000,000 ASCII identifiers, polars expression pl.col(x).tavo.uncamel()",
    "duckdb": "columns/uncamel: 1,000,000 ASCII identifiers, DuckDB query tavo_uncamel(n)",
}
LOWER = "pyarrow.compute.utf8_lower"
# (title, case id, candidate label, rule, bound, issue), as cases.TARGETS
TARGETS = [
    ("columns uncamel 1M ASCII identifiers vs utf8_lower", CASE_IDS["uncamel"], LOWER, "ratio", 1.0, 23),
    ("columns underscore_to_camelcase 1M ASCII vs utf8_lower", CASE_IDS["underscore"], LOWER, "ratio", 1.0, 23),
    ("columns sanitize_vulgar_string 1M ASCII without fractions vs utf8_lower", CASE_IDS["sanitize"], LOWER,
     "ratio", 1.0, 23),
    ("columns underscore_to_camelcase 1M non-ASCII vs utf8_lower", CASE_IDS["underscore_u"], LOWER, "ratio", 2.0,
     23),
    ("columns sanitize_vulgar_string 1M non-ASCII without fractions vs utf8_lower", CASE_IDS["sanitize_u"], LOWER,
     "ratio", 2.0, 23),
    ("columns parse 1M messy prices vs cast of clean text to float64", CASE_IDS["parse"],
     "pyarrow.compute.cast(clean numeric text, float64)", "ratio", 1.5, 23),
    ("columns parse 1M '123.456,78' decimal=',' vs cast of '123456.78' to float64", CASE_IDS["parse_comma"],
     "pyarrow.compute.cast(the same numbers written plainly, float64)", "ratio", 1.5, 28),
    ("columns number_format 1M '123.456,78' vs cast of '123456.78' to float64", CASE_IDS["number_format"],
     "pyarrow.compute.cast(the same numbers written plainly, float64)", "ratio", 1.0, 35),
    ("columns parse 1M '123.456,78' decimal='infer' vs decimal=','", CASE_IDS["parse_infer"],
     "tavo.columns.parse(decimal=',')", "ratio", 1.5, 35),
    ("columns price 1M messy prices vs cast of clean text to float64", CASE_IDS["price"],
     "pyarrow.compute.cast(clean numeric text, float64)", "ratio", 2.0, 35),
    ("columns uncamel polars Series vs map_elements", CASE_IDS["polars"], "polars map_elements(_tavo.uncamel)",
     "speedup", 5, 23),
    ("polars pl.col(x).tavo.uncamel() 1M vs map_elements(_tavo.uncamel)", CASE_IDS["polars_expr"],
     "polars map_elements(_tavo.uncamel)", "speedup", 5, 29),
    ("DuckDB tavo_uncamel 1M vs lower(regexp_replace(...))", CASE_IDS["duckdb"], "SQL lower(regexp_replace(...))",
     "ratio", 0.5, 29),
    # the vector kernels: the same lines, tighter, and the identifiers outside ASCII
    ("columns uncamel 1M ASCII identifiers vs utf8_lower, vector kernels", CASE_IDS["uncamel"], LOWER, "ratio", 0.7,
     38),
    ("columns underscore_to_camelcase 1M ASCII vs utf8_lower, vector kernels", CASE_IDS["underscore"], LOWER,
     "ratio", 0.7, 38),
    ("columns uncamel 1M non-ASCII identifiers (mixed scripts) vs utf8_lower", CASE_IDS["uncamel_u"], LOWER,
     "ratio", 1.2, 38),
    ("columns parse 1M messy prices vs cast of clean text to float64, vector filter", CASE_IDS["parse"],
     "pyarrow.compute.cast(clean numeric text, float64)", "ratio", 1.0, 38),
    ("columns parse 1M '123.456,78' decimal=',' vs cast of '123456.78' to float64, vector filter",
     CASE_IDS["parse_comma"], "pyarrow.compute.cast(the same numbers written plainly, float64)", "ratio", 1.0, 38),
]


# --- two threads ------------------------------------------------------------------------------

def thread_round(seed):
    """A thread's own 400,000-row column, and one round: uncamel over it."""
    import pyarrow as pa
    from tavo import columns
    x = pa.array(camel_identifiers(THREAD_ROWS, seed=seed))
    f = columns.uncamel

    def one_round():
        f(x)

    return one_round


# --- peak memory ------------------------------------------------------------------------------
# The peak resident size of the process during one call, over its resident size before the
# call (Linux: /proc/self/status, the peak reset through /proc/self/clear_refs), against the
# size of the output's buffers. Before each call the C library's allocator gives its free
# memory back (malloc_trim), so that the call's pages count as it touches them.

SLACK_BYTES = 4 << 20


def _status(field):
    with open("/proc/self/status") as f:
        return int(re.search(r"^%s:\s+(\d+) kB" % field, f.read(), re.M).group(1)) * 1024


def _reset_peak():
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def peak_memory():
    """[(label, output bytes, peak bytes over the start)] or a str saying why not measured."""
    try:
        import ctypes
        trim = ctypes.CDLL(None).malloc_trim
        _reset_peak()
        _status("VmHWM")
    except (OSError, AttributeError) as e:
        return "the peak resident size cannot be measured here: %s" % e
    import pyarrow as pa
    from tavo import columns
    out = []
    for label, fn, rows in (("uncamel", columns.uncamel, camel_identifiers(ROWS)),
                            ("sanitize_vulgar_string", columns.sanitize_vulgar_string, sentences(ROWS, PROSE)),
                            ("parse", columns.parse, prices(ROWS))):
        x = pa.array(rows)
        del rows
        fn(x)  # once before: the code and the allocator's first arenas
        peaks = []
        for _ in range(3):
            gc.collect()
            trim(0)
            time.sleep(0.05)
            _reset_peak()
            start = _status("VmRSS")
            result = fn(x)
            peaks.append(_status("VmHWM") - start)
            size = sum(b.size for b in result.buffers() if b is not None)
            del result
        out.append((label, size, min(peaks)))
        del x
    return out


def memory_target(m):
    title = "columns peak memory of a call: the output's size plus a small constant"
    if isinstance(m, str):
        return {"title": title, "status": "SKIPPED", "why": m, "issue": 23, "line": "%s: SKIPPED (%s)" % (title, m)}
    worst = max(peak - size for _, size, peak in m)
    status = "MET" if worst <= SLACK_BYTES else "MISSED"
    parts = ", ".join("%s %.1f MB over an output of %.1f MB" % (label, peak / 1e6, size / 1e6)
                      for label, size, peak in m)
    line = "%s: %s; at most %+.1f MB beyond the output (target <= %.0f MB) %s" % (
        title, parts, worst / 1e6, SLACK_BYTES / 1e6, status)
    return {"title": title, "status": status, "value": worst, "bound": SLACK_BYTES, "rule": "memory", "issue": 23,
            "line": line}
