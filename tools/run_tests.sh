#!/usr/bin/env bash
# Builds and installs the module into a fresh virtual environment for every
# CPython 3.11+ on this machine, then runs the test suite with each.
# Usage: bash tools/run_tests.sh [pytest args...]
# TAVO_PYTHONS="/path/to/python3.12 ..." picks the interpreters by hand.
set -u -o pipefail
cd "$(dirname "$0")/.."
. tools/python_for_tools.sh

# free-threaded builds are included where installed (tools/freethreaded_check.sh builds one)
pythons=${TAVO_PYTHONS:-$(supported_pythons)}
if [ -z "$pythons" ]; then
    echo "no CPython 3.11 or later found" >&2
    exit 1
fi

failed=0
for py in $pythons; do
    # "3.13t" for a free-threaded build, so that it gets a virtual environment of its own
    ver=$("$py" -c 'import sys, sysconfig; print("%d.%d%s" % (*sys.version_info[:2], "t" * bool(sysconfig.get_config_var("Py_GIL_DISABLED"))))')
    # some test dependencies publish no free-threaded wheel of their newest release:
    # take the newest release that has one rather than build it from source
    pip_env=""
    case $ver in *t) pip_env="PIP_PREFER_BINARY=1" ;; esac
    venv="build/test-venv-$ver"
    echo "=== CPython $ver ($py)"
    if [ ! -x "$venv/bin/python" ]; then
        "$py" -m venv "$venv" || { failed=1; continue; }
    fi
    if ! env $pip_env "$venv/bin/python" -m pip install -q --disable-pip-version-check ".[test]"; then
        echo "build or install failed on CPython $ver" >&2
        failed=1
        continue
    fi
    "$venv/bin/python" -m pytest -q -p no:cacheprovider "$@" || failed=1
done
exit $failed
