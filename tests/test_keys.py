"""tavo.keys: the keys of nested payloads converted, against the plain-Python model
(models.keys) on generated payloads of every container kind, and hand-picked cases for
what generation rarely reaches: collisions, cycles, depth errors, deep nesting, hostile
objects, mutation during the call, threads."""
import collections
import gc
import os
import subprocess
import sys
import threading
import time
import types

import pytest
from hypothesis import given, strategies as st

import _tavo
import tavo
import tavo.keys
import catalogue
from catalogue import ListSpy, TupleSpy, list_calls
from hostile_kit import (Boom, DistinctKey, SlowStr, c_hooks, check_sweep_output, collections_run, interrupted,
                         main_thread_only)
from models import keys as model
from strategies import SETTINGS, Plain, Sub
from test_nomemory import own_objects, snapshot, walk

FUNCTIONS = [(tavo.keys.uncamel, model.uncamel), (tavo.keys.underscore_to_camelcase, model.underscore_to_camelcase)]
ids = ["uncamel", "underscore_to_camelcase"]


# --- comparing with the model ---------------------------------------------------------


def agree(got, want, inputs):
    """`got` is what the model's `want` says: input objects (by id in `inputs`) are the
    very objects, new containers have the exact types, converted keys are exact str."""
    if id(want) in inputs:
        assert got is want, f"{got!r} is not the input object {want!r}"
        return
    assert type(got) is type(want), (got, want)
    if isinstance(want, dict):
        assert len(got) == len(want), (got, want)
        for (gk, gv), (wk, wv) in zip(dict.items(got), dict.items(want)):
            if isinstance(wk, str):
                assert type(gk) is str and gk == wk, (gk, wk)
            else:
                assert gk is wk, (gk, wk)
            agree(gv, wv, inputs)
    elif isinstance(want, (list, tuple)):
        assert len(got) == len(want), (got, want)
        for g, w in zip(got, want):
            agree(g, w, inputs)
    else:
        assert got == want, (got, want)


def outcome(f, *args, **kwargs):
    try:
        return f(*args, **kwargs), None
    except (ValueError, UnicodeEncodeError) as e:
        return None, e


def check_model(fn, model_fn, data, depth):
    before = snapshot(data)
    inputs = {id(o) for o in walk(data, [])}
    want, want_exc = outcome(model_fn, data, depth)
    got, got_exc = outcome(fn, data, depth=depth)
    assert snapshot(data) == before, "the input changed"
    if want_exc is not None:
        assert got_exc is not None, f"returned {got!r}, the model raises {want_exc!r}"
        assert (type(got_exc), str(got_exc)) == (type(want_exc), str(want_exc))
    else:
        assert got_exc is None, f"raised {got_exc!r}, the model returns {want!r}"
        agree(got, want, inputs)
    return got


# --- generated payloads ---------------------------------------------------------------


class HostileDict(dict):
    """Every method that reads the dict raises: the module reads its own storage."""


for _name in ("__iter__", "__getitem__", "__len__", "keys", "items", "values", "get", "__contains__", "copy"):
    setattr(HostileDict, _name, lambda self, *a, _n=_name: (_ for _ in ()).throw(Boom(_n)))

Point = collections.namedtuple("Point", "x y")

KEYS = st.one_of(
    st.sampled_from(["userId", "user_id", "_user_id", "aB", "a_b", "HTTPCode", "http_code", "x", "", "_",
                     "a__b", "ÉtéChaud", "été_chaud", "Ärger_Öl", "getHTTPResponse_code"]),
    st.text(alphabet="aAbB_é1", max_size=6),
    st.sampled_from(["aB", "user_id", "Zz"]).map(Plain),  # str subclass keys
    st.sampled_from(["aB", "q_r"]).map(Sub),  # str subclass keys whose __eq__ and __str__ raise
    st.integers(-3, 3), st.none(), st.tuples(st.integers(0, 2), st.sampled_from(["aB", "a_b"])),
    st.frozensets(st.integers(0, 2), max_size=2),
    st.just("\ud800aB"),  # no UTF-8 form: the conversion's UnicodeEncodeError
)
LEAVES = st.one_of(
    st.none(), st.booleans(), st.integers(), st.floats(allow_nan=False), st.text(max_size=4), st.binary(max_size=2),
    st.builds(object), st.sets(st.integers(0, 3), max_size=2), st.frozensets(st.integers(0, 3), max_size=2),
    st.just(types.MappingProxyType({"aB": 1})), st.just(collections.UserDict({"aB": 1})),
    st.just(range(3)),
)


