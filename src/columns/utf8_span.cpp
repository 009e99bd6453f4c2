// Whole spans of UTF-8 checked sixteen bytes at a time (thirty-two on AVX2
// and wider), by the byte shuffles of the paths that have them
// (shared/cpu_paths.hpp).
//
// Each byte is judged with the one before it: three table lookups, by the
// high and low four bits of the byte before and the high four of the byte
// itself, give the errors that pair can show, one bit each, and their AND is
// what the pair does show. The one rule two bytes cannot see, that the third
// and fourth bytes of a long sequence are continuations, is the top bit: set
// by the tables for two continuations in a row, and by the bytes two and
// three back for a place that must be one; where the two disagree, the text
// is wrong. The errors of all blocks are gathered, and read once at the end.
#include "columns/string_rows.hpp"

#include "shared/byte_words.hpp"
#include "shared/cpu_paths.hpp"

#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tavo::columns {
namespace {

using vec::bytes16;

// The errors, one bit each.
enum : unsigned char {
    too_short = 1 << 0,       // a lead byte not followed by a continuation
    too_long = 1 << 1,        // a continuation after an ASCII byte
    overlong_3 = 1 << 2,      // E0 80..9F
    too_large = 1 << 3,       // F4 90..BF, F5..FF 90..BF
    surrogate = 1 << 4,       // ED A0..BF
    overlong_2 = 1 << 5,      // C0, C1
    too_large_1000 = 1 << 6,  // F5..FF 80..8F
    overlong_4 = 1 << 6,      // F0 80..8F
    two_conts = 1 << 7,       // a continuation after a continuation
};

// The errors a byte before can start, by its high four bits.
constexpr bytes16 first_high = {
    too_long, too_long, too_long, too_long, too_long, too_long, too_long, too_long,  // ASCII
    two_conts, two_conts, two_conts, two_conts,                                      // continuations
    too_short | overlong_2,                                                          // C0..CF
    too_short,                                                                       // D0..DF
    too_short | overlong_3 | surrogate,                                              // E0..EF
    too_short | too_large | too_large_1000 | overlong_4,                             // F0..FF
};

// ... by its low four bits.
constexpr unsigned char carry = too_short | too_long | two_conts;
constexpr bytes16 first_low = {
    carry | overlong_3 | overlong_2 | overlong_4,
    carry | overlong_2,
    carry,
    carry,
    carry | too_large,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000 | surrogate,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
};

// The errors the byte itself can finish, by its high four bits.
constexpr bytes16 second_high = {
    too_short, too_short, too_short, too_short, too_short, too_short, too_short, too_short,
    too_long | overlong_2 | two_conts | overlong_3 | too_large_1000 | overlong_4,  // 80..8F
    too_long | overlong_2 | two_conts | overlong_3 | too_large,                    // 90..9F
    too_long | overlong_2 | two_conts | surrogate | too_large,                     // A0..AF
    too_long | overlong_2 | two_conts | surrogate | too_large,                     // B0..BF
    too_short, too_short, too_short, too_short,
};

// The first byte of a sequence the last three bytes of a block leave unfinished.
constexpr bytes16 unfinished_from = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0, 0xE0, 0xC0};

// The errors of the sixteen bytes of x, `before` the block in front of them
// (zeros for none): zero in every byte when they are right.
[[gnu::always_inline]] inline bytes16 block_errors(bytes16 before, bytes16 x) noexcept {
    using vec::shuffle_bytes;
    const bytes16 prev1 = __builtin_shufflevector(before, x, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30);
    const bytes16 prev2 = __builtin_shufflevector(before, x, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29);
    const bytes16 prev3 = __builtin_shufflevector(before, x, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28);
    const bytes16 pairs = shuffle_bytes(first_high, prev1 >> 4) & shuffle_bytes(first_low, prev1 & 0x0F) &
                          shuffle_bytes(second_high, x >> 4);
    // where a third or fourth byte must stand
    const bytes16 must = reinterpret_cast<bytes16>((prev2 >= 0xE0) | (prev3 >= 0xF0)) & 0x80;
    return pairs ^ must;
}

