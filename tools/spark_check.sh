#!/usr/bin/env bash
# Spark check: installs pyspark (PyPI) and, when no Java 17 or later is found,
# Debian's openjdk-17-jre-headless, then runs the README's Spark blocks
# (tests/test_readme.py: per-row UDFs, and tavo.columns in mapInArrow, which needs pyarrow)
# and the Spark pipeline of tests/test_distributed.py against the module, in local mode
# on loopback. Fails when any of the three is skipped.
# Usage: bash tools/spark_check.sh [WHEEL]   (without WHEEL the module is built from this checkout)
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh

major=""
command -v java > /dev/null && major=$(java -version 2>&1 | sed -n '1s/.*version "\([0-9]*\).*/\1/p')
if [ -z "$major" ] || [ "$major" -lt 17 ]; then
    apt_install openjdk-17-jre-headless
fi
echo "--- spark: $(java -version 2>&1 | head -1)"

venv=build/spark-venv
echo "--- spark: installing pyspark, pyarrow and pandas (mapInArrow needs both) and the module"
venv_with "$venv" "$tool_python" --only-binary pyarrow,pandas,numpy pyspark pyarrow pandas pytest hypothesis
pip_q "$venv/bin/python" install --force-reinstall --no-deps "${1:-.}"
echo "pyspark $("$venv/bin/python" -c 'import pyspark; print(pyspark.__version__)')"

# Workers run this interpreter; driver and workers talk on loopback only.
export PYSPARK_PYTHON="$(cd "$venv/bin" && pwd)/python"
export SPARK_LOCAL_IP=127.0.0.1
log=build/spark-check.log
"$venv/bin/python" -m pytest -q -p no:cacheprovider -rs \
    "tests/test_readme.py::test_readme_code_block[pyspark]" "tests/test_readme.py::test_readme_code_block[pyarrow pyspark]" \
    tests/test_distributed.py::test_spark_pipeline 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || exit "$status"
if ! tail -1 "$log" | grep -q '^=* *3 passed'; then
    echo "the Spark tests did not all three run and pass" >&2
    exit 1
fi
