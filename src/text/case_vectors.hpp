// The vector steps of both case conversions of ASCII text, for the paths of
// shared/cpu_paths.hpp that shuffle bytes: the underscores of uncamel are
// placed by expansion, and those of underscore_to_camelcase dropped by
// compaction, a whole block at a time, with no branch on where they are.
//
// Two kinds of step:
// - shuffled (ssse3 on x86-64, which avx2 CPUs run too; the baseline on
//   AArch64): a block's flags are a bit mask, and each eight bytes of it are
//   moved by one byte shuffle (pshufb, tbl) whose lanes come from a table
//   indexed by their eight flags (the shuffle, the tables' form and the
//   compaction are shared/byte_words.hpp's, which the number filter uses too);
// - avx512: 32 bytes at a time, the byte expansion and compaction of VBMI2
//   (vpexpandb, vpcompressb) placing them under a 64-bit mask.
// The x86-64 baseline (SSE2 has no byte shuffle) keeps the word writers of
// short_ascii.hpp and convert_case.cpp.
//
// The avx2 path has no code of its own, as measured on an AVX-512 Xeon: these
// templates compiled for AVX2 were no faster over 1M short rows (column
// uncamel 15.6 against 15.5 ms), and slower over 1 KB per element (uncamel
// 422-432 against 295-314 ns), GCC making each byte constant inside the loop
// by a broadcast from a general register; short-row writers of its own, with
// the flags and mapping over 32 bytes at once, were within the noise (column
// uncamel 14.7 against 15.0 ms, underscore_to_camelcase 18.0 against 18.2).
//
// The templates here are always inlined: each is compiled for the target of
// the function it lands in, which is where a path gets its instructions.
#pragma once

#include "shared/byte_words.hpp"
#include "shared/cpu_paths.hpp"
#include "text/case_rules.hpp"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tavo::text::vectors {

using vec::bytes16;

// Whether path P is the avx512 one (x86-64 only).
template <cpu::path P>
inline constexpr bool expands_512 =
#if defined(__x86_64__)
    P == cpu::path::avx512;
#else
    false;
#endif

using vec::compact16;
using vec::compaction;
using vec::lanes_of;
using vec::shuffle_bytes;
using vec::shuffle_table;
using vec::shuffled;

// uncamel: the eight bytes in lanes 0..7, an underscore (lane 8) in front of
// each flagged one; 8 to 16 bytes out.
inline constexpr shuffle_table expansion = [] {
    shuffle_table t{};
    for (unsigned m = 0; m < 256; ++m) {
        unsigned k = 0;
        for (unsigned i = 0; i < 8; ++i) {
            if ((m >> i) & 1) t.lanes[m][k++] = 8;
            t.lanes[m][k++] = static_cast<unsigned char>(i);
        }
        t.count[m] = static_cast<unsigned char>(k);
        for (; k < 16; ++k) t.lanes[m][k] = 8;
    }
    return t;
}();

// The eight bytes of `v` from lane `at` (0 or 8) in lanes 0..7, and `fill` in lanes 8..15.
template <unsigned at>
[[gnu::always_inline]] inline bytes16 half_with(bytes16 v, bytes16 fill) noexcept {
    static_assert(at == 0 || at == 8);
    if constexpr (at == 0) {
        return __builtin_shufflevector(v, fill, 0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20, 21, 22, 23);
    } else {
        return __builtin_shufflevector(v, fill, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23);
    }
}

// Writes the sixteen lowered bytes of `lowered` at `o`, an underscore in
// front of each byte flagged in `inserts` (bit i for byte i): sixteen bytes
// stored per eight in, so up to 8 bytes past the returned position.
[[gnu::always_inline]] inline char* expand16(char* o, bytes16 lowered, std::uint32_t inserts) noexcept {
    const bytes16 unders = bytes16{} + '_';
    const unsigned lo = inserts & 0xFF, hi = (inserts >> 8) & 0xFF;
    vec::store(o, shuffle_bytes(half_with<0>(lowered, unders), lanes_of(expansion, lo)));
    o += expansion.count[lo];
    vec::store(o, shuffle_bytes(half_with<8>(lowered, unders), lanes_of(expansion, hi)));
    return o + expansion.count[hi];
}

