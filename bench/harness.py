"""Timing machinery: candidates, cases, interleaved repetitions, medians.

A case is one function on one input. Its candidates are the module itself and
whatever it is compared with (peers from PyPI, pure-Python references,
CPython built-ins that bound what is possible). Every candidate is a Python
expression over its own names, so the expression that is checked for the right
answer is the very one that is timed.

Each repetition times every candidate once, in an order that rotates from one
repetition to the next; the ratio module/candidate is taken within each
repetition (same moment, same machine load) and the median of those ratios is
reported. The machine is shared and noisy, so medians rather than means, and
the clock is the process's CPU time.
"""

import gc
import math
import statistics
import time
import timeit
from dataclasses import dataclass, field


@dataclass
class Candidate:
    label: str                 # what is shown: '_tavo.uncamel', 'inflection.underscore', ...
    kind: str                  # 'module', 'peer', 'reference' or 'built-in'
    expr: str                  # the timed expression, e.g. 'f(x)'
    env: dict                  # the names it uses
    input_key: str = "main"    # which input it runs on; the module is timed on each
    check: bool = True         # compare its answer with the module's before timing
    strict: bool = False       # compare types too (int vs float, the sign of zero)
    notes: list = field(default_factory=list)
    skipped: str = ""          # why it is not timed, if it is not
    times: list = field(default_factory=list)   # seconds per call, one per repetition
    number: int = 0            # calls per timed batch


@dataclass
class Case:
    func: str                  # module function name
    label: str                 # input description shown in the report
    size: str                  # 'small' or 'large'
    inputs: dict               # input key -> short description
    module: dict               # input key -> module Candidate
    others: list               # peers, references, built-ins
    notes: list = field(default_factory=list)
    skipped: str = ""

    @property
    def id(self):
        return "%s/%s" % (self.func, self.label)

    def all_candidates(self):
        return list(self.module.values()) + [c for c in self.others if not c.skipped]


def evaluate(c):
    return eval(c.expr, dict(c.env))


def same_answer(a, b, strict):
    if strict:
        if type(a) is not type(b):
            return False
        if isinstance(a, float):
            if math.isnan(a) or math.isnan(b):
                return math.isnan(a) and math.isnan(b)
            return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)
    try:
        return bool(a == b)
    except Exception:
        return False


def short(x, limit=60):
    r = repr(x)
    return r if len(r) <= limit else r[: limit - 12] + "..." + r[-9:]


def check_case(case):
    """Drops every candidate whose answer differs from the module's, saying so."""
    answers = {}
    for key, m in case.module.items():
        answers[key] = evaluate(m)
    for c in case.others:
        if c.skipped or not c.check:
            continue
        try:
            got = evaluate(c)
        except Exception as e:  # a peer that fails on the input is not timed on it
            c.skipped = "raises %s on this input: %s" % (type(e).__name__, short(str(e), 80))
            continue
        expected = answers[c.input_key]
        if not same_answer(got, expected, c.strict):
            c.skipped = "gives a different answer on this input: _tavo %s, %s %s" % (
                short(expected), c.label, short(got))


# CPU time of this process, not wall time: on a shared machine a wall clock
# also counts the time other processes held the core, which is most of the noise.
CLOCK = time.process_time


def _timer(c):
    names = sorted(c.env)
    setup = "; ".join("%s = _env_%s" % (n, n) for n in names) or "pass"
    glob = {"_env_" + n: v for n, v in c.env.items()}
    return timeit.Timer(c.expr, setup=setup, timer=CLOCK, globals=glob)


def _loop_overhead(count=200000):
    """Seconds per iteration of timeit's empty loop; taken off every batch."""
    t = timeit.Timer("pass", timer=CLOCK)
    return min(t.timeit(count) for _ in range(3)) / count


def calibrate(timer, batch_seconds):
    """Smallest number of calls (1, 2, 5, 10, ...) whose batch takes batch_seconds."""
    number = 1
    while True:
        for m in (1, 2, 5):
            n = number * m
            t = timer.timeit(n)
            if t >= batch_seconds:
                return n
        number *= 10


def run_case(case, reps, batch_seconds):
    cands = case.all_candidates()
    timers = [_timer(c) for c in cands]
    # The inputs live through the whole case: keep them out of every collection.
    gc.collect()
    gc.freeze()
    try:
        _run(cands, timers, reps, batch_seconds)
    finally:
        gc.unfreeze()


def _run(cands, timers, reps, batch_seconds):
    for c, t in zip(cands, timers):
        gc.collect()
        c.number = calibrate(t, batch_seconds)
        c.times = []
    k = len(cands)
    for r in range(reps):
        overhead = _loop_overhead()
        for j in range(k):
            i = (j + r) % k
            c = cands[i]
            gc.collect()
            t = timers[i].timeit(c.number)
            c.times.append(max(t - overhead * c.number, 1e-12) / c.number)


def ratios(case, c):
    """module/candidate, one per repetition."""
    m = case.module[c.input_key]
    return [a / b for a, b in zip(m.times, c.times)]


def median(xs):
    return statistics.median(xs) if xs else float("nan")


def time_once(fn, *args):
    gc.collect()
    t0 = time.perf_counter()
    fn(*args)
    return time.perf_counter() - t0
