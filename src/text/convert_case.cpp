// Identifier case conversion over UTF-8 bytes: camelCase to snake_case
// (`uncamel`) and snake_case to camelCase (`underscore_to_camelcase`), by the
// Unicode 17.0 Uppercase and Lowercase properties and full, unconditional case
// mappings.
//
// ASCII text takes a path that works on sixteen or eight bytes at a time and
// touches no table (identifiers of up to 32 bytes the bit-mask path of
// short_ascii.hpp); any other text is walked code point by code point, with
// ASCII code points still answered without a table.
#include "text/byte_words.hpp"
#include "text/case_rules.hpp"
#include "text/convert.hpp"
#include "text/short_ascii.hpp"
#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>

namespace tavo::text {
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

inline void put_mapping(byte_sink& out, const ucd::mapping& m) noexcept {
    out.put_code_point(m.cp[0]);
    for (unsigned i = 1; i < m.size; ++i) out.put_code_point(m.cp[i]);
}

// Full lowercase mapping. Below U+00C0 only the ASCII capitals have one.
inline void put_lower(byte_sink& out, const code_point& c) noexcept {
    if (c.cp < 0xC0) {
        out.put_code_point(c.cp - U'A' < 26 ? c.cp + 32 : c.cp);
    } else if (c.entry & ucd::lower_mapped_bit) {
        put_mapping(out, ucd::lower_of(c.cp, c.entry));
    } else {
        out.put_code_point(c.cp);
    }
}

// Full uppercase mapping. Below U+00B5 only the ASCII small letters have one.
inline void put_upper(byte_sink& out, const code_point& c) noexcept {
    if (c.cp < 0xB5) {
        out.put_code_point(c.cp - U'a' < 26 ? c.cp - 32 : c.cp);
    } else if (c.entry & ucd::upper_mapped_bit) {
        put_mapping(out, ucd::upper_of(c.cp, c.entry));
    } else {
        out.put_code_point(c.cp);
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

// ASCII text, eight or sixteen bytes at a time: for each byte the masks flag
// a capital, a small letter or a digit, of the byte and of its neighbours, for
// uncamel_starts_word.

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
        const bytes16 inserts = uncamel_starts_word(upper, in_range<'a', 'z'>(prev) | in_range<'0', '9'>(prev),
                                                    in_range<'A', 'Z'>(prev), in_range<'a', 'z'>(next));
        return {x | (upper & 0x20), inserts};
    }
    static mapped_word word(const char* s, std::size_t n, std::size_t, std::size_t i, std::uint64_t x) noexcept {
        using namespace words;
        const std::uint64_t upper = in_range<'A', 'Z'>(x);
        const std::uint64_t lower = in_range<'a', 'z'>(x);
        const std::uint64_t lower_or_digit = lower | in_range<'0', '9'>(x);
        // The neighbours outside the word, at bit 7 of byte 0 (before) and byte 7 (after).
        const unsigned char before = i > 0 ? static_cast<unsigned char>(s[i - 1]) : 0;
        const std::uint64_t before_ld = (words::is_lower(before) || words::is_digit(before)) ? 0x80 : 0;
        const std::uint64_t before_u = words::is_upper(before) ? 0x80 : 0;
        const std::uint64_t after_l = n - i > 8 && words::is_lower(static_cast<unsigned char>(s[i + 8]))
                                          ? std::uint64_t{0x80} << 56
                                          : 0;
        const std::uint64_t inserts =
            uncamel_starts_word(upper, (lower_or_digit << 8) | before_ld, (upper << 8) | before_u, (lower >> 8) | after_l);
        return {x | (upper >> 2), inserts};
    }
};


void uncamel_ascii(const char* s, std::size_t n, byte_sink& out) {
    // At most one underscore per byte, plus room for the stores past the end.
    out.reserve_more(2 * n + 16);
    out.cursor = walk_ascii<uncamel_steps>(s, n, 0, out.cursor);
}

void uncamel_code_points(const unsigned char* p, std::size_t n, byte_sink& out) {
    const unsigned char* const end = p + n;
    out.reserve_more(n + 10);
    code_point cur = read_code_point(p);
    std::uint8_t prev_cls = 0;
    for (;;) {
        const bool has_next = p < end;
        const code_point next = has_next ? read_code_point(p) : code_point{};
        out.reserve_more(max_step);
        if (cur.cls & upper_class) {
            if (uncamel_starts_word<bool>(true, prev_cls & (lower_class | digit_class), prev_cls & upper_class,
                                          has_next && (next.cls & lower_class))) {
                out.put('_');
            }
            put_lower(out, cur);
        } else {
            out.put_code_point(cur.cp);
        }
        if (!has_next) break;
        prev_cls = cur.cls;
        cur = next;
    }
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
        const bytes16 upper = in_range<'A', 'Z'>(x);
        // A block never starts the walk: something is written before each of its bytes.
        const bytes16 capital = camelcase_capital(in_range<'_', '_'>(load(p - 1)), upper | in_range<'a', 'z'>(x));
        return {(x | (upper & 0x20)) & ~(capital & 0x20), under};
    }
    static mapped_word word(const char* s, std::size_t, std::size_t start, std::size_t i, std::uint64_t x) noexcept {
        using namespace words;
        const std::uint64_t under = in_range<'_', '_'>(x);
        const std::uint64_t upper = in_range<'A', 'Z'>(x);
        const std::uint64_t lower = in_range<'a', 'z'>(x);
        // Something is written before every byte but the walk's first.
        const std::uint64_t before = i > start && s[i - 1] == '_' ? 0x80 : 0;
        const std::uint64_t capital = camelcase_capital((under << 8) | before, upper | lower);
        return {(x | (upper >> 2)) & ~(capital >> 2), under};
    }
};


