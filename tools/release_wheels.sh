#!/usr/bin/env bash
# Release wheels for x86-64 and AArch64 Linux that install on glibc 2.17 and
# later (manylinux_2_17, "manylinux2014"), built on this machine whatever its
# own glibc: the compiler is `zig c++` from PyPI's ziglang package (clang with
# LLVM's libc++ linked statically, and glibc 2.17's symbol versions; see
# tools/provision/zig.sh). For each wheel:
#   1. `auditwheel show` must report a manylinux_2_17 platform tag (the floor);
#      `auditwheel repair` tags it;
#   2. the wheel is installed (x86-64: into a fresh virtual environment;
#      AArch64: unpacked for Debian's arm64 CPython under qemu, tools/provision/arm64_root.sh)
#      and the test suite runs against the installed module.
# The wheels are for CPython 3.11 (the interpreter both architectures have
# here). This is the one release path (CI's step release-wheels).
#
# Usage: bash tools/release_wheels.sh [pytest args...]
#   TAVO_RELEASE_ARCHES="x86_64 aarch64"   which wheels (default both)
#   TAVO_RELEASE_ARM64_EXAMPLES=N          property tests at most N examples each under
#                                          emulation (default 25; 0 = the tests' own counts)
#   TAVO_RELEASE_ARM64_TESTS="files..."    under emulation, only these test files (default:
#                                          the whole suite, with the pytest args given)
# Output: build/release/wheelhouse/*.whl
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh
. tools/provision/zig.sh
work=build/release
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
floor=2.17
arches=${TAVO_RELEASE_ARCHES:-x86_64 aarch64}

case $("$tool_python" -c 'import sys; print("%d.%d" % sys.version_info[:2])') in
    3.11) ;;
    *) tool_python=$(find_python 3.11); [ -n "$tool_python" ] || { echo "the release build needs a CPython 3.11" >&2; exit 1; } ;;
esac

echo "--- release: tools (ziglang, scikit-build-core, auditwheel)"
zig_toolchain "$work/tools" "$tool_python"
echo "zig $("$zig_python" -m ziglang version)"

build_wheel() {  # arch, extra environment...
    local arch=$1
    shift
    echo "--- release: $arch wheel, zig c++ -target $arch-linux-gnu.$floor"
    build_and_prove "$arch" "$work" "${floor/./_}" "$tool_python" \
        env "$@" TAVO_ZIG_PYTHON="$zig_python" TAVO_ZIG_TARGET="$arch-linux-gnu.$floor" \
        "$zig_python" -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps \
        -w "$work/dist-$arch" -Cbuild-dir="build/release-$arch" \
        -Ccmake.define.CMAKE_TOOLCHAIN_FILE="$zig_toolchain_file" .
}

failed=0
for arch in $arches; do
    case $arch in
    x86_64)
        build_wheel x86_64 || { failed=1; continue; }
        prove_in_venv "$proved_wheel" "$work/venv-x86_64" "$tool_python" "$@" || failed=1
        ;;
    aarch64)
        . tools/provision/arm64_root.sh
        arm64_setup "$tool_python" || { failed=1; continue; }
        build_wheel aarch64 TAVO_TARGET_PYTHON_ROOT="$arm64_root" _PYTHON_HOST_PLATFORM=linux-aarch64 \
            SETUPTOOLS_EXT_SUFFIX=.cpython-311-aarch64-linux-gnu.so || { failed=1; continue; }
        echo "--- release: installing $(basename "$proved_wheel") for the arm64 CPython (qemu)"
        arm64_prove "$proved_wheel" "$work/site-aarch64" "${TAVO_RELEASE_ARM64_EXAMPLES:-25}" \
            ${TAVO_RELEASE_ARM64_TESTS:-} "$@" || failed=1
        ;;
    *) echo "unknown architecture $arch" >&2; failed=1 ;;
    esac
done
ls -1 "$work"/wheelhouse/ 2>/dev/null | sed 's/^/release wheel: /'
exit $failed
