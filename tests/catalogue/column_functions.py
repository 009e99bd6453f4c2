"""Catalogue cases of the column functions of tavo._native (columns_uncamel,
underscore_to_camelcase, sanitize_vulgar_string, parse and price over Arrow columns),
on columns made with arrow_kit (no pyarrow): every row against the per-element
function, each result read back through its export; malformed and refused
columns. Left out when the package's native modules are not built."""
import _tavo
import arrow_kit as ak
from arrow_kit import Chunk, source, utf8_chunk
from catalogue import case_list, has_module, raises, resolve, returns
from fuzz_kit import text
from models import same
from models import number_format as number_format_model
from models.number import column_model, parse_model
from stress_kit import Scenario, intact, mutate_list

MODULE = "tavo._native"
TEXT_FUNCTIONS = ["uncamel", "underscore_to_camelcase", "sanitize_vulgar_string"]
SHORT = TEXT_FUNCTIONS + ["parse", "price"]
OUT_FORMAT = {"u": "u", "U": "U", "vu": "vu", "l": "l", "g": "g"}
TYPE_FORMAT = {"int64": "l", "float64": "g"}
REFUSED = "refused: the rows do not decide the decimal mark"
PRICE_FORMAT = "+s<amount:g,currency:u>"

CASES, add = case_list()


def name(short):
    return f"{MODULE}.columns_{short}"


def price_row(text, decimal=None):
    """A row of the column price: tavo.price of `text` as {amount (float; an int past the
    float range is inf), currency}, or None."""
    p = None if text is None else resolve("tavo.price")(text, decimal=decimal)
    if p is None:
        return None
    try:
        amount = float(p.amount)
    except OverflowError:
        amount = float("inf") if p.amount > 0 else float("-inf")
    return {"amount": amount, "currency": p.currency}


def expected(short, chunks, fmt, type=None, decimal=None):
    """(format, rows of each chunk) that the column function gives for `chunks`
    (lists of str or None) of layout `fmt`: the per-element function row by row; for
    parse, with the decimal mark the model decides from every row (REFUSED when it
    decides none); for price, tavo.price's amount as float() gives it and its currency."""
    if short == "price":
        return PRICE_FORMAT, [[price_row(v, decimal) for v in c] for c in chunks]
    if short != "parse":
        f = getattr(_tavo, short)
        return OUT_FORMAT[fmt], [[None if v is None else f(v) for v in c] for c in chunks]
    mark = number_format_model.number_format([v for c in chunks for v in c])[0]
    if mark is None:
        return REFUSED
    results = [None if v is None else parse_model(v, mark) for c in chunks for v in c]
    kind, rows = column_model(results, type)
    out, at = [], 0
    for c in chunks:
        out.append(rows[at:at + len(c)])
        at += len(c)
    return TYPE_FORMAT[kind], out


def column_source(fmt, chunks, pad=0, stream=True, native=False, **kw):
    """A producer of `chunks` (lists of str or None); the first sliced after `pad` rows;
    `native`: arrow_kit's producer written in C."""
    made = [Chunk.strings((["padRow\u00e9"] * pad if k == 0 else []) + c, fmt, offset=pad if k == 0 else 0)
            for k, c in enumerate(chunks)]
    if native:
        return ak.native_source(fmt, made, stream, **kw)
    return ak.source(fmt, made, stream=stream, **kw)[0]


def flat_rows(read):
    fmt, chunks = read
    return fmt, [v for c in chunks for v in c]


VALUES = {
    "text": [["getHTTPResponseCode", None, "\u00c9t\u00e9Caf\u00e9_x", ""], ["4\u00be cups, \u2153 tsp", "foo_bar_baz",
                                                                           None, "x\u00bd" * 9]],
    # "2.5" decides the mark of the first chunk alone, which "1,200m" reads either way
    "numbers": [["1,200m", None, "(3)", "2.5"], ["abc", "USD (1,234.50)", "9" * 25]],
    "ints": [["12", None, "(3)"], ["", "-0"]],
    # ASCII only and no nulls: sanitize_vulgar_string copies such a chunk at once
    "ascii": [["getHTTPResponseCode", "foo_bar_baz", "1 1/2 cups"], ["x", ""]],
    # no price, no currency, an int past int64 and one past the float range, names and codes
    "prices": [["205,68 \u20ac 205.68", None, "40% OFF", "(1,234.00)", "27.00 \u0440\u0443\u0431."],
               ["$" + "9" * 30, "CHF 1'049,95", "", "1" + "0" * 400 + " EUR", "Free!", "3,500\u5186 to 4,000\u5186"]],
}
GROUPS = {"parse": ["numbers", "ints"], "price": ["prices"]}


