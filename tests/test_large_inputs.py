"""Large inputs: 10^7 elements, 100 MB strings, 10^6 levels of nesting.

Each case runs in a fresh interpreter so that its peak memory can be read. The
peak may exceed the memory the input itself takes only by a bounded multiple
of the input (linear memory); a case that does not finish within its time
limit fails (a guard against quadratic work, not a measure of speed). The time
and memory of each case are printed (pytest -s, or tools/scale_check.sh).

Marked `scale`: skipped unless pytest runs with --scale.
"""
import json
import os
import subprocess
import sys
import textwrap

import pytest

import catalogue

pytestmark = pytest.mark.scale

MB = 1 << 20

# Every function's cases are in its catalogue module (SCALE).
CASES = catalogue.SCALE

SCRIPT = textwrap.dedent(
    """
    import gc, importlib, json, resource, sys, time
    sys.path.insert(0, {tests!r})
    module, _, name = {fn!r}.rpartition(".")  # a catalogue name (tests/catalogue)
    fn = getattr(importlib.import_module(module or "_tavo"), name)

    def rss():
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    base = rss()
    kwargs = {{}}
    {setup}
    gc.collect()
    after_input = rss()
    t0 = time.perf_counter()
    r = fn(*args, **kwargs)
    seconds = time.perf_counter() - t0
    ok = bool({check})
    print(json.dumps(dict(seconds=seconds, base=base, input=after_input - base, peak=rss() - after_input, ok=ok)))
    """
)


@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
@pytest.mark.parametrize("name", list(CASES))
def test_scale(name):
    fn, setup, check, factor = CASES[name]
    script = SCRIPT.format(setup=setup, fn=fn, check=check, tests=os.path.dirname(os.path.abspath(__file__)))
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=900)
    assert out.returncode == 0, out.stderr[-3000:]
    figures = json.loads(out.stdout.strip().splitlines()[-1])
    print(f"\n{name}: {figures['seconds']:.2f} s, input {figures['input'] / MB:.0f} MB, "
          f"peak above input {figures['peak'] / MB:.0f} MB")
    assert figures["ok"], figures
    # Linear memory: what the call adds stays within a fixed multiple of the input.
    assert figures["peak"] <= factor * max(figures["input"], 64 * MB), figures
