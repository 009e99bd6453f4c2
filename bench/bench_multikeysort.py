"""Timings of multikeysort against CPython's sorted and pandas on 100,000 row dicts.

Run: python bench/bench_multikeysort.py [--rows N] [--repeat R]
Medians of interleaved runs; ratios below 1 mean multikeysort is faster.
--cpu measures process CPU time instead of wall time (steadier on a busy machine).
"""
import argparse
import operator
import random
import statistics
import string
import time

import _tavo

try:
    import pandas
except ImportError:  # pandas is only a reference point
    pandas = None


def make_rows(n, seed=1):
    rnd = random.Random(seed)
    letters = string.ascii_letters
    return [
        {
            "a": rnd.randrange(1_000_000),
            "price": rnd.randrange(1000),
            "name": "".join(rnd.choice(letters) for _ in range(rnd.randrange(4, 12))),
            "score": rnd.random(),
            "id": i,
            "pair": (rnd.randrange(100), rnd.randrange(100)),
        }
        for i in range(n)
    ]


def cases(rows):
    ig = operator.itemgetter
    out = {
        "int asc 'a'": {
            "tavo": lambda: _tavo.multikeysort(rows, ["a"]),
            "sorted": lambda: sorted(rows, key=ig("a")),
        },
        "['-price', 'name']": {
            "tavo": lambda: _tavo.multikeysort(rows, ["-price", "name"]),
            "sorted": lambda: sorted(sorted(rows, key=ig("name")), key=ig("price"), reverse=True),
        },
        "str asc 'name'": {
            "tavo": lambda: _tavo.multikeysort(rows, ["name"]),
            "sorted": lambda: sorted(rows, key=ig("name")),
        },
        "float desc 'score'": {
            "tavo": lambda: _tavo.multikeysort(rows, ["-score"]),
            "sorted": lambda: sorted(rows, key=ig("score"), reverse=True),
        },
        "['name', 'price'] (str first)": {
            "tavo": lambda: _tavo.multikeysort(rows, ["name", "price"]),
            "sorted": lambda: sorted(sorted(rows, key=ig("price")), key=ig("name")),
        },
        "tuple asc 'pair' (Python compares)": {
            "tavo": lambda: _tavo.multikeysort(rows, ["pair"]),
            "sorted": lambda: sorted(rows, key=ig("pair")),
        },
    }
    if pandas is not None:
        out["['-price', 'name']"]["pandas"] = lambda: pandas.DataFrame(rows).sort_values(
            ["price", "name"], ascending=[False, True], kind="stable").to_dict("records")
    return out


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--rows", type=int, default=100_000)
    p.add_argument("--repeat", type=int, default=15)
    p.add_argument("--cpu", action="store_true")
    args = p.parse_args()
    clock = time.process_time if args.cpu else time.perf_counter
    rows = make_rows(args.rows)
    for name, fns in cases(rows).items():
        # same order as the reference
        assert fns["tavo"]() == fns["sorted"](), name
        times = {k: [] for k in fns}
        for _ in range(args.repeat):
            for k, fn in fns.items():
                t0 = clock()
                fn()
                times[k].append(clock() - t0)
        med = {k: statistics.median(v) * 1e3 for k, v in times.items()}
        parts = ", ".join(f"{k} {v:.2f} ms" for k, v in med.items())
        ratios = ", ".join(f"tavo/{k} {med['tavo'] / v:.3f} ({v / med['tavo']:.1f}x)"
                           for k, v in med.items() if k != "tavo")
        print(f"{name:32s} {parts} | {ratios}")


if __name__ == "__main__":
    main()
