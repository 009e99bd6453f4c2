#!/usr/bin/env python3
"""Benchmark every function of _tavo against PyPI peers, pure-Python references
and the CPython built-ins that bound what is possible; check the performance
targets; write a Markdown report, JSON and charts.

    python bench/run.py                 # full run (a few minutes)
    python bench/run.py --quick         # smoke run (well under a minute)
    python bench/run.py --only parse,uncamel --out /tmp/b

Peers are optional (pip install .[bench]); a missing one is skipped with a note,
and so is a function that is not built yet.
"""

import argparse
import datetime
import gc
import math
import operator
import os
import platform
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import _tavo  # noqa: E402

import cases  # noqa: E402
import column_cases  # noqa: E402
import harness  # noqa: E402
import reference  # noqa: E402
import report  # noqa: E402

# The fitted exponent of time against n may exceed the larger of the ideal one (1 for
# n, about 1.1 for n log n over 10^3..10^6) and the baseline's by this much; quadratic is 2.
SCALING_SLACK = 0.1
README = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "README.md")


def machine_info():
    fields = {}
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if not line.strip():
                    break  # the first processor is enough
                key, _, value = line.partition(":")
                fields[key.strip()] = value.strip()
    except OSError:
        pass
    cpu = fields.get("model name", platform.processor() or "unknown")
    if "cpu family" in fields and "model" in fields:
        cpu += " (family %s, model %s)" % (fields["cpu family"], fields["model"])
    commit = source_commit()
    return {
        "cpu": cpu,
        "cores": os.cpu_count(),
        "python": sys.version.split()[0],
        "implementation": platform.python_implementation(),
        "platform": platform.platform(),
        "commit": commit,
        "date": datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
    }


def source_commit():
    """The commit the run measures: HEAD, with "-dirty" when tracked files differ from it
    (bench/results and the README, which a run writes, aside); "" outside a git checkout."""
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

    def git(*args):
        return subprocess.run(["git", "-C", root, *args], capture_output=True, text=True, timeout=30,
                              check=True).stdout.strip()

    try:
        head = git("rev-parse", "--short", "HEAD")
        changed = git("status", "--porcelain", "--untracked-files=no", "--", ".",
                      ":(exclude)bench/results", ":(exclude)README.md")
    except (OSError, subprocess.SubprocessError):
        return ""
    return head + ("-dirty" if changed else "")


def summarize(case):
    """The JSON-ready record of a case after its run."""
    cands = []
    for c in list(case.module.values()) + case.others:
        rec = {"label": c.label, "kind": c.kind, "input": c.input_key, "notes": c.notes}
        if c.skipped:
            rec["skipped"] = c.skipped
        else:
            rec.update(median_s=harness.median(c.times), times_s=c.times, number=c.number)
            if c.kind != "module":
                rs = harness.ratios(case, c)
                m = case.module[c.input_key]
                rec["ratio"] = harness.median(rs)
                rec["ratios"] = rs
                rec["diff_ns"] = harness.median([(a - b) * 1e9 for a, b in zip(m.times, c.times)])
        cands.append(rec)
    return {"id": case.id, "func": case.func, "label": case.label, "size": case.size,
            "inputs": case.inputs, "notes": case.notes, "candidates": cands}


def evaluate_targets(results, available, funcs):
    by_id = {r["id"]: r for r in results}
    out = []
    for title, case_id, label, rule, bound, issue in cases.TARGETS:
        func = case_id.split("/")[0]
        if func not in funcs:
            continue
        t = {"title": title, "case": case_id, "candidate": label, "rule": rule, "bound": bound,
             "issue": issue, "status": "SKIPPED", "value": None, "why": ""}
        r = by_id.get(case_id)
        cand = None
        if r:
            cand = next((c for c in r["candidates"] if c["label"] == label), None)
        if available.get(func, "not run"):
            t["why"] = "%s %s" % (func, available.get(func) or "not run")
        elif r is None:
            t["why"] = "case not run"
        elif cand is None or "skipped" in cand:
            t["why"] = "%s: %s" % (label, cand["skipped"] if cand else "not timed")
        else:
            if rule == "ratio":
                t["value"] = cand["ratio"]
                ok = cand["ratio"] <= bound
            elif rule == "speedup":
                t["value"] = 1.0 / cand["ratio"]
                ok = t["value"] >= bound
            else:
                t["value"] = cand["diff_ns"]
                ok = cand["diff_ns"] <= bound
            t["status"] = "MET" if ok else "MISSED"
        out.append(t)
    return out


