// Identifier case conversion: camelCase to snake_case (`uncamel`) and
// snake_case to camelCase (`underscore_to_camelcase`), by the Unicode 17.0
// Uppercase and Lowercase properties and full, unconditional case mappings.
//
// An ASCII-only `str` (an O(1) flag) takes a path that works on sixteen or
// eight bytes at a time and touches no table; any other text is walked code
// point by code point, with ASCII code points still answered without a table.
#include "boundary/bodies.hpp"
#include "text/byte_words.hpp"
#include "text/text_buffer.hpp"
#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tavo {
namespace {

// --- code points ---------------------------------------------------------------------

enum : std::uint8_t { upper_class = 1, lower_class = 2, digit_class = 4 };

struct code_point {
    char32_t cp;
    ucd::case_entry entry;  // 0 for ASCII, which never needs it
    std::uint8_t cls;       // upper_class, lower_class, digit_class
};

inline code_point read_code_point(const unsigned char*& p) noexcept {
    const char32_t c = utf8::decode(p);
    if (c < 0x80) {
        const std::uint8_t cls = (c - U'a' < 26)   ? lower_class
                                 : (c - U'A' < 26) ? upper_class
                                 : (c - U'0' < 10) ? digit_class
                                                   : 0;
        return {c, 0, cls};
    }
    const ucd::case_entry e = ucd::entry_of(c);
    constexpr unsigned shift = std::countr_zero(unsigned{ucd::uppercase_bit});
    static_assert(ucd::uppercase_bit >> shift == upper_class && ucd::lowercase_bit >> shift == lower_class);
    return {c, e, static_cast<std::uint8_t>((e >> shift) & (upper_class | lower_class))};
}

// Room for one code point's output: an underscore and three mapped code points.
constexpr std::size_t max_step = 1 + 3 * 4;

inline void put_mapping(text_buffer& out, const ucd::mapping& m) noexcept {
    out.put_code_point(m.cp[0]);
    for (unsigned i = 1; i < m.size; ++i) out.put_code_point(m.cp[i]);
}

// Full lowercase mapping. Below U+00C0 only the ASCII capitals have one.
inline void put_lower(text_buffer& out, const code_point& c) noexcept {
    if (c.cp < 0xC0) {
        out.put_code_point(c.cp - U'A' < 26 ? c.cp + 32 : c.cp);
    } else if (c.entry & ucd::lower_mapped_bit) {
        put_mapping(out, ucd::lower_of(c.cp, c.entry));
    } else {
        out.put_code_point(c.cp);
    }
}

// Full uppercase mapping. Below U+00B5 only the ASCII small letters have one.
inline void put_upper(text_buffer& out, const code_point& c) noexcept {
    if (c.cp < 0xB5) {
        out.put_code_point(c.cp - U'a' < 26 ? c.cp - 32 : c.cp);
    } else if (c.entry & ucd::upper_mapped_bit) {
        put_mapping(out, ucd::upper_of(c.cp, c.entry));
    } else {
        out.put_code_point(c.cp);
    }
}

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

inline bool ascii_upper(unsigned char c) noexcept { return static_cast<unsigned char>(c - 'A') < 26; }
inline bool ascii_lower(unsigned char c) noexcept { return static_cast<unsigned char>(c - 'a') < 26; }
inline bool ascii_digit(unsigned char c) noexcept { return static_cast<unsigned char>(c - '0') < 10; }

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

inline std::uint64_t lowered_word(std::uint64_t x) noexcept { return x | (words::in_range<'A', 'Z'>(x) >> 2); }
inline unsigned char lowered_byte(unsigned char c) noexcept {
    return static_cast<unsigned char>(c | (ascii_upper(c) << 5));
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
        const auto first = static_cast<std::uint32_t>(lowered_word(load4(s + a)));
        const auto last = static_cast<std::uint32_t>(lowered_word(load4(s + b - 4)));
        store4(o, first);
        store4(o + len - 4, last);
    } else {
        const auto* p = reinterpret_cast<const unsigned char*>(s + a);
        o[0] = static_cast<char>(lowered_byte(p[0]));
        o[len / 2] = static_cast<char>(lowered_byte(p[len / 2]));
        o[len - 1] = static_cast<char>(lowered_byte(p[len - 1]));
    }
}

