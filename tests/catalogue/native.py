"""Catalogue cases of the package's per-value functions (tavo._native): tavo.parse with its
decimal mark, and tavo.keys.uncamel / underscore_to_camelcase over nested payloads."""
from catalogue import (HAMMER_TEXT, case_list, fresh, has_module, mismatch, raises, resolve, returns,
                       returns_where)
from fuzz_kit import expect_encode_error, has_surrogate, maybe_subclass, text
from models import keys as keys_model
from models import number as number_model
from models import same
from stress_kit import CAP, LEAVES, LEAF_IDS, Scenario, TextScenario, intact, mutate_list

CASES, add = case_list()
PARSE, UNCAMEL, CAMEL = "tavo.parse", "tavo.keys.uncamel", "tavo.keys.underscore_to_camelcase"
BUILT = has_module("tavo._native")

# --- tavo.parse --------------------------------------------------------------------------------

for i, (s, mark, expected) in enumerate([
    ("1.234,56", ",", 1234.56), ("€ 1.000", ",", 1000), ("(1.234,50) EUR", ",", -1234.5), ("12,5 %", ",", 12.5),
    ("1,2,3", ",", None), ("1,234.56", ".", 1234.56), ("R$ 1.234,56", ",", 1234.56),
    ("1\u202f234,56", ",", 1234.56), ("9" * 30 + ",5", ",", float("9" * 30 + ".5")), ("9" * 25, ",", int("9" * 25)),
]):
    add(f"tavo.parse-{i}", PARSE, s, kwargs={"decimal": mark}, check=returns(expected))
add("tavo.parse-default-mark", PARSE, "1.234,56", check=returns(1.23456))
add("tavo.parse-other-mark", PARSE, "1,5", kwargs={"decimal": ";"},
    check=raises(ValueError, "decimal must be '.' or ',', not ';'"))
add("tavo.parse-mark-by-position", PARSE, "1,5", ",", check=raises(TypeError))
add("tavo.parse-mismatch", PARSE, 5, kwargs={"decimal": ","}, check=mismatch("s", "int", "PyString"))

# --- tavo.keys -----------------------------------------------------------------------------------

PAYLOAD = [{"userId": 7, "shippingAddress": {"streetName": "x", "houseNumber": 1},
            "orderItems": [{"productId": 1, "unitPrice": 2.5}], "tags": ("newCustomer", {"tagId": 3}), 5: None,
            "\u00c9t\u00e9Chaud": "\u00e9"}] * 2
SNAKE = {"user_id": [{"unit_price": 1}], "x_y": (1, {"a_b": 2})}
CYCLE = {"aB": [1]}
CYCLE["aB"].append(CYCLE)
for fn, model in ((UNCAMEL, keys_model.uncamel), (CAMEL, keys_model.underscore_to_camelcase)):
    short = fn.rpartition(".")[2]
    for i, (data, kwargs) in enumerate([(PAYLOAD, {}), (SNAKE, {}), (PAYLOAD, {"depth": 1}), ([], {}), (5, {}),
                                        ({"aB": {"cD": {"eF": 1}}}, {"depth": True})]):
        add(f"{fn}-ok-{i}", fn, data, kwargs=kwargs,
            check=returns_where(lambda v, d=data, k=kwargs, m=model: same(v, m(d, **k)), "the model's result"))
    add(f"{fn}-cycle", fn, CYCLE, check=raises(ValueError, f"{short}: circular reference: "
                                               "a dict, list or tuple contains itself"))
    add(f"{fn}-negative-depth", fn, {}, kwargs={"depth": -1},
        check=raises(ValueError, "depth must be None or an integer >= 0, not -1"))
    add(f"{fn}-float-depth", fn, {}, kwargs={"depth": 1.5}, check=raises(TypeError))
    add(f"{fn}-depth-by-position", fn, {}, 1, check=raises(TypeError))
add(f"{UNCAMEL}-collision", UNCAMEL, [{"ok": 1}, {"userId": 1, "x": [], "user_id": 2}],
    check=raises(ValueError, "uncamel: the keys 'userId' and 'user_id' both become 'user_id'"))