def _dicts(inner):
    # dict.fromkeys-like building through dict(), so that a Sub key is never compared
    pairs = st.lists(st.tuples(KEYS, inner), max_size=4)
    return st.one_of(
        pairs.map(_plain_dict),
        pairs.map(lambda p: HostileDict(_plain_dict(p))),
        pairs.map(lambda p: collections.OrderedDict(_plain_dict(p))),
        pairs.map(lambda p: collections.defaultdict(list, _plain_dict(p))),
    )


def _plain_dict(pairs):
    out = {}
    for k, v in pairs:
        try:
            out[k] = v
        except Exception:  # a Sub key equal in hash to one already there: its __eq__ raises
            pass
    return out


PAYLOADS = st.recursive(
    LEAVES,
    lambda inner: st.one_of(
        _dicts(inner),
        st.lists(inner, max_size=4), st.lists(inner, max_size=3).map(ListSpy),
        st.lists(inner, max_size=3).map(tuple), st.lists(inner, max_size=3).map(TupleSpy),
        st.tuples(inner, inner).map(lambda t: Point(*t)),
    ),
    max_leaves=30,
)
DEPTHS = st.one_of(st.none(), st.integers(0, 4), st.booleans())


@pytest.mark.parametrize("fn, model_fn", FUNCTIONS, ids=ids)
@SETTINGS
@given(data=PAYLOADS, depth=DEPTHS)
def test_payloads_against_the_model(fn, model_fn, data, depth):
    check_model(fn, model_fn, data, depth)
    assert not list_calls


API_RECORD = {"userId": 7, "firstName": "Ada", "isVerified": True, "lastLoginAt": None,
              "shippingAddress": {"streetName": "Mill Lane", "houseNumber": 12},
              "orderItems": [{"productId": 1, "unitPrice": 2.5}, {"productId": 2, "unitPrice": 1.0}],
              "tags": ("newCustomer", {"tagId": 3}), "scores": {1.5, 2.5}}


@pytest.mark.parametrize("fn, model_fn", FUNCTIONS, ids=ids)
@pytest.mark.parametrize("depth", [None, 0, 1, 2, 3, 10**30, True, False])
@pytest.mark.parametrize("data", [
    API_RECORD, [API_RECORD, API_RECORD], {"resultItems": [API_RECORD] * 3, "pageSize": 3}, (API_RECORD,), [],
    {}, (), "userId", 5, None, {"a": [[[{"bC": [({"dE": 1},)]}]]]},
], ids=lambda x: type(x).__name__)
def test_chosen_payloads_against_the_model(fn, model_fn, data, depth):
    check_model(fn, model_fn, data, depth)


# --- the examples --------------------------------------------------------------------


def test_examples():
    r = tavo.keys.uncamel({"userId": 1, "orderItems": [{"unitPrice": 2}], 5: {"xY": (1, {"zW": 2})}})
    assert r == {"user_id": 1, "order_items": [{"unit_price": 2}], 5: {"x_y": (1, {"z_w": 2})}}
    assert tavo.keys.underscore_to_camelcase({"user_id": 1, "order_items": [{"unit_price": 2}]}) == \
        {"userId": 1, "orderItems": [{"unitPrice": 2}]}
    records = [{"userId": 1, "homeAddress": {"zipCode": "x"}}]
    assert tavo.keys.uncamel(records, depth=1) == [{"user_id": 1, "home_address": {"zipCode": "x"}}]
    assert tavo.keys.uncamel(records, depth=1)[0]["home_address"] is records[0]["homeAddress"]
    assert tavo.keys.uncamel(records, depth=0) is records


def test_module_and_signatures():
    import inspect

    assert tavo.keys.uncamel is tavo._native.keys_uncamel
    assert tavo.keys.__all__ == ["uncamel", "underscore_to_camelcase"] and "keys" in tavo.__all__
    for f in (tavo.keys.uncamel, tavo.keys.underscore_to_camelcase):
        assert f.__module__ == "tavo.keys"
        assert str(inspect.signature(f)) == "(data, *, depth=None)"
    assert len(_tavo.__all__) == 9


