"""Times parse() against the interpreter's own conversions and against the
shortest correct pure-Python versions. Medians of interleaved repeats, in
nanoseconds per call.

    python bench/parse_bench.py [--repeat N]
"""
import argparse
import re
import statistics
import timeit

from _tavo import parse

_NUMBER_CHARS = frozenset("0123456789().-")
_DROP = re.compile(r"[^0-9().\-]")


def py_parse_join(s):
    f = "".join(c for c in s if c in _NUMBER_CHARS)
    if f[:1] == "(" and f[-1:] == ")":
        f = "-" + f[1:-1]
    try:
        return float(f) if "." in f else int(f)
    except ValueError:
        return None


def py_parse_re(s):
    f = _DROP.sub("", s)
    if f[:1] == "(" and f[-1:] == ")":
        f = "-" + f[1:-1]
    try:
        return float(f) if "." in f else int(f)
    except ValueError:
        return None


def time_rounds(stmts, number, repeat):
    """Interleaved: every round times each statement once. Statements are
    source texts, so no extra Python frame is timed around any of them."""
    env = {"parse": parse, "py_parse_join": py_parse_join, "py_parse_re": py_parse_re}
    timers = {name: timeit.Timer(stmt, globals=env) for name, stmt in stmts.items()}
    samples = {name: [] for name in stmts}
    for _ in range(repeat):
        for name, t in timers.items():
            samples[name].append(t.timeit(number) / number * 1e9)
    return samples


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--repeat", type=int, default=21)
    ap.add_argument("--number", type=int, default=200_000)
    args = ap.parse_args()

    groups = [
        ("'1234.56'", {"parse": "parse('1234.56')", "float": "float('1234.56')"}, "float"),
        ("'42'", {"parse": "parse('42')", "int": "int('42')"}, "int"),
    ]
    for text in ("$1,234.56", "USD (1,234.50)"):
        groups.append(
            (
                repr(text),
                {
                    "parse": f"parse({text!r})",
                    "py join": f"py_parse_join({text!r})",
                    "py re.sub": f"py_parse_re({text!r})",
                },
                "best py",
            )
        )
    for text, stmts, base in groups:
        values = [eval(stmt) for stmt in stmts.values()]
        assert all(v == values[0] and type(v) is type(values[0]) for v in values), text
        samples = time_rounds(stmts, args.number, args.repeat)
        m = {k: statistics.median(v) for k, v in samples.items()}
        cells = "  ".join(f"{k} {v:7.1f} ns (min {min(samples[k]):6.1f})" for k, v in m.items())
        # The ratio of each round is taken too: on a shared machine the load
        # drifts between rounds more than within one.
        if base == "best py":
            best = min(("py join", "py re.sub"), key=m.get)
            ratios = [p / q for p, q in zip(samples[best], samples["parse"])]
            print(f"{text:18} {cells}  speed-up {m[best] / m['parse']:.1f}x "
                  f"(per round median {statistics.median(ratios):.1f}x)")
        else:
            ratios = [p / q for p, q in zip(samples["parse"], samples[base])]
            print(f"{text:18} {cells}  parse/{base} {m['parse'] / m[base]:.2f} "
                  f"(per round median {statistics.median(ratios):.2f})")


if __name__ == "__main__":
    main()
