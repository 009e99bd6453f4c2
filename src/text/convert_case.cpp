// Identifier case conversion over UTF-8 bytes: camelCase to snake_case
// (`uncamel`) and snake_case to camelCase (`underscore_to_camelcase`), by the
// Unicode 17.0 Uppercase and Lowercase properties and full, unconditional case
// mappings.
//
// ASCII text takes a path that works on 32, sixteen or eight bytes at a time
// and touches no case table (identifiers of up to 32 bytes the bit-mask path
// of short_ascii.hpp); its blocks are placed by the vector path of this CPU
// (case_vectors.hpp), chosen once. Any other text is walked code point by
// code point, with ASCII code points still answered without a table.
#include "shared/byte_words.hpp"
#include "shared/cpu_paths.hpp"
#include "text/case_rules.hpp"
#include "text/case_vectors.hpp"
#include "text/convert.hpp"
#include "text/short_ascii.hpp"
#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tavo::text {
namespace {

// --- code points ---------------------------------------------------------------------

enum : std::uint8_t { upper_class = 1, lower_class = 2, digit_class = 4 };

// The class of each ASCII byte.
constexpr auto ascii_classes = [] {
    std::array<std::uint8_t, 128> t{};
    for (unsigned c = 'A'; c <= 'Z'; ++c) t[c] = upper_class;
    for (unsigned c = 'a'; c <= 'z'; ++c) t[c] = lower_class;
    for (unsigned c = '0'; c <= '9'; ++c) t[c] = digit_class;
    return t;
}();

// The class of a code point from U+0080 on, from its entry.
inline std::uint8_t class_of(ucd::case_entry e) noexcept {
    constexpr unsigned shift = std::countr_zero(unsigned{ucd::uppercase_bit});
    static_assert(ucd::uppercase_bit >> shift == upper_class && ucd::lowercase_bit >> shift == lower_class);
    return static_cast<std::uint8_t>((e >> shift) & (upper_class | lower_class));
}

// The entries of the code points of two UTF-8 bytes (U+0080..U+07FF: Latin,
// Greek, Cyrillic and more), indexed by the low five bits of the lead byte
// and the low six of the next: no decoding and one load.
constexpr auto two_byte_entries = [] {
    std::array<ucd::case_entry, 0x800> t{};
    for (char32_t c = 0x80; c < 0x800; ++c) t[c] = ucd::entry_of(c);
    return t;
}();

inline ucd::case_entry two_byte_entry(const unsigned char* p) noexcept {
    return two_byte_entries[((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu)];
}

inline void copy2(char* o, const unsigned char* p) noexcept { std::memcpy(o, p, 2); }

// The class of the code point that starts at `p`.
inline std::uint8_t class_at(const unsigned char* p) noexcept {
    if (*p < 0x80) return ascii_classes[*p];
    return class_of(ucd::entry_of(utf8::decode(p)));
}

// Room for one code point's output: an underscore and three mapped code points.
constexpr std::size_t max_step = 1 + 3 * 4;

// The walks below write through a cursor of their own, kept in a register
// (the sink's, a member, would be reloaded after every byte stored), and
// hand it back to the sink around each reserve_more.

inline char* put_mapping(char* o, const ucd::mapping& m) noexcept {
    o = utf8::encode(o, m.cp[0]);
    for (unsigned i = 1; i < m.size; ++i) o = utf8::encode(o, m.cp[i]);
    return o;
}

// A code point that stays as it is: its bytes p[0..k), 2 <= k <= 4, copied
// (the text is valid UTF-8, so they are what encoding it would give).
inline char* put_bytes(char* o, const unsigned char* p, std::size_t k) noexcept {
    o[0] = static_cast<char>(p[0]);
    o[1] = static_cast<char>(p[1]);
    if (k > 2) {
        o[2] = static_cast<char>(p[2]);
        if (k > 3) o[3] = static_cast<char>(p[3]);
    }
    return o + k;
}

// Room for `n` more bytes at `o`, which the sink may move: the new cursor.
inline char* room(byte_sink& out, char* o, std::size_t n) {
    out.cursor = o;
    out.reserve_more(n);
    return out.cursor;
}

// A step's bytes, mapped, and its flags (bit 7 of each flagged byte).
struct mapped_block {
    vec::bytes16 mapped, flags;
};
struct mapped_word {
    std::uint64_t mapped, flags;
};

// The walk that both conversions of ASCII text take, from byte `start` on,
// by path P: 32 bytes at a time on the avx512 path while at least
// Op::wide_reach bytes are left, sixteen while at least Op::block_reach are
// (a block reads its neighbours from the text itself), then eight. Each step
// maps its bytes and flags some of them; a block is placed by the path's
// writer (Op::put_block), a word by Op::put, which writes a word of mapped
// bytes with the flagged ones handled. Writes up to Op::overshoot<P> bytes
// past the returned position.
template <class Op, cpu::path P>
[[gnu::always_inline]] inline char* walk_ascii(const char* s, std::size_t n, std::size_t start, char* o) {
    std::size_t i = start;
    while (i < n) {
        if constexpr (vectors::expands_512<P>) {
            if (i > start && n - i >= Op::wide_reach) {
                o = Op::wide_block(o, s + i);
                i += 32;
                continue;
            }
        }
        if (vec::available && i > start && n - i >= Op::block_reach) {
            const auto [mapped, flags] = Op::block(s + i);
            o = Op::template put_block<P>(o, mapped, flags);
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

// A walk of ASCII text into a sink, and the one of this CPU's path among those of a
// conversion, chosen at the first call.
using ascii_walk = void (*)(const char*, std::size_t, byte_sink&);

template <ascii_walk Baseline, ascii_walk Ssse3, ascii_walk Avx512>
ascii_walk walk_of_this_cpu() noexcept {
    switch (cpu::chosen()) {
        case cpu::path::avx512: return Avx512;
        case cpu::path::avx2:  // the ssse3 code (case_vectors.hpp says why)
        case cpu::path::ssse3: return Ssse3;
        case cpu::path::baseline: break;
    }
    return Baseline;
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
    static constexpr std::size_t wide_reach = 33;
    template <cpu::path P>
    static constexpr std::size_t overshoot = vectors::expands_512<P> ? 32 : 8;
    static char* put(char* o, std::uint64_t lowered, std::uint64_t inserts, std::size_t count) noexcept {
        return put_with_underscores(o, lowered, inserts, count);
    }
    // Sixteen lowered bytes, an underscore in front of each flagged one.
    template <cpu::path P>
    [[gnu::always_inline]] static char* put_block(char* o, vec::bytes16 lowered, vec::bytes16 inserts) noexcept {
        if constexpr (vectors::shuffled<P> || vectors::expands_512<P>) {
            return vectors::expand16(o, lowered, vec::lane_bits(inserts));
        } else {
            if ((vec::low_half(inserts) | vec::high_half(inserts)) == 0) {
                vec::store(o, lowered);
                return o + 16;
            }
            o = put(o, vec::low_half(lowered), vec::low_half(inserts) & words::high, 8);
            return put(o, vec::high_half(lowered), vec::high_half(inserts) & words::high, 8);
        }
    }
#if defined(__x86_64__)
    // The 32 bytes at p (p[-1] and p[32] read too), on the avx512 path.
    [[gnu::target(TAVO_TARGET_AVX512)]] static char* wide_block(char* o, const char* p) noexcept {
        using vectors::in_range_512;
        using vectors::load_512;
        const __m256i x = load_512(p), prev = load_512(p - 1), next = load_512(p + 1);
        const __mmask32 upper = in_range_512<'A', 'Z'>(x);
        const __mmask32 inserts = uncamel_starts_word<std::uint32_t>(
            upper, in_range_512<'a', 'z'>(prev) | in_range_512<'0', '9'>(prev), in_range_512<'A', 'Z'>(prev),
            in_range_512<'a', 'z'>(next));
        return vectors::expand32_512(o, vectors::lowered_512(x, upper), inserts);
    }
#else
    static char* wide_block(char* o, const char*) noexcept { return o; }
#endif
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


template <cpu::path P>
[[gnu::always_inline]] inline void uncamel_ascii_on(const char* s, std::size_t n, byte_sink& out) {
    // At most one underscore per byte, plus room for the stores past the end.
    out.reserve_more(2 * n + uncamel_steps::overshoot<P> + 8);
    out.cursor = walk_ascii<uncamel_steps, P>(s, n, 0, out.cursor);
}

void uncamel_ascii_baseline(const char* s, std::size_t n, byte_sink& out) {
    uncamel_ascii_on<cpu::path::baseline>(s, n, out);
}
#if defined(__x86_64__)
[[gnu::target(TAVO_TARGET_SSSE3)]] void uncamel_ascii_ssse3(const char* s, std::size_t n, byte_sink& out) {
    uncamel_ascii_on<cpu::path::ssse3>(s, n, out);
}
[[gnu::target(TAVO_TARGET_AVX512)]] void uncamel_ascii_avx512(const char* s, std::size_t n, byte_sink& out) {
    uncamel_ascii_on<cpu::path::avx512>(s, n, out);
}
#else
constexpr ascii_walk uncamel_ascii_ssse3 = uncamel_ascii_baseline, uncamel_ascii_avx512 = uncamel_ascii_baseline;
#endif

void uncamel_ascii(const char* s, std::size_t n, byte_sink& out) {
    static const ascii_walk walk =
        walk_of_this_cpu<uncamel_ascii_baseline, uncamel_ascii_ssse3, uncamel_ascii_avx512>();
    walk(s, n, out);
}

// Any text, a code point at a time: ASCII bytes by their class, the others
// through the case table, copied as they are unless a capital is lowered. The
// class of the code point after a capital is read only when the rule needs it.
void uncamel_code_points(const unsigned char* p, std::size_t n, byte_sink& out) {
    const unsigned char* const end = p + n;
    // An ASCII byte gives at most two (an underscore and itself), a code point
    // copied as it is no more bytes than it has; a lowered one reserves its own.
    char* o = room(out, out.cursor, 2 * n);
    std::uint8_t prev = 0;
    const auto starts_word = [&](const unsigned char* next) {
        return uncamel_starts_word<bool>(true, prev & (lower_class | digit_class), prev & upper_class,
                                         (prev & upper_class) && next < end && (class_at(next) & lower_class));
    };
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            const std::uint8_t cls = ascii_classes[b];
            if (cls & upper_class) {
                if (starts_word(p + 1)) *o++ = '_';
                *o++ = static_cast<char>(b | 0x20);
            } else {
                *o++ = static_cast<char>(b);
            }
            prev = cls;
            ++p;
            continue;
        }
        if (b < 0xE0) {  // two bytes; a code point that is not a capital is copied
            const ucd::case_entry e = two_byte_entry(p);
            if (!(e & ucd::uppercase_bit)) {
                copy2(o, p);
                o += 2;
                p += 2;
                prev = class_of(e);
                continue;
            }
        }
        const unsigned char* next = p;
        const char32_t c = utf8::decode(next);
        const ucd::case_entry e = ucd::entry_of(c);
        const std::uint8_t cls = class_of(e);
        if (cls & upper_class) {
            if (e & ucd::lower_mapped_bit) {
                o = room(out, o, max_step + 2 * static_cast<std::size_t>(end - next));
                if (starts_word(next)) *o++ = '_';
                o = put_mapping(o, ucd::lower_of(c, e));
            } else {
                // Within the room: a code point of two bytes or more and one underscore.
                if (starts_word(next)) *o++ = '_';
                o = put_bytes(o, p, static_cast<std::size_t>(next - p));
            }
        } else {
            o = put_bytes(o, p, static_cast<std::size_t>(next - p));
        }
        prev = cls;
        p = next;
    }
    out.cursor = o;
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
    static constexpr std::size_t wide_reach = 32;
    template <cpu::path P>
    static constexpr std::size_t overshoot = vectors::expands_512<P> ? 32 : 8;
    static char* put(char* o, std::uint64_t mapped, std::uint64_t drops, std::size_t count) noexcept {
        return put_without(o, mapped, drops, count);
    }
    // The sixteen mapped bytes but the flagged ones.
    template <cpu::path P>
    [[gnu::always_inline]] static char* put_block(char* o, vec::bytes16 mapped, vec::bytes16 drops) noexcept {
        if constexpr (vectors::shuffled<P> || vectors::expands_512<P>) {
            return vectors::compact16(o, mapped, vec::lane_bits(drops));
        } else {
            if ((vec::low_half(drops) | vec::high_half(drops)) == 0) {
                vec::store(o, mapped);
                return o + 16;
            }
            o = put(o, vec::low_half(mapped), vec::low_half(drops) & words::high, 8);
            return put(o, vec::high_half(mapped), vec::high_half(drops) & words::high, 8);
        }
    }
#if defined(__x86_64__)
    // The 32 bytes at p (p[-1] read too), on the avx512 path; never the walk's first.
    [[gnu::target(TAVO_TARGET_AVX512)]] static char* wide_block(char* o, const char* p) noexcept {
        using vectors::in_range_512;
        using vectors::load_512;
        const __m256i x = load_512(p), prev = load_512(p - 1);
        const __mmask32 upper = in_range_512<'A', 'Z'>(x);
        const __mmask32 letters = upper | in_range_512<'a', 'z'>(x);
        const __mmask32 capital = camelcase_capital<std::uint32_t>(in_range_512<'_', '_'>(prev), ~0u);
        return vectors::compact32_512(o, vectors::camel_mapped_512(x, upper, letters, capital), in_range_512<'_', '_'>(x));
    }
#else
    static char* wide_block(char* o, const char*) noexcept { return o; }
#endif
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


template <cpu::path P>
[[gnu::always_inline]] inline void underscore_to_camelcase_ascii_on(const char* s, std::size_t n, byte_sink& out) {
    // Leading underscores are dropped, and the first character kept is
    // lowercased even though an underscore precedes it: nothing has been output
    // yet. From then on a character after an underscore is capitalised.
    std::size_t start = 0;
    while (start < n && s[start] == '_') ++start;
    out.reserve_more(n - start + camelcase_steps::overshoot<P> + 8);
    out.cursor = walk_ascii<camelcase_steps, P>(s, n, start, out.cursor);
}

void camelcase_ascii_baseline(const char* s, std::size_t n, byte_sink& out) {
    underscore_to_camelcase_ascii_on<cpu::path::baseline>(s, n, out);
}
#if defined(__x86_64__)
[[gnu::target(TAVO_TARGET_SSSE3)]] void camelcase_ascii_ssse3(const char* s, std::size_t n, byte_sink& out) {
    underscore_to_camelcase_ascii_on<cpu::path::ssse3>(s, n, out);
}
[[gnu::target(TAVO_TARGET_AVX512)]] void camelcase_ascii_avx512(const char* s, std::size_t n, byte_sink& out) {
    underscore_to_camelcase_ascii_on<cpu::path::avx512>(s, n, out);
}
#else
constexpr ascii_walk camelcase_ascii_ssse3 = camelcase_ascii_baseline, camelcase_ascii_avx512 = camelcase_ascii_baseline;
#endif

void underscore_to_camelcase_ascii(const char* s, std::size_t n, byte_sink& out) {
    static const ascii_walk walk =
        walk_of_this_cpu<camelcase_ascii_baseline, camelcase_ascii_ssse3, camelcase_ascii_avx512>();
    walk(s, n, out);
}

// Any text, a code point at a time: ASCII bytes by arithmetic, the others
// through the case table, copied as they are when they do not change.
void camelcase_code_points(const unsigned char* p, std::size_t n, byte_sink& out) {
    const unsigned char* const end = p + n;
    // A byte or a code point that does not change gives no more bytes than it has.
    char* o = room(out, out.cursor, n);
    bool after_underscore = false;
    bool written = false;
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            ++p;
            if (b == '_') {
                after_underscore = true;
                continue;
            }
            if (camelcase_capital(after_underscore, written)) {
                *o++ = static_cast<char>(words::is_lower(b) ? b - 0x20 : b);
            } else {
                *o++ = static_cast<char>(words::is_upper(b) ? b | 0x20 : b);
            }
        } else {
            const bool capital = camelcase_capital(after_underscore, written);
            const ucd::case_entry changes = capital ? ucd::upper_mapped_bit : ucd::lower_mapped_bit;
            if (b < 0xE0 && !(two_byte_entry(p) & changes)) {  // two bytes that stay as they are
                copy2(o, p);
                o += 2;
                p += 2;
                after_underscore = false;
                written = true;
                continue;
            }
            const unsigned char* next = p;
            const char32_t c = utf8::decode(next);
            const ucd::case_entry e = ucd::entry_of(c);
            if (e & changes) {
                o = room(out, o, max_step + static_cast<std::size_t>(end - next));
                o = put_mapping(o, capital ? ucd::upper_of(c, e) : ucd::lower_of(c, e));
            } else {
                o = put_bytes(o, p, static_cast<std::size_t>(next - p));
            }
            p = next;
        }
        after_underscore = false;
        written = true;
    }
    out.cursor = o;
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
