// Identifiers of up to 32 ASCII bytes, the common case of both case
// conversions: the flags of the bytes are gathered into bit masks first (bit
// i for byte i), which give the length of the result before a byte of it is
// written. A per-element call then makes the str at that length and writes it
// directly; a column writes at its buffer's cursor. uncamel writes a piece
// (the bytes between two underscores of the result) at a time, with one word
// store where it fits, underscore_to_camelcase a byte at a time. Nothing is
// written into a buffer to be read back: loads that span several fresh stores
// wait for them.
#pragma once

#include "shared/byte_words.hpp"
#include "shared/cpu_paths.hpp"
#include "text/case_rules.hpp"
#include "text/case_vectors.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>

namespace tavo::text {

inline constexpr std::size_t short_ascii = 32;

// Whether a text of `n` bytes takes the short path: ASCII, 1 to short_ascii
// bytes. The one place this is decided; the per-element entries and the
// conversions (convert.hpp) ask here.
constexpr bool takes_short_path(bool ascii, std::size_t n) noexcept { return ascii && n - 1 < short_ascii; }

// The padded short writers read s[0..short_reach) whatever the length (and
// write up to 8 bytes past the result).
inline constexpr std::size_t short_reach = short_ascii + 8;

// What a short identifier becomes: `mask` flags bytes of the text (bit i for
// byte i), and the result has `length` bytes.
struct short_plan {
    std::uint64_t mask;
    std::size_t length;
};

namespace short_detail {

// Calls add(word, at) for words that together hold s[0..n) (n <= 32), byte
// i of a word being byte at + i of the text: the last word of a text of 8
// bytes or more ends at its end, overlapping the one before; a shorter text
// is one word, zero after its end.
template <class Add>
inline void for_short_words(const char* s, std::size_t n, Add add) noexcept {
    if (n >= 8) {
        for (std::size_t i = 0; i + 8 < n; i += 8) add(words::load(s + i), static_cast<unsigned>(i));
        add(words::load(s + n - 8), static_cast<unsigned>(n - 8));
    } else {
        add(words::load_within(s, 0, n), 0u);
    }
}

inline std::uint64_t lowered_word(std::uint64_t x) noexcept { return x | (words::in_range<'A', 'Z'>(x) >> 2); }
inline unsigned char lowered_byte(unsigned char c) noexcept {
    return static_cast<unsigned char>(c | (words::is_upper(c) << 5));
}

// Writes s[a..b) lowered at `o`. When the piece has at most 8 bytes and
// `one_word` (the caller's word: s[a..a+8) may be read, o[0..8) written) that
// is one word, whose bytes after the piece land where the pieces after it go,
// written later. Otherwise exactly the piece's bytes are written.
inline void put_lowered_piece(char* o, const char* s, std::size_t a, std::size_t b, bool one_word) noexcept {
    const std::size_t len = b - a;
    if (len <= 8 && one_word) {
        words::store(o, lowered_word(words::load(s + a)));
    } else if (len >= 8) {
        for (std::size_t i = 0; i + 8 < len; i += 8) words::store(o + i, lowered_word(words::load(s + a + i)));
        words::store(o + len - 8, lowered_word(words::load(s + b - 8)));
    } else if (len >= 4) {
        const auto first = static_cast<std::uint32_t>(lowered_word(words::load4(s + a)));
        const auto last = static_cast<std::uint32_t>(lowered_word(words::load4(s + b - 4)));
        words::store4(o, first);
        words::store4(o + len - 4, last);
    } else {
        const auto* p = reinterpret_cast<const unsigned char*>(s + a);
        o[0] = static_cast<char>(lowered_byte(p[0]));
        o[len / 2] = static_cast<char>(lowered_byte(p[len / 2]));
        o[len - 1] = static_cast<char>(lowered_byte(p[len - 1]));
    }
}


// The capitals, small letters, and small letters or digits of s[0..n) (n <= 32).
struct uncamel_flags {
    std::uint64_t upper, lower, lower_or_digit;
};

inline uncamel_flags uncamel_flags_of(const char* s, std::size_t n) noexcept {
    if constexpr (vec::available) {
        if (n >= 8) {
            const auto of = [](vec::bytes16 x) {
                using vec::in_range, vec::lane_bits;
                const std::uint32_t lower = lane_bits(in_range<'a', 'z'>(x));
                return uncamel_flags{lane_bits(in_range<'A', 'Z'>(x)), lower,
                                     lower | lane_bits(in_range<'0', '9'>(x))};
            };
            if (n >= 16) {
                // Two blocks, the second ending at the end of the text.
                const uncamel_flags a = of(vec::load(s));
                const uncamel_flags b = of(vec::load(s + n - 16));
                const unsigned at = static_cast<unsigned>(n - 16);
                return {a.upper | (b.upper << at), a.lower | (b.lower << at),
                        a.lower_or_digit | (b.lower_or_digit << at)};
            }
            // The first eight bytes and the last eight, as one block.
            const uncamel_flags f = of(vec::of_words(words::load(s), words::load(s + n - 8)));
            const unsigned at = static_cast<unsigned>(n - 8);
            return {(f.upper & 0xFF) | ((f.upper >> 8) << at), (f.lower & 0xFF) | ((f.lower >> 8) << at),
                    (f.lower_or_digit & 0xFF) | ((f.lower_or_digit >> 8) << at)};
        }
    }
    uncamel_flags f{0, 0, 0};
    for_short_words(s, n, [&](std::uint64_t x, unsigned at) {
        using words::in_range, words::flag_bits;
        const std::uint32_t l = flag_bits(in_range<'a', 'z'>(x));
        f.upper |= std::uint64_t{flag_bits(in_range<'A', 'Z'>(x))} << at;
        f.lower |= std::uint64_t{l} << at;
        f.lower_or_digit |= std::uint64_t{l | flag_bits(in_range<'0', '9'>(x))} << at;
    });
    return f;
}

// The underscores of s[0..n) (n <= 32), bit i for byte i.
inline std::uint64_t underscores_of(const char* s, std::size_t n) noexcept {
    if constexpr (vec::available) {
        using vec::in_range, vec::lane_bits;
        if (n >= 16) {
            return lane_bits(in_range<'_', '_'>(vec::load(s))) |
                   (std::uint64_t{lane_bits(in_range<'_', '_'>(vec::load(s + n - 16)))} << (n - 16));
        }
        if (n >= 8) {
            const vec::bytes16 x = vec::of_words(words::load(s), words::load(s + n - 8));
            const std::uint32_t f = lane_bits(in_range<'_', '_'>(x));
            return (f & 0xFF) | (std::uint64_t{f >> 8} << (n - 8));
        }
    }
    std::uint64_t under = 0;
    for_short_words(s, n, [&](std::uint64_t x, unsigned at) {
        under |= std::uint64_t{words::flag_bits(words::in_range<'_', '_'>(x))} << at;
    });
    return under;
}


// Few bits are set: counting them one by one is cheaper than std::popcount, a
// library call where the target has no such instruction.
inline std::size_t bits_set(std::uint64_t m) noexcept {
    std::size_t k = 0;
    for (; m; m &= m - 1) ++k;
    return k;
}

}  // namespace short_detail

// uncamel of s[0..n), 1 <= n <= 32: `mask` flags the bytes that get an
// underscore in front (never byte 0).
inline short_plan plan_uncamel(const char* s, std::size_t n) noexcept {
    const auto [upper, lower, lower_or_digit] = short_detail::uncamel_flags_of(s, n);
    const std::uint64_t cuts = uncamel_starts_word(upper, lower_or_digit << 1, upper << 1, lower >> 1);
    return {cuts, n + short_detail::bits_set(cuts)};
}

// Writes the plan's result at `o`. With `nul_after` (s[n] is a NUL that may
// be read, and o[length] may be written) the last piece is one word more
// often: the output runs ahead of the text by the underscores written so far,
// so a piece's word that ends at s[n] at the latest ends within length + 1
// bytes, and only the last piece's word reaches o[length], where it writes
// the NUL it read. Without it nothing outside s[0..n) and o[0..length) is
// touched.
inline void write_uncamel(char* o, const char* s, std::size_t n, short_plan plan, bool nul_after) noexcept {
    std::uint64_t cuts = plan.mask | (std::uint64_t{1} << n);  // the end of the last piece
    const std::size_t readable = n + (nul_after ? 1 : 0);
    std::size_t a = 0;
    for (;;) {
        const auto b = static_cast<std::size_t>(std::countr_zero(cuts));
        short_detail::put_lowered_piece(o, s, a, b, a + 8 <= readable);
        o += b - a;
        cuts &= cuts - 1;
        if (!cuts) break;
        *o++ = '_';
        a = b;
    }
}

// The masks of plan_uncamel and plan_camelcase when s[0..32) may be read
// whatever n is: both blocks are always loaded, and the flags past the text
// cleared, with no branch on the length. (The result's length is where the
// padded writers end.)
[[gnu::always_inline]] inline std::uint64_t uncamel_mask_padded(const char* s, std::size_t n) noexcept {
    if constexpr (vec::available) {
        using vec::in_range, vec::lane_bits;
        const vec::bytes16 x0 = vec::load(s), x1 = vec::load(s + 16);
        const std::uint64_t within = (std::uint64_t{1} << n) - 1;
        const std::uint64_t upper =
            (lane_bits(in_range<'A', 'Z'>(x0)) | (std::uint64_t{lane_bits(in_range<'A', 'Z'>(x1))} << 16)) & within;
        const std::uint64_t lower =
            (lane_bits(in_range<'a', 'z'>(x0)) | (std::uint64_t{lane_bits(in_range<'a', 'z'>(x1))} << 16)) & within;
        const std::uint64_t digit =
            (lane_bits(in_range<'0', '9'>(x0)) | (std::uint64_t{lane_bits(in_range<'0', '9'>(x1))} << 16)) & within;
        return uncamel_starts_word(upper, (lower | digit) << 1, upper << 1, lower >> 1);
    } else {
        return plan_uncamel(s, n).mask;
    }
}

[[gnu::always_inline]] inline std::uint64_t underscores_padded(const char* s, std::size_t n) noexcept {
    if constexpr (vec::available) {
        using vec::in_range, vec::lane_bits;
        const std::uint64_t under = lane_bits(in_range<'_', '_'>(vec::load(s))) |
                                    (std::uint64_t{lane_bits(in_range<'_', '_'>(vec::load(s + 16)))} << 16);
        return under & ((std::uint64_t{1} << n) - 1);
    } else {
        return short_detail::underscores_of(s, n);
    }
}

// The same result for a writer with room to spare, such as a column's
// buffer: s[0..n+8) may be read and o[0..length+8) written. Each piece is
// stored a whole word at a time, the bytes past its end landing where the
// next piece (or nothing) goes.
inline char* write_uncamel_padded(char* o, const char* s, std::size_t n, std::uint64_t mask) noexcept {
    std::uint64_t cuts = mask | (std::uint64_t{1} << n);
    std::size_t a = 0;
    for (;;) {
        const auto b = static_cast<std::size_t>(std::countr_zero(cuts));
        for (std::size_t i = a; i < b; i += 8) words::store(o + (i - a), short_detail::lowered_word(words::load(s + i)));
        o += b - a;
        cuts &= cuts - 1;
        if (!cuts) return o;
        *o++ = '_';
        a = b;
    }
}

// underscore_to_camelcase of s[0..n), 1 <= n <= 32: `mask` flags the underscores.
inline short_plan plan_camelcase(const char* s, std::size_t n) noexcept {
    const std::uint64_t under = short_detail::underscores_of(s, n);
    return {under, n - short_detail::bits_set(under)};
}

// Writes the plan's result at `o`: exactly o[0..length).
inline void write_camelcase(char* o, const char* text, std::size_t n, short_plan plan) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    // Leading underscores are dropped, and the first character kept is
    // lowercased: nothing has been output yet.
    const std::uint64_t kept = ~plan.mask & ((std::uint64_t{1} << n) - 1);
    if (kept == 0) return;
    bool after_underscore = false;
    for (auto i = static_cast<std::size_t>(std::countr_zero(kept)); i < n; ++i) {
        const unsigned char c = s[i];
        if (c == '_') {
            after_underscore = true;
            continue;
        }
        // Past the leading underscores something has always been written.
        if (camelcase_capital(after_underscore, true)) {
            *o++ = static_cast<char>(words::is_lower(c) ? c - 0x20 : c);
        } else {
            *o++ = static_cast<char>(words::is_upper(c) ? c | 0x20 : c);
        }
        after_underscore = false;
    }
}

