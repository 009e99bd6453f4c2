"""Catalogue cases of tavo.price (tavo._native): the amount and currency of a price text."""
from catalogue import HAMMER_TEXT, case_list, fresh, has_module, mismatch, raises, resolve, returns_where
from fuzz_kit import expect_encode_error, has_surrogate, maybe_subclass, text
from models import price as price_model
from models import same
from stress_kit import TextScenario

CASES, add = case_list()
PRICE = "tavo.price"
BUILT = has_module("tavo._native")


def pair(p):
    return None if p is None else (p.amount, p.currency)


def gives(expected):
    return returns_where(lambda v, e=expected: (v is None if e is None else type(v).__name__ == "Price")
                         and same(pair(v), e), repr(expected))


for i, (s, kwargs, expected) in enumerate([
    ("205,68 € 205.68", {}, (205.68, "€")), ("27.00 руб.", {}, (27.0, "руб.")), ("40% OFF", {}, None),
    ("CHF 1'049,95", {}, (1049.95, "CHF")), ("(1,234.00)", {}, (-1234.0, None)), ("3,500円", {}, (3500, "円")),
    ("1.250 €", {"decimal": "."}, (1.25, "€")), ("1.250 €", {"decimal": None}, (1250, "€")),
    ("$" + "9" * 30, {}, (int("9" * 30), "$")), ("Free!", {}, None),
]):
    add(f"tavo.price-{i}", PRICE, s, kwargs=kwargs, check=gives(expected))
add("tavo.price-by-keyword", PRICE, kwargs={"text": "50,- Kč"}, check=gives((50, "Kč")))
add("tavo.price-other-mark", PRICE, "1,5", kwargs={"decimal": ";"},
    check=raises(ValueError, "decimal must be '.' or ',', not ';'"))
add("tavo.price-mark-not-str", PRICE, "1,5", kwargs={"decimal": 1},
    check=raises(ValueError, "decimal must be '.' or ',', not 1"))
add("tavo.price-mark-by-position", PRICE, "1,5", ",", check=raises(TypeError))
add("tavo.price-mismatch", PRICE, 5, check=mismatch("text", "int", "PyString"))
add("tavo.price-bytes", PRICE, b"12 EUR", check=mismatch("text", "bytes", "PyString"))

# --- the sweeps --------------------------------------------------------------

PROBE = {PRICE: ("1.234,56 €",)}

NOMEMORY = {
    "tavo.price-plain": fresh(PRICE, "Price: 1 299,00 €"),
    "tavo.price-range": fresh(PRICE, "From 26 to 50 €"),
    "tavo.price-none": fresh(PRICE, "40% OFF"),
    "tavo.price-no-currency": fresh(PRICE, "(1,234.00)"),
    "tavo.price-huge": fresh(PRICE, "$ " + "9" * 60),
    "tavo.price-long-digits": fresh(PRICE, "€ " + "1" * 300 + ",5"),
    "tavo.price-bad-mark": fresh(PRICE, "1", decimal=";"),
    "tavo.price-mismatch": fresh(PRICE, 5),
}
HAMMER = {PRICE: lambda: resolve(PRICE)(HAMMER_TEXT)}
SCALE = {
    "tavo.price-100MB-noise": (PRICE, "args = ('x,' * (50 * 2**20) + ' 12,50 €',)", "r == (12.5, '€')", 6),
    "tavo.price-100MB-digits": (PRICE, "args = ('$' + '1' * (100 * 2**20),)", "r is None", 6),
}
STRESS = {PRICE: lambda: TextScenario(PRICE, resolve(PRICE))}


def fuzz_price(fdp):
    s = text(fdp)
    if fdp.ConsumeBool():
        s = "".join(c for c in s if c in "0123456789().-,$€% ") or s
    mark = (None, ".", ",")[fdp.ConsumeIntInRange(0, 2)]
    fn = resolve(PRICE)
    if has_surrogate(s):
        return expect_encode_error(lambda x: fn(x, decimal=mark), s)
    out = fn(maybe_subclass(fdp, s), decimal=mark)
    assert same(pair(out), price_model.price(s, mark)), (s, mark, out)


FUZZ = {PRICE: fuzz_price}

if not BUILT:  # the package is not installed beside the tests: nothing of it to sweep
    CASES[:] = []
    PROBE = NOMEMORY = HAMMER = SCALE = STRESS = FUZZ = {}
