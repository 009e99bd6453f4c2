#!/usr/bin/env bash
# Line coverage of src/ by the test suite: the module built with gcc's
# --coverage (no optimisation, so that lines map to code), the suite run with
# one interpreter, then gcovr's summary per file and in all.
# Usage: bash tools/coverage.sh [pytest args...]   (default: the README's selection)
#   TAVO_COVERAGE_PYTHON picks the interpreter (default: python3.12)
set -u -o pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh
py=${TAVO_COVERAGE_PYTHON:-$(find_python 3.12)}
[ -n "$py" ] || { echo "no CPython 3.12 found" >&2; exit 1; }
venv=build/coverage-venv
build=build/coverage
venv_with "$venv" "$py" scikit-build-core pytest pytest-xdist hypothesis numpy "dask[bag]" pandas gcovr || exit 1
find "$build" -name '*.gcda' -delete 2>/dev/null
pip_q "$venv/bin/python" install --no-build-isolation --force-reinstall --no-deps \
    -Ccmake.build-type=Debug -Ccmake.define.CMAKE_CXX_FLAGS="--coverage -O0" \
    -Ccmake.define.CMAKE_MODULE_LINKER_FLAGS=--coverage -Cbuild-dir="$build" . || exit 1
args=("$@")
[ ${#args[@]} -eq 0 ] && args=(-m "not long")
"$venv/bin/python" -m pytest -q -p no:cacheprovider -n "$(nproc)" "${args[@]}" > "$build/pytest.log" 2>&1
status=$?
tail -n 3 "$build/pytest.log"
"$venv/bin/gcovr" --root . --filter 'src/' --object-directory "$build" --txt "$build/coverage.txt" \
    --gcov-ignore-errors=no_working_dir_found --gcov-ignore-parse-errors=negative_hits.warn > /dev/null 2>&1 ||
    "$venv/bin/gcovr" --root . --filter 'src/' --object-directory "$build" --txt "$build/coverage.txt" || exit 1
cat "$build/coverage.txt"
exit $status
