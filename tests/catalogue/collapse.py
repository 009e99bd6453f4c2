"""Catalogue cases of collapse: nesting, leaves, subclasses read directly, cycles."""
import collections

import _tavo
from catalogue import ListSpy, TupleSpy, case_list, fresh, list_calls, raises, returns, returns_where
from hostile_kit import ListSub, Raising
from models import same

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