def target_line(t):
    if t["status"] == "SKIPPED":
        return "%s: SKIPPED (%s)" % (t["title"], t["why"])
    v, b = t["value"], t["bound"]
    if t["rule"] == "ratio":
        s = "%.2fx (target <= %gx)" % (v, b)
    elif t["rule"] == "speedup":
        s = "%.1fx faster, ratio %.3f (target >= %gx faster)" % (v, 1.0 / v, b) if v >= 1 else \
            "%.2fx slower, ratio %.3f (target >= %gx faster)" % (1.0 / v, 1.0 / v, b)
    else:
        s = "%+.1f ns per call (target <= %g ns)" % (v, b)
    return "%s: %s %s" % (t["title"], s, t["status"])


# --- scaling -------------------------------------------------------------------
# Each size is timed with a baseline doing comparable work on the same input, so
# that growth coming from the machine (caches, memory) is told apart from growth
# coming from the algorithm.

def scaling_inputs(func, largest):
    """(env for a size, module expression, baseline label, baseline expression, input, expected growth)"""
    if func == "multikeysort":
        # about 100 rows per price at every n, so the share of ties broken by name stays the same
        return (lambda n: {"f": _tavo.multikeysort, "x": cases.make_rows(n, prices=max(10, n // 100)),
                           "c": ["-price", "name"], "k": operator.itemgetter("price", "name")},
                "f(x, c)", "sorted(key=itemgetter('price', 'name'))", "sorted(x, key=k)",
                "row dicts sorted by ['-price', 'name'], about 100 rows per price", "n log n")
    if func == "collapse":
        data = cases.nested(largest)
        # the baseline copies the same leaves, already flat, in the same order: the same objects
        # are touched, so what the memory hierarchy adds as n grows shows in both
        return (lambda n: {"f": _tavo.collapse, "x": data[: n // 10], "leaves": reference.collapse(data[: n // 10])},
                "f(x)", "list() of the same leaves", "list(leaves)",
                "int leaves nested 3 levels deep", "n")
    if func == "backfill_iterdict":
        rows = cases.make_fill_rows(largest)
        return (lambda n: {"f": _tavo.backfill_iterdict, "x": rows[:n], "c": dict.copy},
                "f(x)", "list(map(dict.copy, x))", "list(map(c, x))", "rows of 10 keys, 10% None", "n")
    raise KeyError(func)


def _exponent(points, key):
    xs = [math.log(p["n"]) for p in points]
    ys = [math.log(p[key]) for p in points]
    mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)


def run_scaling(func, sizes, reps, batch, log):
    make_env, expr, base_label, base_expr, what, shape = scaling_inputs(func, sizes[-1])
    points = []
    for n in sizes:
        env = make_env(n)
        c = harness.Candidate("_tavo." + func, "module", expr, env)
        b = harness.Candidate(base_label, "built-in", base_expr, env, check=False)
        case = harness.Case(func, "n=%d" % n, "scaling", {"main": what}, {"main": c}, [b])
        r = reps if n < 10**6 else max(3, reps // 2)
        harness.run_case(case, r, batch)
        t, tb = harness.median(c.times), harness.median(b.times)
        points.append({"n": n, "median_s": t, "per_element_ns": t / n * 1e9, "times_s": c.times,
                       "baseline_median_s": tb, "baseline_per_element_ns": tb / n * 1e9, "baseline_times_s": b.times})
        log("  %-18s n=%-8d %10s per call  %8.1f ns per element   (%s: %.1f ns per element)"
            % (func, n, report.fmt_time(t), t / n * 1e9, base_label, tb / n * 1e9))
        del case, c, b, env
        gc.collect()
    return {"func": func, "what": what, "expected": shape, "points": points, "baseline": base_label,
            "exponent": _exponent(points, "median_s"), "baseline_exponent": _exponent(points, "baseline_median_s")}


def scaling_target(s):
    lo, hi = s["points"][0], s["points"][-1]
    ideal = 1.0 if s["expected"] == "n" else (
        math.log(hi["n"] * math.log2(hi["n"]) / (lo["n"] * math.log2(lo["n"]))) / math.log(hi["n"] / lo["n"]))
    bound = max(ideal, s["baseline_exponent"]) + SCALING_SLACK
    status = "MET" if s["exponent"] <= bound else "MISSED"
    line = ("%s scaling n=%d..%d: time per element %.0f -> %.0f ns, fitted exponent %.2f "
            "(%s gives %.2f, baseline %s %.2f; target <= %.2f) %s" % (
                s["func"], lo["n"], hi["n"], lo["per_element_ns"], hi["per_element_ns"], s["exponent"],
                s["expected"], ideal, s["baseline"], s["baseline_exponent"], bound, status))
    return {"title": "%s scaling" % s["func"], "status": status, "value": s["exponent"],
            "bound": bound, "rule": "exponent", "issue": 7, "line": line}


# --- threads ---------------------------------------------------------------------
# Wall time, not CPU time: the question is how much two threads get done in the
# time one takes. One thread makes `rounds` rounds on its inputs; then two
# threads, released together, make `rounds` rounds each on inputs of their
# own. Throughput ratio = 2 * t(one) / t(two), taken per repetition (one and two
# timed back to back), median over repetitions. Each thread makes its own
# inputs, as a worker that reads its own chunk of data does: on a free-threaded
# build, counting references to objects that another thread made takes atomic
# operations, which would measure CPython rather than the module.

def run_threads(reps, quick, log):
    why = cases.parallel_calls_unavailable()
    if why:
        log("threads: skipped, %s" % why)
        return {"skipped": why}
    t = time_threads(cases.thread_round, reps, quick)
    log("threads: %d rounds of %s per thread: one thread %.0f ms, two threads %.0f ms (medians); "
        "throughput %.2fx one thread's; CPU per thread %.0f ms alone, %.0f ms side by side"
        % (t["rounds"], ", ".join(cases.THREAD_FUNCTIONS), harness.median(t["one_s"]) * 1e3,
           harness.median(t["two_s"]) * 1e3, t["speedup"], harness.median(t["cpu_one_s"]) * 1e3,
           harness.median(t["cpu_two_s"]) * 1e3))
    bound = time_threads(cases.builtin_thread_round, reps, quick)
    log("threads: the same rounds of CPython's own calls (str.lower, float, sorted): throughput %.2fx "
        "one thread's (what this machine's two threads reach whatever they call)" % bound["speedup"])
    t.update(functions=list(cases.THREAD_FUNCTIONS), threads=2, builtins_speedup=bound["speedup"],
             builtins_speedups=bound["speedups"])
    return t


def time_threads(make_round, reps, quick):
    import threading

    cpu = {"one": [], "two": []}  # CPU seconds of each running thread, per repetition

    def alone(rounds, work=None):
        work = work or make_round(1)
        gc.collect()
        t0, c0 = time.perf_counter(), time.thread_time()
        for _ in range(rounds):
            work()
        cpu["one"].append(time.thread_time() - c0)
        return time.perf_counter() - t0

    def together(rounds):
        gc.collect()
        start = threading.Barrier(3)

        def body(i):
            work = make_round(i + 1)
            start.wait()
            c0 = time.thread_time()
            for _ in range(rounds):
                work()
            cpu["two"].append(time.thread_time() - c0)

        threads = [threading.Thread(target=body, args=(i,)) for i in range(2)]
        for t in threads:
            t.start()
        start.wait()
        t0 = time.perf_counter()
        for t in threads:
            t.join()
        return time.perf_counter() - t0

    target_s = 0.1 if quick else 0.3
    probe = make_round(1)
    rounds = 1
    while alone(rounds, probe) < target_s / 4:
        rounds *= 2
    rounds = max(1, int(rounds * target_s / alone(rounds, probe)))
    del probe
    cpu["one"].clear()
    ones, twos, ratios = [], [], []
    for r in range(reps):
        if r % 2:  # alternate which runs first
            two = together(rounds)
            one = alone(rounds)
        else:
            one = alone(rounds)
            two = together(rounds)
        ones.append(one)
        twos.append(two)
        ratios.append(2 * one / two)
    # What the threads cost in CPU time, whatever else the machine runs: two
    # threads on two free cores would reach 2 * cpu(one) / cpu(each of two).
    cpu_one, cpu_two = harness.median(cpu["one"]), harness.median(cpu["two"])
    return {"rounds": rounds, "one_s": ones, "two_s": twos, "speedups": ratios, "speedup": harness.median(ratios),
            "cpu_one_s": cpu["one"], "cpu_two_s": cpu["two"], "cpu_bound_speedup": 2 * cpu_one / cpu_two}


def threads_target(t):
    title = "2 threads calling uncamel, parse, multikeysort vs one thread (free-threaded build)"
    if "skipped" in t:
        return {"title": title, "status": "SKIPPED", "why": t["skipped"], "issue": 14,
                "line": "%s: SKIPPED (%s)" % (title, t["skipped"])}
    status = "MET" if t["speedup"] >= 1.8 else "MISSED"
    line = "%s: throughput %.2fx one thread's (target >= 1.8x; CPython's own calls %.2fx here) %s" % (
        title, t["speedup"], t["builtins_speedup"], status)
    return {"title": title, "status": status, "value": t["speedup"], "bound": 1.8, "rule": "threads",
            "issue": 14, "line": line}


def run_column_threads(reps, quick, log):
    """Two threads, each converting a 400,000-row column of its own, against one thread
    (any build: the kernels run without the interpreter lock)."""
    t = time_threads(column_cases.thread_round, reps, quick)
    log("columns threads: %d rounds of tavo.columns.uncamel over %d rows per thread: one thread %.0f ms, "
        "two threads %.0f ms (medians); throughput %.2fx one thread's" % (
            t["rounds"], column_cases.THREAD_ROWS, harness.median(t["one_s"]) * 1e3,
            harness.median(t["two_s"]) * 1e3, t["speedup"]))
    return t


def column_threads_target(t):
    title = "columns: 2 threads each converting its own %d-row column vs one thread" % column_cases.THREAD_ROWS
    status = "MET" if t["speedup"] >= 1.8 else "MISSED"
    load = os.getloadavg()[0] if hasattr(os, "getloadavg") else float("nan")
    line = ("%s: throughput %.2fx one thread's (target >= 1.8x; each thread's CPU time, alone and side by side, "
            "would give %.2fx; load average %.1f on %d cores at the end) %s" % (
                title, t["speedup"], t["cpu_bound_speedup"], load, os.cpu_count(), status))
    return {"title": title, "status": status, "value": t["speedup"], "bound": 1.8, "rule": "threads",
            "issue": 23, "line": line}


# --- main ----------------------------------------------------------------------

def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true", help="few repetitions, smaller scaling series")
    ap.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "results"),
                    help="folder for results.md, results.json and the charts (default bench/results)")
    ap.add_argument("--only", default="", help="comma-separated function names")
    ap.add_argument("--reps", type=int, default=0, help="repetitions per case (default 11, quick 3)")
    ap.add_argument("--no-scaling", action="store_true", help="skip the 10^3..10^6 series")
    ap.add_argument("--no-charts", action="store_true", help="skip the PNG charts")
    ap.add_argument("--no-threads", action="store_true", help="skip the two-thread throughput case")
    ap.add_argument("--readme", action="store_true",
                    help="name the run's commit in README.md's line on the figures (tools/bench_results.sh)")
    args = ap.parse_args(argv)

    if args.readme and os.path.abspath(args.out) != os.path.abspath(ap.get_default("out")):
        ap.error("--readme names the figures of bench/results: it does not go with --out")
    reps = args.reps or (3 if args.quick else 11)
    batch = 0.005 if args.quick else 0.02
    sizes = [10**3, 10**4, 10**5] if args.quick else [10**3, 10**4, 10**5, 10**6]
    only = [f.strip() for f in args.only.split(",") if f.strip()]
    for f in only:
        if f not in cases.FUNCTIONS:
            ap.error("unknown function %r (choose from %s)" % (f, ", ".join(cases.FUNCTIONS)))
    funcs = only or cases.FUNCTIONS
    start = time.perf_counter()

    def log(msg):
        print(msg, flush=True)

    info = machine_info()
    log("_tavo benchmark: %s (%s cores), CPython %s, commit %s" % (info["cpu"], info["cores"], info["python"],
                                                                   info["commit"] or "?"))
    available = cases.availability()
    results = []
    skipped_funcs = {}
    for func in funcs:
        if available[func]:
            skipped_funcs[func] = available[func]
            log("%s: skipped, %s" % (func, available[func]))
            continue
        log("%s:" % func)
        built = cases.builders(func)()
        for case in built:
            harness.check_case(case)
            harness.run_case(case, reps, batch)
            rec = summarize(case)
            results.append(rec)
            log(report.case_lines(rec))
        del built, case
        gc.collect()

    scaling = []
    if not args.no_scaling:
        for func in ("multikeysort", "collapse", "backfill_iterdict"):
            if func in funcs and not available[func]:
                log("scaling %s:" % func)
                scaling.append(run_scaling(func, sizes, reps, batch, log))

    threads = None
    if not args.no_threads and all(f in funcs and not available[f] for f in cases.THREAD_FUNCTIONS):
        threads = run_threads(reps, args.quick, log)

    column_threads = column_memory = None
    if "columns" in funcs and not available["columns"]:
        if not args.no_threads:
            column_threads = run_column_threads(reps, args.quick, log)
        column_memory = column_cases.peak_memory()
        log("columns peak memory: %s" % (column_memory if isinstance(column_memory, str) else ", ".join(
            "%s %.1f MB over the start for an output of %.1f MB" % (label, peak / 1e6, size / 1e6)
            for label, size, peak in column_memory)))

    targets = evaluate_targets(results, available, funcs)
    for t in targets:
        t["line"] = target_line(t)
    targets += [scaling_target(s) for s in scaling]
    if threads is not None:
        targets.append(threads_target(threads))
    if column_threads is not None:
        targets.append(column_threads_target(column_threads))
    if column_memory is not None:
        targets.append(column_cases.memory_target(column_memory))
    elapsed = time.perf_counter() - start
    data = {
        "machine": info, "mode": "quick" if args.quick else "full", "repetitions": reps,
        "batch_seconds": batch, "elapsed_s": elapsed, "peers": cases.peer_versions(),
        "peer_notes": cases.peer_notes, "skipped_functions": skipped_funcs,
        "results": results, "scaling": scaling, "threads": threads, "targets": targets,
        "column_threads": column_threads, "column_memory": column_memory,
    }
    os.makedirs(args.out, exist_ok=True)
    paths = report.write_all(data, args.out, charts=not args.no_charts)
    if args.readme:
        paths.append(report.update_readme(README, data))

    log("")
    log("Targets:")
    for t in targets:
        log("  " + t["line"])
    log("")
    log("wrote %s (%.0f s)" % (", ".join(paths), elapsed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