def deep(levels):
    x = {"leafKey": 1}
    for i in range(levels):
        x = {"keyName": x} if i % 2 else [x]
    return x


# --- the sweeps --------------------------------------------------------------

PROBE = {PARSE: ("1.234,56",), UNCAMEL: ({"aB": [1]},), CAMEL: ({"a_b": (1,)},)}

NOMEMORY = {
    "tavo.parse-comma": fresh(PARSE, "(1.234,50) EUR", decimal=","),
    "tavo.parse-point": fresh(PARSE, "1,234.5"),
    "tavo.parse-huge-comma": fresh(PARSE, "9" * 40 + ",5", decimal=","),
    "tavo.parse-long-filter": fresh(PARSE, "x" * 300 + "1.234.567,8", decimal=","),
    "tavo.parse-bad-mark": fresh(PARSE, "1", decimal=";"),
    "tavo.parse-mismatch": fresh(PARSE, 5, decimal=","),
    "tavo.keys.uncamel-payload": fresh(UNCAMEL, PAYLOAD),
    "tavo.keys.uncamel-collision": fresh(UNCAMEL, [{"ok": 1}, {"userId": 1, "x": [], "user_id": 2}]),
    "tavo.keys.uncamel-depth": fresh(UNCAMEL, [{"aB": {"cD": 1}}], depth=1),
    "tavo.keys.uncamel-deep": fresh(UNCAMEL, deep(40)),
    "tavo.keys.uncamel-cycle": lambda: (resolve(UNCAMEL), (CYCLE,), {}, ((CYCLE,), {}), False),
    "tavo.keys.underscore-payload": fresh(CAMEL, SNAKE),
}
HAMMER = {
    PARSE: lambda: resolve(PARSE)(HAMMER_TEXT, decimal=","),
    UNCAMEL: lambda: resolve(UNCAMEL)(PAYLOAD),
    CAMEL: lambda: resolve(CAMEL)(SNAKE),
}
SCALE = {
    "tavo.parse-100MB-comma": (PARSE, "args = ('x.' * (50 * 2**20) + '(1.234,5)',)\nkwargs = {'decimal': ','}",
                               "r == -1234.5", 6),
    "tavo.keys.uncamel-1e6-records": (UNCAMEL, "args = ([{'userId': i, 'itemList': [i]} for i in range(10**6)],)",
                                      "len(r) == 10**6 and r[-1] == {'user_id': 999999, 'item_list': [999999]}", 3),
    "tavo.keys.underscore_to_camelcase-1e6-levels": (
        CAMEL, "x = {'leaf_key': 1}\nfor i in range(10**6): x = {'key_name': x} if i % 2 else [x]\nargs = (x,)",
        "isinstance(r, dict) and 'keyName' in r", 3),
}


# --- the stress scenarios (test_threads.py) -----------------------------------


