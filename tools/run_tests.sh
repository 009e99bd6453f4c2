#!/usr/bin/env bash
# Builds and installs the module into a virtual environment for every CPython
# 3.11+ on this machine, then runs the test suite with each, on every core
# (pytest-xdist). Where the Debian sid root is made (tools/provision/sid_root.sh), CPython
# 3.14 and 3.15 run there too.
# The tests marked `long` (the allocation failure at every index, the thread
# stress scenarios) are left out: CI runs them in steps of their own
# (`-m long`), as tools/scale_check.sh runs the large inputs.
# Usage: bash tools/run_tests.sh [pytest args...]   (a -m of your own replaces `not long`)
#   TAVO_PYTHONS="/path/to/python3.12 ..."  picks the interpreters by hand (no sid root then)
#   TAVO_LONG=1                             keeps the long tests in
#   TAVO_SID=0                              leaves the sid root out
#   TAVO_TEST_WORKERS=N                     pytest-xdist workers (default: one a core; 0: none)
#   TAVO_HYPOTHESIS_EXAMPLES=N              property tests at most N examples each (default: their own)
set -u -o pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh

# free-threaded builds are included where installed (tools/freethreaded_check.sh builds one)
pythons=${TAVO_PYTHONS:-$(supported_pythons)}
if [ -z "$pythons" ]; then
    echo "no CPython 3.11 or later found" >&2
    exit 1
fi

select=(-m "not long")
[ "${TAVO_LONG:-0}" = 1 ] && select=()
for arg in "$@"; do
    case $arg in -m | -m*) select=() ;; esac
done
workers=(-n "${TAVO_TEST_WORKERS:-$(nproc)}")
[ "${TAVO_TEST_WORKERS:-}" = 0 ] && workers=(-p no:xdist)

examples_cap

failed=0
for py in $pythons; do
    # "3.13t" for a free-threaded build, so that it gets a virtual environment of its own
    ver=$("$py" -c 'import sys, sysconfig; print("%d.%d%s" % (*sys.version_info[:2], "t" * bool(sysconfig.get_config_var("Py_GIL_DISABLED"))))')
    # some test dependencies publish no free-threaded wheel of their newest release:
    # take the newest release that has one rather than build it from source
    venv="build/test-venv-$ver"
    echo "=== CPython $ver ($py)"
    if ! (case $ver in *t) export PIP_PREFER_BINARY=1 ;; esac; venv_with "$venv" "$py" ".[test]"); then
        echo "build or install failed on CPython $ver" >&2
        failed=1
        continue
    fi
    "$venv/bin/python" -m pytest -q -p no:cacheprovider "${workers[@]}" "${cap[@]}" "${select[@]}" "$@" || failed=1
done

# CPython 3.14 and 3.15 in the sid root, when it has been made
. tools/sid_check.sh --source-only
if [ -z "${TAVO_PYTHONS:-}" ] && [ "${TAVO_SID:-1}" != 0 ] && [ -z "${TAVO_IN_SID:-}" ] && [ -f "$sid_root/.complete" ]; then
    sid_suite "$@" || failed=1
fi
exit $failed
