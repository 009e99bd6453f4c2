// The inline part of the number reading (number.hpp): the filter of a text
// that fits the scratch buffer and the strict grammar, both short and run on
// every call, so that each caller's reading is one piece of code.
#pragma once

#include "numparse/number.hpp"
#include "shared/byte_words.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string_view>
#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace tavo::numparse {
namespace detail {

// 1 for the characters a number text keeps: ASCII digits, "(", ")", "-" and
// the decimal mark M; the other mark is dropped like any separator. Every
// byte of a multi-byte UTF-8 sequence is 0x80 or above, so a byte-wise filter
// drops exactly the non-ASCII characters.
template <decimal_mark M>
inline constexpr std::array<unsigned char, 256> number_chars = [] {
    std::array<unsigned char, 256> t{};
    for (unsigned char c = '0'; c <= '9'; ++c) t[c] = 1;
    for (char c : {'(', ')', '-', static_cast<char>(M)}) t[static_cast<unsigned char>(c)] = 1;
    return t;
}();
static_assert(number_chars<decimal_mark::point>['.'] == 1 && number_chars<decimal_mark::point>[','] == 0);
static_assert(number_chars<decimal_mark::comma>[','] == 1 && number_chars<decimal_mark::comma>['.'] == 0);

// Each byte as the filter writes it with a decimal comma: the comma as ".",
// every other byte as it is (a table: one load, where a comparison would take
// three instructions per byte).
inline constexpr std::array<char, 256> comma_as_point = [] {
    std::array<char, 256> t{};
    for (int c = 0; c < 256; ++c) t[static_cast<std::size_t>(c)] = static_cast<char>(c);
    t[','] = '.';
    return t;
}();

// A kept byte as the filter writes it: the decimal mark as ".", the others as
// they are. The same for every byte, kept or not (the branch-free filters
// write them all), and nothing at all for the point.
template <decimal_mark M>
[[gnu::always_inline]] inline char as_kept(char c) noexcept {
    if constexpr (M == decimal_mark::point) {
        return c;
    } else {
        return comma_as_point[static_cast<unsigned char>(c)];
    }
}

// The number characters of the 16 bytes x, bit i for byte i: "(" and ")",
// "-", the decimal mark ("," and "-" are neighbours, as are "-" and "."),
// the digits.
template <decimal_mark M>
[[gnu::always_inline]] inline std::uint32_t number_lanes(vec::bytes16 x) noexcept {
    static_assert(')' == '(' + 1 && '-' == ',' + 1 && '.' == '-' + 1);
    const vec::bytes16 sign_and_mark =
        M == decimal_mark::point ? vec::in_range<'-', '.'>(x) : vec::in_range<',', '-'>(x);
    return vec::lane_bits(vec::in_range<'(', ')'>(x) | sign_and_mark | vec::in_range<'0', '9'>(x));
}

// The 16 bytes x as the filter writes them: a decimal comma becomes ".".
template <decimal_mark M>
[[gnu::always_inline]] inline vec::bytes16 as_kept(vec::bytes16 x) noexcept {
    if constexpr (M == decimal_mark::point) {
        return x;
    } else {
        static_assert('.' - ',' == 2);
        return x + (reinterpret_cast<vec::bytes16>(x == static_cast<unsigned char>(',')) & 2);
    }
}

// Integers with at most this many significant digits are read in 64 bits;
// every 19-digit number still fits an unsigned 64-bit accumulator.
inline constexpr std::size_t max_native_digits = 19;
inline constexpr std::uint64_t int64_magnitude_limit = std::uint64_t{1} << 63;  // |INT64_MIN|

// 10^0 .. 10^22: every one is a double exactly, as is every mantissa up to
// 2^53, so one division rounds a short decimal correctly.
inline constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr std::size_t max_exact_power = 22;
inline constexpr std::uint64_t max_exact_mantissa = std::uint64_t{1} << 53;

// 0..9 for an ASCII digit, 10 or more for anything else.
inline constexpr unsigned ascii_digit_value(char c) noexcept {
    return static_cast<unsigned>(static_cast<unsigned char>(c)) - unsigned{'0'};
}

// The strict stage: `text` holds number characters only and is never empty
// (the decimal mark, whichever it is, written as "." by the filter). A
// text holding a "." is read by the float grammar, any other by the integer
// grammar; both refuse the same texts otherwise, so the point is looked for
// during the one scan that checks the grammar.
[[gnu::always_inline]] inline number read_number_text(std::string_view text) {
    assert(!text.empty());
    number out;
    bool negative = false;
    if (text.front() == '(' && text.back() == ')') {
        // Accounting negative: "(12)" reads as "-12", "(-12)" as "--12",
        // which the scan below refuses like any other inner sign.
        text = std::string_view(text.data() + 1, text.size() - 2);  // front and back differ: size >= 2
        if (text.empty()) return out;
        negative = true;
    } else if (text.front() == '-') {
        text.remove_prefix(1);
        negative = true;
    }

    // What is left must be digits with at most one point. While checking
    // that, the first significant digits are gathered into `mantissa`; it
    // wraps beyond 19 of them, and is then no longer used.
    const char* const first = text.data();
    const char* const end = first + text.size();
    const char* p = first;
    while (p != end && *p == '0') ++p;
    const char* const whole_significant = p;
    std::uint64_t mantissa = 0;
    for (unsigned d; p != end && (d = ascii_digit_value(*p)) < 10; ++p) mantissa = mantissa * 10 + d;
    const std::size_t whole_digits = static_cast<std::size_t>(p - first);
    std::size_t significant = static_cast<std::size_t>(p - whole_significant);

    if (p == end) {
        // No point: the integer conversion.
        if (whole_digits == 0) return out;
        if (significant <= max_native_digits) {
            const std::uint64_t limit = negative ? int64_magnitude_limit : int64_magnitude_limit - 1;
            if (mantissa <= limit) {
                out.what = number::kind::int64;
                // Modular conversion: 0 - 2^63 lands exactly on INT64_MIN.
                out.integer = static_cast<std::int64_t>(negative ? std::uint64_t{0} - mantissa : mantissa);
                return out;
            }
        }
        out.what = number::kind::big_int;
        out.negative = negative;
        out.digits = std::string_view(whole_significant, significant);
        return out;
    }

    // A point: the float conversion.
    if (*p != '.') return out;  // a sign or a parenthesis inside
    const char* const fraction = ++p;
    if (significant == 0) {
        while (p != end && *p == '0') ++p;
    }
    const char* const fraction_significant = p;
    for (unsigned d; p != end && (d = ascii_digit_value(*p)) < 10; ++p) mantissa = mantissa * 10 + d;
    if (p != end) return out;  // a second point, a sign or a parenthesis
    const std::size_t fraction_digits = static_cast<std::size_t>(end - fraction);
    if (whole_digits + fraction_digits == 0) return out;  // "." alone
    significant += static_cast<std::size_t>(end - fraction_significant);

    out.what = number::kind::real;
    if (significant <= max_native_digits && mantissa <= max_exact_mantissa &&
        fraction_digits <= max_exact_power) {
        // Both operands are exact doubles, so the one rounding of the
        // division is the correct rounding of the decimal value.
        const double v = static_cast<double>(mantissa) / exact_powers_of_ten[fraction_digits];
        out.real = negative ? -v : v;
    } else {
        out.real = to_double(text, negative);
    }
    return out;
}

// The number characters of the n <= 16 bytes at p, 16 of which may be read,
// into out[0..16): each of the 16 bytes is written where the next kept one
// goes, and only the number characters of the row move it on.
template <decimal_mark M>
[[gnu::always_inline]] inline std::size_t filter_sixteen(const char* p, std::size_t n, char* out) noexcept {
    std::size_t kept = 0;
#pragma GCC unroll 16
    for (std::size_t i = 0; i < 16; ++i) {
        out[kept] = as_kept<M>(p[i]);  // kept <= i
        kept += number_chars<M>[static_cast<unsigned char>(p[i])] & static_cast<unsigned char>(i < n);
    }
    return kept;
}

// The shuffles that place the digits of a row's two halves each at the top
// of its eight lanes: entry m puts the bytes of eight flagged in m (bit i for
// byte i) there in order, lanes 0..7 taking them from bytes 0..7 and lanes
// 8..15 from bytes 8..15, and the lanes before them read as zero (0x80: zero
// under pshufb, and past the vector under tbl); `count` is how many they are.
inline constexpr vec::shuffle_table digits_at_top = [] {
    vec::shuffle_table t{};
    for (unsigned m = 0; m < 256; ++m) {
        const auto count = static_cast<unsigned>(std::popcount(m));
        unsigned k = 8 - count;
        t.lanes[m].fill(0x80);
        for (unsigned i = 0; i < 8; ++i) {
            if ((m >> i) & 1) {
                t.lanes[m][k] = static_cast<unsigned char>(i);
                t.lanes[m][k + 8] = static_cast<unsigned char>(i + 8);
                ++k;
            }
        }
        t.count[m] = static_cast<unsigned char>(count);
    }
    return t;
}();
static_assert(digits_at_top.lanes[0b101][5] == 0x80 && digits_at_top.lanes[0b101][6] == 0 &&
              digits_at_top.lanes[0b101][7] == 2 && digits_at_top.lanes[0b101][15] == 10 &&
              digits_at_top.count[0b101] == 2);

// 10^0 .. 10^8, by which the value of a row's first eight bytes' digits is
// moved up past those of its last eight.
inline constexpr std::uint32_t powers_of_ten_u32[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// The value of the digits of the 16 bytes at p that `digits` (bit i for
// byte i, at most 16) marks, on the paths that shuffle bytes: each half's
// digits placed at the top of its eight lanes (digits_at_top) with zeros
// before them, combined in pairs, fours and eights by multiply-adds into the
// values of the two halves, then the first moved up by the second's digits.
// Exact: every step's sums are below 10^8, and the result below 10^16.
// Placing each half apart takes one table load per half; one vector of all
// sixteen at the top would need the first half's digits moved by the
// second's count, a shift of the lanes that SSSE3 has only for constants.
//
// x86-64: SSSE3 (pshufb, pmaddubsw) and SSE2 (pmaddwd; the pack to 16 bits
// is packssdw, as SSE4.1's packusdw is not there). The avx2 path runs this
// code too: built for AVX2 (VEX encodings, popcnt) the column parse of 1M
// short rows was no faster (11.15 against 11.25 ms, 7.9 against 7.7 ms with
// a decimal comma, on an AVX-512 Xeon). AArch64: tbl, and the multiply-adds
// as products and pairwise widening adds.
#if defined(__x86_64__)
[[gnu::target(TAVO_TARGET_SSSE3)]] inline std::uint64_t digits_value_shuffled(const char* p,
                                                                             std::uint32_t digits) noexcept {
    const unsigned lo = digits & 0xFF, hi = digits >> 8;
    const __m128i lanes = _mm_unpacklo_epi64(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(digits_at_top.lanes[lo].data())),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(digits_at_top.lanes[hi].data() + 8)));
    const __m128i values = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi8('0'));
    const __m128i placed = _mm_shuffle_epi8(values, lanes);
    const __m128i twos =
        _mm_maddubs_epi16(placed, _mm_setr_epi8(10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1));
    const __m128i fours = _mm_madd_epi16(twos, _mm_setr_epi16(100, 1, 100, 1, 100, 1, 100, 1));
    // each of the fours below 10^4: packed to 16 bits with signed saturation, which never applies
    const __m128i eights = _mm_madd_epi16(_mm_packs_epi32(fours, fours),
                                          _mm_setr_epi16(10000, 1, 10000, 1, 10000, 1, 10000, 1));
    const auto both = static_cast<std::uint64_t>(_mm_cvtsi128_si64(eights));
    return (both & 0xFFFFFFFFu) * powers_of_ten_u32[digits_at_top.count[hi]] + (both >> 32);
}
#elif defined(__aarch64__)
inline std::uint64_t digits_value_shuffled(const char* p, std::uint32_t digits) noexcept {
    const unsigned lo = digits & 0xFF, hi = digits >> 8;
    const uint8x16_t lanes = vcombine_u8(vld1_u8(digits_at_top.lanes[lo].data()),
                                         vld1_u8(digits_at_top.lanes[hi].data() + 8));
    const uint8x16_t values = vsubq_u8(vld1q_u8(reinterpret_cast<const std::uint8_t*>(p)), vdupq_n_u8('0'));
    const uint8x16_t placed = vqtbl1q_u8(values, lanes);
    static constexpr std::uint8_t tens[16] = {10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1};
    static constexpr std::uint16_t hundreds[8] = {100, 1, 100, 1, 100, 1, 100, 1};
    static constexpr std::uint32_t ten_thousands[4] = {10000, 1, 10000, 1};
    const uint16x8_t twos = vpaddlq_u8(vmulq_u8(placed, vld1q_u8(tens)));
    const uint32x4_t fours = vpaddlq_u16(vmulq_u16(twos, vld1q_u16(hundreds)));
    const uint64x2_t eights = vpaddlq_u32(vmulq_u32(fours, vld1q_u32(ten_thousands)));
    return vgetq_lane_u64(eights, 0) * powers_of_ten_u32[digits_at_top.count[hi]] + vgetq_lane_u64(eights, 1);
}
#endif

