#!/usr/bin/env bash
# Regenerates bench/results (results.md, results.json and the charts the README shows) with
# one full run of bench/run.py against every peer, on CPython 3.11, and names in README.md
# the commit the figures come from. Run it on a committed tree, then commit bench/results
# and README.md; a tree with changes outside those is refused (TAVO_BENCH_DIRTY=1 runs
# anyway, and the figures are then marked "-dirty").
# Usage: bash tools/bench_results.sh [bench/run.py args...]   (about five minutes)
set -u -o pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh

if [ -n "$(git status --porcelain --untracked-files=no -- . ':(exclude)bench/results' ':(exclude)README.md')" ] &&
    [ "${TAVO_BENCH_DIRTY:-0}" != 1 ]; then
    echo "the tree has uncommitted changes: commit them first (or TAVO_BENCH_DIRTY=1)" >&2
    exit 1
fi
py=$(find_python 3.11)
[ -n "$py" ] || { echo "no CPython 3.11 found" >&2; exit 1; }
venv=build/bench-venv-3.11
# a failed build or install must not time whatever an earlier run left installed
venv_with "$venv" "$py" ".[bench]" || { echo "build or install failed" >&2; exit 1; }
"$venv/bin/python" bench/run.py --readme "$@"
