#!/usr/bin/env bash
# Reference-leak check on a debug CPython: builds the module for Debian's
# python3.11d (installed when missing) and runs the leak test
# (tests/test_refleaks.py: every call of the catalogue in tests/catalogue/ repeated in
# rounds; the total reference count and the allocated block count must come
# back to their baseline), the allocation-failure test (tests/test_nomemory.py:
# each failing allocation of each call, with the total reference count checked
# around every attempt), then the whole suite, whose checks the debug
# interpreter's own assertions back up.
# Usage: bash tools/leak_check.sh [pytest args for the leak test...]
# TAVO_LEAK_CALLS sets the calls per round (default 200).
# TAVO_LEAK_PYTHON=/usr/bin/python3.14d another debug interpreter (tools/sid_check.sh);
# TAVO_LEAK_SUITE=0 leaves the whole suite out.
set -u -o pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh

dbg=${TAVO_LEAK_PYTHON:-/usr/bin/python3.11d}
dver=$(basename "$dbg" | sed 's/^python//')  # 3.11d
if [ ! -x "$dbg" ] || [ ! -e "/usr/include/python$dver/Python.h" ]; then
    echo "=== installing Debian's debug CPython"
    apt_install "python${dver%d}-dbg" "python${dver%d}-dev" "python${dver%d}-venv" g++ || exit 1
fi
"$dbg" -c 'import sys; sys.gettotalrefcount' || { echo "$dbg is not a debug build" >&2; exit 1; }

venv=build/leak-venv-$dver
py="$venv/bin/python"
# Debian's bundled pip is too old for -C (config settings).
venv_with "$venv" "$dbg" --upgrade pip || exit 1
# NumPy has no wheels for the debug ABI; the tests that need it skip.
# ninja: the sid root has no make
pip_q "$py" install scikit-build-core ninja pytest hypothesis || exit 1
echo "=== building for $("$py" -c 'import sys, sysconfig; print(sys.version.split()[0], sysconfig.get_config_var("EXT_SUFFIX"))')"
# Debian's debug headers are symlinks to the release ones; GCC would resolve
# them and pick up the release pyconfig.h (no Py_DEBUG, so the module's own
# reference operations would not be counted). A debug build type keeps the
# headers' assertions.
pip_q "$py" install --no-build-isolation -Cbuild-dir="build/leak-cp$dver" -Ccmake.build-type=Debug \
    -Ccmake.define.CMAKE_CXX_FLAGS=-fno-canonical-system-headers . || exit 1
so=$("$py" -c 'import _tavo; print(_tavo.__file__)') || exit 1
symbols=$(nm -D "$so") || exit 1
if ! grep -q '_Py_RefTotal\|_Py_NegativeRefcount' <<<"$symbols"; then
    echo "$so was not compiled for the debug interpreter (no reference-count accounting)" >&2
    exit 1
fi

failed=0
echo "=== leak check (debug interpreter: total references and allocated blocks)"
TAVO_LEAK_CALLS=${TAVO_LEAK_CALLS:-200} "$py" -m pytest -q -p no:cacheprovider -rA \
    tests/test_refleaks.py "$@" | grep -v '^PASSED ' || failed=1
echo "=== allocation failures (debug interpreter: total references around each failing call)"
"$py" -m pytest -q -p no:cacheprovider -rA tests/test_nomemory.py | grep -v '^PASSED ' || failed=1
[ "${TAVO_LEAK_SUITE:-1}" = 0 ] && exit $failed
echo "=== whole suite on the debug interpreter"
# (property tests at TAVO_HYPOTHESIS_EXAMPLES examples each, default 10: the debug build's
# assertions watch the paths taken, which the README command's full runs explore)
TAVO_HYPOTHESIS_EXAMPLES=${TAVO_HYPOTHESIS_EXAMPLES:-10} PYTHONPATH="$PWD/tools" \
    "$py" -X dev -m pytest -q -p no:cacheprovider -p hypothesis_examples \
    --ignore=tests/test_refleaks.py --ignore=tests/test_nomemory.py tests || failed=1
exit $failed
