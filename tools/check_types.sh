#!/usr/bin/env bash
# Type information check, against an installed wheel (not the source tree):
#   1. mypy's stubtest compares the installed stubs (_tavo-stubs, and the .pyi
#      files of tavo's native modules) with the installed modules: names,
#      parameters, defaults, __all__;
#   2. mypy --strict and pyright (strict) check tests/typecheck/usage.py, whose
#      assert_type lines only hold when the stubs are found in site-packages
#      and whose ignore comments must each be needed; it uses the package's
#      column front ends too, so polars, pandas (with pandas-stubs) and DuckDB
#      are installed (binary wheels only), and mypy --strict checks the
#      installed package tavo itself.
# Usage: bash tools/check_types.sh [WHEEL]   (without WHEEL a wheel is built)
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh
repo=$(pwd)
work=build/typecheck
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
venv_with "$work/venv" "$tool_python"
py="$work/venv/bin/python"
wheel=${1:-}
if [ -z "$wheel" ]; then
    echo "--- type check: building a wheel"
    pip_q "$py" wheel --no-deps -w "$work/wheel" . > "$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
    wheel=$(ls "$work"/wheel/*.whl)
fi
echo "--- type check: installing $(basename "$wheel") with mypy and pyright"
pip_q "$py" install --only-binary polars,duckdb,pandas,numpy "$wheel" "mypy>=1.11" "pyright[nodejs]>=1.1.380" \
    polars duckdb pandas pandas-stubs
stubs=$("$py" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')/_tavo-stubs/__init__.pyi
test -f "$stubs" || { echo "the wheel did not install $stubs" >&2; exit 1; }

# Run from the checker folder, away from the sources, so only installed files count.
cd "$repo/tests/typecheck"
echo "--- type check: stubtest"
"$py" -m mypy.stubtest _tavo tavo._native --mypy-config-file mypy.ini
echo "--- type check: mypy --strict on the installed package tavo"
"$py" -m mypy --config-file mypy.ini -p tavo
echo "--- type check: mypy --strict usage.py"
"$py" -m mypy --config-file mypy.ini usage.py
echo "--- type check: pyright usage.py"
"$work/venv/bin/pyright" --pythonpath "$py" -p pyrightconfig.json
