# Sourced by tools/release_wheels.sh (after tools/lib.sh): the release wheels' compiler,
# `zig c++` from PyPI's ziglang package (clang with LLVM's libc++ linked statically, and the
# symbol versions of the glibc the target names; tools/provision/zig/c++ and
# tools/provision/cmake/zig.cmake).
#   zig_toolchain DIR PY   a virtual environment of PY in DIR with ziglang and
#                          scikit-build-core (made when missing); sets $zig_python (its
#                          interpreter: TAVO_ZIG_PYTHON of tools/provision/zig/c++, and the
#                          one that runs the wheel build) and $zig_toolchain_file (the
#                          CMake toolchain file)
zig_toolchain() {  # dir python
    venv_with "$1" "$2" ziglang scikit-build-core || return 1
    zig_python="$1/bin/python"
    zig_toolchain_file="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/cmake/zig.cmake"
}
