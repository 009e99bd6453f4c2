"""same_order: do the elements of ref_list occur in comp in the same order?"""
import math
import sys

import pytest
from hypothesis import given, strategies as st

import _tavo
import catalogue
from hostile_kit import Boom, Mutating, Raising, SlowEq, collections_run, interrupted, main_thread_only
from models import sequences as model
from strategies import ListSub, SETTINGS

nan = float("nan")


@pytest.mark.parametrize(
    "ref_list, comp, expected",
    [
        (["x", "y", "z"], ["x", "a", "b", "y", "d", "z"], True),
        (["x", "y", "z"], ["x", "z", "y"], False),
        ([], [], True),
        ([], [1], True),
        ([1], [], False),
        (["x", "x"], ["x"], False),
        (["x", "x"], ["x", "y"], True),
        (["x", "y", "x"], ["x", "y", "x"], True),
        (["x", "y", "x"], ["x", "x", "y"], False),
        (["y", "x"], ["x", "y", "x"], True),
        (["q"], ["a", "b"], False),
        ([1], [1.0], True),
        ([1.0], [True], True),
        ([nan], [nan], False),
        ([[1, 2]], [[1, 2]], True),
        ([{"a": 1}], [{"a": 1}, 3], True),
        (["ä", "€", "😀"], ["😀", "ä", "x", "€", "😀"], True),
        (["a" * 40], ["a" * 39 + "b", "a" * 40], True),
        (["abcdefghij"], ["abcdefghiX", "Xbcdefghij", "abcdeXghij"], False),
        (["é"], ["e\u0301"], False),  # equality is by code points, not normal form
        ([1, "a", 2.5, None], [None, 1, "b", "a", 2.5, None], True),
        ([None, 1], [1, None], False),
    ],
)
def test_examples(ref_list, comp, expected):
    assert _tavo.same_order(ref_list, comp) is expected


def test_same_nan_object_is_never_found():
    assert _tavo.same_order([nan], [1, nan, 2]) is False


@pytest.mark.parametrize(
    "ref_list, comp",
    [(("x",), ["x"]), ("x", ["x"]), (None, [])],
)
def test_ref_list_must_be_a_list(ref_list, comp):
    with pytest.raises(TypeError, match=r"^argument 'ref_list': '\w+' object cannot be converted to 'PyList'$"):
        _tavo.same_order(ref_list, comp)


def test_comp_must_be_a_list():
    with pytest.raises(TypeError, match=r"^argument 'comp': 'tuple' object cannot be converted to 'PyList'$"):
        _tavo.same_order([], ("x",))


class Recorder:
    """Records every equality call made with it on the left, in the test's own
    list `calls` (tests may run in several threads at once)."""

    def __init__(self, calls, name, equal_to=()):
        self.calls = calls
        self.name = name
        self.equal_to = set(equal_to)

    def __eq__(self, other):
        self.calls.append((self.name, other))
        return other in self.equal_to

    __hash__ = None


def test_comparison_order_and_operands():
    calls = []
    ref_list = [Recorder(calls, "p", {"b"}), Recorder(calls, "q", {"d"}), Recorder(calls, "r", {"b"})]
    assert _tavo.same_order(ref_list, ["a", "b", "c", "d"]) is False
    # each search starts where the previous element matched, inclusive, and
    # the ref_list element is the left operand
    assert calls == [("p", "a"), ("p", "b"), ("q", "b"), ("q", "c"), ("q", "d"), ("r", "d")]


def test_shorter_comp_compares_nothing():
    calls = []
    assert _tavo.same_order([Recorder(calls, "p"), Recorder(calls, "q")], ["x"]) is False
    assert calls == []


class Reflected(str):
    """A str subclass on the right gets the first say in the comparison."""

    def __eq__(self, other):
        return True

    __hash__ = str.__hash__


def test_rich_comparison_rules_apply():
    assert _tavo.same_order(["x"], [Reflected("y")]) is True


class Verdict:
    def __init__(self, truth):
        self.truth = truth

    def __bool__(self):
        if isinstance(self.truth, Exception):
            raise self.truth
        return self.truth


class Odd:
    def __init__(self, verdict):
        self.verdict = verdict

    def __eq__(self, other):
        return self.verdict

    __hash__ = None