void underscore_to_camelcase_ascii(const char* s, std::size_t n, byte_sink& out) {
    // Leading underscores are dropped, and the first character kept is
    // lowercased even though an underscore precedes it: nothing has been output
    // yet. From then on a character after an underscore is capitalised.
    std::size_t start = 0;
    while (start < n && s[start] == '_') ++start;
    out.reserve_more(n - start + 16);
    out.cursor = walk_ascii<camelcase_steps>(s, n, start, out.cursor);
}

void camelcase_code_points(const unsigned char* p, std::size_t n, byte_sink& out) {
    const unsigned char* const end = p + n;
    out.reserve_more(n);
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
        if (camelcase_capital(after_underscore, !output_empty)) {
            put_upper(out, c);
        } else {
            put_lower(out, c);
        }
        after_underscore = false;
        output_empty = false;
    }
}

// Short identifiers take the exact plan of short_ascii.hpp (nothing past
// the text is read), ASCII text the word walk, the rest the code point walk.
template <class Short, void (*CodePoints)(const unsigned char*, std::size_t, byte_sink&),
          void (*Ascii)(const char*, std::size_t, byte_sink&)>
void convert(std::string_view in, bool ascii, byte_sink& out) {
    const std::size_t n = in.size();
    if (takes_short_path(ascii, n)) {
        const short_plan plan = Short::plan(in.data(), n);
        out.reserve_more(plan.length);
        Short::write(out.cursor, in.data(), n, plan, false);
        out.cursor += plan.length;
    } else if (n == 0) {
        return;
    } else if (ascii) {
        Ascii(in.data(), n, out);
    } else {
        CodePoints(reinterpret_cast<const unsigned char*>(in.data()), n, out);
    }
}

}  // namespace

void uncamel_text(std::string_view in, bool ascii, byte_sink& out) {
    convert<uncamel_form, uncamel_code_points, uncamel_ascii>(in, ascii, out);
}

void underscore_to_camelcase_text(std::string_view in, bool ascii, byte_sink& out) {
    convert<camelcase_form, camelcase_code_points, underscore_to_camelcase_ascii>(in, ascii, out);
}

}  // namespace tavo::text