if has_module(MODULE):
    for short in SHORT:
        fn = name(short)
        groups = GROUPS.get(short, ["text", "ascii"])
        for group in groups:
            chunks = VALUES[group]
            for fmt in ("u", "U", "vu"):
                for pad in (0, 3):
                    add(f"columns-{short}-{group}-{fmt}-slice{pad}", fn,
                        make=lambda fmt=fmt, chunks=chunks, pad=pad: ((column_source(fmt, chunks, pad),), {}),
                        then=ak.read_stream, check=returns(expected(short, chunks, fmt)))
            # one array, through __arrow_c_array__, its result read the same way
            add(f"columns-{short}-{group}-array", fn,
                make=lambda chunks=chunks: ((column_source("u", chunks[:1], 1, stream=False),), {}),
                then=ak.read_single, check=returns(flat_rows(expected(short, chunks[:1], "u"))))
        add(f"columns-{short}-by-keyword", fn, make=lambda: ((), {"source": column_source("u", [["aB_c"]])}),
            then=ak.read_stream, check=returns(expected(short, [["aB_c"]], "u")))
        add(f"columns-{short}-no-chunks", fn, make=lambda: ((column_source("vu", []),), {}),
            then=ak.read_stream, check=returns(expected(short, [], "vu")))
        add(f"columns-{short}-missing", fn,
            check=raises(TypeError, f"{short}() missing 1 required positional argument: 'source'"))
        add(f"columns-{short}-malformed-row", fn,
            make=lambda: ((source("u", [utf8_chunk([0, 2, 1], b"ab")])[0],), {}),
            check=raises(ValueError, "malformed Arrow data: row 1: offsets decrease (1 after 2)"))
        add(f"columns-{short}-invalid-utf8", fn,
            make=lambda: ((column_source("vu", [["fine", b"\xed\xa0\x80suffixLongerThan12"]]),), {}),
            check=raises(ValueError, "malformed Arrow data: row 1: invalid UTF-8 (byte 0xed at position 0)"))
        add(f"columns-{short}-refused-type", fn,
            make=lambda: ((source("l", [Chunk("l", 1, [None, b"\0" * 8])])[0],), {}),
            check=raises(TypeError, startswith="expected an Arrow string column"))
        add(f"columns-{short}-not-arrow", fn, ["x"], check=raises(TypeError, startswith="expected an Arrow string column"))
        add(f"columns-{short}-failing-stream", fn,
            make=lambda: ((column_source("u", [["aB"], ["cD"]], fail_at=1),), {}),
            check=raises(RuntimeError, "the Arrow stream failed (error 5): the disk is on fire"))
    for kind in ("int64", "float64"):
        chunks = VALUES["numbers"]
        add(f"columns-parse-as-{kind}", name("parse"),
            make=lambda chunks=chunks, kind=kind: ((column_source("U", chunks), kind), {}),
            then=ak.read_stream, check=returns(expected("parse", chunks, "U", kind)))
    add("columns-parse-bad-type", name("parse"), make=lambda: ((column_source("u", [["1"]]), "int8"), {}),
        check=raises(ValueError, "type must be None, 'int64' or 'float64', not 'int8'"))
    for mark in (".", ","):
        chunks = [["1.250 \u20ac", "1,250 \u20ac", "12,5"], [None, "1.234,56 kr"]]
        add(f"columns-price-decimal-{mark}", name("price"),
            make=lambda chunks=chunks, mark=mark: ((column_source("vu", chunks),), {"decimal": mark}),
            then=ak.read_stream, check=returns(expected("price", chunks, "vu", decimal=mark)))
    for bad in (";", "infer", 1):
        add(f"columns-price-bad-mark-{bad!r}", name("price"),
            make=lambda bad=bad: ((column_source("u", [["1"]]),), {"decimal": bad}),
            check=raises(ValueError, f"decimal must be '.' or ',', not {bad!r}"))
    add("columns-price-mark-by-position", name("price"), make=lambda: ((column_source("u", [["1"]]), "."), {}),
        check=raises(TypeError, "price() takes 1 positional argument but 2 were given; decimal is keyword-only"))
    add("columns-price-attributes", name("price"), make=lambda: ((column_source("U", [["$1", None], ["x"]]),), {}),
        then=lambda col: (len(col), col.type, col.num_chunks),
        check=returns((3, "struct<amount: float64, currency: utf8>", 2)))

    def _export_unread(col):
        # exports made and dropped unread: their capsules release what they hold
        col.__arrow_c_stream__()
        col.__arrow_c_array__()
        return len(col)

    add("columns-exports-never-read", name("parse"), make=lambda: ((column_source("u", [["1", None], ["2.5"]]),), {}),
        then=_export_unread, check=returns(3))
    add("columns-result-attributes", name("uncamel"), make=lambda: ((column_source("U", [["aB", None], ["x"]]),), {}),
        then=lambda col: (len(col), col.type, col.num_chunks), check=returns((3, "large_utf8", 2)))


