#!/usr/bin/env bash
# Compiles the module with the stricter warning set as errors (-Werror -Wconversion
# -Wshadow -Wpedantic, the CMake option TAVO_WARNINGS_AS_ERRORS), once as Release and
# once as Debug (assertions compiled in). Compile only: nothing is installed or run.
# Usage: bash tools/warnings_check.sh
set -u -o pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh

work=build/warnings
mkdir -p "$work"
failed=0
for type in Release Debug; do
    echo "=== $type, warnings as errors ($("$tool_python" -c 'import sys; print(sys.version.split()[0])'))"
    if ! pip_q "$tool_python" wheel --no-deps -w "$work/dist-$type" \
            -Cbuild-dir="$work/$type" -Ccmake.build-type="$type" -Ccmake.define.TAVO_WARNINGS_AS_ERRORS=ON \
            . > "$work/$type.log" 2>&1; then
        grep -E "error|warning" "$work/$type.log" | head -40
        echo "the $type build has warnings (full log: $work/$type.log)" >&2
        failed=1
    fi
done
exit $failed
