# Cross-compiling for AArch64 Linux with Debian's g++-aarch64-linux-gnu.
# TAVO_ARM64_SYSROOT (environment) is the folder the arm64 CPython packages
# were unpacked into; the CPython headers are taken from there.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
if(DEFINED ENV{TAVO_ARM64_SYSROOT})
  # the build front end points this at the running (x86-64) interpreter's headers
  set(Python_INCLUDE_DIR "$ENV{TAVO_ARM64_SYSROOT}/usr/include/python3.11" CACHE PATH "" FORCE)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# Debian's pyconfig.h picks the architecture's own one from <aarch64-linux-gnu/python3.11/>.
if(DEFINED ENV{TAVO_ARM64_SYSROOT})
  set(CMAKE_CXX_FLAGS_INIT "-idirafter $ENV{TAVO_ARM64_SYSROOT}/usr/include")
endif()