// A step's bytes, mapped, and its flags (bit 7 of each flagged byte).
struct mapped_block {
    vec::bytes16 mapped, flags;
};
struct mapped_word {
    std::uint64_t mapped, flags;
};

// The walk that both conversions of ASCII text take, from byte `start` on:
// sixteen bytes at a time while at least Op::block_reach bytes are left (a
// block reads its neighbours from the text itself), then eight. Each step maps
// its bytes and flags some of them (bit 7 of the byte) for Op::put, which
// writes a word of mapped bytes with the flagged ones handled; a block with
// nothing flagged is stored whole. Writes up to 8 bytes past the returned
// position.
template <class Op>
char* walk_ascii(const char* s, std::size_t n, std::size_t start, char* o) {
    std::size_t i = start;
    while (i < n) {
        if (vec::available && i > start && n - i >= Op::block_reach) {
            const auto [mapped, flags] = Op::block(s + i);
            if ((vec::low_half(flags) | vec::high_half(flags)) == 0) {
                vec::store(o, mapped);
                o += 16;
            } else {
                o = Op::put(o, vec::low_half(mapped), vec::low_half(flags) & words::high, 8);
                o = Op::put(o, vec::high_half(mapped), vec::high_half(flags) & words::high, 8);
            }
            i += 16;
            continue;
        }
        const std::size_t count = n - i < 8 ? n - i : 8;
        const std::uint64_t x = count == 8 ? words::load(s + i) : words::load_partial(s + i, count);
        const auto [mapped, flags] = Op::word(s, n, start, i, x);
        o = Op::put(o, mapped, flags, count);
        i += count;
    }
    return o;
}

// --- uncamel ---------------------------------------------------------------------------

// Underscores go in front of a capital after a small letter or an ASCII digit,
// and in front of the last capital of a run that a small letter follows.
inline bool starts_word(std::uint8_t prev, bool has_next, std::uint8_t next) noexcept {
    if (prev & (lower_class | digit_class)) return true;
    return (prev & upper_class) && has_next && (next & lower_class);
}

// ASCII text, eight or sixteen bytes at a time. For each byte the masks flag
// a capital (U), a small letter (L) or a digit (D); a byte gets an underscore
// in front when U[i] and ((L|D)[i-1] or (U[i-1] and L[i+1])).

// Writes eight lowered bytes (`count` of them real) with an underscore in
// front of each byte flagged in `inserts` (bit 7 of the byte): the whole word
// is stored, then at each insertion the underscore is written and the rest of
// the word stored again one byte further on. Writes up to 8 bytes past the
// returned position.
inline char* put_with_underscores(char* o, std::uint64_t lowered, std::uint64_t inserts,
                                  std::size_t count) noexcept {
    unsigned done = 0;  // bytes of the word placed before `o`
    words::store(o, lowered);
    while (inserts) {
        const unsigned k = words::first_byte(inserts);
        inserts &= inserts - 1;
        o += k - done;
        *o++ = '_';
        done = k;
        words::store(o, lowered >> (8 * k));
    }
    return o + (count - done);
}

