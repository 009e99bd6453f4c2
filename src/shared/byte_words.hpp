// ASCII text eight or sixteen bytes at a time.
//
// `words`: plain 64-bit integers, byte i of the text in bits 8i..8i+7 and a
// per-byte flag in bit 7. `vec`: 16-byte vectors through the compiler's
// vector extensions (SSE2 on x86-64, Advanced SIMD on AArch64); a lane test
// gives 0xFF or 0x00 per byte, and the two halves of a vector are words.
// Last, the byte shuffles of the paths that have one (the case conversions'
// underscores, the number filter's kept bytes).
#pragma once

#include "shared/cpu_paths.hpp"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace tavo::words {

// Eight bytes at a time, byte i of the text in bits 8i..8i+7 of the word.
inline constexpr std::uint64_t ones = 0x0101010101010101u;
inline constexpr std::uint64_t high = 0x8080808080808080u;

// One ASCII byte.
inline bool is_upper(unsigned char c) noexcept { return static_cast<unsigned char>(c - 'A') < 26; }
inline bool is_lower(unsigned char c) noexcept { return static_cast<unsigned char>(c - 'a') < 26; }
inline bool is_digit(unsigned char c) noexcept { return static_cast<unsigned char>(c - '0') < 10; }

inline std::uint64_t load(const void* p) noexcept {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
    return x;
}

// The first `n` (< 8) bytes at `p`, the rest zero.
inline std::uint64_t load_partial(const void* p, std::size_t n) noexcept {
    unsigned char b[8] = {};
    std::memcpy(b, p, n);
    return load(b);
}

inline void store(void* p, std::uint64_t x) noexcept {
    if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
    std::memcpy(p, &x, 8);
}

// Four bytes, byte i in bits 8i..8i+7.
inline std::uint32_t load4(const void* p) noexcept {
    std::uint32_t x;
    std::memcpy(&x, p, 4);
    if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap32(x);
    return x;
}
inline void store4(void* p, std::uint32_t x) noexcept {
    if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap32(x);
    std::memcpy(p, &x, 4);
}

// For a word of ASCII bytes: the high bit of each byte that lies in [lo, hi].
template <unsigned char lo, unsigned char hi>
inline std::uint64_t in_range(std::uint64_t x) noexcept {
    static_assert(lo >= 1 && lo <= hi && hi < 0x80);
    const std::uint64_t at_least_lo = x + ones * (0x80 - lo);
    const std::uint64_t above_hi = x + ones * (0x7F - hi);
    return at_least_lo & ~above_hi & high;
}

// The eight bytes of the text s[0..n) from byte `i` on (i < n), the bytes
// from `n` on zero, read without touching a byte outside the text and with
// whole-word loads only: no byte-wise assembly, and no store to reload.
inline std::uint64_t load_within(const char* s, std::size_t i, std::size_t n) noexcept {
    const std::size_t k = n - i;
    if (k >= 8) return load(s + i);
    if (n >= 8) return load(s + n - 8) >> (8 * (8 - k));
    // A text of fewer than eight bytes (i is 0): two overlapping halves.
    if (k >= 4) return load4(s) | (std::uint64_t{load4(s + k - 4)} << (8 * (k - 4)));
    const auto b = [s](std::size_t j) { return std::uint64_t{static_cast<unsigned char>(s[j])} << (8 * j); };
    return b(0) | b(k / 2) | b(k - 1);
}

// The flags of a word (bit 7 of its bytes, nothing else) as bits 0..7: the
// multiplier moves bit 8i to bit 56 + i, and no two of its products meet.
inline std::uint32_t flag_bits(std::uint64_t flags) noexcept {
    return static_cast<std::uint32_t>(((flags >> 7) * 0x0102040810204080u) >> 56);
}

// Index of the byte that holds the lowest set bit of a nonzero mask.
inline unsigned first_byte(std::uint64_t mask) noexcept {
    return static_cast<unsigned>(std::countr_zero(mask)) >> 3;
}

}  // namespace tavo::words

