#!/usr/bin/env bash
# Column check: installs the module and the column libraries (the columns-test extra:
# pyarrow, polars, pandas, DuckDB; binary wheels only, never built from source) into a
# virtual environment, then runs tests/test_columns.py (tavo.columns, and the front ends
# over it: the polars namespace under both engines, the pandas accessor, DuckDB's SQL
# functions) and the column blocks of the README and of docs/ (polars, pandas, DuckDB,
# pyarrow; the Spark ones run in tools/spark_check.sh) against it.
# Fails when any of those tests is skipped.
# Usage: bash tools/columns_check.sh [WHEEL]   (without WHEEL the module is built from this checkout)
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh

venv=build/columns-venv
echo "--- columns: installing the module and the column libraries"
if [ -n "${1:-}" ]; then
    target="tavo[columns-test] @ file://$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
else
    target=".[columns-test]"
fi
venv_with "$venv" "$tool_python" --only-binary pyarrow,polars,duckdb,pandas,numpy "$target"
"$venv/bin/python" - <<'PY'
import importlib.metadata as md
print("--- columns: " + ", ".join("%s %s" % (d, md.version(d)) for d in ("pyarrow", "polars", "pandas", "duckdb")))
PY

log=build/columns-check.log
"$venv/bin/python" -m pytest -q -p no:cacheprovider -rs tests/test_columns.py \
    "tests/test_readme.py::test_readme_code_block[README pyarrow]" \
    "tests/test_docs.py::test_code_block[howto.polars polars]" "tests/test_docs.py::test_code_block[howto.pandas pandas 2]" \
    "tests/test_docs.py::test_code_block[howto.duckdb duckdb]" "tests/test_docs.py::test_code_block[howto.pyarrow pyarrow 1]" \
    "tests/test_docs.py::test_code_block[howto.pyarrow pyarrow 2]" "tests/test_docs.py::test_code_block[howto.prices pyarrow]" \
    "tests/test_docs.py::test_code_block[tutorial pyarrow]" "tests/test_docs.py::test_page_examples[docs/explanation/infer.md]" \
    2>&1 | tee "$log"
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || exit "$status"
if tail -1 "$log" | grep -q 'skipped'; then
    echo "some column tests were skipped (see above)" >&2
    exit 1
fi
