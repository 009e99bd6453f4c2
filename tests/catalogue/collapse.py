"""Catalogue cases of collapse: nesting, leaves, subclasses read directly, cycles."""
import collections

import _tavo
from catalogue import ListSpy, TupleSpy, case_list, fresh, list_calls, raises, returns, returns_where
from fuzz_kit import nested
from hostile_kit import ListSub, Raising
from models import same
from models import sequences as iter_models
from stress_kit import CAP, LEAF_IDS, LEAVES, Scenario, intact, mutate_list

CASES, add = case_list()

Point = collections.namedtuple("Point", "x y")
_shared = [1]
_leaf_objects = ["abc", b"x", {"a": 1}, {2}, range(3), None, 2.5, Raising()]


def _deep(depth, inner):
    x = [inner]
    for _ in range(depth - 1):
        x = [x]
    return x


_deep_list = _deep(100_000, 7)
for label, args, expected in [
    ("empty", (), []),
    ("flat", (1, 2), [1, 2]),
    ("example", ([["a", ["b", ("c", "d")]], -2, -1, [0, 1]],), ["a", "b", "c", "d", -2, -1, 0, 1]),
    ("nested-empties", ([[[]]], ()), []),
    ("leaves", tuple(_leaf_objects), _leaf_objects),
    ("namedtuple", ([Point(1, 2)],), [1, 2]),
    ("shared", ([_shared, _shared],), [1, 1]),
    ("diamond", ([(_shared, [_shared]), (_shared,)],), [1, 1, 1]),
    ("subclasses", (ListSpy([1, TupleSpy((2, [3]))]),), [1, 2, 3]),
]:
    add(f"collapse-{label}", "collapse", *args,
        check=returns_where(lambda v, e=expected: same(v, e) and not list_calls, f"{expected!r}"))
add("collapse-deep", "collapse", _deep_list, check=returns([7]))
add("collapse-identity", "collapse", [_leaf_objects],
    check=returns_where(lambda v: all(a is b for a, b in zip(v, _leaf_objects)), "the very objects"))


def _self_list():
    x = [1, 2]
    x.append(x)
    return (x,), {}


def _mutual():
    a, b = [1], [2]
    a.append(b)
    b.append(a)
    return ([0, a],), {}


def _through_tuple():
    x = [1]
    t = (x, 2)
    x.append(t)
    return (t,), {}


def _self_subclass():
    x = ListSpy()
    list.append(x, x)
    return (x,), {}


def _wide_self():
    x = [0] * 5000
    x.append(x)
    return (x,), {}


for label, make in [("self", _self_list), ("mutual", _mutual), ("through-tuple", _through_tuple),
                    ("self-subclass", _self_subclass), ("wide", _wide_self)]:
    add(f"collapse-cycle-{label}", "collapse", make=make, check=raises(ValueError))

# --- the sweeps --------------------------------------------------------------

PROBE = {"collapse": ([1, [2]],)}


def _self_list():
    x = [1, "a"]
    x.append(x)
    return _tavo.collapse, ([0, x],), {}, (x,), False


def _deep_self():
    x = [1]
    inner = x
    for _ in range(30):
        inner = [inner, 2]
    x.append(inner)
    return _tavo.collapse, (inner,), {}, (inner,), False


_wide = [[i, (i, [str(i)])] if i % 4 else i for i in range(150)]
NOMEMORY = {
    "collapse-nested": fresh("collapse", [["a", ["b", ("c", "d")]], -2, -1, [0, 1]]),
    "collapse-args": fresh("collapse", 1, (2, [3, (4,)]), [], "x"),
    "collapse-namedtuple": fresh("collapse", [collections.namedtuple("P", "x y")(1, [2])]),
    "collapse-subclass": fresh("collapse", ListSub([1, ListSub([2, 3])])),
    "collapse-self-containing": _self_list,
    "collapse-deep-self-containing": _deep_self,
    "collapse-keyword": fresh("collapse", 1, x=2),
    "collapse-wide": fresh("collapse", _wide, tuple(_wide)),
}
_hammer_nested = [[i, (i, [i])] for i in range(200)]
HAMMER = {"collapse": lambda: _tavo.collapse(_hammer_nested)}
SCALE = {
    # 10^7 elements
    "collapse-1e7-flat": ("collapse", "args = ([0] * 10**7,)", "len(r) == 10**7", 3),
    "collapse-1e7-pairs": ("collapse", "args = ([(i, [i]) for i in range(5 * 10**6)],)", "len(r) == 10**7", 3),
    # 10^6 levels of nesting
    "collapse-1e6-deep-lists": ("collapse", "x = 7\nfor _ in range(10**6): x = [x]\nargs = (x,)", "r == [7]", 3),
    "collapse-1e6-deep-tuples": ("collapse", "x = (7, 8)\nfor _ in range(10**6): x = (x, [8])\nargs = (x,)",
                                 "len(r) == 10**6 + 2 and r[:2] == [7, 8]", 3),
}


# --- the stress scenario (test_threads.py) ------------------------------------

class CollapseScenario(Scenario):
    name = "collapse"

    def __init__(self):
        super().__init__()
        self.inner = [[LEAVES[i], (LEAVES[i + 1], LEAVES[i + 2])] for i in range(0, 12, 3)]
        self.outer = [self.inner[0], LEAVES[0], (self.inner[1], LEAVES[1]), self.inner[2]]
        self.tuples = [(LEAVES[2], self.inner[3]), (LEAVES[5], (LEAVES[6],))]

    def make_outer(self, rng):
        return rng.choice((rng.choice(self.inner), rng.choice(LEAVES), rng.choice(self.tuples)))

    def call(self, rng):
        return None, _tavo.collapse(self.outer, LEAVES[3])

    def check(self, arg, out):
        assert type(out) is list
        assert out and out[-1] is LEAVES[3]
        bad = [x for x in out if id(x) not in LEAF_IDS]
        assert not bad, f"not a leaf of the input: {bad[:3]!r}"
        # every list holds at most CAP entries, each at most 3 leaves deep
        assert len(out) <= CAP * (CAP + 3) * 3 + 1

    def mutate(self, rng):
        if rng.random() < 0.5:
            mutate_list(self.outer, rng, self.make_outer)
        else:
            mutate_list(rng.choice(self.inner), rng, lambda r: r.choice(LEAVES))

    def copy_inputs(self):
        # the inner lists are reached through the outer one and the tuples
        copies = {id(lst): list(lst) for lst in self.inner}

        def copy(x):
            if type(x) is list:
                return copies[id(x)] if id(x) in copies else [copy(y) for y in x]
            if type(x) is tuple:
                return tuple(copy(y) for y in x)
            return x

        return [copy(x) for x in self.outer]

    def expect(self, copy, arg):
        return iter_models.collapse(copy, LEAVES[3])

    def intact(self):
        intact(self.outer, LEAF_IDS | set(map(id, self.inner)) | set(map(id, self.tuples)))
        for lst in self.inner:
            intact(lst, LEAF_IDS)


STRESS = {"collapse": CollapseScenario}


# --- the fuzz target (fuzz/fuzz_tavo.py) -------------------------------------


def fuzz_collapse(fdp):
    args = [nested(fdp) for _ in range(fdp.ConsumeIntInRange(0, 3))]
    out = _tavo.collapse(*args)
    expected = iter_models.collapse(*args)
    assert len(out) == len(expected) and all(a is b for a, b in zip(out, expected))


FUZZ = {"collapse": fuzz_collapse}