// From byte i on, after `before` (the sixteen bytes in front of byte i, or
// zeros) and the `errors` gathered up to there.
[[gnu::always_inline]] inline bool span_valid_on(const char* p, std::size_t n, std::size_t i, bytes16 before,
                                                 bytes16 errors) noexcept {
    for (; i + 16 <= n; i += 16) {
        const bytes16 x = vec::load(p + i);
        if (((vec::low_half(x) | vec::high_half(x)) & words::high) == 0) {
            // ASCII: wrong only after a sequence the block before left unfinished
            errors |= reinterpret_cast<bytes16>(before >= unfinished_from);
        } else {
            errors |= block_errors(before, x);
        }
        before = x;
    }
    // the rest with zeros after it, which also end the last sequence
    bytes16 rest{};
    std::memcpy(&rest, p + i, n - i);
    errors |= block_errors(before, rest);
    errors |= block_errors(rest, bytes16{});
    return (vec::low_half(errors) | vec::high_half(errors)) == 0;
}

using span_check = bool (*)(const char*, std::size_t);

#if defined(__x86_64__)
[[gnu::target(TAVO_TARGET_SSSE3)]] bool span_valid_ssse3(const char* p, std::size_t n) noexcept {
    return span_valid_on(p, n, 0, bytes16{}, bytes16{});
}

// AVX2: thirty-two bytes at a time, the same tables in both halves (a 256-bit
// byte shuffle looks up within each half), and the bytes before each byte
// taken across the halves; the rest sixteen at a time.
[[gnu::target(TAVO_TARGET_AVX2)]] bool span_valid_avx2(const char* p, std::size_t n) noexcept {
    const __m256i by_first_high = _mm256_broadcastsi128_si256(reinterpret_cast<__m128i>(first_high));
    const __m256i by_first_low = _mm256_broadcastsi128_si256(reinterpret_cast<__m128i>(first_low));
    const __m256i by_second_high = _mm256_broadcastsi128_si256(reinterpret_cast<__m128i>(second_high));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    // the first byte of a sequence the last three bytes leave unfinished, as in unfinished_from
    const __m256i unfinished = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -16, -32, -64);
    __m256i before = _mm256_setzero_si256(), errors = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        if (_mm256_movemask_epi8(x) == 0) {
            errors = _mm256_or_si256(errors, _mm256_cmpeq_epi8(_mm256_max_epu8(before, unfinished), before));
        } else {
            const __m256i across = _mm256_permute2x128_si256(before, x, 0x21);  // before's high half, x's low
            const __m256i prev1 = _mm256_alignr_epi8(x, across, 15);
            const __m256i prev2 = _mm256_alignr_epi8(x, across, 14);
            const __m256i prev3 = _mm256_alignr_epi8(x, across, 13);
            const __m256i pairs = _mm256_and_si256(
                _mm256_and_si256(
                    _mm256_shuffle_epi8(by_first_high, _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble)),
                    _mm256_shuffle_epi8(by_first_low, _mm256_and_si256(prev1, nibble))),
                _mm256_shuffle_epi8(by_second_high, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble)));
            // where a third or fourth byte must stand: E0.. two back, F0.. three back (their top bit after
            // a saturating subtraction that leaves 80.. for them only)
            const __m256i must = _mm256_and_si256(
                _mm256_or_si256(_mm256_subs_epu8(prev2, _mm256_set1_epi8(0x60)),
                                _mm256_subs_epu8(prev3, _mm256_set1_epi8(0x70))),
                _mm256_set1_epi8(static_cast<char>(0x80)));
            errors = _mm256_or_si256(errors, _mm256_xor_si256(pairs, must));
        }
        before = x;
    }
    const __m128i gathered = _mm_or_si128(_mm256_castsi256_si128(errors), _mm256_extracti128_si256(errors, 1));
    const __m128i last = _mm256_extracti128_si256(before, 1);
    // (the rest may be read by code of the SSE encoding: the upper halves cleared first)
    _mm256_zeroupper();
    return span_valid_on(p, n, i, reinterpret_cast<bytes16>(last), reinterpret_cast<bytes16>(gathered));
}
#else
bool span_valid_shuffled(const char* p, std::size_t n) noexcept {
    return span_valid_on(p, n, 0, bytes16{}, bytes16{});
}
#endif

span_check check_of_this_cpu() noexcept {
#if defined(__x86_64__)
    // x86-64's baseline has no byte shuffle: its rows are checked one by one
    const cpu::path path = cpu::chosen();
    return path == cpu::path::baseline ? nullptr : path == cpu::path::ssse3 ? span_valid_ssse3 : span_valid_avx2;
#else
    return vec::shuffled<cpu::path::baseline> ? span_valid_shuffled : nullptr;
#endif
}

}  // namespace

span_utf8 check_span_utf8(const char* p, std::size_t n) noexcept {
    static const span_check check = check_of_this_cpu();
    if (!check) return span_utf8::unchecked;
    return check(p, n) ? span_utf8::valid : span_utf8::invalid;
}

}  // namespace tavo::columns
