"""The benchmark's outputs: console lines, Markdown, JSON and PNG charts."""

import json
import math
import os
import re
import statistics

KIND_COLOURS = {"peer": "#3b6fb6", "reference": "#3a9d5d", "built-in": "#8c8c8c"}


def fmt_time(s):
    if s is None or s != s:
        return "-"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if s >= scale:
            return "%.3g %s" % (s / scale, unit)
    return "%.3g ns" % (s * 1e9)


def fmt_ratio(r):
    if r is None or r != r:
        return "-"
    num = "%.2f" % r if 0.1 <= r < 10 else "%.3g" % r
    if r < 0.995:
        return "%s (%.3gx faster)" % (num, 1 / r)
    if r > 1.005:
        return "%s (%.3gx slower)" % (num, r)
    return "%s (same)" % num


def case_lines(rec):
    out = ["  %s" % rec["label"]]
    for c in rec["candidates"]:
        if "skipped" in c:
            out.append("    %-38s skipped: %s" % (c["label"], c["skipped"]))
        elif c["kind"] == "module":
            out.append("    %-38s %10s" % (c["label"] + ("" if c["input"] == "main" else " [%s]" % c["input"]),
                                           fmt_time(c["median_s"])))
        else:
            out.append("    %-38s %10s   _tavo/this %s" % (c["label"], fmt_time(c["median_s"]), fmt_ratio(c["ratio"])))
    return "\n".join(out)


def _md_escape(s):
    return str(s).replace("|", "\\|").replace("\n", " ")


def markdown(data):
    m = data["machine"]
    lines = [
        "# _tavo benchmark",
        "",
        "Machine: %s, %s cores, %s; %s %s. _tavo commit %s. Run %s, %s mode: %d interleaved repetitions, "
        "timed batches of at least %g ms, %.0f s in all." % (
            m["cpu"], m["cores"], m["platform"], m["implementation"], m["python"], m["commit"] or "?",
            m["date"], data["mode"], data["repetitions"], data["batch_seconds"] * 1000, data["elapsed_s"]),
        "",
        "Peers: " + ", ".join("%s %s" % (k, v or "(not installed)") for k, v in data["peers"].items()) + ".",
        "",
        "Ratios are the time of `_tavo` divided by the time of the other candidate, taken within each "
        "repetition and then the median over repetitions: below 1 means `_tavo` is faster. "
        "![ratios](ratios.png)",
        "",
        "## Targets",
        "",
        "| Issue | Target | Measured | Status |",
        "|---|---|---|---|",
    ]
    for t in data["targets"]:
        # the line is "title: measured" (a title may hold ': ' itself, as a price text does)
        head = t["title"] + ": "
        measured = t["line"][len(head):] if t["line"].startswith(head) else t["line"]
        for word in (" MET", " MISSED"):
            if measured.endswith(word):
                measured = measured[: -len(word)]
        lines.append("| %s | %s | %s | **%s** |" % (t["issue"], _md_escape(t["title"]), _md_escape(measured),
                                                    t["status"]))
    if data["skipped_functions"]:
        lines += ["", "Functions left out of this run:"]
        lines += ["- `%s`: %s" % (f, why) for f, why in data["skipped_functions"].items()]
    if data["peer_notes"]:
        lines += [""] + ["- %s" % n for n in data["peer_notes"].values()]
    lines += ["", "## Results", ""]
    func = None
    for rec in data["results"]:
        if rec["func"] != func:
            func = rec["func"]
            lines += ["### `%s`" % func, ""]
        lines += ["**%s**: %s" % (_md_escape(rec["label"]), _md_escape(rec["inputs"]["main"])), "",
                  "| Candidate | Kind | Time per call | _tavo ÷ candidate |", "|---|---|---|---|"]
        notes = list(rec["notes"])
        for c in rec["candidates"]:
            label = c["label"]
            if c["input"] != "main":
                label += " ¹" if c["kind"] != "module" else " on the input of %s ¹" % c["input"].split(":", 1)[1]
            if "skipped" in c:
                lines.append("| %s | %s | skipped | - |" % (_md_escape(label), c["kind"]))
                notes.append("%s: %s" % (c["label"], c["skipped"]))
                continue
            lines.append("| %s | %s | %s | %s |" % (_md_escape(label), c["kind"], fmt_time(c["median_s"]),
                                                    "" if c["kind"] == "module" else fmt_ratio(c["ratio"])))
            notes += ["%s: %s" % (c["label"], n) for n in c["notes"]]
        for key, desc in rec["inputs"].items():
            if key != "main":
                notes.append("¹ %s timed (and `_tavo` with it) on %s" % (key.split(":", 1)[1], desc))
        if notes:
            lines.append("")
            lines += ["- %s" % _md_escape(n) for n in notes]
        lines.append("")
    if data["scaling"]:
        lines += ["## Scaling", "", "![scaling](scaling.png)", "",
                  "| Function | Input | n | Time per call | Time per element | Baseline | Baseline per element |",
                  "|---|---|---|---|---|---|---|"]
        for s in data["scaling"]:
            for p in s["points"]:
                lines.append("| `%s` | %s | %d | %s | %.1f ns | %s | %.1f ns |" % (
                    s["func"], s["what"], p["n"], fmt_time(p["median_s"]), p["per_element_ns"],
                    _md_escape(s["baseline"]), p["baseline_per_element_ns"]))
        lines.append("")
        lines += ["- %s" % t["line"] for t in data["targets"] if t.get("rule") == "exponent"]
        lines.append("")
    threads = data.get("threads")
    if threads and "skipped" not in threads:
        lines += ["## Threads", "",
                  "Two threads calling %s on inputs of their own, %d rounds each, against one thread making "
                  "the same rounds (wall time; median of %d repetitions): one thread %s, two threads %s, "
                  "throughput %.2fx one thread's. CPU time per thread: %s alone, %s side by side, so two "
                  "free cores would give %.2fx (the wall figure also counts what else the machine runs). "
                  "The same rounds made of CPython's own calls (`str.lower`, `float`, `sorted` with "
                  "`itemgetter`) reach %.2fx here: what two threads of this machine and interpreter get "
                  "whatever they call." % (
                      ", ".join("`%s`" % f for f in threads["functions"]), threads["rounds"],
                      len(threads["speedups"]), fmt_time(statistics.median(threads["one_s"])),
                      fmt_time(statistics.median(threads["two_s"])), threads["speedup"],
                      fmt_time(statistics.median(threads["cpu_one_s"])),
                      fmt_time(statistics.median(threads["cpu_two_s"])), threads["cpu_bound_speedup"],
                      threads["builtins_speedup"]), ""]
    lines += [
        "## Method",
        "",
        "Each candidate is a Python expression timed with `timeit` on the process's CPU time "
        "(`time.process_time`: on a shared machine a wall clock also counts the time other processes hold "
        "the core), with the garbage collector off while timing, the inputs frozen out of collections and a "
        "`gc.collect()` before each batch; the cost of the empty timing loop is subtracted. "
        "Before timing, every peer and pure-Python reference is run on the same input and its answer "
        "compared with `_tavo`'s; one that differs is not timed on that input, and the difference is "
        "reported. Built-in bounds (`str.lower`, `float`, `int`, `list`, `sorted`, `os.fspath`) compute "
        "something simpler and are not compared. Repetitions are interleaved: each one times every "
        "candidate of the case once, in an order that rotates from one repetition to the next.",
        "",
    ]
    return "\n".join(lines)