namespace tavo::vec {

typedef unsigned char bytes16 __attribute__((vector_size(16)));
typedef std::uint64_t words2 __attribute__((vector_size(16)));

// Whether the vector code applies: lanes in memory order match the words.
inline constexpr bool available = std::endian::native == std::endian::little;

inline bytes16 load(const void* p) noexcept {
    bytes16 v;
    std::memcpy(&v, p, 16);
    return v;
}

inline void store(void* p, bytes16 v) noexcept { std::memcpy(p, &v, 16); }

// 0xFF in each byte that lies in [lo, hi].
template <unsigned char lo, unsigned char hi>
inline bytes16 in_range(bytes16 x) noexcept {
    return reinterpret_cast<bytes16>(static_cast<bytes16>(x - lo) <= static_cast<unsigned char>(hi - lo));
}

inline std::uint64_t low_half(bytes16 v) noexcept { return reinterpret_cast<words2>(v)[0]; }
inline std::uint64_t high_half(bytes16 v) noexcept { return reinterpret_cast<words2>(v)[1]; }

// The vector of two words, `low` first.
inline bytes16 of_words(std::uint64_t low, std::uint64_t high) noexcept {
    return reinterpret_cast<bytes16>(words2{low, high});
}

// The lanes of a lane test (0xFF or 0x00 each) as bits 0..15.
inline std::uint32_t lane_bits(bytes16 v) noexcept {
#if defined(__SSE2__)
    return static_cast<std::uint32_t>(_mm_movemask_epi8(reinterpret_cast<__m128i>(v)));
#else
    return words::flag_bits(low_half(v) & words::high) | (words::flag_bits(high_half(v) & words::high) << 8);
#endif
}

// --- byte shuffles -------------------------------------------------------------------
// The paths that move bytes by a shuffle whose lanes come from a table
// (pshufb on x86-64's ssse3, which avx2 CPUs run too; tbl on AArch64's
// baseline). x86-64's baseline (SSE2) has no byte shuffle.

// Whether path P moves bytes with the shuffle tables below.
template <cpu::path P>
inline constexpr bool shuffled = available &&
#if defined(__x86_64__)
                                 P == cpu::path::ssse3;
#else
                                 true;
#endif

// Eight bytes moved by a shuffle: entry m of a table is the lanes that
// take a vector's eight bytes where their flags `m` (bit i for byte i) put
// them, and `count` how many bytes come out.
struct alignas(16) shuffle_table {
    std::array<std::array<unsigned char, 16>, 256> lanes;
    std::array<unsigned char, 256> count;
};

// The eight bytes in lanes 0..7 that are not flagged, in order (the dropped
// ones: the underscores of underscore_to_camelcase, the separators of a number
// text); 0 to 8 bytes out (the lanes after them repeat lane 0).
inline constexpr shuffle_table compaction = [] {
    shuffle_table t{};
    for (unsigned m = 0; m < 256; ++m) {
        unsigned k = 0;
        for (unsigned i = 0; i < 8; ++i) {
            if (!((m >> i) & 1)) t.lanes[m][k++] = static_cast<unsigned char>(i);
        }
        t.count[m] = static_cast<unsigned char>(k);
    }
    return t;
}();

inline bytes16 lanes_of(const shuffle_table& t, unsigned m) noexcept { return load(t.lanes[m].data()); }

// Byte i of the result is byte lanes[i] of v (every lane below 16): pshufb on
// x86-64, tbl on AArch64. GCC makes either of its generic shuffle. clang has
// none for lanes known only at run time but each one's intrinsic, which would
// need every function from here up to a path's own to carry that path's
// target: there the instruction is written out, and it runs only on the paths
// that shuffle (shuffled<P>).
[[gnu::always_inline]] inline bytes16 shuffle_bytes(bytes16 v, bytes16 lanes) noexcept {
#if defined(__clang__) && defined(__x86_64__)
    __asm__("pshufb %1, %0" : "+x"(v) : "x"(lanes));
    return v;
#elif defined(__clang__) && defined(__aarch64__)
    return reinterpret_cast<bytes16>(vqtbl1q_u8(reinterpret_cast<uint8x16_t>(v), reinterpret_cast<uint8x16_t>(lanes)));
#else
    return __builtin_shuffle(v, lanes);
#endif
}

// Writes the bytes of `mapped` not flagged in `drops` (bit i for byte i) at
// `o`: eight bytes stored per eight in, so up to 8 bytes past the returned
// position.
[[gnu::always_inline]] inline char* compact16(char* o, bytes16 mapped, std::uint32_t drops) noexcept {
    const unsigned lo = drops & 0xFF, hi = (drops >> 8) & 0xFF;
    words::store(o, vec::low_half(shuffle_bytes(mapped, lanes_of(compaction, lo))));
    o += compaction.count[lo];
    words::store(o, vec::low_half(shuffle_bytes(mapped, lanes_of(compaction, hi) + 8)));
    return o + compaction.count[hi];
}

}  // namespace tavo::vec