// --- short identifiers, with room to spare --------------------------------------------
// s[0..n), 1 <= n <= 32, where s[0..32) may be read and o[0..length+8) written
// (short_ascii.hpp's padded writers: the same results).

// uncamel: lowered, and expanded eight bytes at a time, all four steps taken
// whatever n is (the flags from byte n on are clear, so what the steps past
// the text write lands after the result).
[[gnu::always_inline]] inline char* uncamel_short_shuffled(char* o, const char* s, std::size_t n,
                                                           std::uint64_t inserts) noexcept {
    const bytes16 x0 = vec::load(s), x1 = vec::load(s + 16);
    const bytes16 l0 = x0 | (vec::in_range<'A', 'Z'>(x0) & 0x20), l1 = x1 | (vec::in_range<'A', 'Z'>(x1) & 0x20);
    o = expand16(o, l0, static_cast<std::uint32_t>(inserts & 0xFFFF));
    // 32 bytes and the underscores written: the result and what the steps past it wrote
    return expand16(o, l1, static_cast<std::uint32_t>(inserts >> 16)) - (32 - n);
}

// underscore_to_camelcase: mapped (a letter after an underscore, with a byte
// kept before it, made a capital, every other one a small letter), then
// compacted eight bytes at a time; the bytes from n on are dropped too.
[[gnu::always_inline]] inline char* camelcase_short_shuffled(char* o, const char* s, std::size_t n,
                                                             std::uint64_t unders) noexcept {
    using vec::in_range;
    const std::uint64_t within = (std::uint64_t{1} << n) - 1;
    const std::uint64_t kept = ~unders & within;
    if (kept == 0) return o;
    const bytes16 x0 = vec::load(s), x1 = vec::load(s + 16);
    // the byte before each byte; nothing before the first
    const bytes16 p0 = __builtin_shufflevector(bytes16{}, x0, 0, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30);
    const bytes16 p1 = __builtin_shufflevector(x0, x1, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30);
    // the lanes after the first byte kept: something has been written before them
    const auto first = static_cast<unsigned char>(std::countr_zero(kept));
    const bytes16 lane0 = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const bytes16 w0 = reinterpret_cast<bytes16>(lane0 > first), w1 = reinterpret_cast<bytes16>(lane0 + 16 > first);
    const auto map = [](bytes16 x, bytes16 prev, bytes16 written) {
        const bytes16 upper = in_range<'A', 'Z'>(x);
        const bytes16 capital = camelcase_capital(in_range<'_', '_'>(prev), written) & (upper | in_range<'a', 'z'>(x));
        return (x | (upper & 0x20)) & ~(capital & 0x20);
    };
    const std::uint64_t drops = ~kept;
    o = compact16(o, map(x0, p0, w0), static_cast<std::uint32_t>(drops & 0xFFFF));
    return compact16(o, map(x1, p1, w1), static_cast<std::uint32_t>((drops >> 16) & 0xFFFF));
}

#if defined(__x86_64__)

// --- avx512 ------------------------------------------------------------------------------

[[gnu::target(TAVO_TARGET_AVX512)]] inline __m256i load_512(const char* p) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The flags of the 32 bytes of x in [lo, hi], bit i for byte i.
template <unsigned char lo, unsigned char hi>
[[gnu::target(TAVO_TARGET_AVX512)]] inline __mmask32 in_range_512(__m256i x) noexcept {
    return _mm256_cmplt_epu8_mask(_mm256_sub_epi8(x, _mm256_set1_epi8(static_cast<char>(lo))),
                                  _mm256_set1_epi8(static_cast<char>(hi - lo + 1)));
}

