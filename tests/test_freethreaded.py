"""On a free-threaded CPython the module runs without the interpreter lock.

It declares that it needs no lock, so importing it leaves the lock off, with no
RuntimeWarning; then calls from many threads run at the same time.
"""
import os
import subprocess
import sys
import sysconfig

import pytest

pytestmark = [
    pytest.mark.skipif(not sysconfig.get_config_var("Py_GIL_DISABLED"), reason="not a free-threaded CPython build"),
    pytest.mark.thread_unsafe(reason="starts interpreters of its own"),
]


def run(code, *options):
    # the interpreter's default lock policy: no PYTHON_GIL override from outside
    env = {k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}
    return subprocess.run([sys.executable, *options, "-c", code], capture_output=True, text=True, timeout=120, env=env)


@pytest.mark.parametrize("options", [(), ("-W", "error::RuntimeWarning")], ids=["default", "warning-is-error"])
def test_import_leaves_the_lock_off_without_a_warning(options):
    out = run(
        "import sys, warnings\n"
        "before = sys._is_gil_enabled()\n"
        "with warnings.catch_warnings(record=True) as caught:\n"
        "    warnings.simplefilter('always')\n"
        "    import _tavo\n"
        "after = sys._is_gil_enabled()\n"
        "print(before, after, len(caught))\n"
        "for w in caught: print(w.category.__name__, w.message)\n",
        *options,
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == ["False False 0"]


def test_lock_stays_off_in_the_test_session():
    # this very interpreter imported the module for the whole suite
    import _tavo  # noqa: F401

    assert sys._is_gil_enabled() is False


CALLS_SCRIPT = """
import sys, threading, _tavo
rows = [{'k': None}, {'k': [1]}] * 1000
items = [{'a': i % 7, 'b': str(i)} for i in range(300)]
results = []
def work():
    for _ in range(50):
        results.append((len(_tavo.collapse(rows, [[rows]])), _tavo.uncamel('CamelCase'),
                        _tavo.parse('1,200m'), len(_tavo.backfill_iterdict(rows)),
                        [d['b'] for d in _tavo.multikeysort(items, ['a', '-b'])][:2]))
threads = [threading.Thread(target=work) for _ in range(4)]
for t in threads: t.start()
for t in threads: t.join()
print(sys._is_gil_enabled(), sorted(set(map(repr, results))), len(results))
"""


def test_functions_from_many_threads_without_the_lock():
    out = run(CALLS_SCRIPT, "-W", "error::RuntimeWarning")
    assert out.returncode == 0, out.stderr
    items = [{"a": i % 7, "b": str(i)} for i in range(300)]
    by_b = sorted(items, key=lambda d: d["b"], reverse=True)
    first_two = [d["b"] for d in sorted(by_b, key=lambda d: d["a"])][:2]
    expected = repr((4000, "camel_case", 1200, 2000, first_two))
    assert out.stdout.splitlines() == [f"False [{expected!r}] 200"]
