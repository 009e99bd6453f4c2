#!/usr/bin/env bash
# Spark check: installs pyspark (PyPI) with its Spark Connect client and, when no Java 17
# or later is found, Debian's openjdk-17-jre-headless, then runs the Spark guide's blocks
# (docs/howto/spark.md through tests/test_docs.py: tavo.spark, and backfill_iterdict per partition),
# tests/test_spark.py (tavo.spark on a classic session and under Spark Connect) and the
# Spark pipeline of tests/test_distributed.py against the module, in local mode on
# loopback; and mypy --strict over tavo.spark against pyspark's own types. Fails when any
# test is skipped.
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
echo "--- spark: installing pyspark with its Connect client, pyarrow, pandas, mypy and the module"
venv_with "$venv" "$tool_python" --only-binary pyarrow,pandas,numpy,grpcio,zstandard \
    "pyspark[connect]" pyarrow pandas pytest hypothesis mypy pandas-stubs
pip_q "$venv/bin/python" install --force-reinstall --no-deps "${1:-.}"
echo "pyspark $("$venv/bin/python" -c 'import pyspark; print(pyspark.__version__)')"

# Workers run this interpreter; driver and workers talk on loopback only.
export PYSPARK_PYTHON="$(cd "$venv/bin" && pwd)/python"
export SPARK_LOCAL_IP=127.0.0.1
log=build/spark-check.log
# pyspark warns of pandas releases it has not been tried with: not this check's concern
"$venv/bin/python" -m pytest -q -p no:cacheprovider -rs -W ignore::FutureWarning \
    "tests/test_docs.py::test_code_block[howto.spark pyspark 1]" "tests/test_docs.py::test_code_block[howto.spark pyspark 2]" \
    tests/test_spark.py tests/test_distributed.py::test_spark_pipeline 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || exit "$status"
# every test ran and passed: a summary of passes alone, and at least the three above and tests/test_spark.py's
summary=$(tail -1 "$log")
passed=$(echo "$summary" | sed -n 's/^=* *\([0-9]*\) passed.*/\1/p')
if [ -z "$passed" ] || echo "$summary" | grep -Eq 'skipped|failed|error|xfail|xpass|deselected' || [ "$passed" -lt 40 ]; then
    echo "the Spark tests did not all run and pass: $summary" >&2
    exit 1
fi
echo "--- spark: mypy --strict over tavo.spark, against pyspark's types"
(cd tests/typecheck && "../../$venv/bin/python" -m mypy --config-file mypy.ini -m tavo.spark)
