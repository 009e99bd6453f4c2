#!/usr/bin/env bash
# Docs check: builds the documentation site from docs/ with the pinned Sphinx and MyST
# (docs/requirements.txt) into build/docs/html, warnings as errors, then opens it in
# headless Chromium (tests/test_docs_site.py: every page renders, the reference lists every
# public function, the search finds `uncamel`, a screenshot of the front page goes to
# build/docs/front-page.png). The reference's entries read the installed package's
# docstrings, so the package is installed first, with pyarrow, polars, pandas and DuckDB
# (binary wheels) for the front ends' (tavo.spark is read from its source: pyspark is the
# Spark check's). Installs Debian's chromium when missing. Fails when any test is skipped.
# Usage: bash tools/docs_check.sh [WHEEL]   (without WHEEL the module is built from this checkout)
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh

venv=build/docs-venv
echo "--- docs: installing Sphinx, the column libraries and the module"
venv_with "$venv" "$tool_python" --only-binary pyarrow,polars,duckdb,pandas,numpy \
    -r docs/requirements.txt pytest pyarrow polars pandas duckdb
pip_q "$venv/bin/python" install --force-reinstall --no-deps "${1:-.}"
"$venv/bin/python" - <<'PY'
import importlib.metadata as md
print("--- docs: " + ", ".join("%s %s" % (d, md.version(d)) for d in ("sphinx", "myst-parser", "docutils", "alabaster")))
PY

echo "--- docs: building build/docs/html (warnings are errors)"
rm -rf build/docs/html build/docs/doctrees
"$venv/bin/python" -m sphinx -q -E -W --keep-going -b html -d build/docs/doctrees docs build/docs/html

command -v chromium > /dev/null || apt_install chromium
echo "--- docs: the site in $(chromium --version 2>/dev/null | head -1)"
log=build/docs-check.log
TAVO_DOCS_SITE="$PWD/build/docs/html" "$venv/bin/python" -m pytest -q -p no:cacheprovider -rs tests/test_docs_site.py 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || exit "$status"
if tail -1 "$log" | grep -Eq 'skipped|deselected'; then
    echo "some site tests were skipped (see above)" >&2
    exit 1
fi
