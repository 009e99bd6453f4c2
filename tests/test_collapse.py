"""collapse: nested lists and tuples flattened into one new list."""
import collections
import copy
import gc
import os
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, strategies as st

import _tavo
import catalogue
from hostile_kit import collections_run, interrupted, main_thread_only
from models import sequences as model
from strategies import SETTINGS, nested as nasty_nested, same_objects

Point = collections.namedtuple("Point", "x y")


class MyList(list):
    pass


class MyTuple(tuple):
    pass


@pytest.mark.parametrize(
    "args, expected",
    [
        ((), []),
        ((1, 2), [1, 2]),
        (([],), []),
        (([[[]]], ()), []),
        (([["a", ["b", ("c", "d")]], -2, -1, [0, 1]],), ["a", "b", "c", "d", -2, -1, 0, 1]),
        (((1, (2, [3, (4,)])), 5), [1, 2, 3, 4, 5]),
        (("abc",), ["abc"]),
        (({"a": 1}, {2}), [{"a": 1}, {2}]),
        ((range(3),), [range(3)]),
        (([None, [None]],), [None, None]),
        (([Point(1, 2), 3],), [1, 2, 3]),
        ((MyList([1, [2]]), MyTuple((3, (4,)))), [1, 2, 3, 4]),
        ((b"xy", bytearray(b"z"), frozenset()), [b"xy", bytearray(b"z"), frozenset()]),
        (([[], 1, (), [[], [2, []]], ()],), [1, 2]),
    ],
)
def test_examples(args, expected):
    assert _tavo.collapse(*args) == expected


def test_leaves_are_the_input_objects():
    x = [1000]
    leaf = object()
    text = "some text"
    result = _tavo.collapse([x, (x, [leaf])], text)
    assert result == [1000, 1000, leaf, text]
    assert result[0] is x[0] and result[1] is x[0]
    assert result[2] is leaf and result[3] is text


def test_result_is_a_new_plain_list():
    flat = [1, 2, 3]
    result = _tavo.collapse(flat)
    assert type(result) is list
    assert result == flat and result is not flat
    result.append(4)
    assert flat == [1, 2, 3]
    assert type(_tavo.collapse(MyList([1]))) is list


def test_generators_and_iterables_are_leaves():
    gen = (i for i in range(3))
    it = iter([1])
    result = _tavo.collapse(gen, it)
    assert result[0] is gen and result[1] is it


def test_keywords_are_refused():
    with pytest.raises(TypeError, match=r"collapse\(\) got an unexpected keyword argument 'args'"):
        _tavo.collapse(args=[1])


@pytest.mark.parametrize("depth", [1000, 100_000, 1_000_000])
@pytest.mark.parametrize("wrap", [list, tuple])
def test_deep_nesting(depth, wrap):
    deep = 7
    for _ in range(depth):
        deep = wrap([deep])
    assert _tavo.collapse(deep) == [7]
    assert _tavo.collapse(1, deep, [deep], 2) == [1, 7, 7, 2]


def test_deep_and_wide_nesting():
    # every level holds a leaf before and after the next level
    depth = 200_000
    deep = []
    for i in reversed(range(depth)):
        deep = [i, deep, -i]
    result = _tavo.collapse(deep)
    assert result == list(range(depth)) + [-i for i in reversed(range(depth))]


def self_containing_cases():
    direct = []
    direct.append(direct)
    a, b = [1], [2]
    a.append(b)
    b.append(a)
    via_tuple = [0]
    via_tuple.append((1, [2, via_tuple]))
    deep_loop = [1]
    inner = deep_loop
    for _ in range(5000):  # the loop closes far below the top
        nxt = [inner]
        inner = nxt
    deep_loop.append(inner)
    late = [[1, 2], [3]]
    late.append(late)  # the repeat comes after some leaves
    return {
        "direct": (direct,),
        "two lists": (a,),
        "through a tuple": (via_tuple,),
        "long loop": (deep_loop,),
        "after leaves": (1, late),
        "below a deep plain path": (_nest([direct], 300),),
    }