#if defined(__x86_64__)
// The value of the digits of the 16 bytes at p that `digits` (bit i for
// byte i, at most 16) marks: compacted to the top of a vector with zeros
// before them, then combined in pairs, fours and eights by multiply-adds.
// Exact: every step's sums are below 10^8.
[[gnu::target(TAVO_TARGET_AVX512)]] inline std::uint64_t digits_value_avx512(
    const char* p, std::uint32_t digits) noexcept {
    const __m128i values = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi8('0'));
    const auto count = static_cast<unsigned>(std::popcount(digits));
    const __m128i low = _mm_maskz_compress_epi8(static_cast<__mmask16>(digits), values);
    const __m128i high = _mm_maskz_expand_epi8(static_cast<__mmask16>(0xFFFFu << (16 - count)), low);
    const __m128i twos = _mm_maddubs_epi16(high, _mm_setr_epi8(10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1));
    const __m128i fours = _mm_madd_epi16(twos, _mm_setr_epi16(100, 1, 100, 1, 100, 1, 100, 1));
    const __m128i eights = _mm_madd_epi16(_mm_packus_epi32(fours, fours),
                                          _mm_setr_epi16(10000, 1, 10000, 1, 10000, 1, 10000, 1));
    const auto both = static_cast<std::uint64_t>(_mm_cvtsi128_si64(eights));
    return (both & 0xFFFFFFFFu) * 100000000u + (both >> 32);
}
#endif