// The steps of uncamel's walk: bytes lowered, underscores inserted in front of the flagged ones.
struct uncamel_steps {
    static constexpr std::size_t block_reach = 17;  // the byte after the block is read too
    static char* put(char* o, std::uint64_t lowered, std::uint64_t inserts, std::size_t count) noexcept {
        return put_with_underscores(o, lowered, inserts, count);
    }
    static mapped_block block(const char* p) noexcept {
        using namespace vec;
        const bytes16 x = load(p);
        const bytes16 prev = load(p - 1);
        const bytes16 next = load(p + 1);
        const bytes16 upper = in_range<'A', 'Z'>(x);
        const bytes16 prev_lower_or_digit = in_range<'a', 'z'>(prev) | in_range<'0', '9'>(prev);
        const bytes16 inserts = upper & (prev_lower_or_digit | (in_range<'A', 'Z'>(prev) & in_range<'a', 'z'>(next)));
        return {x | (upper & 0x20), inserts};
    }
    static mapped_word word(const char* s, std::size_t n, std::size_t, std::size_t i, std::uint64_t x) noexcept {
        using namespace words;
        const std::uint64_t upper = in_range<'A', 'Z'>(x);
        const std::uint64_t lower = in_range<'a', 'z'>(x);
        const std::uint64_t lower_or_digit = lower | in_range<'0', '9'>(x);
        // The neighbours outside the word, at bit 7 of byte 0 (before) and byte 7 (after).
        const unsigned char before = i > 0 ? static_cast<unsigned char>(s[i - 1]) : 0;
        const std::uint64_t before_ld = (ascii_lower(before) || ascii_digit(before)) ? 0x80 : 0;
        const std::uint64_t before_u = ascii_upper(before) ? 0x80 : 0;
        const std::uint64_t after_l = n - i > 8 && ascii_lower(static_cast<unsigned char>(s[i + 8]))
                                          ? std::uint64_t{0x80} << 56
                                          : 0;
        const std::uint64_t inserts =
            upper & (((lower_or_digit << 8) | before_ld) | (((upper << 8) | before_u) & ((lower >> 8) | after_l)));
        return {x | (upper >> 2), inserts};
    }
};

ref uncamel_ascii(const char* s, std::size_t n) {
    // At most one underscore per byte, plus room for the stores past the end.
    text_buffer out(2 * n + 16);
    char* o = walk_ascii<uncamel_steps>(s, n, 0, out.cursor);
    return ascii_str(out.data(), static_cast<std::size_t>(o - out.data()));
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

ref uncamel_text(const unsigned char* p, std::size_t n) {
    const unsigned char* const end = p + n;
    text_buffer out(n + 10);
    code_point cur = read_code_point(p);
    std::uint8_t prev_cls = 0;
    for (;;) {
        const bool has_next = p < end;
        const code_point next = has_next ? read_code_point(p) : code_point{};
        out.reserve_more(max_step);
        if (cur.cls & upper_class) {
            if (starts_word(prev_cls, has_next, next.cls)) out.put('_');
            put_lower(out, cur);
        } else {
            out.put_code_point(cur.cp);
        }
        if (!has_next) break;
        prev_cls = cur.cls;
        cur = next;
    }
    return utf8_str(out.data(), out.size());
}

// --- underscore_to_camelcase -----------------------------------------------------------

// ASCII text, eight or sixteen bytes at a time: underscores are dropped, a
// letter right after one is made a capital, every other letter a small one.

// Writes the bytes of an eight-byte word (`count` of them real) that are not
// flagged in `drops` (bit 7 of the byte): the word is stored, and at each
// dropped byte the rest of the word is stored again from the byte after it.
// Writes up to 8 bytes past the returned position.
inline char* put_without(char* o, std::uint64_t word, std::uint64_t drops, std::size_t count) noexcept {
    std::size_t done = 0;  // first byte of the word not yet accounted for
    words::store(o, word);
    while (drops) {
        const unsigned k = words::first_byte(drops);
        drops &= drops - 1;
        o += k - done;
        done = k + 1;
        if (done < 8) words::store(o, word >> (8 * done));
    }
    return o + (count > done ? count - done : 0);
}

// The steps of underscore_to_camelcase's walk: underscores flagged and dropped,
// a letter after one made a capital, every other letter a small one.
struct camelcase_steps {
    static constexpr std::size_t block_reach = 16;
    static char* put(char* o, std::uint64_t mapped, std::uint64_t drops, std::size_t count) noexcept {
        return put_without(o, mapped, drops, count);
    }
    static mapped_block block(const char* p) noexcept {
        using namespace vec;
        const bytes16 x = load(p);
        const bytes16 under = in_range<'_', '_'>(x);
        const bytes16 after_under = in_range<'_', '_'>(load(p - 1));
        const bytes16 upper = in_range<'A', 'Z'>(x);
        const bytes16 capital = after_under & (upper | in_range<'a', 'z'>(x));
        return {(x | (upper & 0x20)) & ~(capital & 0x20), under};
    }
    static mapped_word word(const char* s, std::size_t, std::size_t start, std::size_t i, std::uint64_t x) noexcept {
        using namespace words;
        const std::uint64_t under = in_range<'_', '_'>(x);
        const std::uint64_t upper = in_range<'A', 'Z'>(x);
        const std::uint64_t lower = in_range<'a', 'z'>(x);
        const std::uint64_t before = i > start && s[i - 1] == '_' ? 0x80 : 0;
        const std::uint64_t capital = ((under << 8) | before) & (upper | lower);
        return {(x | (upper >> 2)) & ~(capital >> 2), under};
    }
};

ref underscore_to_camelcase_ascii(const char* s, std::size_t n) {
    // Leading underscores are dropped, and the first character kept is
    // lowercased even though an underscore precedes it: nothing has been output
    // yet. From then on a character after an underscore is capitalised.
    std::size_t start = 0;
    while (start < n && s[start] == '_') ++start;
    text_buffer out(n - start + 16);
    char* o = walk_ascii<camelcase_steps>(s, n, start, out.cursor);
    return ascii_str(out.data(), static_cast<std::size_t>(o - out.data()));
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

}  // namespace

// The underscores give the length of the result, and the str is written
// directly, a byte at a time: for so few bytes that is faster than words
// written into a buffer and copied (the copy's loads wait for the stores they
// span), and, in wall time, than words compacted in registers or pieces
// stored as words.
ref underscore_to_camelcase_short(const char* text, std::size_t n) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    const std::uint64_t under = underscores_of(text, n);
    // Leading underscores are dropped, and the first character kept is
    // lowercased: nothing has been output yet.
    const std::uint64_t kept = ~under & ((std::uint64_t{1} << n) - 1);
    if (kept == 0) return created(PyUnicode_New(0, 0));
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
            *o++ = static_cast<char>(ascii_lower(c) ? c - 0x20 : c);
        } else {
            *o++ = static_cast<char>(ascii_upper(c) ? c | 0x20 : c);
        }
        after_underscore = false;
    }
    return out;
}