@pytest.mark.thread_unsafe(reason="the docstring examples print")
def test_docstring_examples():
    import doctest

    result = doctest.testmod(tavo.keys, report=True)
    assert (result.attempted, result.failed) == (4, 0)


def test_keys_are_converted_once_and_kept_when_unchanged():
    key = "".join(["user", "Id"])  # not interned
    same = "user_id"
    r = tavo.keys.uncamel([{key: 1, "x": 2}, {key: 3}, {"".join(["user", "Id"]): 4}, {same: 5}])
    assert r[0] == {"user_id": 1, "x": 2}
    k0, k1, k2 = (next(iter(d)) for d in r[:3])
    assert k0 is k1 is k2  # one conversion per call, by identity and then by text
    assert next(iter(r[3])) is same  # unchanged text: the key itself
    assert next(iter(r[0].keys() - {"user_id"})) == "x"


# --- collisions ---------------------------------------------------------------------


class EqualToText:
    """A non-str key equal to a text (hash and equality of that str)."""

    def __init__(self, text):
        self.text = text

    def __hash__(self):
        return hash(self.text)

    def __eq__(self, other):
        return other == self.text

    def __repr__(self):
        return f"EqualToText({self.text!r})"


@pytest.mark.parametrize("fn, data, message", [
    (tavo.keys.uncamel, {"userId": 1, "user_id": 2}, "uncamel: the keys 'userId' and 'user_id' both become 'user_id'"),
    (tavo.keys.uncamel, {"user_id": 1, "userId": 2}, "uncamel: the keys 'user_id' and 'userId' both become 'user_id'"),
    (tavo.keys.uncamel, [{"ok": 1}, {"a": {"HTTPCode": 1, "x": [], "http_code": 2}}],
     "uncamel: the keys 'HTTPCode' and 'http_code' both become 'http_code'"),
    (tavo.keys.uncamel, {"aB": [1], "a_b": {}}, "uncamel: the keys 'aB' and 'a_b' both become 'a_b'"),
    (tavo.keys.uncamel, {1: 0, "aB": 1, (2,): 0, "a_b": 3}, "uncamel: the keys 'aB' and 'a_b' both become 'a_b'"),
    (tavo.keys.uncamel, {"aB": 1, DistinctKey("aB"): 2}, "uncamel: the keys 'aB' and 'aB' both become 'a_b'"),
    (tavo.keys.uncamel, {EqualToText("a_b"): 1, "aB": 2},
     "uncamel: the keys EqualToText('a_b') and 'aB' both become 'a_b'"),
    (tavo.keys.uncamel, {"aB": 2, EqualToText("a_b"): 1},
     "uncamel: the keys 'aB' and EqualToText('a_b') both become EqualToText('a_b')"),
    (tavo.keys.underscore_to_camelcase, {"user_id": 1, "_user_id": 2},
     "underscore_to_camelcase: the keys 'user_id' and '_user_id' both become 'userId'"),
    (tavo.keys.underscore_to_camelcase, ({"a": ({"a_b": 1, "a__b": 2},)},),
     "underscore_to_camelcase: the keys 'a_b' and 'a__b' both become 'aB'"),
], ids=range(10))
def test_collisions(fn, data, message):
    before = snapshot(data)
    with pytest.raises(ValueError) as e:
        fn(data)
    assert str(e.value) == message
    assert snapshot(data) == before


# --- cycles and shared objects ----------------------------------------------------------


def _self_dict():
    d = {"aB": 1}
    d["cD"] = d
    return d


def _self_list():
    x = [1]
    x.append({"aB": x})
    return x


def _through_tuple():
    x = [1]
    t = ({"aB": x},)
    x.append(t)
    return t


def _mutual():
    a, b = {"aB": 1}, {"cD": 2}
    a["b"] = [b]
    b["a"] = (a,)
    return [a]


def _deep_cycle(levels):
    top = {"aB": 0}
    x = top
    for i in range(levels):
        x = {"k": [x]} if i % 2 else [x]
    top["back"] = x
    return x