#if defined(__x86_64__)
// The number characters of the n bytes at p written at o as the filter writes
// them, 32 bytes at a time, each block's kept bytes compacted (vpcompressb);
// the last block's load is masked to the row, so nothing past it is read.
// 32 bytes are stored per block: up to 32 past the returned position.
template <decimal_mark M>
[[gnu::target(TAVO_TARGET_AVX512)]] inline char* filter_kept_avx512(const char* p, std::size_t n, char* o) noexcept {
    constexpr char sign_or_mark = M == decimal_mark::point ? '-' : ',';  // the two neighbours from it on
    for (std::size_t i = 0; i < n; i += 32) {
        const auto left = static_cast<unsigned>(std::min<std::size_t>(n - i, 32));
        const auto within = static_cast<__mmask32>(_bzhi_u32(0xFFFFFFFFu, left));
        const __m256i x = _mm256_maskz_loadu_epi8(within, p + i);
        const __mmask32 kept =
            (_mm256_cmplt_epu8_mask(_mm256_sub_epi8(x, _mm256_set1_epi8('0')), _mm256_set1_epi8(10)) |
             _mm256_cmplt_epu8_mask(_mm256_sub_epi8(x, _mm256_set1_epi8('(')), _mm256_set1_epi8(2)) |
             _mm256_cmplt_epu8_mask(_mm256_sub_epi8(x, _mm256_set1_epi8(sign_or_mark)), _mm256_set1_epi8(2))) &
            within;
        __m256i written = x;
        if constexpr (M == decimal_mark::comma) {
            written = _mm256_mask_add_epi8(x, _mm256_cmpeq_epi8_mask(x, _mm256_set1_epi8(',')), x, _mm256_set1_epi8(2));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), _mm256_maskz_compress_epi8(kept, written));
        o += std::popcount(kept);
    }
    return o;
}
#endif

