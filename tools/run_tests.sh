#!/usr/bin/env bash
# Builds and installs the module into a fresh virtual environment for every
# CPython 3.11+ on this machine, then runs the test suite with each.
# Usage: bash tools/run_tests.sh [pytest args...]
# TAVO_PYTHONS="/path/to/python3.12 ..." picks the interpreters by hand.
set -u -o pipefail
cd "$(dirname "$0")/.."

find_pythons() {
    local v p
    for v in 3.11 3.12 3.13 3.14; do
        p=""
        for cand in "$HOME"/.pyenv/versions/"$v".*/bin/python3 /usr/local/bin/python"$v" /usr/bin/python"$v"; do
            if [ -x "$cand" ]; then p="$cand"; break; fi
        done
        [ -n "$p" ] && echo "$p"
    done
}

pythons=${TAVO_PYTHONS:-$(find_pythons)}
if [ -z "$pythons" ]; then
    echo "no CPython 3.11 or later found" >&2
    exit 1
fi

failed=0
for py in $pythons; do
    ver=$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    venv="build/test-venv-$ver"
    echo "=== CPython $ver ($py)"
    if [ ! -x "$venv/bin/python" ]; then
        "$py" -m venv "$venv" || { failed=1; continue; }
    fi
    if ! "$venv/bin/python" -m pip install -q --disable-pip-version-check ".[test]"; then
        echo "build or install failed on CPython $ver" >&2
        failed=1
        continue
    fi
    "$venv/bin/python" -m pytest -q -p no:cacheprovider "$@" || failed=1
done
exit $failed
