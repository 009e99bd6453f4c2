// Which vector path the text kernels take on this CPU, decided once.
//
// One binary serves every CPU: the baseline path is built for what every
// CPU of the architecture has (SSE2 on x86-64, Advanced SIMD on AArch64),
// and the wider paths of a kernel are the same template instantiated under
// `[[gnu::target(...)]]`, chosen through a function pointer or a switch on
// `chosen()`. On x86-64:
//   ssse3    byte shuffles (pshufb)
//   avx2     AVX2 and BMI2 (the kernels that have no code of their own
//            for it run their ssse3 code)
//   avx512   AVX-512 F, BW, VL and VBMI2 (byte expansion and compaction), BMI2
// AArch64 has the baseline only.
//
// The environment variable TAVO_CPU (baseline, ssse3, avx2, avx512), read at
// the first call, pins a lower path than the CPU's, so that each path can be
// run and compared on one machine; a path above what the CPU has, or a name
// not in that list, leaves the CPU's own.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#if defined(__aarch64__) && defined(__linux__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

// The target of the functions that hold each x86-64 path's instructions.
#define TAVO_TARGET_SSSE3 "ssse3"
#define TAVO_TARGET_AVX2 "avx2,bmi,bmi2,popcnt"
#define TAVO_TARGET_AVX512 "avx512f,avx512bw,avx512vl,avx512vbmi2,bmi,bmi2,popcnt"

namespace tavo::cpu {

enum class path : std::uint8_t { baseline, ssse3, avx2, avx512 };

inline constexpr const char* path_names[] = {"baseline", "ssse3", "avx2", "avx512"};

inline const char* name(path p) noexcept { return path_names[static_cast<unsigned>(p)]; }

namespace detail {

// The widest path this CPU (and its operating system, which must save the
// wider registers) runs.
inline path of_this_cpu() noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi2") &&
        __builtin_cpu_supports("bmi2")) {
        return path::avx512;
    }
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2")) return path::avx2;
    if (__builtin_cpu_supports("ssse3")) return path::ssse3;
    return path::baseline;
#else
#if defined(__aarch64__) && defined(__linux__)
    // Advanced SIMD is part of every AArch64 CPU that Linux runs on; read for the record.
    (void)(getauxval(AT_HWCAP) & HWCAP_ASIMD);
#endif
    return path::baseline;
#endif
}

[[gnu::cold, gnu::noinline]] inline path decide() noexcept {
    const path widest = of_this_cpu();
    const char* pinned = std::getenv("TAVO_CPU");
    if (!pinned) return widest;
    for (unsigned i = 0; i < sizeof path_names / sizeof path_names[0]; ++i) {
        if (std::strcmp(pinned, path_names[i]) == 0) {
            const auto p = static_cast<path>(i);
            return p < widest ? p : widest;
        }
    }
    return widest;
}

}  // namespace detail

// The path of this process, decided at the first call (the modules call it
// when they are imported, while the interpreter lock is held, so that no
// kernel reads the environment while Python code changes it).
inline path chosen() noexcept {
    static const path p = detail::decide();
    return p;
}

}  // namespace tavo::cpu
