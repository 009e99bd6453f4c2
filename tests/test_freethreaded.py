"""On a free-threaded CPython the module must never run without the interpreter lock.

It does not declare that it can, so importing it makes CPython turn the lock on
for the whole process, with a RuntimeWarning that names the module.
"""
import os
import subprocess
import sys
import sysconfig

import pytest

pytestmark = pytest.mark.skipif(
    not sysconfig.get_config_var("Py_GIL_DISABLED"), reason="not a free-threaded CPython build"
)


def run(code, *options):
    # the interpreter's default lock policy: no PYTHON_GIL override from outside
    env = {k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}
    return subprocess.run([sys.executable, *options, "-c", code], capture_output=True, text=True, timeout=120, env=env)


def test_import_turns_the_lock_on_with_a_warning():
    out = run(
        "import sys, warnings\n"
        "before = sys._is_gil_enabled()\n"
        "with warnings.catch_warnings(record=True) as caught:\n"
        "    warnings.simplefilter('always')\n"
        "    import _tavo\n"
        "after = sys._is_gil_enabled()\n"
        "print(before, after)\n"
        "for w in caught: print(w.category.__name__, w.message)\n"
    )
    assert out.returncode == 0, out.stderr
    lines = out.stdout.splitlines()
    assert lines[0] == "False True"
    warnings = [line for line in lines[1:] if line.startswith("RuntimeWarning")]
    assert len(warnings) == 1 and "'_tavo'" in warnings[0] and "GIL" in warnings[0]


def test_import_refused_when_that_warning_is_an_error():
    out = run("import _tavo", "-W", "error::RuntimeWarning")
    assert out.returncode != 0
    assert "RuntimeWarning" in out.stderr and "_tavo" in out.stderr


def test_functions_work_once_the_lock_is_on():
    out = run(
        "import sys, threading, _tavo\n"
        "assert sys._is_gil_enabled()\n"
        "rows = [{'k': None}, {'k': [1]}] * 1000\n"
        "results = []\n"
        "def work():\n"
        "    for _ in range(50):\n"
        "        results.append(len(_tavo.collapse(rows, [[rows]])))\n"
        "threads = [threading.Thread(target=work) for _ in range(4)]\n"
        "for t in threads: t.start()\n"
        "for t in threads: t.join()\n"
        "print(sorted(set(results)), len(results))\n",
        "-W",
        "ignore::RuntimeWarning"
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["[4000]", "200"]
