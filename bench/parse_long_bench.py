"""Times parse() on long texts at two sizes, to show the time grows
linearly (the ratio of the two should be near the ratio of the sizes).

    python bench/parse_long_bench.py
"""
import statistics
import timeit

from _tavo import parse

CASES = {
    "integer digits": lambda n: "1" * n,
    "decimal digits": lambda n: "1" * (n // 2) + "." + "2" * (n // 2),
    "tiny decimal": lambda n: "0." + "0" * n + "1",
    "parentheses": lambda n: "(" * (n // 2) + "1" + ")" * (n // 2),
    "letters and digits": lambda n: "a1" * (n // 2),
    "non-ASCII": lambda n: "\u00e9" * (n // 2) + "12.5",
}


def median_ms(text, repeat=7):
    t = timeit.Timer(lambda: parse(text))
    return statistics.median(t.repeat(repeat, 1)) * 1e3


def main():
    small, large = 1_000_000, 4_000_000
    for name, make in CASES.items():
        a, b = median_ms(make(small)), median_ms(make(large))
        print(f"{name:20} 1M chars {a:7.2f} ms   4M chars {b:7.2f} ms   ratio {b / a:4.1f}")


if __name__ == "__main__":
    main()