@pytest.mark.parametrize("fn", [tavo.keys.uncamel, tavo.keys.underscore_to_camelcase], ids=ids)
@pytest.mark.parametrize("make", [_self_dict, _self_list, _through_tuple, _mutual, lambda: _deep_cycle(31),
                                  lambda: _deep_cycle(100), lambda: _deep_cycle(100_000)],
                         ids=["self-dict", "self-list", "through-tuple", "mutual", "deep-31", "deep-100", "deep-100000"])
def test_cycles_are_refused(fn, make):
    data = make()
    with pytest.raises(ValueError, match=r"^[a-z_]+: circular reference: a dict, list or tuple contains itself$"):
        fn(data)


def test_cycles_below_the_depth_and_shared_objects():
    d = _self_dict()
    r = tavo.keys.uncamel(d, depth=1)
    assert r == {"a_b": 1, "c_d": d} and r["c_d"] is d
    with pytest.raises(ValueError):
        tavo.keys.uncamel(d, depth=2)
    shared = {"aB": [1]}
    r = tavo.keys.uncamel([shared, shared, {"x": shared}, (shared,)])
    assert r[0] == r[1] == r[2]["x"] == r[3][0] == {"a_b": [1]}
    assert len({id(r[0]), id(r[1]), id(r[2]["x"]), id(r[3][0]), id(shared)}) == 5  # converted at each place
    assert r[0]["a_b"] is not shared["aB"]


# --- depth and binding -------------------------------------------------------------


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        if isinstance(self.v, BaseException):
            raise self.v
        return self.v


@pytest.mark.parametrize("depth, exc, message", [
    (-1, ValueError, "depth must be None or an integer >= 0, not -1"),
    (-(10**30), ValueError, f"depth must be None or an integer >= 0, not {-(10**30)}"),
    (Index(-2), ValueError, "depth must be None or an integer >= 0, not -2"),
    (1.0, TypeError, "argument 'depth': 'float' object cannot be interpreted as an integer"),
    ("1", TypeError, "argument 'depth': 'str' object cannot be interpreted as an integer"),
    ([1], TypeError, "argument 'depth': 'list' object cannot be interpreted as an integer"),
    (Index(Boom("index")), Boom, "index"),
    (Index(1.5), TypeError, None),
])
def test_depth_errors(depth, exc, message):
    with pytest.raises(exc) as e:
        tavo.keys.uncamel({"aB": 1}, depth=depth)
    if message is not None:
        assert str(e.value) == message


@pytest.mark.parametrize("depth, expected", [(Index(1), {"a_b": {"cD": 1}}), (True, {"a_b": {"cD": 1}}),
                                             (False, None), (Index(10**40), {"a_b": {"c_d": 1}})])
def test_depth_as_operator_index(depth, expected):
    data = {"aB": {"cD": 1}}
    r = tavo.keys.uncamel(data, depth=depth)
    assert r is data if expected is None else r == expected


@pytest.mark.parametrize("call, message", [
    (lambda f: f({}, 1), "uncamel() takes 1 positional argument but 2 were given; depth is keyword-only"),
    (lambda f: f(), "uncamel() missing 1 required positional argument: 'data'"),
    (lambda f: f({}, deep=1), "uncamel() got an unexpected keyword argument 'deep'"),
    (lambda f: f({}, data={}), "uncamel() got multiple values for argument 'data'"),
])
def test_binding(call, message):
    with pytest.raises(TypeError) as e:
        call(tavo.keys.uncamel)
    assert str(e.value) == message
    assert tavo.keys.uncamel(data={"aB": 1}, depth=None) == {"a_b": 1}


# --- deep nesting -------------------------------------------------------------------


def nest(levels, kind):
    x = {"leafKey": 1}
    for i in range(levels):
        k = kind if kind != "mixed" else ("dict", "list", "tuple")[i % 3]
        x = {"keyName": x} if k == "dict" else [x] if k == "list" else (x,)
    return x


def depth_of(x):
    n = 0
    while isinstance(x, (dict, list, tuple)) and len(x):
        x = next(iter(x.values())) if isinstance(x, dict) else x[0]
        n += 1
    return n, x