def _x(v):
    return "%.3g" % v if v < 9.95 else "%.0f" % v


def _ratio_chart(data, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    bars = []  # (label, ratio, kind, target bound or None, first of its function)
    targets = {(t.get("case"), t.get("candidate")): t for t in data["targets"] if t.get("case")}
    func = None
    for rec in data["results"]:
        for c in rec["candidates"]:
            if c["kind"] == "module" or "skipped" in c:
                continue
            t = targets.get((rec["id"], c["label"]))
            bound = None
            if t and t["rule"] == "ratio":
                bound = t["bound"]
            elif t and t["rule"] == "speedup":
                bound = 1.0 / t["bound"]
            elif t and t["rule"] == "diff_ns":  # as a ratio: (its time + the allowance) / its time
                bound = (c["median_s"] + t["bound"] * 1e-9) / c["median_s"]
            label = "%s · %s · vs %s" % (rec["func"], rec["label"].replace("small: ", ""), c["label"])
            bars.append((label, c["ratio"], c["kind"], bound, rec["func"] != func, t))
            func = rec["func"]
    if not bars:
        return False
    n = len(bars)
    fig, ax = plt.subplots(figsize=(12, 1.2 + 0.27 * n))
    ys = list(range(n))[::-1]
    lo = min(min(b[1] for b in bars), min((b[3] for b in bars if b[3]), default=1), 1) / 4
    hi = max(max(b[1] for b in bars), 1) * 4
    for y, (label, r, kind, bound, first, t) in zip(ys, bars):
        ax.barh(y, r - 1.0, left=1.0, color=KIND_COLOURS.get(kind, "#444"), height=0.7)
        txt = ("%sx faster" % _x(1 / r)) if r < 1 else ("%sx slower" % _x(r))
        if r < 1:
            ax.text(r / 1.08, y, txt, va="center", ha="right", fontsize=7.5)
        else:
            ax.text(r * 1.08, y, txt, va="center", ha="left", fontsize=7.5)
        if bound:
            ok = t["status"] == "MET"
            ax.plot([bound, bound], [y - 0.42, y + 0.42], color="#1a7f1a" if ok else "#c0392b", lw=2.2)
        if first and y != ys[0]:
            ax.axhline(y + 0.5, color="#dddddd", lw=0.8)
    ax.set_xscale("log")
    ax.set_xlim(lo, hi)
    ax.set_ylim(-0.6, n - 0.4)
    ax.set_yticks(ys)
    ax.set_yticklabels([b[0] for b in bars], fontsize=7.5)
    ax.axvline(1.0, color="black", lw=1)
    ax.set_xlabel("time of _tavo ÷ time of the alternative (log scale): bars to the left, _tavo is faster")
    m = data["machine"]
    ax.set_title("_tavo against peers (blue), pure Python (green) and CPython built-ins (grey)\n"
                 "%s, %s cores, CPython %s; tick = target (green met, red missed)" % (
                     m["cpu"], m["cores"], m["python"]), fontsize=10)
    ax.grid(axis="x", which="major", color="#eeeeee")
    ax.set_axisbelow(True)
    fig.tight_layout()
    fig.savefig(path, dpi=100, bbox_inches="tight")
    plt.close(fig)
    return True


def _scaling_chart(data, path):
    if not data["scaling"]:
        return False
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, ax = plt.subplots(figsize=(10, 5))
    for i, s in enumerate(data["scaling"]):
        colour = "C%d" % i
        ns = [p["n"] for p in s["points"]]
        per = [p["per_element_ns"] for p in s["points"]]
        ax.plot(ns, per, marker="o", color=colour,
                label="%s, _tavo (%s; exponent %.2f)" % (s["func"], s["expected"], s["exponent"]))
        ax.plot(ns, [p["baseline_per_element_ns"] for p in s["points"]], marker=".", ls="--", color=colour,
                alpha=0.6, label="    baseline %s (exponent %.2f)" % (s["baseline"], s["baseline_exponent"]))
        if s["expected"] == "n log n":
            base = per[0] / math.log2(ns[0])
            ax.plot(ns, [base * math.log2(n) for n in ns], ls=":", color="grey", lw=1)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("n (rows or leaves)")
    ax.set_ylabel("time per element (ns)")
    ax.set_title("Cost per element as n grows: _tavo (solid), a baseline on the same inputs (dashed)\n"
                 "flat = linear; grey dotted = n log n", fontsize=9)
    ax.legend(fontsize=7.5, loc="upper center", bbox_to_anchor=(0.5, -0.14), ncol=3, frameon=False)
    ax.grid(which="both", color="#eeeeee")
    fig.tight_layout()
    fig.savefig(path, dpi=100, bbox_inches="tight")
    plt.close(fig)
    return True


def write_all(data, out, charts=True):
    paths = []
    p = os.path.join(out, "results.json")
    with open(p, "w") as f:
        json.dump(data, f, indent=1, default=str)
    paths.append(p)
    p = os.path.join(out, "results.md")
    with open(p, "w") as f:
        f.write(markdown(data))
    paths.append(p)
    if charts:
        try:
            if _ratio_chart(data, os.path.join(out, "ratios.png")):
                paths.append(os.path.join(out, "ratios.png"))
            if _scaling_chart(data, os.path.join(out, "scaling.png")):
                paths.append(os.path.join(out, "scaling.png"))
        except ImportError as e:
            print("charts skipped: matplotlib is not installed (%s)" % e)
    return paths


# The README's line on where its figures come from; `bench/run.py --readme` writes it.
README_LINE = re.compile(r"^The figures below come from commit .*$", re.M)


def readme_line(data):
    m = data["machine"]
    return ("The figures below come from commit `%s` (bench/results/results.md: %s mode, CPython %s, "
            "%s, %s cores, %s)." % (m["commit"] or "?", data["mode"], m["python"], m["cpu"], m["cores"], m["date"]))


def update_readme(path, data):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    text, n = README_LINE.subn(lambda _: readme_line(data), text)
    if n != 1:
        raise SystemExit("%s: expected one line starting 'The figures below come from commit', found %d" % (path, n))
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


if __name__ == "__main__":  # rewrite the report and charts from a results.json
    import sys

    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                             "results", "results.json")
    with open(src) as f:
        loaded = json.load(f)
    print("wrote " + ", ".join(write_all(loaded, os.path.dirname(os.path.abspath(src)))))
