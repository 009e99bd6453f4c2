#!/usr/bin/env bash
# ThreadSanitizer check of the free-threaded build. The module declares that it
# needs no interpreter lock, so on a free-threaded CPython its calls run truly
# in parallel with each other and with threads that change their inputs; this
# check makes ThreadSanitizer watch them:
#  1. builds once, into a cache folder, CPython 3.13 from Debian's python3.13
#     source package (tools/provision/cpython.sh), configured --disable-gil
#     --with-thread-sanitizer;
#  2. builds the module with ThreadSanitizer (CMake option TAVO_TSAN, by the
#     interpreter's compiler: both must use one sanitizer runtime) into a
#     virtual environment of that interpreter, with pytest;
#  3. runs tests/test_threads.py (the stress test of every function: callers
#     and mutators on the same lists and dicts) and tests/test_freethreaded.py,
#     every report written to a log folder, none stopping the run;
#  4. tools/tsan_filter.py reads the reports: it fails on any report of an
#     access made by _tavo's own code, and on any other report that no entry
#     of tools/tsan.supp (CPython's own races, each explained there) covers;
#     a race inside CPython code that _tavo called is covered only by an entry
#     naming the CPython function that made the access.
# The suppressions are applied by the filter, not given to ThreadSanitizer:
# ThreadSanitizer drops a race when any frame of either stack matches, so an
# entry naming a CPython function would also hide a race between the module
# and that function. Every report is logged.
# Usage: bash tools/tsan_check.sh [pytest args...]  (default: the two files above)
#   TAVO_TSAN_CACHE=DIR   where the interpreter is kept
#                         (default ${XDG_CACHE_HOME:-~/.cache}/tavo/cpython-3.13t-tsan)
#   TAVO_TSAN_CC=clang-19 the compiler of a new build (default gcc, the one
#                         tried here; the C++ compiler is the matching g++/clang++)
#   TAVO_TSAN_LOGS=DIR    keep the reports there (default: a temporary folder,
#                         removed when the check passes)
#   TAVO_TSAN_TIMEOUT=S   bound on the test run (default 1800 s)
#   TAVO_STRESS_SECONDS   time per stress scenario (tests/test_threads.py; default 2)
# The first build takes about 10 minutes at -j2 on a two-core machine (another
# job running beside it); the module about 1, the tests about 1 to 2.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${TAVO_TSAN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavo/cpython-3.13t-tsan}
py="$prefix/bin/python3.13t"

. tools/lib.sh
. tools/provision/cpython.sh

cxx_of() {
    case $1 in
        *clang*) echo "${1/clang/clang++}" ;;
        *gcc*) echo "${1/gcc/g++}" ;;
        *) echo "no C++ compiler known to go with $1 (set TAVO_TSAN_CC to gcc or clang)" >&2; return 1 ;;
    esac
}

start=$SECONDS
if [ ! -f "$prefix/.complete" ] || ! is_free_threaded "$py"; then
    build_cc=${TAVO_TSAN_CC:-gcc}
    build_cxx=$(cxx_of "$build_cc")
    build_tsan_python "$prefix" "$build_cc" "$build_cxx"
    echo "built $py in $((SECONDS - start)) s"
fi
cc=$(cat "$prefix/.complete")
cxx=$(cxx_of "$cc")
echo "ThreadSanitizer CPython: $py ($("$py" -c 'import sys; print(sys.version.split()[0])'), built by $cc)"

# Installing runs the instrumented interpreter too: its reports are logged apart.
setup_logs=$(mktemp -d "${TMPDIR:-/tmp}/tavo-tsan-setup.XXXXXX")
export TSAN_OPTIONS="exitcode=0:log_path=$setup_logs/setup"
venv=build/tsan-venv
venv_with "$venv" "$py" scikit-build-core pytest
echo "=== building the module with TAVO_TSAN=ON ($cxx)"
build_start=$SECONDS
CC=$cc CXX=$cxx pip_q "$venv/bin/python" install --no-build-isolation \
    -Ccmake.define.TAVO_TSAN=ON -Ccmake.build-type=RelWithDebInfo -Cbuild-dir=build/tsan-cp313t .
echo "module built in $((SECONDS - build_start)) s"
rm -rf "$setup_logs"

log_dir=${TAVO_TSAN_LOGS:-$(mktemp -d "${TMPDIR:-/tmp}/tavo-tsan.XXXXXX")}
mkdir -p "$log_dir"
rm -f "$log_dir"/tsan.*
# halt_on_error=0: every report, and the run goes on; exitcode=0: the tests'
# own subprocesses (fresh interpreters) are judged by their output, the
# reports by the filter. history_size=7 (the most): the earlier access of a
# race keeps its stack through the longer runs. suppress_equal_addresses=0: a
# race at an address reported once already (CPython's own, say) is reported
# again when other code races there.
export TSAN_OPTIONS="halt_on_error=0:exitcode=0:log_path=$log_dir/tsan:history_size=7:suppress_equal_addresses=0:second_deadlock_stack=1"
unset PYTHON_GIL
if [ $# -eq 0 ]; then
    set -- tests/test_threads.py tests/test_freethreaded.py
fi
echo "=== $* under ThreadSanitizer (reports: $log_dir)"
status=0
run_start=$SECONDS
# A crash under ThreadSanitizer can leave the process hanging after
# faulthandler's report: the run is bounded (TAVO_TSAN_TIMEOUT seconds).
timeout -k 60 "${TAVO_TSAN_TIMEOUT:-1800}" "$venv/bin/python" -m pytest -q -p no:cacheprovider "$@" || status=1
echo "tests ran in $((SECONDS - run_start)) s"
unset TSAN_OPTIONS
"$tool_python" tools/tsan_filter.py "$log_dir" tools/tsan.supp || status=1
if [ $status -eq 0 ] && [ -z "${TAVO_TSAN_LOGS:-}" ]; then
    rm -rf "$log_dir"
fi
echo "ThreadSanitizer check: $((SECONDS - start)) s"
exit $status
