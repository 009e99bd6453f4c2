#!/usr/bin/env bash
# AArch64 check on an x86-64 Debian machine: cross-builds the module with
# Debian's g++-aarch64-linux-gnu against Debian's arm64 CPython 3.11 (unpacked
# into a sysroot, see tools/provision/arm64_root.sh), makes an aarch64 wheel, checks it
# with auditwheel, and runs the test suite with the arm64 interpreter under
# qemu user emulation against that wheel's module. What differs there is
# exercised by the same tests: `char` is unsigned, the text paths use
# Advanced SIMD instead of SSE2, and the one-time initialisations run with
# the AArch64 atomics (qemu runs them on this machine's stronger memory
# ordering, so a missing barrier is not caught here).
#
# Usage: bash tools/aarch64_check.sh [pytest args...]
#   TAVO_HYPOTHESIS_EXAMPLES=N   property tests at most N examples each
#                                (default: the counts the tests set)
# Output: build/aarch64-check/wheelhouse/*.whl (the manylinux-tagged aarch64 wheel)
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh
. tools/provision/arm64_root.sh
root=$(pwd)
work=build/aarch64-check
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

# The wheel's tag is the building interpreter's: it must be a CPython 3.11 like the arm64 one.
case $("$tool_python" -c 'import sys; print("%d.%d" % sys.version_info[:2])') in
    3.11) ;;
    *) tool_python=$(find_python 3.11); [ -n "$tool_python" ] || { echo "the aarch64 build needs a CPython 3.11 on the host" >&2; exit 1; } ;;
esac

start=$SECONDS
arm64_setup "$tool_python"
echo "--- aarch64: $("$arm64_python" -c 'import sys, platform; print(platform.machine(), sys.version.split()[0])') under $(qemu-aarch64-static --version | head -1) (set-up $((SECONDS - start)) s)"

venv_with "$work/tools" "$tool_python" scikit-build-core
echo "--- aarch64: cross-build ($(aarch64-linux-gnu-g++ --version | head -1))"
build_and_prove aarch64 "$work" any "$tool_python" \
    env TAVO_ARM64_SYSROOT="$arm64_root" _PYTHON_HOST_PLATFORM=linux-aarch64 \
    SETUPTOOLS_EXT_SUFFIX=.cpython-311-aarch64-linux-gnu.so \
    "$work/tools/bin/python" -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps \
    -w "$work/dist-aarch64" -Cbuild-dir=build/aarch64-gcc \
    -Ccmake.define.CMAKE_TOOLCHAIN_FILE="$root/tools/provision/cmake/aarch64-linux-gnu.cmake" .

echo "--- aarch64: test suite under emulation"
arm64_prove "$proved_wheel" "$work/module" "${TAVO_HYPOTHESIS_EXAMPLES:-}" "$@"
