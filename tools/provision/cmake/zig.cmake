# Release builds with `zig c++` (tools/release_wheels.sh): TAVO_ZIG_TARGET
# (environment) names the architecture and the oldest glibc the module may
# need, for example x86_64-linux-gnu.2.17 or aarch64-linux-gnu.2.17.
set(CMAKE_CXX_COMPILER "${CMAKE_CURRENT_LIST_DIR}/../zig/c++")
string(REGEX MATCH "^[a-z0-9_]+" _tavo_zig_arch "$ENV{TAVO_ZIG_TARGET}")
if(NOT _tavo_zig_arch STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR "${_tavo_zig_arch}")
endif()
# The target interpreter's headers, where they are not the running one's
# (Debian's arm64 CPython unpacked by tools/provision/arm64_root.sh).
if(DEFINED ENV{TAVO_TARGET_PYTHON_ROOT})
  set(Python_INCLUDE_DIR "$ENV{TAVO_TARGET_PYTHON_ROOT}/usr/include/python3.11" CACHE PATH "" FORCE)
  set(CMAKE_CXX_FLAGS_INIT "-idirafter $ENV{TAVO_TARGET_PYTHON_ROOT}/usr/include")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