@pytest.mark.parametrize(
    "verdict, expected",
    [(Verdict(True), True), (Verdict(False), False), (1, True), (0, False), ("", False), ([0], True),
     (NotImplemented, False)],
)
def test_truth_test_of_the_comparison_result(verdict, expected):
    assert _tavo.same_order([Odd(verdict)], [object()]) is expected


def test_exception_from_eq_propagates():
    with pytest.raises(Boom, match="hostile"):
        _tavo.same_order([Raising()], ["a"])
    # also when the raising element is in comp
    with pytest.raises(Boom):
        _tavo.same_order([object()], [Raising()])


def test_exception_from_bool_propagates():
    with pytest.raises(Boom, match="truth"):
        _tavo.same_order([Odd(Verdict(Boom("truth")))], [1])


def test_exception_stops_the_search():
    calls = []
    with pytest.raises(Boom):
        _tavo.same_order([Recorder(calls, "p", {"b"}), Raising(), Recorder(calls, "q")], ["a", "b", "c"])
    assert [c[0] for c in calls] == ["p", "p"]


def test_comp_shrunk_by_eq_gives_the_index_error():
    comp = ["a", "b", "c", "d"]
    with pytest.raises(IndexError, match="list index out of range"):
        _tavo.same_order([Mutating(lambda: comp.clear())], comp)


def test_ref_list_shrunk_by_eq_gives_the_index_error():
    ref_list = []
    ref_list.extend([Mutating(lambda: ref_list.clear(), True), "b"])
    with pytest.raises(IndexError, match="list index out of range"):
        _tavo.same_order(ref_list, ["a", "b"])


def test_growth_during_the_call_is_not_looked_at():
    comp = ["a", "b"]
    ref_list = [Mutating(lambda: comp.append("z"), False)]
    assert _tavo.same_order(ref_list, comp) is False
    assert len(comp) == 4  # compared with the two original elements only


def test_elements_stay_alive_while_compared():
    # The element removed from both lists by its own __eq__ must survive the
    # comparison: the call holds its own references.
    comp = []
    ref_list = []

    class Vanishing:
        def __eq__(self, other):
            ref_list.clear()
            comp.clear()
            return other is not None and self.check()

        def check(self):
            return True

        __hash__ = None

    ref_list.append(Vanishing())
    comp.append(Vanishing())
    assert _tavo.same_order(ref_list, comp) is True


def test_references_are_balanced():
    a, b = Odd(Verdict(False)), object()
    before = sys.getrefcount(a), sys.getrefcount(b)
    for _ in range(5):
        _tavo.same_order([a, a], [b, b, b])
    with pytest.raises(Boom):
        _tavo.same_order([Raising()], [b])
    assert (sys.getrefcount(a), sys.getrefcount(b)) == before


small = st.one_of(st.integers(0, 4), st.sampled_from(["a", "b", "ab", "ä", "long enough text"]),
                  st.sampled_from([0.0, 1.0, nan]), st.just(None))


@given(st.lists(small, max_size=6), st.lists(small, max_size=12))
def test_matches_model(ref_list, comp):
    assert _tavo.same_order(ref_list, comp) is model.same_order(ref_list, comp)


@given(st.lists(st.sampled_from("abcdef"), max_size=12), st.data())
def test_any_subsequence_is_in_order(comp, data):
    picks = sorted(data.draw(st.sets(st.integers(0, max(len(comp) - 1, 0)), max_size=len(comp))))
    ref_list = [comp[i] for i in picks if i < len(comp)]
    # fresh str objects, so nothing can be found by identity
    ref_list = ["".join(list(s)) for s in ref_list]
    assert _tavo.same_order(ref_list, comp) is True


def _nested(depth):
    x = [1]
    for _ in range(depth):
        x = [x]
    return x


@pytest.mark.parametrize("depth", [10, 100_000])
def test_deeply_nested_elements_end_in_recursion_error_not_a_crash(depth):
    # Comparing the elements is the interpreter's own recursive walk, bounded
    # by its recursion guard; the call passes its RecursionError on. Where the
    # guard stands is the interpreter's: 3.14 bounds recursion by the real C
    # stack, so 100,000 levels compare there. The call must do what `==` does.
    a, b = _nested(depth), _nested(depth)
    try:
        equal = a == b
    except RecursionError:
        with pytest.raises(RecursionError):
            _tavo.same_order([a], [b])
    else:
        assert equal is True
        assert _tavo.same_order([a], [b]) is True


