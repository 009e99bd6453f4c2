"""Catalogue cases of number_format: the per-element walk of tavo._native over an iterable
of str or None, and (with the column module) tavo._native.columns_number_format over Arrow
columns, each against the pure-Python model of the evidence rules (models/number_format.py)."""
from catalogue import case_list, fresh, has_module, raises, resolve, returns
from fuzz_kit import has_surrogate, text
from models import number_format as model
from stress_kit import CAP, Scenario, intact, mutate_list

CASES, add = case_list()
NF = "tavo._native.number_format"
BUILT = has_module("tavo._native")

ROWS = ["1.234,56", None, "12,5", "x", "1.250", "CHF 1'049,95", "3.5", "", "\u00e9t\u00e9 1\u202f234,5"]
for i, texts in enumerate([ROWS, ROWS[:4], ["1.250", "12,500"], [], ["7", None], ("1,5", "2.5")]):
    add(f"{NF}-ok-{i}", NF, texts, check=returns(model.number_format(texts)))
add(f"{NF}-generator", NF, make=lambda: (((t for t in ROWS),), {}), check=returns(model.number_format(ROWS)))
add(f"{NF}-by-keyword", NF, kwargs={"texts": ["1,5"]}, check=returns(model.number_format(["1,5"])))
add(f"{NF}-bad-item", NF, ["1,5", 7], check=raises(TypeError, "number_format() takes str or None items, item 1 is 'int'"))
add(f"{NF}-not-iterable", NF, 7, check=raises(TypeError, "'int' object is not iterable"))
add(f"{NF}-surrogate", NF, ["1,5", "\ud800"], check=raises(UnicodeEncodeError))
add(f"{NF}-missing", NF, check=raises(TypeError, "number_format() missing 1 required positional argument: 'texts'"))


class NumberFormatScenario(Scenario):
    """Callers take the evidence of a shared list of texts that mutators change: every
    record counts at most CAP rows and shows only texts the list ever held."""

    TEXTS = ("1.234,56", "12,5", "1.250", "3.5", "x", None, "1 234", "1,234.5")

    def __init__(self):
        super().__init__()
        self.name = NF
        self.fn = resolve(NF)
        self.texts = list(self.TEXTS)

    def call(self, rng):
        return None, self.fn(self.texts)

    def check(self, arg, out):
        assert type(out) is tuple and len(out) == 8
        assert 0 <= sum(out[1:5]) <= CAP
        for ex in out[5:]:
            assert ex is None or ex[1] in self.TEXTS, ex

    def mutate(self, rng):
        mutate_list(self.texts, rng, lambda r: r.choice(self.TEXTS))

    def copy_inputs(self):
        return list(self.texts)

    def expect(self, copy, arg):
        return model.number_format(copy)

    def same(self, out, expected):
        return out == expected

    def intact(self):
        assert len(self.texts) <= CAP and all(t in self.TEXTS for t in self.texts)


def fuzz_number_format(fdp):
    texts = [None if fdp.ConsumeIntInRange(0, 5) == 0 else text(fdp) for _ in range(fdp.ConsumeIntInRange(0, 8))]
    if fdp.ConsumeBool():
        texts = ["".join(c for c in t if c in "0123456789.,' \u00a0\u202f\u2019-x") if t else t for t in texts]
    fn = resolve(NF)
    if any(t is not None and has_surrogate(t) for t in texts):
        try:
            fn(texts)
        except UnicodeEncodeError:
            return
        raise AssertionError(f"no UnicodeEncodeError for {texts!r}")
    assert fn(texts) == model.number_format(texts), texts


PROBE = {NF: (["1.234,56", None],)}
NOMEMORY = {
    f"{NF}-rows": fresh(NF, ROWS),
    f"{NF}-generator": lambda: (resolve(NF), ((t for t in ROWS),), {}, (), False),
    f"{NF}-bad-item": fresh(NF, ["1,5", 7]),
}
HAMMER = {NF: lambda: resolve(NF)(ROWS * 20)}
STRESS = {NF: NumberFormatScenario}
FUZZ = {NF: fuzz_number_format}
SCALE = {
    f"{NF}-1e6-rows": (NF, "args = (['1.234,%02d' % (i % 100) for i in range(10**6)],)",
                       "r[:3] == (',', 0, 10**6) and r[6] == (0, '1.234,00')", 2),
}