// A row of at most 16 bytes, 16 of which may be read, read from the masks of
// its characters' kinds without being filtered first, in the shapes most rows
// have: digits among separators, at most one decimal mark, and a leading "-"
// or enclosing parentheses. Any other shape (a sign inside, two marks) gives
// false with `out` untouched: the filter and the strict reading take it, and
// the two readings agree wherever both apply.
template <decimal_mark M, cpu::path P>
[[gnu::always_inline]] inline bool read_sixteen(const char* p, std::size_t n, number& out) noexcept {
    if constexpr (!vec::available) {
        return false;
    } else {
        using namespace vec;
        constexpr auto mark_char = static_cast<unsigned char>(M);
        const bytes16 x = load(p);
        const std::uint32_t row = (std::uint32_t{1} << n) - 1;  // n <= 16
        const std::uint32_t digits = lane_bits(in_range<'0', '9'>(x)) & row;
        const std::uint32_t mark = lane_bits(in_range<mark_char, mark_char>(x)) & row;
        const std::uint32_t signs = lane_bits(in_range<'(', ')'>(x) | in_range<'-', '-'>(x)) & row;
        if (mark & (mark - 1)) return false;
        bool negative = false;
        if (signs != 0) {
            const std::uint32_t kept = digits | mark | signs;
            const std::uint32_t first = kept & (0u - kept);
            const std::uint32_t last = std::uint32_t{1} << (31 - std::countl_zero(kept));
            const auto at = [p](std::uint32_t bit) { return p[std::countr_zero(bit)]; };
            if (signs == first && at(first) == '-') {
                negative = true;
            } else if (signs == (first | last) && at(first) == '(' && at(last) == ')') {
                negative = true;
            } else {
                return false;
            }
        }
        if (digits == 0) {  // "", ".", "-", "()": no digit to read
            out = number{};
            return true;
        }
        // The digits after the mark are counted on the way (x86-64's baseline
        // has no popcount instruction: std::popcount is a call there).
        std::uint64_t mantissa = 0;
        std::size_t fraction = 0;
#if defined(__x86_64__)
        if constexpr (P == cpu::path::avx512) {
            mantissa = digits_value_avx512(p, digits);
            fraction = static_cast<std::size_t>(std::popcount(digits & ~((mark << 1) - 1)));
        } else
#endif
#if defined(__x86_64__) || defined(__aarch64__)
        if constexpr (vec::shuffled<P>) {
            mantissa = digits_value_shuffled(p, digits);
            const std::uint32_t after = digits & ~((mark << 1) - 1);
            fraction = std::size_t{digits_at_top.count[after & 0xFF]} + digits_at_top.count[after >> 8];
        } else
#endif
        {
            for (std::uint32_t d = digits; d != 0; d &= d - 1) {
                mantissa = mantissa * 10 + ascii_digit_value(p[std::countr_zero(d)]);
                fraction += (d & (0u - d)) > mark;
            }
        }
        out = number{};
        if (mark == 0) {  // at most 16 digits: always an int64
            out.what = number::kind::int64;
            out.integer = static_cast<std::int64_t>(negative ? std::uint64_t{0} - mantissa : mantissa);
            return true;
        }
        // With a mark there are at most 15 digits: the mantissa is below
        // 10^15 < 2^53 and the power of ten at most 10^15, both exact doubles,
        // so the one rounding of the division is the correct one.
        const double v = static_cast<double>(mantissa) / exact_powers_of_ten[fraction];
        out.what = number::kind::real;
        out.real = negative ? -v : v;
        return true;
    }
}

}  // namespace detail

