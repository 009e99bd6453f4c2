#!/usr/bin/env bash
# Coverage-guided fuzzing of the module with atheris (libFuzzer).
#
# Builds the module with clang: coverage instrumentation (fuzzer-no-link),
# AddressSanitizer and UndefinedBehaviorSanitizer. The interpreter is not
# instrumented, so one runtime holding both ASan and libFuzzer is linked from
# clang's static runtimes and preloaded (atheris then uses that libFuzzer and
# sees the module's coverage). Runs fuzz/fuzz_tavo.py for a bounded time and
# prints the figures: executions, coverage (cov = edges, ft = features),
# corpus size.
#
# Usage: bash tools/fuzz_check.sh [SECONDS] [libFuzzer args...]   (default 60 s)
# The corpus is kept in build/fuzz-corpus between runs; a failing input is
# written to build/fuzz-artifacts/.
set -u -o pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh
seconds=${1:-60}
shift || true

arch=$(uname -m)
find_clang() {
    local v
    for v in 19 18 17 16 15; do
        if command -v "clang++-$v" >/dev/null; then
            local rt
            rt=$("clang++-$v" -print-resource-dir)/lib/linux
            if [ -e "$rt/libclang_rt.fuzzer_no_main-$arch.a" ] && [ -e "$rt/libclang_rt.asan-$arch.a" ]; then
                echo "$v"
                return
            fi
        fi
    done
}
ver=$(find_clang)
if [ -z "$ver" ]; then
    echo "=== installing clang and its sanitizer runtimes"
    apt_install clang-19 libclang-rt-19-dev llvm-19 || exit 1
    ver=$(find_clang)
    [ -n "$ver" ] || { echo "no usable clang" >&2; exit 1; }
fi
cxx=clang++-$ver
rt=$("$cxx" -print-resource-dir)/lib/linux
symbolizer=$(command -v "llvm-symbolizer-$ver" || command -v llvm-symbolizer || true)

py=${TAVO_FUZZ_PYTHON:-$(find_python 3.11)}
[ -n "$py" ] || { echo "no CPython 3.11 found" >&2; exit 1; }

mkdir -p build/fuzz
runtime=build/fuzz/asan_with_fuzzer.so
if [ ! -e "$runtime" ]; then
    echo "=== linking ASan and libFuzzer into one preloadable runtime ($cxx)"
    work=$(mktemp -d)
    # The pre-init object only works in an executable; everything else goes in.
    (cd "$work" && ar x "$rt/libclang_rt.asan-$arch.a" && rm -f asan_preinit*.o && ar rcs asan.a ./*.o) || exit 1
    "$cxx" -shared -o "$runtime" -Wl,--whole-archive "$work/asan.a" "$rt/libclang_rt.asan_cxx-$arch.a" \
        "$rt/libclang_rt.fuzzer_no_main-$arch.a" -Wl,--no-whole-archive -lpthread -ldl -lrt -lm -lstdc++ || exit 1
    rm -rf "$work"
fi

venv=build/fuzz-venv
venv_with "$venv" "$py" atheris scikit-build-core || exit 1
echo "=== building the module for fuzzing"
CC=clang-$ver CXX=$cxx pip_q "$venv/bin/python" install --no-build-isolation -Cbuild-dir=build/fuzz-module \
    -Ccmake.build-type=RelWithDebInfo -Ccmake.define.TAVO_SANITIZE=ON \
    -Ccmake.define.CMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link . || exit 1

corpus=build/fuzz-corpus
artifacts=build/fuzz-artifacts
mkdir -p "$corpus" "$artifacts"
log=build/fuzz/last-run.log
echo "=== fuzzing for ${seconds} s"
env LD_PRELOAD="$(readlink -f "$runtime")" PYTHONMALLOC=malloc \
    ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1:abort_on_error=1:symbolize=1${symbolizer:+:external_symbolizer_path=$symbolizer}" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    "$venv/bin/python" fuzz/fuzz_tavo.py -max_total_time="$seconds" -max_len=4096 -timeout=30 \
    -rss_limit_mb=6144 -print_final_stats=1 -artifact_prefix="$artifacts/" "$@" "$corpus" >"$log" 2>&1
status=$?
grep -E '^fuzzing:|^INFO: Using|^INFO: Loaded [0-9]+ modules|^#[0-9]+[[:space:]]+(INITED|DONE)|stat::number_of_executed_units|stat::peak_rss_mb|^==[0-9]+==ERROR|Traceback|AssertionError|SUMMARY' "$log" | head -40
executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
coverage=$(grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE|INITED)' "$log" | tail -1 | sed -n 's/.*\(cov: [0-9]* ft: [0-9]*\).*/\1/p')
counters=$(sed -n 's/^INFO: Loaded [0-9]* modules *(\([0-9]*\) inline 8-bit counters.*/\1/p' "$log" | head -1)
echo "fuzz figures: ${executions:-?} executions in ${seconds} s, ${coverage:-coverage unknown} of ${counters:-?} instrumented edges, corpus $(ls "$corpus" | wc -l) inputs"
if [ $status -ne 0 ]; then
    echo "the fuzzer stopped on a failure (exit $status); inputs in $artifacts, log in $log" >&2
    tail -60 "$log" >&2
    exit 1
fi
