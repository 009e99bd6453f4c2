#!/usr/bin/env bash
# The large-input tests (marked scale): 10^7 elements, 100 MB strings, 10^6 levels of
# nesting, each in a fresh interpreter with its time and peak memory printed
# (tests/test_large_inputs.py); columns whose text passes 2**31 bytes
# (tests/test_columns_native.py: about a minute, 8.5 GB at the peak). Uses the
# CPython 3.11 test environment of tools/run_tests.sh when it exists, else makes one.
# Usage: bash tools/scale_check.sh [pytest args...]
set -u -o pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh

venv=build/test-venv-3.11
py=$(find_python 3.11)
[ -n "$py" ] || { echo "no CPython 3.11 found" >&2; exit 1; }
# a failed build or install must not test whatever an earlier run left installed
venv_with "$venv" "$py" ".[test]" || { echo "build or install failed" >&2; exit 1; }
echo "=== large inputs"
"$venv/bin/python" -m pytest -q -p no:cacheprovider --scale -s -m scale tests/test_large_inputs.py \
    tests/test_columns_native.py "$@"