// The buffer moves to a larger heap block (once, sized for the rest of the
// input) only when the kept characters outgrow it, so a long text with a short
// number in it allocates nothing.
template <decimal_mark M>
[[gnu::always_inline]] inline std::string_view number_scratch::filter(std::string_view in) {
    if (in.size() > cap_) return filter_long<M>(in);
    // Texts that fit, the common case: a branch per byte measured faster here
    // than the branch-free loop of filter_long, whose overlapping stores the
    // reading that follows has to wait for.
    char* const out = buf_;
    std::size_t n = 0;
    for (char c : in) {
        if (detail::number_chars<M>[static_cast<unsigned char>(c)]) out[n++] = detail::as_kept<M>(c);
    }
    return {out, n};
}

template <decimal_mark M>
[[gnu::always_inline]] inline std::string_view number_scratch::filter_branch_free(std::string_view in) {
    if (in.size() > cap_) return filter_long<M>(in);
    char* const out = buf_;
    std::size_t n = 0;
#pragma GCC unroll 8
    for (char c : in) {
        out[n] = detail::as_kept<M>(c);
        n += detail::number_chars<M>[static_cast<unsigned char>(c)];
    }
    return {out, n};
}

template <decimal_mark M, cpu::path P>
[[gnu::always_inline]] inline std::string_view number_scratch::filter_vector(std::string_view in) noexcept {
    assert(in.size() > 16 && in.size() <= vector_text && cap_ >= small_text);
    const char* const p = in.data();
    const std::size_t n = in.size();
    char* o = buf_;
#if defined(__x86_64__)
    if constexpr (P == cpu::path::avx512) {
        o = detail::filter_kept_avx512<M>(p, n, o);
    } else
#endif
    {
        static_assert(vec::shuffled<P>);
        std::size_t i = 0;
        for (; i + 16 <= n; i += 16) {
            const vec::bytes16 x = vec::load(p + i);
            o = vec::compact16(o, detail::as_kept<M>(x), ~detail::number_lanes<M>(x));
        }
        if (i != n) {
            // the last 16 bytes, whose first 16 - (n - i) the blocks above
            // filtered: dropped here (`done`)
            const vec::bytes16 x = vec::load(p + n - 16);
            const std::uint32_t done = (std::uint32_t{1} << (16 - (n - i))) - 1;
            o = vec::compact16(o, detail::as_kept<M>(x), ~detail::number_lanes<M>(x) | done);
        }
    }
    return {buf_, static_cast<std::size_t>(o - buf_)};
}