namespace {

ref underscore_to_camelcase_text(const unsigned char* p, std::size_t n) {
    const unsigned char* const end = p + n;
    text_buffer out(n);
    bool after_underscore = false;
    bool output_empty = true;
    while (p < end) {
        if (*p == '_') {
            ++p;
            after_underscore = true;
            continue;
        }
        const code_point c = read_code_point(p);
        out.reserve_more(max_step);
        if (after_underscore && !output_empty) {
            put_upper(out, c);
        } else {
            put_lower(out, c);
        }
        after_underscore = false;
        output_empty = false;
    }
    return utf8_str(out.data(), out.size());
}

}  // namespace

result<ref> uncamel_body(call_args& a) {
    auto text = text_arg(a, 0);
    if (!text) return std::move(text.error());
    const std::string_view s = text->utf8();
    if (s.empty()) return created(PyUnicode_New(0, 0));
    if (text->ascii()) {
        if (s.size() <= short_text) return uncamel_short(s.data(), s.size());
        return uncamel_ascii(s.data(), s.size());
    }
    return uncamel_text(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

result<ref> underscore_to_camelcase_body(call_args& a) {
    auto text = text_arg(a, 0);
    if (!text) return std::move(text.error());
    const std::string_view s = text->utf8();
    if (s.empty()) return created(PyUnicode_New(0, 0));
    if (text->ascii()) {
        if (s.size() <= short_text) {
            return underscore_to_camelcase_short(s.data(), s.size());
        }
        return underscore_to_camelcase_ascii(s.data(), s.size());
    }
    return underscore_to_camelcase_text(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

}  // namespace tavo