@pytest.mark.parametrize("kind", ["dict", "list", "tuple", "mixed"])
def test_100000_levels(kind):
    data = nest(100_000, kind)
    r = tavo.keys.uncamel(data)
    n, leaf = depth_of(r)
    assert (n, leaf) == (100_001, 1)
    x = r
    while isinstance(x, (dict, list, tuple)):
        if isinstance(x, dict):
            assert list(x) in (["key_name"], ["leaf_key"])
            x = next(iter(x.values()))
        else:
            x = x[0]
    if kind == "dict":  # a depth limit leaves the rest as it is
        r = tavo.keys.uncamel(data, depth=2)
        assert r["key_name"]["key_name"] is data["keyName"]["keyName"]


# --- hostile objects ---------------------------------------------------------------


class MutatingKey:
    """A non-str key whose __hash__ runs `action` once armed."""

    def __init__(self, name):
        self.name = name
        self.action = None

    def __hash__(self):
        if self.action is not None:
            action, self.action = self.action, None
            action()
        return hash(self.name)

    def __eq__(self, other):
        return isinstance(other, MutatingKey) and other.name == self.name

    def __repr__(self):
        return f"MutatingKey({self.name!r})"


@pytest.mark.parametrize("change", ["clear", "add", "replace", "list-clear", "list-add"])
@pytest.mark.parametrize("position", [0, 2, 5])
def test_dict_changed_by_a_key_hash_during_the_walk(change, position):
    items = [{"itemId": 1}, {"itemId": 2}]
    keys = [f"keyNo{i}" for i in range(6)]
    hook = MutatingKey("m")
    d = {}
    for i, k in enumerate(keys):
        if i == position:
            d[hook] = "hooked"
        d[k] = items if i == 3 else i
    expected = model.uncamel(d)
    actions = {
        "clear": d.clear,
        "add": lambda: d.update({f"new{i}": i for i in range(50)}),
        "replace": lambda: d.update(dict.fromkeys(keys, "replaced")),
        "list-clear": items.clear,
        "list-add": lambda: items.extend({"itemId": i} for i in range(50)),
    }
    hook.action = actions[change]
    r = tavo.keys.uncamel(d)
    assert hook.action is None, "the key was not hashed"
    # The dict is read at one moment, before the key is hashed; the list, read when it is
    # entered, shows the change when it comes after the key.
    if change.startswith("list") and position < 3:
        assert r == model.uncamel(d) != expected
    else:
        assert r == expected


@pytest.mark.parametrize("exc", [Boom("hash"), KeyboardInterrupt()], ids=["Boom", "KeyboardInterrupt"])
@pytest.mark.parametrize("position", [0, 1, 2])
def test_key_hash_raising(exc, position):
    hook = MutatingKey("k")
    rows = [{"aB": [1, {"cD": 2}]}, {"x": 1, "yZ": (3,)}, {"after": [4]}]
    rows[position][hook] = 2
    before = snapshot(rows)
    objects = own_objects(walk(rows, []))
    refs = [sys.getrefcount(o) for o in objects]

    def action():
        raise exc

    hook.action = action
    with pytest.raises(type(exc)):
        tavo.keys.uncamel(rows)
    exc.__traceback__ = None  # its frames hold the key
    assert snapshot(rows) == before
    assert [sys.getrefcount(o) for o in objects] == refs


def test_str_subclass_keys_are_read_not_called():
    data = {SlowStr("someKey"): 1, Sub("otherKey"): {Sub("innerKey"): 2}}
    r = tavo.keys.uncamel(data)
    assert list(map(type, r)) == [str, str] and r == {"some_key": 1, "other_key": {"inner_key": 2}}
    assert type(next(iter(r["other_key"]))) is str


@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
@pytest.mark.parametrize("at", [1, 2, 3, 5])
def test_collections_that_change_the_payload(at):
    """A collection during the call (interpreters that collect while allocating) runs a
    finaliser that empties lists and dicts of the payload: the call ends with a
    conversion of what each container held when it was read."""
    inner = [{"aB": i} for i in range(5)]
    rows = {"rowList": inner, "other": {"cD": 1}}

    def action():
        inner.clear()
        rows["other"].clear()

    with collections_run(action, at):
        r = tavo.keys.uncamel([rows, [{"x": 1}] * 3])
    assert r[0]["row_list"] in ([], [{"a_b": i} for i in range(5)])
    assert r[0]["other"] in ({}, {"c_d": 1})