// The same result for a writer with room to spare: s[0..n+8) may be read and
// o[0..length+8) written. Each run of kept bytes is stored lowered a word at a
// time; the first byte of every run after the first is then made a capital.
inline char* write_camelcase_padded(char* o, const char* s, std::size_t n, std::uint64_t mask) noexcept {
    std::uint64_t kept = ~mask & ((std::uint64_t{1} << n) - 1);
    unsigned capital = 0;  // 0x20 from the second run on
    while (kept) {
        const auto a = static_cast<std::size_t>(std::countr_zero(kept));
        const auto len = static_cast<std::size_t>(std::countr_zero(~(kept >> a)));
        for (std::size_t i = 0; i < len; i += 8) words::store(o + i, short_detail::lowered_word(words::load(s + a + i)));
        const unsigned char c = short_detail::lowered_byte(static_cast<unsigned char>(s[a]));
        o[0] = static_cast<char>(words::is_lower(c) ? c - capital : c);
        capital = 0x20;
        o += len;
        kept &= ~std::uint64_t{0} << (a + len);
    }
    return o;
}

// Each short conversion as one type, for the code written once over both:
// the exact plan and writer, and the padded ones.
struct uncamel_form {
    static short_plan plan(const char* s, std::size_t n) noexcept { return plan_uncamel(s, n); }
    static void write(char* o, const char* s, std::size_t n, short_plan p, bool nul_after) noexcept {
        write_uncamel(o, s, n, p, nul_after);
    }
    template <cpu::path P>
    [[gnu::always_inline]] static char* write_padded(char* o, const char* s, std::size_t n) noexcept {
#if defined(__x86_64__)
        if constexpr (vectors::expands_512<P>) return vectors::uncamel_short_512(o, s, n);
#endif
        if constexpr (vectors::shuffled<P>) return vectors::uncamel_short_shuffled(o, s, n, uncamel_mask_padded(s, n));
        return write_uncamel_padded(o, s, n, uncamel_mask_padded(s, n));
    }
    static constexpr std::size_t most_padded = 2 * short_ascii + 8;  // an underscore before every byte but one
};

struct camelcase_form {
    static short_plan plan(const char* s, std::size_t n) noexcept { return plan_camelcase(s, n); }
    // Never touches anything outside s[0..n) and o[0..length), NUL or not.
    static void write(char* o, const char* s, std::size_t n, short_plan p, bool) noexcept {
        write_camelcase(o, s, n, p);
    }
    template <cpu::path P>
    [[gnu::always_inline]] static char* write_padded(char* o, const char* s, std::size_t n) noexcept {
#if defined(__x86_64__)
        if constexpr (vectors::expands_512<P>) return vectors::camelcase_short_512(o, s, n);
#endif
        if constexpr (vectors::shuffled<P>) return vectors::camelcase_short_shuffled(o, s, n, underscores_padded(s, n));
        return write_camelcase_padded(o, s, n, underscores_padded(s, n));
    }
    static constexpr std::size_t most_padded = short_ascii + 8;
};

}  // namespace tavo::text
