"""Timings of collapse, backfill, backfill_iterdict and same_order against
plain Python and the usual third-party tools (timed as black boxes).

Run: python bench/iter_bench.py [rounds]
Each case runs its contenders interleaved, round after round, and reports
the median time of each and the ratio to the module.
"""
import random
import statistics
import sys
import time

import _tavo

try:
    import more_itertools
except ImportError:  # pragma: no cover
    more_itertools = None
try:
    import pandas
except ImportError:  # pragma: no cover
    pandas = None

ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 15


def timed(fn, inner):
    t0 = time.perf_counter()
    for _ in range(inner):
        fn()
    return (time.perf_counter() - t0) / inner


def compare(title, contenders, inner=1):
    samples = {name: [] for name, _ in contenders}
    for _ in range(ROUNDS):
        for name, fn in contenders:
            samples[name].append(timed(fn, inner))
    base = statistics.median(samples[contenders[0][0]])
    print(title)
    for name, _ in contenders:
        med = statistics.median(samples[name])
        print(f"  {name:<34} {med * 1e3:10.3f} ms   x{med / base:7.2f}")
    print()


# --- collapse -----------------------------------------------------------------
flat = list(range(1_000_000))
rng = random.Random(7)


def nested_item(depth):
    if depth == 0 or rng.random() < 0.4:
        return rng.randrange(1000)
    return [nested_item(depth - 1) for _ in range(rng.randrange(0, 4))] + [(rng.randrange(9), "s")]


nested = [nested_item(5) for _ in range(20_000)]
print(f"nested data: {len(_tavo.collapse(nested))} leaves\n")

compare("collapse, flat list of 1,000,000 ints", [
    ("_tavo.collapse(x)", lambda: _tavo.collapse(flat)),
    ("list(x)", lambda: list(flat)),
])
compare("collapse, nested lists and tuples", [
    ("_tavo.collapse(x)", lambda: _tavo.collapse(nested)),
] + ([("list(more_itertools.collapse(x))", lambda: list(more_itertools.collapse(nested)))]
     if more_itertools else []))

# --- backfill -----------------------------------------------------------------
values = [None if rng.random() < 0.1 else i for i in range(1_000_000)]
values[0] = None


def backfill_py(xs):
    out = []
    last = next((x for x in xs if x is not None), None)
    for x in xs:
        if x is None:
            out.append(last)
        else:
            out.append(x)
            last = x
    return out


compare("backfill, 1,000,000 elements, 10% None", [
    ("_tavo.backfill(x)", lambda: _tavo.backfill(values)),
    ("list(x)", lambda: list(values)),
    ("plain Python loop", lambda: backfill_py(values)),
] + ([("pandas Series ffill().bfill()", lambda: pandas.Series(values).ffill().bfill().tolist())]
     if pandas else []))

# --- backfill_iterdict --------------------------------------------------------
cols = [f"col{j}" for j in range(10)]
rows = [{c: (None if rng.random() < 0.2 else rng.randrange(100)) for c in cols} for _ in range(100_000)]


def backfill_iterdict_py(rows):
    latest = {}
    waiting = {}
    out = []
    for r, row in enumerate(rows):
        o = {}
        for k, v in row.items():
            if v is None:
                if k in latest:
                    o[k] = latest[k]
                else:
                    waiting.setdefault(k, []).append(r)
            else:
                latest[k] = v
                for p in waiting.pop(k, ()):
                    if p < r:
                        out[p][k] = v
                o[k] = v
        out.append(o)
    return out


assert backfill_iterdict_py(rows) == _tavo.backfill_iterdict(rows)
compare("backfill_iterdict, 100,000 rows of 10 keys, 20% None", [
    ("_tavo.backfill_iterdict(rows)", lambda: _tavo.backfill_iterdict(rows)),
    ("plain Python loop", lambda: backfill_iterdict_py(rows)),
    ("[r.copy() for r in rows] (a floor)", lambda: [r.copy() for r in rows]),
] + ([("pandas DataFrame ffill().bfill()",
       lambda: pandas.DataFrame(rows).ffill().bfill().to_dict("records"))] if pandas else []))

# --- same_order ---------------------------------------------------------------
comp = [f"item-{i:05d}" for i in range(10_000)]
# equal texts, distinct objects, spread over comp
wanted = ["".join(comp[i]) for i in range(0, 10_000, 100)]
wanted = [w[:1] + w[1:] for w in wanted]
assert all(w is not comp[i * 100] for i, w in enumerate(wanted))


def same_order_index(ref_list, comp):
    if len(comp) < len(ref_list):
        return False
    start = 0
    for x in ref_list:
        try:
            start = comp.index(x, start)
        except ValueError:
            return False
    return True


def same_order_index_from_zero(ref_list, comp):
    if len(comp) < len(ref_list):
        return False
    try:
        pos = [comp.index(x) for x in ref_list]
    except ValueError:
        return False
    return all(a <= b for a, b in zip(pos, pos[1:]))


assert _tavo.same_order(wanted, comp) and same_order_index(wanted, comp)
compare("same_order, 100 reference strings against 10,000 strings", [
    ("_tavo.same_order(ref, comp)", lambda: _tavo.same_order(wanted, comp)),
    ("list.index from previous match", lambda: same_order_index(wanted, comp)),
    ("list.index from 0, then sorted check", lambda: same_order_index_from_zero(wanted, comp)),
], inner=20)
