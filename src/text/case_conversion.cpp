// The bodies of uncamel and underscore_to_camelcase. The conversion itself
// is text::uncamel / text::underscore_to_camelcase (convert_case.cpp); the
// common call, one identifier of up to 32 ASCII bytes, takes a path of its
// own here that writes the result str directly: for so short a text, binding,
// a buffer and the copy out of it would be a large share of the call.
#include "boundary/bodies.hpp"
#include "boundary/views.hpp"
#include "text/byte_words.hpp"
#include "text/convert.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>

namespace tavo {
namespace {

// --- identifiers of up to 32 ASCII bytes ----------------------------------------------

// Most calls convert one short identifier. The flags of its bytes are
// gathered into bit masks first (bit i for byte i), which give the length of
// the result; the str is then made and written directly: by uncamel a piece
// (the bytes between two underscores of the result) at a time, with one word
// store where it fits, by underscore_to_camelcase a byte at a time. Nothing
// is written into a buffer to be read back: loads that span several fresh
// stores wait for them.
//
// The text is a str's own bytes, which end with a NUL: it is read up to s[n].
constexpr std::size_t short_text = short_identifier;

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

}  // namespace

ref uncamel_short(const char* s, std::size_t n) {
    const auto [upper, lower, lower_or_digit] = uncamel_flags_of(s, n);
    // Underscores go in front of these bytes (never byte 0).
    std::uint64_t cuts = upper & ((lower_or_digit << 1) | ((upper << 1) & (lower >> 1)));
    // Few bits are set: counting them one by one is cheaper than std::popcount,
    // a library call where the target has no such instruction.
    std::size_t length = n;
    for (std::uint64_t c = cuts; c; c &= c - 1) ++length;
    char* o = nullptr;
    ref out = new_ascii_str(length, o);
    // The output runs ahead of the text by the underscores written so far, so
    // a piece's word that ends at s[n] at the latest ends within the str's
    // length + 1 bytes; only the last piece's word reaches o[length], where it
    // writes the NUL it read at s[n].
    cuts |= std::uint64_t{1} << n;  // the end of the last piece
    std::size_t a = 0;
    for (;;) {
        const auto b = static_cast<std::size_t>(std::countr_zero(cuts));
        put_lowered_piece(o, s, a, b, a + 8 <= n + 1);
        o += b - a;
        cuts &= cuts - 1;
        if (!cuts) break;
        *o++ = '_';
        a = b;
    }
    return out;
}


namespace {

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

}  // namespace

// The underscores give the length of the result, and the str is written
// directly, a byte at a time.
ref underscore_to_camelcase_short(const char* text, std::size_t n) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    const std::uint64_t under = underscores_of(text, n);
    // Leading underscores are dropped, and the first character kept is
    // lowercased: nothing has been output yet.
    const std::uint64_t kept = ~under & ((std::uint64_t{1} << n) - 1);
    if (kept == 0) return ascii_str("", 0);
    const auto start = static_cast<std::size_t>(std::countr_zero(kept));
    std::size_t length = n;  // few bits are set: see uncamel_short
    for (std::uint64_t u = under; u; u &= u - 1) --length;
    char* o = nullptr;
    ref out = new_ascii_str(length, o);
    bool after_underscore = false;
    for (std::size_t i = start; i < n; ++i) {
        const unsigned char c = s[i];
        if (c == '_') {
            after_underscore = true;
            continue;
        }
        if (after_underscore) {
            *o++ = static_cast<char>(words::is_lower(c) ? c - 0x20 : c);
        } else {
            *o++ = static_cast<char>(words::is_upper(c) ? c | 0x20 : c);
        }
        after_underscore = false;
    }
    return out;
}


namespace {

// The result str of a conversion of `in` into a buffer.
template <void (*Convert)(std::string_view, bool, byte_sink&)>
ref converted(std::string_view in, bool ascii) {
    byte_sink out(0);  // the conversion reserves what it needs
    Convert(in, ascii, out);
    if (ascii) return ascii_str(out.data(), out.size());
    return utf8_str(out.data(), out.size());
}

}  // namespace

result<ref> uncamel_body(call_args& a) {
    auto text = text_arg(a, 0);
    if (!text) return std::move(text.error());
    const std::string_view s = text->utf8();
    if (text->ascii() && s.size() - 1 < short_text) return uncamel_short(s.data(), s.size());
    return converted<text::uncamel>(s, text->ascii());
}

result<ref> underscore_to_camelcase_body(call_args& a) {
    auto text = text_arg(a, 0);
    if (!text) return std::move(text.error());
    const std::string_view s = text->utf8();
    if (text->ascii() && s.size() - 1 < short_text) return underscore_to_camelcase_short(s.data(), s.size());
    return converted<text::underscore_to_camelcase>(s, text->ascii());
}

}  // namespace tavo