# --- the sweeps --------------------------------------------------------------


def _fresh_column(short, fmt, chunks, *args, pad=0, stream=False, **kw):
    """A NOMEMORY factory: the column function on a fresh producer written in C (the ctypes
    one runs Python code inside the call, which fails under the sweep in ways of its own)."""
    def make():
        src = column_source(fmt, chunks, pad, stream=stream, native=True, **kw)
        return resolve(name(short)), (src, *args), {}, (), False

    return make


def _hammer_call(short, src):
    fn = resolve(name(short))
    return lambda: ak.read_single(fn(src))


class ColumnScenario(Scenario):
    """Callers convert columns drawn from a shared list that mutators change;
    every producer exports the same buffers again on each call (one array)."""

    def __init__(self, short):
        super().__init__()
        self.name = name(short)
        self.fn = resolve(self.name)
        groups = GROUPS.get(short, ["text", "ascii"])
        self.all = [column_source(fmt, VALUES[g][:1], pad, stream=False)
                    for g in groups for fmt in ("u", "U", "vu") for pad in (0, 2)]
        self.expected = {id(s): ak.read_single(self.fn(s)) for s in self.all}  # one thread, one call each
        self.sources = list(self.all)

    def call(self, rng):
        try:
            s = self.sources[rng.randrange(len(self.sources))]
        except (IndexError, ValueError):  # emptied meanwhile
            s = self.all[0]
        return s, ak.read_single(self.fn(s))

    def check(self, arg, out):
        # the buffers never change: every call has exactly one right answer
        assert same(out, self.expected[id(arg)]), (out, self.expected[id(arg)])

    def mutate(self, rng):
        mutate_list(self.sources, rng, lambda r: r.choice(self.all))

    def copy_inputs(self):
        return None

    def expect(self, copy, arg):
        return self.expected[id(arg)]

    def same(self, out, expected):
        return same(out, expected)

    def intact(self):
        intact(self.sources, set(map(id, self.all)))


def _fuzz_column(short):
    def target(fdp):
        values = [None if fdp.ConsumeIntInRange(0, 4) == 0 else text(fdp, allow_surrogates=False)
                  for _ in range(fdp.ConsumeIntInRange(0, 12))]
        fmt = ("u", "U", "vu")[fdp.ConsumeIntInRange(0, 2)]
        pad = fdp.ConsumeIntInRange(0, 9)
        stream = fdp.ConsumeBool()
        cut = fdp.ConsumeIntInRange(0, len(values)) if stream else len(values)
        chunks = [values[:cut], values[cut:]] if stream else [values]
        made = [Chunk.strings((["x"] * pad if k == 0 else []) + c, fmt, offset=pad if k == 0 else 0,
                              view_buffer_size=fdp.ConsumeIntInRange(1, 128)) for k, c in enumerate(chunks)]
        src, producer = source(fmt, made, stream=stream)
        want = expected(short, chunks, fmt)
        if want == REFUSED:
            try:
                resolve(name(short))(src)
            except ValueError as e:
                assert str(e).startswith("cannot infer the decimal mark: "), e
                assert producer.all_released_once() and producer.buffers_unchanged()
                return
            raise AssertionError(f"no refusal for {chunks!r}")
        col = resolve(name(short))(src)
        assert producer.all_released_once() and producer.buffers_unchanged()
        fmt_out, rows = want
        if stream:
            got, want = ak.read_stream(col), (fmt_out, rows)
        else:
            got, want = ak.read_single(col), (fmt_out, rows[0])
        assert same(got, want), (short, fmt, values, got, want)

    return target


