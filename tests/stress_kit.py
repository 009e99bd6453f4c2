"""Shared inputs, callers and mutators: the scenarios of test_threads.py's stress test.

For a bounded time per scenario, callers call a function on shared inputs
while mutators append, pop, clear, sort and reassign items of those same
lists and dicts. On a free-threaded build nothing serialises them; with the
interpreter lock, a tiny switch interval and Python-level comparisons let the
mutators run in the middle of a call. Every result is checked: it must be one
that some interleaving of whole operations could give (right types, elements
drawn from the values the inputs ever held, the function's own invariants),
or one of the function's documented exceptions. Afterwards the shared lists
must be intact and the function must agree with its model.

The base classes and shared values are here; each function's scenarios are in
its catalogue module (STRESS).
  TAVO_STRESS_SEED      seed of the random choices (default: a fresh one,
                        shown when a check fails)
"""
import os
import random
import threading
import time

from hostile_kit import is_panic

STRESS_SEED = int(os.environ.get("TAVO_STRESS_SEED") or random.randrange(2**32))

CAP = 48  # mutators keep every shared list at most this long


class Slow:
    """A value whose comparisons are Python code that lets other threads run."""

    def __init__(self, v):
        self.v = v

    def __eq__(self, other):
        time.sleep(0)
        return isinstance(other, Slow) and other.v == self.v

    def __lt__(self, other):
        time.sleep(0)
        return isinstance(other, Slow) and self.v < other.v

    def __gt__(self, other):
        time.sleep(0)
        return isinstance(other, Slow) and self.v > other.v

    __hash__ = object.__hash__

    def __repr__(self):
        return f"Slow({self.v})"


# The values that inputs are made of; results may hold only these (by identity).
LEAVES = tuple([i * 1000 + 7 for i in range(12)] + [f"v{i}é" for i in range(12)] +
               [float(i) + 0.5 for i in range(6)] + [Slow(i) for i in range(6)])
LEAF_IDS = frozenset(map(id, LEAVES))
KEYS = ("a", "b", "cé", "d")


def fresh(text):
    """An equal str that is a new object, its UTF-8 form not made yet."""
    return "".join(list(text))


def mutate_list(lst, rng, make):
    """One whole operation on `lst`; `make(rng)` gives a new element. The
    other mutator may shorten the list between reading its length and
    using it: such an operation is simply skipped."""
    op = rng.randrange(7)
    try:
        if op == 0 and len(lst) < CAP:
            lst.append(make(rng))
        elif op == 1:
            lst.pop(rng.randrange(len(lst)))
        elif op == 2:
            if rng.random() < 0.2:
                lst.clear()
            else:
                lst.reverse()
        elif op == 3:
            lst.sort(key=id)
        elif op == 4:
            lst[rng.randrange(len(lst))] = make(rng)
        elif op == 5:
            lst[:] = [make(rng) for _ in range(rng.randrange(CAP // 2))]
        elif len(lst) < CAP:
            lst.insert(rng.randrange(len(lst) + 1), make(rng))
    except (IndexError, ValueError):  # empty, or shortened meanwhile
        pass


def intact(lst, allowed_ids):
    """The shared list after the run: a sound list of allowed elements."""
    items = list(lst)
    assert len(items) == len(lst) <= CAP
    bad = [x for x in items if id(x) not in allowed_ids]
    assert not bad, f"list holds foreign objects: {bad[:3]!r}"


def is_internal(e, *texts):
    return is_panic(e) and (not texts or str(e) in texts)


class Scenario:
    """Shared inputs, a call on them, checks of each outcome, mutations and a
    final check.

    `check(arg, out)` holds for every result: the invariants that any
    interleaving keeps. When no mutation overlapped a call (the version did
    not move and no mutator was active), the inputs did not change during it,
    and `expect(copy_inputs())` (the plain-Python model on a copy) must then
    give the very result (`same`). `documented(e)` says which exceptions a
    call may end with while its inputs change under it."""

    name = ""

    def __init__(self):
        self.lock = threading.Lock()
        self.version = 0
        self.active = 0

    def changing(self):
        scenario = self

        class _Changing:
            def __enter__(self):
                with scenario.lock:
                    scenario.active += 1
                    scenario.version += 1

            def __exit__(self, *exc):
                with scenario.lock:
                    scenario.active -= 1
                    scenario.version += 1

        return _Changing()

    def state(self):
        with self.lock:
            return self.version, self.active

    def documented(self, e):
        return False

    def same(self, out, expected):
        return list(map(id, out)) == list(map(id, expected))

    def exact(self, arg, out):
        return True  # the call may be checked against the model

    def final(self):
        self.intact()
        arg, out = self.call(random.Random(0))
        assert self.same(out, self.expect(self.copy_inputs(), arg)), out


class TextScenario(Scenario):
    TEXTS = ("getHTTPResponse_code", "ÉtéÀParis_x", "4¾ cups ⅓ tsp", "(1,234.50)", "1,200m", "x½ and 7 ⅞",
             "__foo__Bar", "ǅungleΣΣ", "", "1e5", "σΣς_ΣΣ", "9" * 30)

    def __init__(self, name, fn):
        super().__init__()
        self.name = name
        self.fn = fn
        self.expected = {t: self.fn(fresh(t)) for t in self.TEXTS}  # one thread, one call each
        self.texts = [fresh(t) for t in self.TEXTS]

    def call(self, rng):
        try:
            s = self.texts[rng.randrange(len(self.texts))]
        except (IndexError, ValueError):  # emptied meanwhile
            s = fresh(self.TEXTS[0])
        return s, self.fn(s)

    def check(self, arg, out):
        # str is immutable: every call has exactly one right answer
        assert type(out) is type(self.expected[arg]) and out == self.expected[arg], (arg, out)

    def mutate(self, rng):
        mutate_list(self.texts, rng, lambda r: fresh(r.choice(self.TEXTS)))

    def copy_inputs(self):
        return None

    def expect(self, copy, arg):
        return self.expected[arg]

    def same(self, out, expected):
        return out == expected

    def intact(self):
        intact(self.texts, {id(t) for t in self.texts})
        assert all(t in self.expected for t in self.texts)


def leaf_or_none(rng):
    return None if rng.random() < 0.4 else rng.choice(LEAVES)

