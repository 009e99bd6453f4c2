"""Large inputs: 10^7 elements, 100 MB strings, 10^6 levels of nesting.

Each case runs in a fresh interpreter so that its peak memory can be read. The
peak may exceed the memory the input itself takes only by a bounded multiple
of the input (linear memory); a case that does not finish within its time
limit fails (a guard against quadratic work, not a measure of speed). The time
and memory of each case are printed (pytest -s, or tools/scale_check.sh).

Marked `scale`: skipped unless pytest runs with --scale.
"""
import json
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.scale

MB = 1 << 20

# name -> (function, setup code defining `args`, result check expression, extra memory allowed
#          as a multiple of the input's own memory)
CASES = {
    # 10^7 elements
    "collapse-1e7-flat": ("collapse", "args = ([0] * 10**7,)", "len(r) == 10**7", 3),
    "collapse-1e7-pairs": ("collapse", "args = ([(i, [i]) for i in range(5 * 10**6)],)", "len(r) == 10**7", 3),
    "backfill-1e7": ("backfill", "args = ([None, 1, None, None, 2] * (2 * 10**6),)",
                     "len(r) == 10**7 and r[-1] == 2 and r[0] == 1", 3),
    "same_order-1e7": ("same_order", "args = ([7] * 10**7, [7] * 10**7)", "r is True", 3),
    "same_order-1e7-distinct": ("same_order", "x = list(range(10**7)); args = (x[:1000], x)", "r is True", 3),
    "multikeysort-1e7-ints": (
        "multikeysort",
        "rows = [{'k': (i * 7919) % 1000, 'n': i % 97} for i in range(1000)]\n"
        "args = (rows * 10**4, ['k', '-n'])",
        "len(r) == 10**7 and all(r[i]['k'] <= r[i + 1]['k'] for i in range(0, 10**7 - 1, 997))", 20),
    "multikeysort-1e6-text": (
        "multikeysort",
        "args = ([{'s': 'key%07d' % ((i * 7919) % 10**6)} for i in range(10**6)], 's')",
        "len(r) == 10**6 and r[0]['s'] == 'key0000000' and r[-1]['s'] == 'key0999999'", 6),
    "backfill_iterdict-1e7-values": (
        "backfill_iterdict",
        "row = {'a': None, 'b': 1, 'c': None, 'd': 2, 'e': None}\n"
        "args = ([{'a': 0, 'b': None, 'c': 3, 'd': None, 'e': 4}] + [row] * (2 * 10**6 - 1),)",
        "len(r) == 2 * 10**6 and r[-1] == {'a': 0, 'b': 1, 'c': 3, 'd': 2, 'e': 4}", 30),
    # 100 MB strings
    "uncamel-100MB-ascii": ("uncamel", "args = ('getHTTPResponseCode' * (100 * 2**20 // 19),)",
                            "r.startswith('get_http_response_code') and len(r) > 100 * 2**20", 8),
    "uncamel-100MB-unicode": ("uncamel", "args = ('ÉcoleNormaleΣΑ😀' * (100 * 2**20 // 30),)",
                              "r.startswith('école_normale_σα😀')", 8),
    "underscore_to_camelcase-100MB": ("underscore_to_camelcase", "args = ('foo_bar_ßaz_' * (100 * 2**20 // 12),)",
                                      "r.startswith('fooBarSSaz')", 8),
    "sanitize-100MB-no-fraction": ("sanitize_vulgar_string", "args = ('plain text 123 ' * (100 * 2**20 // 15),)",
                                   "r == args[0]", 6),
    "sanitize-100MB-dense-fractions": ("sanitize_vulgar_string", "args = ('1½ ' * (100 * 2**20 // 4),)",
                                       "r.startswith('1.5 1.5 ')", 8),
    "sanitize-100MB-one-number": ("sanitize_vulgar_string", "args = ('9' * (100 * 2**20) + '½',)", "r == 'inf'", 6),
    # inputs that a scanner restarting at every position would make quadratic
    "sanitize-100MB-digits-no-fraction": ("sanitize_vulgar_string", "args = ('9' * (100 * 2**20) + 'x',)",
                                          "r == args[0]", 6),
    "sanitize-100MB-spaces-then-fraction": ("sanitize_vulgar_string", "args = (' ' * (100 * 2**20) + '½',)",
                                            "r == '0.5'", 6),
    "sanitize-100MB-nd-digits-no-fraction": ("sanitize_vulgar_string", "args = ('\u0663' * (50 * 2**20) + 'x',)",
                                             "r == args[0]", 6),
    "multikeysort-1e5-long-prefixes": (
        "multikeysort",
        "args = ([{'s': 'x' * 2000 + str((i * 7919) % 10**5)} for i in range(10**5)], ['s', '-s'])",
        "len(r) == 10**5 and all(r[i]['s'] <= r[i + 1]['s'] for i in range(10**5 - 1))", 6),
    "parse-100MB-digits": ("parse", "args = ('1' * (100 * 2**20),)", "r is None", 6),
    "parse-100MB-fraction": ("parse", "args = ('0.' + '3' * (100 * 2**20),)", "r == 1/3", 6),
    "parse-100MB-noise": ("parse", "args = ('x,' * (50 * 2**20) + '(42)',)", "r == -42", 6),
    # 10^6 levels of nesting
    "collapse-1e6-deep-lists": ("collapse", "x = 7\nfor _ in range(10**6): x = [x]\nargs = (x,)", "r == [7]", 3),
    "collapse-1e6-deep-tuples": ("collapse", "x = (7, 8)\nfor _ in range(10**6): x = (x, [8])\nargs = (x,)",
                                 "len(r) == 10**6 + 2 and r[:2] == [7, 8]", 3),
}

SCRIPT = textwrap.dedent(
    """
    import gc, json, resource, sys, time
    import _tavo

    def rss():
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    base = rss()
    {setup}
    gc.collect()
    after_input = rss()
    fn = getattr(_tavo, {fn!r})
    t0 = time.perf_counter()
    r = fn(*args)
    seconds = time.perf_counter() - t0
    ok = bool({check})
    print(json.dumps(dict(seconds=seconds, base=base, input=after_input - base, peak=rss() - after_input, ok=ok)))
    """
)


@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
@pytest.mark.parametrize("name", list(CASES))
def test_scale(name):
    fn, setup, check, factor = CASES[name]
    script = SCRIPT.format(setup=setup, fn=fn, check=check)
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=900)
    assert out.returncode == 0, out.stderr[-3000:]
    figures = json.loads(out.stdout.strip().splitlines()[-1])
    print(f"\n{name}: {figures['seconds']:.2f} s, input {figures['input'] / MB:.0f} MB, "
          f"peak above input {figures['peak'] / MB:.0f} MB")
    assert figures["ok"], figures
    # Linear memory: what the call adds stays within a fixed multiple of the input.
    assert figures["peak"] <= factor * max(figures["input"], 64 * MB), figures