// Stores the 32 bytes of `lowered` at o, an underscore in front of each byte
// flagged in `inserts`: 64 bytes stored, so up to 32 past the returned position.
// The underscores' places in the output come from the flags spread over
// two bits a byte (the underscore's and the byte's), of which the byte's
// are all kept and an underscore's only where it is flagged.
[[gnu::target(TAVO_TARGET_AVX512)]] inline char* expand32_512(char* o, __m256i lowered, std::uint32_t inserts) noexcept {
    const std::uint64_t spread = _pdep_u64(inserts, 0x5555555555555555u);
    const std::uint64_t unders = _pext_u64(spread, spread | 0xAAAAAAAAAAAAAAAAu);
    const __m512i out = _mm512_mask_expand_epi8(_mm512_set1_epi8('_'), ~unders, _mm512_castsi256_si512(lowered));
    _mm512_storeu_si512(o, out);
    return o + 32 + std::popcount(inserts);
}

// Stores the bytes of `mapped` that are not flagged in `drops` at o: 32 bytes
// stored, so up to 32 past the returned position.
[[gnu::target(TAVO_TARGET_AVX512)]] inline char* compact32_512(char* o, __m256i mapped, std::uint32_t drops) noexcept {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), _mm256_maskz_compress_epi8(~drops, mapped));
    return o + std::popcount(~drops);
}

[[gnu::target(TAVO_TARGET_AVX512)]] inline __m256i lowered_512(__m256i x, __mmask32 upper) noexcept {
    return _mm256_mask_add_epi8(x, upper, x, _mm256_set1_epi8(0x20));
}

// A letter of `letters` flagged in `capital` made a capital, every other
// one a small letter.
[[gnu::target(TAVO_TARGET_AVX512)]] inline __m256i camel_mapped_512(__m256i x, __mmask32 upper, __mmask32 letters,
                                                                    __mmask32 capital) noexcept {
    const __m256i lowered = lowered_512(x, upper);
    return _mm256_mask_sub_epi8(lowered, letters & capital, lowered, _mm256_set1_epi8(0x20));
}

[[gnu::target(TAVO_TARGET_AVX512)]] inline char* uncamel_short_512(char* o, const char* s, std::size_t n) noexcept {
    const __m256i x = load_512(s);
    const auto within = static_cast<std::uint32_t>(_bzhi_u64(0xFFFFFFFFu, static_cast<unsigned>(n)));
    const std::uint64_t upper = in_range_512<'A', 'Z'>(x) & within;
    const std::uint64_t lower = in_range_512<'a', 'z'>(x) & within;
    const std::uint64_t digit = in_range_512<'0', '9'>(x) & within;
    const auto inserts = static_cast<std::uint32_t>(uncamel_starts_word(upper, (lower | digit) << 1, upper << 1, lower >> 1));
    // the 64 bytes stored reach 32 past the text's 32 at most: within the room
    return expand32_512(o, lowered_512(x, static_cast<__mmask32>(upper)), inserts) - (32 - n);
}

[[gnu::target(TAVO_TARGET_AVX512)]] inline char* camelcase_short_512(char* o, const char* s, std::size_t n) noexcept {
    const __m256i x = load_512(s);
    const auto within = static_cast<std::uint32_t>(_bzhi_u64(0xFFFFFFFFu, static_cast<unsigned>(n)));
    const std::uint32_t unders = in_range_512<'_', '_'>(x) & within;
    const std::uint32_t kept = ~unders & within;
    const std::uint32_t upper = in_range_512<'A', 'Z'>(x);
    const std::uint32_t letters = upper | in_range_512<'a', 'z'>(x);
    // after the first byte kept, something has been written
    const std::uint32_t written = ~((kept & (0u - kept)) * 2 - 1);
    const std::uint32_t capital = camelcase_capital(unders << 1, written);
    return compact32_512(o, camel_mapped_512(x, upper, letters, capital), ~kept);
}

#endif

}  // namespace tavo::text::vectors