@main_thread_only
@pytest.mark.thread_unsafe(reason="interrupts by a timer signal, which only the main thread receives")
def test_interrupted_by_a_hook():
    class SlowHash:
        def __hash__(self):
            for _ in range(300):
                pass
            return 1

        def __eq__(self, other):
            return self is other

    data = [{SlowHash(): i, "aB": i} for i in range(200)]
    calls = interrupted(lambda: tavo.keys.uncamel(data), data)
    assert calls >= 0


@pytest.mark.parametrize("make", [
    lambda: {"userId": [1, {"aB": (2, "x")}]},
    lambda: {"userId": 1, "user_id": 2},
    _self_dict,
    lambda: [{MutatingKey("m"): 1, "x": HostileDict({"aB": 1})}, ListSpy([TupleSpy(({"cD": 2},))])],
])
def test_no_reference_lost_or_gained(make):
    data = make()
    objects = own_objects(walk(data, []))
    for _ in range(3):
        outcome(tavo.keys.uncamel, data)
    gc.collect()
    refs = [sys.getrefcount(o) for o in objects]
    total = sys.gettotalrefcount() if hasattr(sys, "gettotalrefcount") else None
    for _ in range(50):
        outcome(tavo.keys.uncamel, data)
        outcome(tavo.keys.underscore_to_camelcase, data)
    gc.collect()
    assert [sys.getrefcount(o) for o in objects] == refs
    if total is not None:
        assert abs(sys.gettotalrefcount() - total) < 50


# --- threads ------------------------------------------------------------------------


class SlowKey:
    """A non-str key whose hashing lets other threads run."""

    def __init__(self, name):
        self.name = name

    def __hash__(self):
        time.sleep(0)
        return hash(self.name)

    def __eq__(self, other):
        return isinstance(other, SlowKey) and other.name == self.name