if not BUILT:
    CASES[:] = []
    PROBE = NOMEMORY = HAMMER = SCALE = STRESS = FUZZ = {}


# --- tavo._native.columns_number_format ------------------------------------------------------------

COLUMN_NF = "tavo._native.columns_number_format"
if has_module("tavo._native"):
    import arrow_kit as ak
    from arrow_kit import Chunk, source, utf8_chunk

    def _column(fmt, chunks, pad=0, stream=True, native=False, **kw):
        made = [Chunk.strings((["1,5"] * pad if k == 0 else []) + c, fmt, offset=pad if k == 0 else 0)
                for k, c in enumerate(chunks)]
        if native:
            return ak.native_source(fmt, made, stream, **kw)
        return source(fmt, made, stream=stream, **kw)[0]

    CHUNKS = [ROWS[:5], ROWS[5:], ["x" * 50 + "1.250"]]
    for fmt in ("u", "U", "vu"):
        for pad in (0, 3):
            add(f"{COLUMN_NF}-{fmt}-slice{pad}", COLUMN_NF, make=lambda fmt=fmt, pad=pad: ((_column(fmt, CHUNKS, pad),), {}),
                check=returns(model.number_format([t for c in CHUNKS for t in c])))
    add(f"{COLUMN_NF}-array", COLUMN_NF, make=lambda: ((_column("u", CHUNKS[:1], stream=False),), {}),
        check=returns(model.number_format(CHUNKS[0])))
    add(f"{COLUMN_NF}-no-chunks", COLUMN_NF, make=lambda: ((_column("vu", []),), {}), check=returns(model.number_format([])))
    add(f"{COLUMN_NF}-malformed-row", COLUMN_NF, make=lambda: ((source("u", [utf8_chunk([0, 2, 1], b"ab")])[0],), {}),
        check=raises(ValueError, "malformed Arrow data: row 1: offsets decrease (1 after 2)"))
    add(f"{COLUMN_NF}-invalid-utf8", COLUMN_NF,
        make=lambda: ((_column("vu", [["1,5"], ["fine", b"\xed\xa0\x80suffixLongerThan12"]]),), {}),
        check=raises(ValueError, "malformed Arrow data: row 2: invalid UTF-8 (byte 0xed at position 0)"))
    add(f"{COLUMN_NF}-not-arrow", COLUMN_NF, ["1,5"], check=raises(TypeError, startswith="expected an Arrow string column"))
    add(f"{COLUMN_NF}-failing-stream", COLUMN_NF, make=lambda: ((_column("u", [["1,5"], ["2,5"]], fail_at=1),), {}),
        check=raises(RuntimeError, "the Arrow stream failed (error 5): the disk is on fire"))
    # parse's inference over the same columns: refused with the evidence, nothing returned
    PARSE = "tavo._native.columns_parse"
    add(f"{PARSE}-infer-refused", PARSE, make=lambda: ((_column("U", [["1.250", None], ["3.5", "x", "1,5"]]),), {}),
        check=raises(ValueError, "cannot infer the decimal mark: the rows show both marks: 1 show '.' "
                                 "(row 2: '3.5'), 1 show ',' (row 4: '1,5'); pass decimal='.' or decimal=','"))
    add(f"{PARSE}-infer-either", PARSE, make=lambda: ((_column("vu", [["12", "1 250,000"]]),), {"decimal": "infer"}),
        check=raises(ValueError, "cannot infer the decimal mark: no row shows '.' or ',' as the decimal point, "
                                 "and 1 read either way (row 1: '1 250,000'); pass decimal='.' or decimal=','"))
    add(f"{PARSE}-infer-long-example", PARSE, make=lambda: ((_column("u", [["2,5", "\u00e9" * 60 + "1.5"]]),), {}),
        check=raises(ValueError, "cannot infer the decimal mark: the rows show both marks: 1 show '.' (row 1: '"
                                 + "\u00e9" * 37 + "...'), 1 show ',' (row 0: '2,5'); pass decimal='.' or decimal=','"))
    add(f"{PARSE}-infer-comma", PARSE, make=lambda: ((_column("u", [["1.250", None], ["(3,5)"]]),), {}),
        then=ak.read_stream, check=returns(("g", [[1250.0, None], [-3.5]])))

    def _fuzz_column_format(fdp):
        values = [None if fdp.ConsumeIntInRange(0, 4) == 0 else text(fdp, allow_surrogates=False)
                  for _ in range(fdp.ConsumeIntInRange(0, 12))]
        if fdp.ConsumeBool():
            values = ["".join(c for c in t if c in "0123456789.,' \u00a0\u202f\u2019-x") if t else t for t in values]
        fmt = ("u", "U", "vu")[fdp.ConsumeIntInRange(0, 2)]
        cut = fdp.ConsumeIntInRange(0, len(values))
        src, producer = source(fmt, [Chunk.strings(values[:cut], fmt), Chunk.strings(values[cut:], fmt)], stream=True)
        got = resolve(COLUMN_NF)(src)
        assert producer.all_released_once() and producer.buffers_unchanged()
        assert got == model.number_format(values), (values, got)

    PROBE[COLUMN_NF] = (_column("u", [["1,5"]], stream=False),)
    NOMEMORY.update({
        f"{COLUMN_NF}-stream": lambda: (resolve(COLUMN_NF), (_column("vu", CHUNKS, 2, native=True),), {}, (), False),
        f"{COLUMN_NF}-array": lambda: (resolve(COLUMN_NF), (_column("U", CHUNKS[1:], stream=False, native=True),),
                                       {}, (), False),
        f"{PARSE}-infer-refused": lambda: (resolve(PARSE), (_column("u", [["1.5"], ["2,5"]], native=True),), {}, (),
                                           False),
        f"{PARSE}-infer-comma": lambda: (resolve(PARSE), (_column("u", [["1.250"], ["2,5"]], native=True),), {}, (),
                                         False),
    })
    _HAMMER_SOURCE = _column("vu", [ROWS * 30], 1, stream=False)
    HAMMER[COLUMN_NF] = lambda: resolve(COLUMN_NF)(_HAMMER_SOURCE)
    FUZZ[COLUMN_NF] = _fuzz_column_format
    _SETUP = "import arrow_kit as ak\nargs = (ak.source({fmt!r}, [ak.Chunk.strings({rows})])[0],)"
    SCALE[f"{COLUMN_NF}-1e6-rows"] = (
        COLUMN_NF, _SETUP.format(fmt="vu", rows="['1.234,%d' % (i % 100) for i in range(10**6)] + ['9.5'], 'vu'"),
        "r[:3] == (None, 1, 10**6) and r[5] == (10**6, '9.5')", 2)