def test_recursion_error_from_eq_is_not_taken_as_unequal():
    class Deep:
        def __eq__(self, other):
            return self == other

        __hash__ = object.__hash__

    with pytest.raises(RecursionError):
        _tavo.same_order([Deep()], [1, 2, Deep()])


# --- hostile: re-entered, interrupted, lists changed by a collection -----------------


@pytest.mark.hostile
def test_same_order_reentered_from_eq():
    ref, comp = [], ["a", "x", "b"]
    depth = [0]

    class Reenters:
        def __eq__(self, other):
            depth[0] += 1
            if depth[0] < 50:
                assert _tavo.same_order(ref, comp) in (True, False)
            return other == "x"

        __hash__ = object.__hash__

    ref.append(Reenters())
    assert _tavo.same_order(ref, comp) is True


@pytest.mark.hostile
def test_hostile_keyboard_interrupt_in_same_order_propagates():

    class Interrupts:
        def __eq__(self, other):
            raise KeyboardInterrupt

        __hash__ = object.__hash__

    with pytest.raises(KeyboardInterrupt):
        _tavo.same_order([Interrupts()], [1])


@pytest.mark.hostile
def test_recursion_error_in_eq_propagates():

    class Deep:
        def __eq__(self, other):
            return self == other

        __hash__ = object.__hash__

    with pytest.raises(RecursionError):
        _tavo.same_order([Deep()], [1])


class AllocatingEq:
    """Equality that allocates (so collections start inside it) and compares `v`."""

    def __init__(self, v):
        self.v = v

    def __eq__(self, other):
        [[] for _ in range(3)]
        return isinstance(other, AllocatingEq) and other.v == self.v

    __hash__ = object.__hash__


@pytest.mark.hostile
@pytest.mark.parametrize("at", [1, 2, 5, 20])
@pytest.mark.parametrize("target", ["comp", "ref"])
@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
def test_same_order_lists_changed_by_a_collection(at, target):
    ref = [AllocatingEq(v) for v in (3, 7, 7, 20)]
    comp = [AllocatingEq(v) for v in range(30)]
    lists = {"comp": comp, "ref": ref}

    def change():
        lst = lists[target]
        for i in range(len(lst)):
            lst[i] = AllocatingEq(lst[i].v)  # freed: the module holds its own references
        del lst[len(lst) // 2:]

    with collections_run(change, at):
        try:
            out = _tavo.same_order(ref, comp)
        except IndexError:
            return
    assert out is True


@pytest.mark.hostile
@main_thread_only
@pytest.mark.thread_unsafe(reason="interrupts by a timer signal, which only the main thread receives")
def test_interrupt_ends_same_order_with_slow_eq():
    # About a second per call: the first one is still comparing when the timer fires.
    ref = [SlowEq(v, spin=1000) for v in range(20000)]
    comp = list(reversed([SlowEq(v, spin=1000) for v in range(20000)]))
    calls = interrupted(lambda: _tavo.same_order(ref, comp), [ref, comp])
    assert calls == 0  # ended inside the first call, by the comparison it was running


# --- nasty inputs (strategies.py) -------------------------------------------------------


elements = st.one_of(st.sampled_from([0, 1, -0.0, 0.0, 1.0, True, math.nan, 2**53, 2**53 + 1, float(2**53), "x",
                                      (1,), [1], None]), st.integers(-2, 2))


@given(st.lists(elements, max_size=6), st.lists(elements, max_size=10), st.booleans())
@SETTINGS
def test_same_order_on_nasty_elements(ref, comp, sub):
    got = _tavo.same_order(ListSub(ref) if sub else ref, comp)
    assert got is model.same_order(ref, comp)


# --- the catalogue: equality and truth rules, lists changed by __eq__, panics ---


@pytest.mark.hostile
@catalogue.parametrize(catalogue.same_order.CASES)
def test_catalogue(case):
    catalogue.run(case)
