#!/usr/bin/env bash
# Builds the module with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the whole test suite against that build, with leak detection.
#
# The interpreter is not instrumented, so the ASan runtime is preloaded, and
# PYTHONMALLOC=malloc sends every Python object through malloc, where ASan and
# LeakSanitizer can see it. Leaks are checked twice:
#   * in-process, when the suite has finished and the interpreter is still
#     whole (tools/lsan_session.py calls LeakSanitizer): every unreachable block
#     then is a real leak;
#   * at exit, by LeakSanitizer itself, after the interpreter's teardown.
# LeakSanitizer's suppressions drop a leak when any frame matches, and every
# stack passes through the interpreter, so tools/lsan.supp names only frames
# the module never runs under; instead tools/lsan_filter.py fails the run on
# leaks whose allocation stack passes through _tavo and only counts the rest.
# Usage: bash tools/sanitize_check.sh [pytest args...]  (with args, only those tests, fast unwinding)
# TAVO_SANITIZE_PYTHON picks the interpreter (default: python3.11).
# TAVO_HYPOTHESIS_EXAMPLES: property tests at most that many examples each (default 10: what
# the sanitizers watch is the paths taken, which the README command's full runs explore).
set -u -o pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh
root=$(pwd)

command -v g++ >/dev/null || apt_install g++ || exit 1
py=${TAVO_SANITIZE_PYTHON:-$(find_python 3.11)}
if [ -z "$py" ]; then
    apt_install python3.11 python3.11-venv python3.11-dev || exit 1
    py=$(find_python 3.11)
fi

libasan=$(g++ -print-file-name=libasan.so)
if [ ! -e "$libasan" ]; then
    echo "libasan.so not found next to g++" >&2
    exit 1
fi
libasan=$(readlink -f "$libasan")
# The interpreter does not load the C++ runtime before ASan starts; without it
# preloaded too, ASan cannot find the real __cxa_throw and aborts at the
# module's first C++ exception (an internal failure).
libstdcxx=$(readlink -f "$(g++ -print-file-name=libstdc++.so)")

venv=build/asan-venv
venv_with "$venv" "$py" scikit-build-core pytest hypothesis numpy || exit 1
tag=$("$venv/bin/python" -c 'import sys; print("cp%d%d" % sys.version_info[:2])')
echo "=== building with TAVO_SANITIZE=ON ($("$venv/bin/python" -V))"
pip_q "$venv/bin/python" install --no-build-isolation \
    -Ccmake.define.TAVO_SANITIZE=ON -Ccmake.build-type=RelWithDebInfo \
    -Cbuild-dir="build/asan-$tag" . || exit 1

log_dir=$(mktemp -d "${TMPDIR:-/tmp}/tavo-lsan.XXXXXX")
export PYTHONMALLOC=malloc
export LSAN_OPTIONS="suppressions=$root/tools/lsan.supp:print_suppressions=0:report_objects=0:exitcode=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TAVO_SANITIZED=1
asan_common="detect_leaks=1:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:print_summary=1"

examples=${TAVO_HYPOTHESIS_EXAMPLES:-10}
run_suite() {  # label, unwinding options, pytest args...
    local label=$1 unwind=$2
    shift 2
    echo "=== $label"
    ASAN_OPTIONS="$asan_common:$unwind:log_path=$log_dir/asan" \
        PYTHONPATH="$root/tools" LD_PRELOAD="$libasan $libstdcxx" TAVO_HYPOTHESIS_EXAMPLES="$examples" \
        "$venv/bin/python" -m pytest -q -p no:cacheprovider -p lsan_session -p hypothesis_examples \
        --rootdir="$root" "$@"
}

# AddressSanitizer's redzones make every frame several times larger, and the
# suite's deepest test nests about a thousand calls of the module through the
# interpreter (a lookup that sorts the same list again, until RecursionError):
# 8 MB of stack, enough for the plain and release builds, is not enough here.
ulimit -s 65536 2>/dev/null || echo "could not raise the stack limit to 64 MB" >&2

failed=0
# 1. The whole suite. Stacks are unwound by frame pointers (twenty times faster
#    than the unwinder that reads debug information); the module keeps its
#    frame pointers, so its own allocations are traced to it.
run_suite "whole test suite under ASan+UBSan" "fast_unwind_on_malloc=1:malloc_context_size=30" "$@" || {
    echo "test suite failed under the sanitizers" >&2
    failed=1
}
# 2. The interpreter is built without frame pointers, so an object it allocates
#    for the module is traced back to the module only by the full unwinder:
#    every function, on every error path and under hostile objects, again.
if [ $# -eq 0 ]; then
    run_suite "every call of the catalogue, leaks traced through the interpreter" \
        "fast_unwind_on_malloc=0:malloc_context_size=16" \
        -k "(hostile or test_threads) and not test_refleaks" tests || {
        echo "catalogue failed under the sanitizers" >&2
        failed=1
    }
fi
if ! "$venv/bin/python" tools/lsan_filter.py "$log_dir"; then
    failed=1
fi
rm -rf "$log_dir"
exit $failed