@pytest.mark.thread_unsafe(reason="starts threads of its own and sets the switch interval")
def test_payload_changed_by_other_threads():
    """Callers convert a payload that other threads change all the while (with the
    interpreter lock, the slow keys' hashing lets them run in the middle of a call): every
    call returns a well-formed conversion of values the payload held, or nothing breaks."""
    names = [f"fieldName{i}" for i in range(6)]
    values = [1, "v", None, 2.5]
    rows = [{n: i for i, n in enumerate(names)} | {SlowKey("s"): 0} for _ in range(8)]
    payload = {"rowItems": rows, "extraInfo": {"aB": rows[0]}}
    converted = {_tavo.uncamel(n) for n in names} | {"a_b"}
    stop = time.monotonic() + 1.0
    failures = []

    def check(x):
        if isinstance(x, dict):
            assert type(x) is dict
            for k, v in x.items():
                assert k in converted or k in ("row_items", "extra_info") or isinstance(k, SlowKey), k
                check(v)
        elif isinstance(x, list):
            assert type(x) is list
            for v in x:
                check(v)
        else:
            assert x in values or isinstance(x, int), x

    def caller():
        while time.monotonic() < stop and not failures:
            try:
                check(tavo.keys.uncamel(payload))
            except BaseException as e:  # noqa: BLE001 - every outcome but a result is a failure here
                failures.append(e)

    def mutator(seed):
        import random

        rnd = random.Random(seed)
        while time.monotonic() < stop and not failures:
            row = rnd.choice(rows)
            op = rnd.randrange(4)
            if op == 0:
                row.pop(rnd.choice(names), None)
            elif op == 1:
                row[rnd.choice(names)] = rnd.choice(values)
            elif op == 2:
                row.clear() if rnd.random() < 0.1 else row.update({n: 0 for n in names})
            else:
                rows[rnd.randrange(len(rows))] = rnd.choice(rows) if rnd.random() < 0.5 else {}

    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=caller) for _ in range(3)] + \
                  [threading.Thread(target=mutator, args=(i,)) for i in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(old)
    assert not failures, failures[:3]


# --- the catalogue: tavo.keys and tavo.parse (tavo._native), as every sweep calls them ------


@pytest.mark.hostile
@catalogue.parametrize(catalogue.native.CASES)
def test_catalogue(case):
    catalogue.run(case)


FINALIZER_EMPTIES_THE_LIST = """
import gc, tavo.keys
target = [{'userId': i} for i in range(50)]
class Clears:
    def __del__(self):
        target.clear()
c = Clears()
c.cycle = c  # freed only by a collection
del c
gc.set_threshold(1)
out = tavo.keys.uncamel(target)
gc.set_threshold(700)
print(len(out))
"""


def test_a_list_emptied_by_a_finalizer_while_it_is_copied():
    # Making the copy of a list may start a collection (inside the allocation on 3.11) whose
    # finalizers run Python code; one that empties the list must leave a copy of the list as
    # it was or as it is, never items read past its end (that crashed, in a fresh interpreter
    # where the collection comes at that allocation).
    import subprocess

    done = subprocess.run([sys.executable, "-c", FINALIZER_EMPTIES_THE_LIST], capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0 and done.stdout.strip() in ("50", "0"), (done.returncode, done.stderr[-2000:])


# --- keys that are camelCase already --------------------------------------------------


@pytest.mark.parametrize("data, expected", [
    ({"lastUpdate": 1, "userID": 2, "id": 3, "user_id": 4, "HTTPCode": 5},
     {"lastUpdate": 1, "userID": 2, "id": 3, "userId": 4, "HTTPCode": 5}),
    ([{"createdAt": {"time_zone": "x", "offsetMinutes": 0}}], [{"createdAt": {"timeZone": "x", "offsetMinutes": 0}}]),
    ({"_private": 1, "trailing_": 2, "": 3, "ÉtéDate": 4}, {"private": 1, "trailing": 2, "": 3, "ÉtéDate": 4}),
], ids=["mixed", "nested", "edges"])
def test_camelcase_keys_are_kept(data, expected):
    r = tavo.keys.underscore_to_camelcase(data)
    assert r == expected
    check_model(tavo.keys.underscore_to_camelcase, model.underscore_to_camelcase, data, None)


def test_camelcase_keys_kept_as_plain_str():
    r = tavo.keys.underscore_to_camelcase({Sub("userId"): 1, Sub("user_name"): 2})
    assert [type(k) for k in r] == [str, str] and r == {"userId": 1, "userName": 2}
    with pytest.raises(ValueError, match="the keys 'userId' and 'user_id' both become 'userId'"):
        tavo.keys.underscore_to_camelcase({"userId": 1, "user_id": 2})


# --- a collision's message never prints ---------------------------------------------------


class ReprFails:
    """A key equal to a text, whose repr raises."""

    def __init__(self, text):
        self.text = text

    def __eq__(self, other):
        return other == self.text

    def __hash__(self):
        return hash(self.text)

    def __repr__(self):
        raise Boom("repr")


@pytest.mark.parametrize("first", [True, False], ids=["repr-fails-first", "repr-fails-second"])
def test_collision_with_a_key_whose_repr_raises(first, capfd):
    key = ReprFails("a_b")
    data = {key: 1, "aB": 2} if first else {"aB": 2, key: 1}
    with pytest.raises(ValueError) as e:
        tavo.keys.uncamel(data)
    shown = f"<ReprFails object at {hex(id(key))}>"
    assert shown in str(e.value) and "'aB'" in str(e.value)
    assert capfd.readouterr().err == ""


# --- Ctrl-C during a long walk ------------------------------------------------------------


@main_thread_only
@pytest.mark.thread_unsafe(reason="interrupts by a timer signal, which only the main thread receives")
@pytest.mark.parametrize("shape", ["records", "wide", "deep"])
def test_interrupt_reaches_a_long_walk_promptly(shape):
    import signal

    def make():
        if shape == "records":
            return [{"userId": i, "itemList": [{"unitPrice": i}]} for i in range(300_000)]
        if shape == "wide":
            return {f"someKey{i}": i for i in range(400_000)}
        data = inner = []
        for _ in range(120_000):
            inner.append({"aB": []})
            inner = inner[0]["aB"]
        return data

    data = make()
    start = time.process_time()
    tavo.keys.uncamel(data)
    whole = time.process_time() - start
    # within 0.1 s on a release build; a debug or sanitizer build walks (and frees what it
    # made) many times slower, and gets the same share of its own walk
    limit = max(0.1, whole / 20)
    # early in the walk: what the call made until then is freed before it returns, and
    # that is counted too
    delay = min(0.02, whole / 8)
    # The timer (ITIMER_PROF) counts this process's CPU time, user and system, as the
    # measure does: a machine busy with other work delays both alike. What it cannot
    # discount is a stall of the process itself (a host that takes the virtual CPU, a
    # page fault served slowly), so a late stop is tried twice more: a walk that does
    # not hear the signal is late every time.
    old = signal.signal(signal.SIGPROF, signal.default_int_handler)
    was_enabled = gc.isenabled()
    gc.disable()
    late = []
    try:
        while len(late) < 3 and (not late or late[-1] >= limit):
            delivered = time.process_time() + delay
            signal.setitimer(signal.ITIMER_PROF, delay)
            with pytest.raises(KeyboardInterrupt):
                tavo.keys.uncamel(data)
            late.append(time.process_time() - delivered)
            signal.setitimer(signal.ITIMER_PROF, 0)
    finally:
        signal.setitimer(signal.ITIMER_PROF, 0)
        signal.signal(signal.SIGPROF, old)
        if was_enabled:
            gc.enable()
    assert late[-1] < limit, (whole, late)
    if shape != "deep":  # (comparing 120,000 levels would need as deep a recursion)
        assert data == make()


# --- running out of memory --------------------------------------------------------------

KEYS_MEMORY_SCRIPT = r"""
import sys, tavo.keys
sys.path.insert(0, sys.argv[2])
from hostile_kit import address_space_sweep
shape = sys.argv[1]
if shape == "records":
    data = [{"userId": i, "itemList": [{"unitPrice": i, "skuCode": "x"}]} for i in range(200_000)]
elif shape == "wide":
    data = {"someKey%d" % i: i for i in range(400_000)}
else:
    data = inner = []
    for _ in range(200_000):
        inner.append({"aB": []})
        inner = inner[0]["aB"]
def both():
    tavo.keys.uncamel(data)
    return tavo.keys.underscore_to_camelcase(data)
address_space_sweep(both, (1, 2, 3, 5, 8, 12, 20, 32, 50, 80, 128, 200, 400))
"""


@pytest.mark.skipif(os.environ.get("TAVO_SANITIZED") == "1", reason="address limits do not mix with ASan")
@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
@pytest.mark.parametrize("shape", ["records", "wide", "deep"])
def test_out_of_memory_is_memory_error(shape):
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run([sys.executable, "-c", KEYS_MEMORY_SCRIPT, shape, here], capture_output=True, text=True,
                         timeout=300)
    check_sweep_output(out)


# --- one PanicException class in the process ----------------------------------------------

PANIC_CLASS_SCRIPT = r"""
import sys
import tavo, tavo.keys
sys.path.insert(0, sys.argv[1])
from hostile_kit import Boom, panic_type


class Raises:
    # a key whose hash raises once it is armed (after the payload is built)

    def __init__(self, exc):
        self.exc = exc
        self.armed = False

    def __hash__(self):
        if self.armed:
            raise self.exc
        return 1


def payload(exc):
    key = Raises(exc)
    data = {key: 1}
    key.armed = True
    return data

# tavo's native module meets an exception first (every exception it takes is compared
# with the PanicException class)
try:
    tavo.keys.uncamel(payload(Boom("x")))
except Boom:
    pass
P = panic_type()  # from _tavo
try:
    tavo.keys.uncamel(payload(P("raised by Python code")))
except BaseException as e:
    print(type(e) is P, type(e).__module__, type(e).__name__, str(e))
"""


def test_one_panic_class_per_process():
    import pathlib

    out = subprocess.run([sys.executable, "-c", PANIC_CLASS_SCRIPT, str(pathlib.Path(__file__).parent)],
                         capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr[-2000:]
    assert out.stdout.split() == ["True", "lumo_runtime", "PanicException", "raised", "by", "Python", "code"]
    # taken as the module's own panic, and resumed
    assert "Lumo is resuming a panic after fetching a PanicException from Python" in out.stderr