template <decimal_mark M>
inline number parse(std::string_view in, number_scratch& scratch) {
    const std::string_view text = scratch.filter<M>(in);
    if (text.empty()) return number{};
    return detail::read_number_text(text);
}

template <decimal_mark M>
inline number parse_row(std::string_view in, number_scratch& scratch) {
    const std::string_view text = scratch.filter_branch_free<M>(in);
    if (text.empty()) return number{};
    return detail::read_number_text(text);
}

template <decimal_mark M, cpu::path P>
[[gnu::always_inline]] inline number parse_row(std::string_view in, const char* readable_end, number_scratch& scratch) {
    if (in.size() <= 16 && readable_end && readable_end - in.data() >= 16) {
        number out;
        if (detail::read_sixteen<M, P>(in.data(), in.size(), out)) return out;
        char kept[16];
        const std::size_t n = detail::filter_sixteen<M>(in.data(), in.size(), kept);
        if (n == 0) return number{};
        return detail::read_number_text(std::string_view(kept, n));
    }
    if constexpr (vec::shuffled<P> || P == cpu::path::avx512) {
        if (in.size() > 16 && in.size() <= number_scratch::vector_text) {
            const std::string_view text = scratch.filter_vector<M, P>(in);
            if (text.empty()) return number{};
            return detail::read_number_text(text);
        }
    }
    return parse_row<M>(in, scratch);
}

}  // namespace tavo::numparse
