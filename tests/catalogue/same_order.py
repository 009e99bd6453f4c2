"""Catalogue cases of same_order: equality and truth rules, lists changed by __eq__."""
import math

import _tavo
from catalogue import PANIC_TEXT, case_list, fresh, panics, raises, returns, truth_error
from hostile_kit import Answers, BadBool, Boom, BoolReturnsInt, Mutating, NotImplementedCmp, Raising, RaisesPanic
from models import sequences as iter_models
from stress_kit import LEAF_IDS, LEAVES, Scenario, Slow, intact, mutate_list

CASES, add = case_list()

def _clearing_comp():
    comp = ["a", "b", "y"]
    return ([Mutating(comp.clear), "y"], comp), {}


def _clearing_ref():
    ref = []
    ref.extend([Mutating(ref.clear, True), "x"])
    return (ref, ["q", "x"]), {}


def _extending_comp():
    comp = ["a"]
    return ([Mutating(lambda: comp.append("z"))], comp), {}


class _Held:
    def __init__(self):
        self.value = 1


def _drops_comp_element():
    comp = [_Held()]

    def eq(self, other):
        comp.clear()
        return other.value == 1

    cls = type("DropsOther", (), {"__eq__": eq, "__hash__": object.__hash__})
    return ([cls()], comp), {}


def _drops_self():
    ref = []

    def eq(self, other):
        ref.clear()
        return False

    cls = type("DropsSelf", (), {"__eq__": eq, "__hash__": object.__hash__})
    ref.append(cls())
    return (ref, ["a", "b"]), {}


_same = NotImplementedCmp()
_yes_cls = type("Yes", (), {"__eq__": lambda self, other: True, "__hash__": object.__hash__})
for label, args, check in [
    ("example", (["x", "y", "z"], ["x", "a", "b", "y", "d", "z"]), returns(True)),
    ("out-of-order", (["x", "y", "z"], ["x", "z", "y"]), returns(False)),
    ("shorter", (["x", "x"], ["x"]), returns(False)),
    ("nan", ([math.nan], [math.nan]), returns(False)),
    ("equality", ([1], [1.0]), returns(True)),
    ("unhashable", ([[1, 2]], [[1, 2]]), returns(True)),
    ("eq-raises", ([Raising()], ["a"]), raises(Boom)),
    ("comp-eq-raises", (["a"], [Raising()]), raises(Boom)),
    ("eq-non-bool-truthy", ([Answers([1])], ["a"]), returns(True)),
    ("eq-non-bool-falsy", ([Answers("")], ["a"]), returns(False)),
    ("eq-bool-raises", ([Answers(BadBool())], ["a"]), raises(Boom)),
    ("eq-bool-returns-int", ([Answers(BoolReturnsInt())], ["a"]),
     raises(TypeError, truth_error(BoolReturnsInt()))),
    ("eq-not-implemented-identity", ([_same], [_same]), returns(True)),
    ("eq-not-implemented-other", ([NotImplementedCmp()], [NotImplementedCmp()]), returns(False)),
    ("eq-not-implemented-reflected", ([NotImplementedCmp()], [_yes_cls()]), returns(True)),
]:
    add(f"same_order-{label}", "same_order", *args, check=check)

for label, make, check in [
    ("clears-comp", _clearing_comp, raises(IndexError, "list index out of range")),
    ("clears-ref", _clearing_ref, raises(IndexError, "list index out of range")),
    ("extends-comp", _extending_comp, returns(False)),
    ("drops-comp-element", _drops_comp_element, returns(True)),
    ("drops-self", _drops_self, returns(False)),
]:
    add(f"same_order-{label}", "same_order", make=make, check=check)


# A PanicException raised by Python code the module calls resumes as the call's own.
for label, make in [
    ("eq", lambda: (([RaisesPanic(PANIC_TEXT)], ["a"]), {})),
    ("bool", lambda: (([Answers(RaisesPanic(PANIC_TEXT))], ["a"]), {})),
]:
    add(f"panic-same_order-{label}", "same_order", make=make, check=panics(PANIC_TEXT))

# --- the sweeps --------------------------------------------------------------

PROBE = {"same_order": (["a"], ["a"])}


def _clears_comp():
    comp = ["a", "b", "y"]
    return _tavo.same_order, ([Mutating(comp.clear), "y"], comp), {}, (), False


NOMEMORY = {
    "same_order-true": fresh("same_order", ["x", "y", "z"], ["x", "a", "b", "y", "d", "z"]),
    "same_order-false": fresh("same_order", ["x", "y", "z"], ["x", "z", "y"]),
    "same_order-objects": fresh("same_order", [[1, 2], NotImplementedCmp(), 1.0], [[1, 2], 3, 1]),
    "same_order-eq-raises": fresh("same_order", [Raising()], ["a"]),
    "same_order-missing": fresh("same_order", [1]),
    "same_order-mismatch": fresh("same_order", [1], (1,)),
    "same_order-clears-comp": _clears_comp,
}
_hammer_ref, _hammer_comp = list(range(0, 300, 3)), list(range(300))
HAMMER = {"same_order": lambda: _tavo.same_order(_hammer_ref, _hammer_comp)}
SCALE = {
    "same_order-1e7": ("same_order", "args = ([7] * 10**7, [7] * 10**7)", "r is True", 3),
    "same_order-1e7-distinct": ("same_order", "x = list(range(10**7)); args = (x[:1000], x)", "r is True", 3),
}


# --- the stress scenario (test_threads.py) ------------------------------------

class SameOrderScenario(Scenario):
    """With `plain`, only ints, str and floats: comparing them runs no Python
    code, so the call reads both lists as they are at one moment (under their
    locks on a free-threaded build) and never finds one shortened."""

    def __init__(self, plain=False):
        super().__init__()
        self.name = "same_order" + ("_plain" if plain else "")
        self.leaves = tuple(x for x in LEAVES if not isinstance(x, Slow)) if plain else LEAVES
        self.plain = plain
        self.comp = list(self.leaves[::2])
        self.ref = list(self.leaves[:12:3])

    def call(self, rng):
        return None, _tavo.same_order(self.ref, self.comp)

    def check(self, arg, out):
        assert out is True or out is False

    def documented(self, e):
        # a list shortened between two of its reads, while a comparison ran Python code
        return not self.plain and type(e) is IndexError and str(e) == "list index out of range"

    def mutate(self, rng):
        mutate_list(self.ref if rng.random() < 0.3 else self.comp, rng, lambda r: r.choice(self.leaves))

    def copy_inputs(self):
        return list(self.ref), list(self.comp)

    def expect(self, copy, arg):
        return iter_models.same_order(*copy)

    def same(self, out, expected):
        return out is expected

    def intact(self):
        intact(self.ref, LEAF_IDS)
        intact(self.comp, LEAF_IDS)


STRESS = {
    "same_order": SameOrderScenario,
    "same_order_plain": lambda: SameOrderScenario(plain=True),
}


# --- the fuzz target (fuzz/fuzz_tavo.py) -------------------------------------


def fuzz_same_order(fdp):
    pool = [0, 1, 2, 1.0, "x", None, math.nan, (1,)]
    ref = [pool[fdp.ConsumeIntInRange(0, 7)] for _ in range(fdp.ConsumeIntInRange(0, 5))]
    comp = [pool[fdp.ConsumeIntInRange(0, 7)] for _ in range(fdp.ConsumeIntInRange(0, 8))]
    out = _tavo.same_order(ref, comp)
    assert out is iter_models.same_order(ref, comp), (ref, comp, out)


FUZZ = {"same_order": fuzz_same_order}
