#!/usr/bin/env bash
# Free-threaded CPython check. Finds a free-threaded CPython 3.13 ("3.13t"), or
# builds one once from Debian's python3.13 source package into a cache folder,
# then, with it:
#  1. runs the tests marked thread_unsafe (those that step 2 leaves out) through
#     tools/run_tests.sh with RuntimeWarnings as errors: the module declares that it needs no interpreter lock, so
#     importing it must leave the lock off without the RuntimeWarning that
#     CPython gives for a module that needs it (tests/test_freethreaded.py
#     checks sys._is_gil_enabled() too), with the stress test of
#     tests/test_threads.py running callers and mutators truly in parallel;
#  2. runs the suite again under pytest-run-parallel (PyPI): every test that
#     is not marked thread_unsafe runs in TAVO_FT_THREADS threads at once
#     (default 2, one per core of a CI machine), all calling the module at the same time. Tests marked
#     thread_unsafe ran in step 1 and are left out here (a test that the plugin finds
#     unsafe in threads runs once, in one thread), and property tests take at most
#     TAVO_FT_EXAMPLES examples (default 10; tools/hypothesis_examples.py): the README's
#     test command runs them in full on the machine's other interpreters.
#   Between them the two steps run every test once.
#   TAVO_FT_PYTHON=/path/to/python3.13t   use that interpreter
#   TAVO_FT_CACHE=DIR                     where the build is kept (default ~/.cache/tavo)
# A first build takes a few minutes (about 4 minutes of CPU).
set -euo pipefail
cd "$(dirname "$0")/.."
cache=${TAVO_FT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavo}
prefix="$cache/cpython-3.13t"

. tools/lib.sh
. tools/provision/cpython.sh

find_free_threaded() {
    if [ -n "${TAVO_FT_PYTHON:-}" ] && is_free_threaded "$TAVO_FT_PYTHON"; then echo "$TAVO_FT_PYTHON"; return 0; fi
    local found
    found=$(find_ft_python 3.13)
    if [ -n "$found" ]; then echo "$found"; return 0; fi
    # our own build counts once it is complete
    if [ -f "$prefix/.complete" ] && is_free_threaded "$prefix/bin/python3.13t"; then
        echo "$prefix/bin/python3.13t"
        return 0
    fi
    return 1
}

start=$SECONDS
if ! ft=$(find_free_threaded); then
    build_free_threaded "$prefix"
    ft=$(find_free_threaded)
    echo "built $ft in $((SECONDS - start)) s"
fi
echo "free-threaded CPython: $ft ($("$ft" -c 'import sys; print(sys.version.split()[0])'))"
status=0
echo "--- 1. the tests marked thread_unsafe, RuntimeWarnings as errors"
# one pytest process (TAVO_TEST_WORKERS=2 for two): CI gives this step one core
PYTHONWARNINGS=error::RuntimeWarning TAVO_PYTHONS="$ft" TAVO_TEST_WORKERS=${TAVO_TEST_WORKERS:-0} \
    bash tools/run_tests.sh -m thread_unsafe "$@" || status=1
echo "--- 2. the suite under pytest-run-parallel, ${TAVO_FT_THREADS:-2} threads per test"
venv="build/test-venv-$("$ft" -c 'import sys; print("%d.%dt" % sys.version_info[:2])')"
if ! pip_q "$venv/bin/python" install pytest-run-parallel; then
    echo "could not install pytest-run-parallel" >&2
    exit 1
fi
PYTHONWARNINGS=error::RuntimeWarning PYTHONPATH="$PWD/tools" TAVO_HYPOTHESIS_EXAMPLES="${TAVO_FT_EXAMPLES:-10}" \
    "$venv/bin/python" -m pytest -q -p no:cacheprovider -p hypothesis_examples \
    --parallel-threads="${TAVO_FT_THREADS:-2}" -m "not thread_unsafe" "$@" || status=1
echo "free-threaded check: $((SECONDS - start)) s"
exit $status