class KeysScenario(Scenario):
    """Callers convert the keys of a shared payload while mutators change its lists and
    dicts: every result is a payload of converted keys over values the payload ever held,
    or the documented refusal of a dict whose keys changed during the walk."""

    def __init__(self, fn, model, keys):
        super().__init__()
        self.name, self.fn, self.model, self.keys = fn, resolve(fn), model, keys
        self.converted = {k: self.model({k: 0}).popitem()[0] for k in keys}
        self.lists = [[LEAVES[i], LEAVES[i + 1]] for i in range(0, 12, 2)]
        self.dicts = [{k: LEAVES[i] for k in keys[:2]} for i in range(4)]
        self.inline = {keys[2]: self.lists[0], keys[3]: (self.dicts[1], self.lists[1])}
        self.payload = [self.dicts[0], self.inline, self.lists[2], self.dicts[2]]

    def make(self, rng):
        return rng.choice((rng.choice(self.lists), rng.choice(self.dicts), rng.choice(LEAVES)))

    def call(self, rng):
        return None, self.fn(self.payload)

    def check(self, arg, out):
        assert type(out) is list and len(out) <= CAP

        def walk(x):
            if id(x) in LEAF_IDS:
                return
            if type(x) is dict:
                assert set(x) <= set(self.converted.values()), x
                for v in x.values():
                    walk(v)
            elif type(x) in (list, tuple):
                for v in x:
                    walk(v)
            else:
                raise AssertionError(f"not from the payload: {x!r}")

        walk(out)

    def documented(self, e):
        return type(e) is RuntimeError and "changed" in str(e)

    def mutate(self, rng):
        r = rng.random()
        if r < 0.4:
            mutate_list(self.payload, rng, self.make)
        elif r < 0.7:
            mutate_list(rng.choice(self.lists), rng, lambda g: g.choice(LEAVES))
        else:
            d = rng.choice(self.dicts)
            k = rng.choice(self.keys)
            if rng.random() < 0.5:
                d[k] = rng.choice(LEAVES)
            else:
                d.pop(k, None)

    def copy_inputs(self):
        return None

    def expect(self, copy, arg):
        return None

    def exact(self, arg, out):
        return False  # the payload is shared with the mutators: checked by its invariants only

    def final(self):
        self.intact()
        assert same(self.fn(self.payload), self.model(self.payload))

    def intact(self):
        intact(self.payload, LEAF_IDS | set(map(id, self.lists)) | set(map(id, self.dicts)) | {id(self.inline)})
        for lst in self.lists:
            intact(lst, LEAF_IDS)


STRESS = {
    PARSE: lambda: TextScenario(PARSE, lambda s: resolve(PARSE)(s, decimal=",")),
    UNCAMEL: lambda: KeysScenario(UNCAMEL, keys_model.uncamel, ("userId", "aB", "itemList", "x")),
    CAMEL: lambda: KeysScenario(CAMEL, keys_model.underscore_to_camelcase, ("user_id", "a_b", "item_list", "x")),
}


# --- the fuzz targets (fuzz/fuzz_tavo.py) -------------------------------------


def fuzz_parse_mark(fdp):
    s = text(fdp)
    if fdp.ConsumeBool():
        s = "".join(c for c in s if c in "0123456789().-,$ ") or s
    mark = "," if fdp.ConsumeBool() else "."
    fn = resolve(PARSE)
    if has_surrogate(s):
        return expect_encode_error(lambda x: fn(x, decimal=mark), s)
    out = fn(maybe_subclass(fdp, s), decimal=mark)
    assert same(out, number_model.parse_model(s, mark)), (s, mark, out)


def _fuzz_keys(fn, model):
    def value(fdp, depth):
        kind = fdp.ConsumeIntInRange(0, 5 if depth < 5 else 1)
        if kind == 0:
            return fdp.ConsumeIntInRange(0, 9)
        if kind == 1:
            return text(fdp, allow_surrogates=False)
        items = [value(fdp, depth + 1) for _ in range(fdp.ConsumeIntInRange(0, 3))]
        if kind == 2:
            return items
        if kind == 3:
            return tuple(items)
        return {text(fdp, allow_surrogates=False) if fdp.ConsumeBool() else fdp.ConsumeIntInRange(0, 3): v
                for v in items}

    def target(fdp):
        data = value(fdp, 0)
        depth = fdp.ConsumeIntInRange(0, 4) if fdp.ConsumeBool() else None
        try:
            want = model(data, depth)
        except ValueError as e:  # a collision
            try:
                resolve(fn)(data, depth=depth)
            except ValueError as got:
                assert str(got) == str(e), (data, got, e)
                return
            raise AssertionError(f"{fn}({data!r}) did not raise {e}")
        assert same(resolve(fn)(data, depth=depth), want), data

    return target


FUZZ = {
    PARSE: fuzz_parse_mark,
    UNCAMEL: _fuzz_keys(UNCAMEL, keys_model.uncamel),
    CAMEL: _fuzz_keys(CAMEL, keys_model.underscore_to_camelcase),
}

if not BUILT:  # the package is not installed beside the tests: nothing of it to sweep
    CASES[:] = []
    PROBE = NOMEMORY = HAMMER = SCALE = STRESS = FUZZ = {}