def _nest(x, depth):
    for _ in range(depth):
        x = [x]
    return x


@pytest.mark.parametrize("name", list(self_containing_cases()))
def test_self_containing_input_is_refused(name):
    args = self_containing_cases()[name]
    with pytest.raises(ValueError, match="contains itself"):
        _tavo.collapse(*args)


def test_shared_but_not_self_containing_is_fine():
    # The same list many times, on one path and side by side: not a loop.
    x = [1, 2]
    path = x
    for _ in range(2000):
        path = [x, path, x]
    result = _tavo.collapse(path)
    assert len(result) == 2 + 2000 * 4
    assert all(v in (1, 2) for v in result)


def test_refused_input_leaks_nothing():
    direct = []
    direct.append(direct)
    before = sys.getrefcount(direct)
    for _ in range(3):
        with pytest.raises(ValueError):
            _tavo.collapse([direct, 1, "x"])
    assert sys.getrefcount(direct) == before


@pytest.mark.parametrize(
    "make, count",
    [
        (lambda leaf: ([leaf, (leaf, [leaf, []]), leaf], leaf), 5),
        # one flat argument, copied in one loop; and one whose last item is a
        # container, given back to the walk after its leaves were taken
        (lambda leaf: ([leaf] * 7,), 7),
        (lambda leaf: ((leaf, leaf, leaf, [leaf]),), 4),
    ],
)
def test_references_are_balanced(make, count):
    leaf = object()
    args = make(leaf)
    before = sys.getrefcount(leaf)
    result = _tavo.collapse(*args)
    assert sys.getrefcount(leaf) == before + count
    del result
    gc.collect()
    assert sys.getrefcount(leaf) == before


def test_many_empty_containers():
    result = _tavo.collapse([[] for _ in range(10_000)] + [1], *[() for _ in range(100)])
    assert result == [1]
    result.append(2)
    assert result == [1, 2]


leaves = st.one_of(st.integers(), st.text(max_size=3), st.none(), st.just({}), st.frozensets(st.integers(), max_size=2))
nested = st.recursive(
    leaves,
    lambda inner: st.one_of(st.lists(inner, max_size=4), st.lists(inner, max_size=4).map(tuple)),
    max_leaves=40,
)


@given(st.lists(nested, max_size=5))
def test_matches_model(args):
    result = _tavo.collapse(*args)
    expected = model.collapse(*args)
    assert result == expected
    assert all(a is b for a, b in zip(result, expected))


class SubList(list):
    pass


Point = collections.namedtuple("Point", "x y")


def _chain(depth, leaf, wrap=list):
    x = leaf
    for _ in range(depth):
        x = wrap([x])
    return x


# Around the limits of the short walk (8 levels, 64 elements looked at): the
# same answer on both sides of each.
@pytest.mark.parametrize(
    "args",
    [
        (_chain(7, 1),),
        (_chain(8, 1),),
        (_chain(9, 1),),
        (_chain(8, 1, tuple), 2),
        (list(range(63)),),
        (list(range(64)),),
        (list(range(65)),),
        (list(range(30)), tuple(range(33))),
        (list(range(30)), tuple(range(34))),
        ([[]] * 70,),
        ([[i] for i in range(40)],),
        tuple(range(64)),
        tuple(range(65)),
        ([1, [2, [3, [4, [5, [6, [7, [8, [9]]]]]]]], 10],),
        # one argument: flat (copied in one loop), or with a container after leaves
        ([1, "a", None, 2.5],),
        ((1, 2, 3, (4,)),),
        ([1, 2, 3, [4, 5]],),
        (SubList([1, 2, 3]),),
        (Point(1, 2),),
        ([SubList([1]), 2],),
    ],
    ids=lambda a: repr(a)[:40],
)
def test_short_walk_limits(args):
    result = _tavo.collapse(*args)
    expected = model.collapse(*args)
    assert result == expected
    assert all(a is b for a, b in zip(result, expected))


# --- hostile: cycles and shared containers at any depth and width, collections, interrupts ---


# --- collapse: cycles and shared containers at any depth and width --------------------