class ColumnFormatScenario(Scenario):
    """Callers take the evidence of columns drawn from a shared list that mutators change;
    every producer exports the same buffers on each call, so each has one right answer."""

    def __init__(self):
        super().__init__()
        self.name = COLUMN_NF
        self.fn = resolve(COLUMN_NF)
        self.all = [_column(fmt, [rows], pad, stream=False) for rows in (ROWS, ["1.250", "3,5"], [None])
                    for fmt in ("u", "U", "vu") for pad in (0, 2)]
        self.expected = {id(s): self.fn(s) for s in self.all}
        self.sources = list(self.all)

    def call(self, rng):
        try:
            s = self.sources[rng.randrange(len(self.sources))]
        except (IndexError, ValueError):
            s = self.all[0]
        return s, self.fn(s)

    def check(self, arg, out):
        assert out == self.expected[id(arg)], (out, self.expected[id(arg)])

    def mutate(self, rng):
        mutate_list(self.sources, rng, lambda r: r.choice(self.all))

    def copy_inputs(self):
        return None

    def expect(self, copy, arg):
        return self.expected[id(arg)]

    def same(self, out, expected):
        return out == expected

    def intact(self):
        intact(self.sources, set(map(id, self.all)))


if has_module("tavo._native"):
    STRESS[COLUMN_NF] = ColumnFormatScenario