_HAMMER_SOURCES = {short: column_source("vu", [VALUES[GROUPS.get(short, ["text"])[0]][0] * 30], 1,
                                       stream=False) for short in SHORT} if has_module(MODULE) else {}
_SETUP = "import arrow_kit as ak\nargs = (ak.source({fmt!r}, [ak.Chunk.strings({rows})])[0],)"

PROBE, NOMEMORY, HAMMER, STRESS, FUZZ, SCALE = {}, {}, {}, {}, {}, {}
if has_module(MODULE):
    for short in SHORT:
        fn = name(short)
        PROBE[fn] = (column_source("u", [["aB"]], stream=False),)  # exports again on every call
        rows = VALUES[GROUPS.get(short, ["text"])[0]]
        NOMEMORY[f"columns-{short}-sliced"] = _fresh_column(short, "u", rows[:1], pad=1, stream=False)
        NOMEMORY[f"columns-{short}-views"] = _fresh_column(short, "vu", rows[1:], stream=False)
        NOMEMORY[f"columns-{short}-large"] = _fresh_column(short, "U", rows[:1], stream=False)
        NOMEMORY[f"columns-{short}-ascii"] = _fresh_column(short, "u", VALUES["ascii"], pad=1, stream=True)
        NOMEMORY[f"columns-{short}-malformed"] = lambda fn=fn: (
            resolve(fn), (ak.native_source("u", [utf8_chunk([0, 2, 1], b"ab")], stream=False),), {}, (), False)
        NOMEMORY[f"columns-{short}-stream"] = _fresh_column(short, "vu", rows, pad=2, stream=True)
        HAMMER[fn] = _hammer_call(short, _HAMMER_SOURCES[short])
        STRESS[fn] = lambda short=short: ColumnScenario(short)
        FUZZ[fn] = _fuzz_column(short)
    NOMEMORY["columns-parse-as-int64"] = _fresh_column("parse", "u", VALUES["ints"][:1], "int64", stream=False)
    NOMEMORY["columns-price-bad-mark"] = lambda: (
        resolve(name("price")), (column_source("u", [["1"]], stream=False, native=True),), {"decimal": ";"}, (),
        False)
    NOMEMORY["columns-not-arrow"] = lambda: (resolve(name("uncamel")), (["x"],), {}, (), False)
    # 100 MB in one row, and a million rows (the result is checked by its length: reading a
    # million rows back through ctypes would take longer than the call)
    SCALE = {
        "columns-uncamel-100MB-row": (
            name("uncamel"), _SETUP.format(fmt="U", rows="['getHTTPResponseCode' * (100 * 2**20 // 19)], 'U'"),
            "ak.read_single(r)[1][0].startswith('get_http_response_code')", 8),
        "columns-underscore_to_camelcase-1e6-rows": (
            name("underscore_to_camelcase"), _SETUP.format(fmt="u", rows="['foo_bar_%d' % i for i in range(10**6)]"),
            "len(r) == 10**6 and r.type == 'utf8'", 4),
        "columns-sanitize_vulgar_string-100MB-row": (
            name("sanitize_vulgar_string"), _SETUP.format(fmt="u", rows="['1\u00bd ' * (100 * 2**20 // 4)]"),
            "ak.read_single(r)[1][0].startswith('1.5 1.5 ')", 8),
        "columns-parse-1e6-rows": (
            name("parse"), _SETUP.format(fmt="vu", rows="['(1,234.%d)' % (i % 100) for i in range(10**6)], 'vu'"),
            "len(r) == 10**6 and r.type == 'float64'", 4),
        "columns-price-1e6-rows": (
            name("price"), _SETUP.format(fmt="vu", rows="['Preis: %d,%02d \u20ac' % (i, i % 100) for i in range(10**6)], "
                                                       "'vu'"),
            "len(r) == 10**6 and r.type == 'struct<amount: float64, currency: utf8>'", 4),
    }