def _chain(depth, leaf=7):
    x = [leaf]
    for _ in range(depth):
        x = [x]
    return x


@pytest.mark.hostile
@pytest.mark.parametrize("depth", [1, 255, 256, 257, 100_000])
def test_collapse_shared_deep_containers_are_not_cycles(depth):
    d = _chain(depth)
    wide = list(range(5000))
    assert _tavo.collapse([d, d], (d,), [[d, wide], wide], wide) == [7] * 4 + wide * 3


@pytest.mark.hostile
@pytest.mark.parametrize("depth", [0, 10, 300, 100_000])
@pytest.mark.parametrize("width", [0, 1, 2000])
def test_collapse_cycle_closing_at_any_depth(depth, width):
    top = [0] * width
    inner = top
    for _ in range(depth):
        inner.append([1])
        inner = inner[-1]
    inner.append((2, top))
    with pytest.raises(ValueError):
        _tavo.collapse(top)
    top.clear()  # break the cycle for the collector


WIDE_CYCLE_SCRIPT = textwrap.dedent(
    """
    import re, resource, sys, _tavo
    width = int(sys.argv[1])
    x = [0] * width
    x.append(x)
    with open("/proc/self/status") as f:
        vm = int(re.search(r"VmSize:\\s+(\\d+) kB", f.read()).group(1)) * 1024
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (vm + 40 * width + (256 << 20), hard))
    try:
        _tavo.collapse(x)
        print("no error")
    except BaseException as e:
        print(type(e).__name__)
    """
)


@pytest.mark.hostile
@pytest.mark.skipif(os.environ.get("TAVO_SANITIZED") == "1", reason="address limits do not mix with ASan")
@pytest.mark.parametrize("width", [10**5, 2 * 10**6])
@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
def test_collapse_wide_self_containing_list_in_bounded_memory(width):
    # The repeat must be seen before the result holds many copies of the list:
    # a few times the list's own size is all the memory the call may take.
    out = subprocess.run([sys.executable, "-c", WIDE_CYCLE_SCRIPT, str(width)],
                         capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stderr[-2000:]
    assert out.stdout.strip() == "ValueError", out.stdout


@pytest.mark.hostile
@pytest.mark.parametrize("at", [1, 2, 3, 6])
@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
def test_collapse_lists_changed_by_a_collection(at):
    inner = [[i, (i, [i])] for i in range(50)]
    top = [inner, (inner[:5], [inner]), list(range(300))]

    def change():
        inner[10:] = []
        top[2].append("late")
        inner[0][1] = "replaced"

    before = copy.deepcopy(top)
    with collections_run(change, at):
        try:
            out = _tavo.collapse(top, [top[1]])
        except IndexError:
            return
    assert out in (model.collapse(before, [before[1]]), model.collapse(top, [top[1]]))


class Nested(list):
    pass


@pytest.mark.hostile
@main_thread_only
@pytest.mark.thread_unsafe(reason="interrupts by a timer signal, which only the main thread receives")
def test_interrupt_during_collapse_of_list_subclasses():
    data = [Nested([Nested([i, (i,)]), Nested()]) for i in range(20000)]
    before = copy.deepcopy(data)
    interrupted(lambda: _tavo.collapse(data), [data])
    assert data == before and all(type(x) is Nested for x in data)


# --- nasty inputs (strategies.py) -------------------------------------------------------


@given(st.lists(nasty_nested, max_size=4))
@SETTINGS
def test_collapse_on_nested_subclasses(args):
    got = _tavo.collapse(*args)
    assert type(got) is list and same_objects(got, model.collapse(*args))


def test_collapse_deep_mixed_nesting():
    x = "leaf"
    for i in range(200_000):
        x = [x] if i % 3 else (x, ())
    assert _tavo.collapse(x, x) == ["leaf", "leaf"]


# --- the catalogue: nesting, leaves, subclasses, cycles -------------------------


@pytest.mark.hostile
@catalogue.parametrize(catalogue.collapse.CASES)
def test_catalogue(case):
    catalogue.run(case)
