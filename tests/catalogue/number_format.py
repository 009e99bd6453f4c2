"""Catalogue cases of number_format: the per-element walk of tavo._native over an iterable
of str or None, and (with the column module) tavo._columns.number_format over Arrow
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
