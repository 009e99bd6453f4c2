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

// A word of eight mapped bytes (`count` of them real) placed with the flagged
// ones handled: an underscore in front of each where Op::inserts, else dropped.
template <class Op>
[[gnu::always_inline]] inline char* put_word(char* o, std::uint64_t mapped, std::uint64_t flags,
                                             std::size_t count) noexcept {
    if constexpr (Op::inserts) {
        return put_with_underscores(o, mapped, flags, count);
    } else {
        return put_without(o, mapped, flags, count);
    }
}

// Sixteen mapped bytes placed so (bit 7 of each flagged byte): at once on the
// paths with a byte shuffle or avx512's expand; else a word at a time, or
// stored whole when none is flagged.
template <class Op, cpu::path P>
[[gnu::always_inline]] inline char* put_block(char* o, vec::bytes16 mapped, vec::bytes16 flags) noexcept {
    if constexpr (vectors::shuffled<P> || vectors::expands_512<P>) {
        if constexpr (Op::inserts) {
            return vectors::expand16(o, mapped, vec::lane_bits(flags));
        } else {
            return vectors::compact16(o, mapped, vec::lane_bits(flags));
        }
    } else {
        if ((vec::low_half(flags) | vec::high_half(flags)) == 0) {
            vec::store(o, mapped);
            return o + 16;
        }
        o = put_word<Op>(o, vec::low_half(mapped), vec::low_half(flags) & words::high, 8);
        return put_word<Op>(o, vec::high_half(mapped), vec::high_half(flags) & words::high, 8);
    }
}

// How far past its returned position a walk of path P writes: a block or a word
// is stored whole.
template <cpu::path P>
constexpr std::size_t overshoot = vectors::expands_512<P> ? 32 : 8;

#if defined(__x86_64__)
using vectors::in_range_512;
using vectors::load_512;
#endif

// The walk that both conversions of ASCII text take, from byte `start` on,
// by path P: 32 bytes at a time on the avx512 path while at least
// Op::wide_reach bytes are left, sixteen while at least Op::block_reach are
// (a block reads its neighbours from the text itself), then eight. Each step
// maps its bytes and flags some of them, and is placed by put_block or
// put_word. Writes up to overshoot<P> bytes past the returned position.
template <class Op, cpu::path P>
[[gnu::always_inline]] inline char* walk_ascii(const char* s, std::size_t n, std::size_t start, char* o) {
    std::size_t i = start;
    while (i < n) {
#if defined(__x86_64__)
        if constexpr (vectors::expands_512<P>) {
            if (i > start && n - i >= Op::wide_reach) {
                o = Op::wide_block(o, s + i);
                i += 32;
                continue;
            }
        }
#endif
        if (vec::available && i > start && n - i >= Op::block_reach) {
            const auto [mapped, flags] = Op::block(s + i);
            o = put_block<Op, P>(o, mapped, flags);
            i += 16;
            continue;
        }
        const std::size_t count = n - i < 8 ? n - i : 8;
        const std::uint64_t x = count == 8 ? words::load(s + i) : words::load_partial(s + i, count);
        const auto [mapped, flags] = Op::word(s, n, start, i, x);
        o = put_word<Op>(o, mapped, flags, count);
        i += count;
    }
    return o;
}

using ascii_walk = void (*)(const char*, std::size_t, byte_sink&);

// A conversion's walk of ASCII text into a sink, from the first byte Op::start
// gives, with room for the most it writes; one instance per path, the one of
// this CPU's path chosen at the conversion's first call.
template <class Op, cpu::path P>
[[gnu::always_inline]] inline void ascii_walk_on(const char* s, std::size_t n, byte_sink& out) {
    const std::size_t start = Op::start(s, n);
    out.reserve_more(Op::most_written(n - start) + overshoot<P> + 8);
    out.cursor = walk_ascii<Op, P>(s, n, start, out.cursor);
}

template <class Op>
void ascii_walk_baseline(const char* s, std::size_t n, byte_sink& out) {
    ascii_walk_on<Op, cpu::path::baseline>(s, n, out);
}
#if defined(__x86_64__)
template <class Op>
[[gnu::target(TAVO_TARGET_SSSE3)]] void ascii_walk_ssse3(const char* s, std::size_t n, byte_sink& out) {
    ascii_walk_on<Op, cpu::path::ssse3>(s, n, out);
}
template <class Op>
[[gnu::target(TAVO_TARGET_AVX512)]] void ascii_walk_avx512(const char* s, std::size_t n, byte_sink& out) {
    ascii_walk_on<Op, cpu::path::avx512>(s, n, out);
}
#endif

template <class Op>
ascii_walk ascii_walk_of_this_cpu() noexcept {
#if defined(__x86_64__)
    switch (cpu::chosen()) {
        case cpu::path::avx512: return ascii_walk_avx512<Op>;
        case cpu::path::avx2:  // the ssse3 code (case_vectors.hpp says why)
        case cpu::path::ssse3: return ascii_walk_ssse3<Op>;
        case cpu::path::baseline: break;
    }
#endif
    return ascii_walk_baseline<Op>;
}

// --- uncamel ---------------------------------------------------------------------------

// ASCII text, eight or sixteen bytes at a time: for each byte the masks flag
// a capital, a small letter or a digit, of the byte and of its neighbours, for
// uncamel_starts_word.

// The steps of uncamel's walk: bytes lowered, underscores inserted in front of the flagged ones.
struct uncamel_steps {
    static constexpr std::size_t block_reach = 17;  // the byte after the block is read too
    static constexpr std::size_t wide_reach = 33;
    static std::size_t start(const char*, std::size_t) noexcept { return 0; }
    // At most one underscore per byte.
    static std::size_t most_written(std::size_t n) noexcept { return 2 * n; }
    static constexpr bool inserts = true;
#if defined(__x86_64__)
    // The 32 bytes at p (p[-1] and p[32] read too), on the avx512 path.
    [[gnu::target(TAVO_TARGET_AVX512)]] static char* wide_block(char* o, const char* p) noexcept {
        const __m256i x = load_512(p), prev = load_512(p - 1), next = load_512(p + 1);
        const __mmask32 upper = in_range_512<'A', 'Z'>(x);
        const __mmask32 inserts = uncamel_starts_word<std::uint32_t>(
            upper, in_range_512<'a', 'z'>(prev) | in_range_512<'0', '9'>(prev), in_range_512<'A', 'Z'>(prev),
            in_range_512<'a', 'z'>(next));
        return vectors::expand32_512(o, vectors::lowered_512(x, upper), inserts);
    }
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


void uncamel_ascii(const char* s, std::size_t n, byte_sink& out) {
    static const ascii_walk walk = ascii_walk_of_this_cpu<uncamel_steps>();
    walk(s, n, out);
}

// Whether the walks of any text take the next sixteen bytes at p as one block
// of ASCII text (a block step of the ASCII walk, on the baseline path): p is
// not the text's start, and p[0..17) are ASCII (the block reads p[-1] and
// p[16]).
inline bool ascii_stretch(const unsigned char* begin, const unsigned char* p, const unsigned char* end) noexcept {
    if (!vec::available || p == begin || end - p < 17) return false;
    const vec::bytes16 x = vec::load(p);
    return ((vec::low_half(x) | vec::high_half(x)) & words::high) == 0 && p[16] < 0x80;
}

// Any text, a code point at a time: ASCII bytes by their class, the others
// through the case table, copied as they are unless a capital is lowered. The
// class of the code point after a capital is read only when the rule needs it.
// Stretches of ASCII inside it go sixteen bytes at a time.
void uncamel_code_points(const unsigned char* p, std::size_t n, byte_sink& out) {
    const unsigned char* const begin = p;
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
            if (ascii_stretch(begin, p, end) && p[-1] < 0x80) {
                // the code points around the block are its neighbouring bytes
                o = room(out, o, 2 * static_cast<std::size_t>(end - p) + overshoot<cpu::path::baseline>);
                const auto [lowered, inserts] = uncamel_steps::block(reinterpret_cast<const char*>(p));
                o = put_block<uncamel_steps, cpu::path::baseline>(o, lowered, inserts);
                prev = ascii_classes[p[15]];
                p += 16;
                continue;
            }
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

// The steps of underscore_to_camelcase's walk: underscores flagged and dropped,
// a letter after one made a capital, every other letter a small one.
struct camelcase_steps {
    static constexpr std::size_t block_reach = 16;
    static constexpr std::size_t wide_reach = 32;
    // Leading underscores are dropped, and the first character kept is
    // lowercased even though an underscore precedes it: nothing has been output
    // yet. From then on a character after an underscore is capitalised.
    static std::size_t start(const char* s, std::size_t n) noexcept {
        std::size_t i = 0;
        while (i < n && s[i] == '_') ++i;
        return i;
    }
    static std::size_t most_written(std::size_t n) noexcept { return n; }
    static constexpr bool inserts = false;
#if defined(__x86_64__)
    // The 32 bytes at p (p[-1] read too), on the avx512 path; never the walk's first.
    [[gnu::target(TAVO_TARGET_AVX512)]] static char* wide_block(char* o, const char* p) noexcept {
        const __m256i x = load_512(p), prev = load_512(p - 1);
        const __mmask32 upper = in_range_512<'A', 'Z'>(x);
        const __mmask32 letters = upper | in_range_512<'a', 'z'>(x);
        const __mmask32 capital = camelcase_capital<std::uint32_t>(in_range_512<'_', '_'>(prev), ~0u);
        return vectors::compact32_512(o, vectors::camel_mapped_512(x, upper, letters, capital), in_range_512<'_', '_'>(x));
    }
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


void underscore_to_camelcase_ascii(const char* s, std::size_t n, byte_sink& out) {
    static const ascii_walk walk = ascii_walk_of_this_cpu<camelcase_steps>();
    walk(s, n, out);
}

// Any text, a code point at a time: ASCII bytes by arithmetic, the others
// through the case table, copied as they are when they do not change.
// Stretches of ASCII inside it, once something is written, go sixteen bytes
// at a time.
void camelcase_code_points(const unsigned char* p, std::size_t n, byte_sink& out) {
    const unsigned char* const begin = p;
    const unsigned char* const end = p + n;
    // A byte or a code point that does not change gives no more bytes than it has.
    char* o = room(out, out.cursor, n);
    bool after_underscore = false;
    bool written = false;
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            if (written && ascii_stretch(begin, p, end)) {
                // (the block reads whether an underscore is right before it from the byte there)
                o = room(out, o, static_cast<std::size_t>(end - p) + overshoot<cpu::path::baseline>);
                const auto [mapped, drops] = camelcase_steps::block(reinterpret_cast<const char*>(p));
                o = put_block<camelcase_steps, cpu::path::baseline>(o, mapped, drops);
                after_underscore = p[15] == '_';
                p += 16;
                continue;
            }
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


// --- short texts of one- and two-byte code points ------------------------------------------
// Texts of up to 64 bytes outside ASCII whose code points all have one or two
// bytes (Latin with diacritics, Greek, Cyrillic, and ASCII among them) take
// the vector steps of ASCII text: the flags of the ASCII bytes come from
// compares over the whole text, those of each two-byte code point (a few per
// text) from its entry, set at its lead byte and its second byte as the rule
// reads them; the bytes are placed with the underscores by the path's shuffles
// (two-byte code points as they are), and the two bytes of each code point the
// conversion maps are written over its place afterwards. A text with a longer
// code point, or a mapping that is not one two-byte code point, is left to the
// code point walk, which then writes it all.

constexpr std::size_t mixed_reach = 64;

// The two bytes of the one two-byte code point that a two-byte code point
// maps to (the lead byte low), 0 where it does not change, and
// `longer_mapping` where it maps to anything else.
constexpr std::uint16_t longer_mapping = 0xFFFF;

template <bool Upper>
constexpr auto two_byte_mappings = [] {
    std::array<std::uint16_t, 0x800> t{};
    for (char32_t c = 0x80; c < 0x800; ++c) {
        const ucd::case_entry e = ucd::entry_of(c);
        if (!(e & (Upper ? ucd::upper_mapped_bit : ucd::lower_mapped_bit))) continue;
        const ucd::mapping m = Upper ? ucd::upper_of(c, e) : ucd::lower_of(c, e);
        if (m.size != 1 || m.cp[0] < 0x80 || m.cp[0] >= 0x800) {
            t[c] = longer_mapping;
        } else {
            t[c] = static_cast<std::uint16_t>((0xC0u | (m.cp[0] >> 6)) | ((0x80u | (m.cp[0] & 0x3Fu)) << 8));
        }
    }
    return t;
}();

inline std::size_t two_byte_index(const unsigned char* p) noexcept { return ((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu); }

// The flags of a text s[0..n) (1 <= n <= 64; s[0..64) may be read), bit i
// for byte i, none past the text.
struct mixed_flags {
    std::uint64_t within, lead, longer, upper, lower, digit, under;
};

// By sixteen-byte blocks.
[[gnu::always_inline]] inline mixed_flags flags_of_blocks(std::size_t n, const vec::bytes16 (&x)[4]) noexcept {
    using vec::in_range, vec::lane_bits;
    mixed_flags f{};
    f.within = n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
    for (unsigned k = 0; k < 4; ++k) {
        const unsigned at = 16 * k;
        f.lead |= std::uint64_t{lane_bits(in_range<0xC0, 0xFF>(x[k]))} << at;
        f.longer |= std::uint64_t{lane_bits(in_range<0xE0, 0xFF>(x[k]))} << at;
        f.upper |= std::uint64_t{lane_bits(in_range<'A', 'Z'>(x[k]))} << at;
        f.lower |= std::uint64_t{lane_bits(in_range<'a', 'z'>(x[k]))} << at;
        f.digit |= std::uint64_t{lane_bits(in_range<'0', '9'>(x[k]))} << at;
        f.under |= std::uint64_t{lane_bits(in_range<'_', '_'>(x[k]))} << at;
    }
    f.lead &= f.within;
    f.longer &= f.within;
    f.upper &= f.within;
    f.lower &= f.within;
    f.digit &= f.within;
    f.under &= f.within;
    return f;
}

#if defined(__x86_64__)
// By two 32-byte halves, on the avx512 path.
template <unsigned char lo, unsigned char hi>
[[gnu::target(TAVO_TARGET_AVX512)]] inline std::uint64_t range_64(const __m256i (&x)[2]) noexcept {
    return std::uint64_t{vectors::in_range_512<lo, hi>(x[0])} | (std::uint64_t{vectors::in_range_512<lo, hi>(x[1])} << 32);
}

[[gnu::target(TAVO_TARGET_AVX512)]] inline mixed_flags flags_of_halves(std::size_t n, const __m256i (&x)[2]) noexcept {
    mixed_flags f{};
    f.within = _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(n));
    f.lead = range_64<0xC0, 0xFF>(x) & f.within;
    f.longer = range_64<0xE0, 0xFF>(x) & f.within;
    f.upper = range_64<'A', 'Z'>(x) & f.within;
    f.lower = range_64<'a', 'z'>(x) & f.within;
    f.digit = range_64<'0', '9'>(x) & f.within;
    f.under = range_64<'_', '_'>(x) & f.within;
    return f;
}
#endif

// uncamel's flags of the two-byte code points, at their lead bytes: capitals,
// small letters, and the capitals that lowering changes. (No branch on the
// entries, which follow no pattern.)
struct two_byte_cases {
    std::uint64_t upper, lower, lowered;
};

[[gnu::always_inline]] inline two_byte_cases cases_of(const unsigned char* p, std::uint64_t lead) noexcept {
    two_byte_cases c{};
    for (std::uint64_t m = lead; m; m &= m - 1) {
        const auto j = static_cast<unsigned>(std::countr_zero(m));
        const ucd::case_entry e = two_byte_entry(p + j);
        const std::uint64_t up = (e & ucd::uppercase_bit) != 0, low = (e & ucd::lowercase_bit) != 0;
        const std::uint64_t maps = (e & ucd::lower_mapped_bit) != 0;
        c.upper |= up << j;
        c.lower |= low << j;
        c.lowered |= (up & maps) << j;
    }
    return c;
}

// The bytes of uncamel's result that get an underscore in front: the rule
// read at the first byte of each code point, of the code point before at its
// last byte, and of the one after at its first.
[[gnu::always_inline]] inline std::uint64_t uncamel_inserts(const mixed_flags& f, const two_byte_cases& c) noexcept {
    const std::uint64_t ascii = ~(f.lead | (f.lead << 1)) & f.within;
    const std::uint64_t upper_first = f.upper | c.upper, upper_last = f.upper | (c.upper << 1);
    const std::uint64_t lower_first = f.lower | c.lower;
    const std::uint64_t lower_or_digit_last = f.lower | f.digit | (c.lower << 1);
    const std::uint64_t after_lower = ((lower_first >> 1) & ascii) | ((lower_first >> 2) & f.lead);
    return uncamel_starts_word(upper_first, lower_or_digit_last << 1, upper_last << 1, after_lower);
}

// The lowered capitals written over their places in the result at `start`;
// false where one lowers to more than a two-byte code point.
[[gnu::always_inline]] inline bool put_lowered(char* start, const unsigned char* p, std::uint64_t lowered,
                                               std::uint64_t inserts) noexcept {
    for (std::uint64_t m = lowered; m; m &= m - 1) {
        const auto j = static_cast<unsigned>(std::countr_zero(m));
        const std::uint64_t through = (std::uint64_t{2} << j) - 1;  // bits 0..j (all of them for j = 63)
        const std::uint16_t bytes = two_byte_mappings<false>[two_byte_index(p + j)];
        if (bytes == longer_mapping) return false;
        std::memcpy(start + j + std::popcount(inserts & through), &bytes, 2);
    }
    return true;
}

// underscore_to_camelcase's two-byte code points written over their places in
// the result at `start`, a capital after an underscore (`capital`), a small
// letter elsewhere; false where one maps to more than a two-byte code point.
[[gnu::always_inline]] inline bool put_camelcase(char* start, const unsigned char* p, const mixed_flags& f,
                                                 std::uint64_t capital) noexcept {
    for (std::uint64_t m = f.lead; m; m &= m - 1) {
        const auto j = static_cast<unsigned>(std::countr_zero(m));
        const std::uint64_t bit = std::uint64_t{1} << j;
        const std::size_t at = two_byte_index(p + j);
        const std::uint16_t bytes = (capital & bit) ? two_byte_mappings<true>[at] : two_byte_mappings<false>[at];
        if (bytes == longer_mapping) return false;
        std::uint16_t same;
        std::memcpy(&same, p + j, 2);
        const std::uint16_t put = bytes ? bytes : same;
        std::memcpy(start + j - std::popcount(f.under & (bit - 1)), &put, 2);
    }
    return true;
}

// After the first byte kept, something has been written.
[[gnu::always_inline]] inline std::uint64_t camelcase_capitals(const mixed_flags& f) noexcept {
    const std::uint64_t kept = ~f.under & f.within;
    const std::uint64_t written = ~(((kept & (0 - kept)) << 1) - 1);
    return camelcase_capital(f.under << 1, written);
}

// The text's bytes as each path holds them, and the writers of the ASCII
// part of each result: every block is written whole (its flags past the text
// clear), up to twice its bytes for uncamel.
struct sixteen_blocks {
    vec::bytes16 x[4];

    [[gnu::always_inline]] explicit sixteen_blocks(const char* s) noexcept {
        for (unsigned k = 0; k < 4; ++k) x[k] = vec::load(s + 16 * k);
    }
    [[gnu::always_inline]] mixed_flags flags(std::size_t n) const noexcept { return flags_of_blocks(n, x); }

    [[gnu::always_inline]] void put_uncamel(char* o, std::size_t n, const mixed_flags&, std::uint64_t inserts) const noexcept {
        for (unsigned k = 0; k < 4 && 16 * k < n; ++k) {
            const vec::bytes16 low = x[k] | (vec::in_range<'A', 'Z'>(x[k]) & 0x20);
            o = vectors::expand16(o, low, static_cast<std::uint32_t>((inserts >> (16 * k)) & 0xFFFF));
        }
    }

    [[gnu::always_inline]] void put_camelcase(char* o, std::size_t n, const mixed_flags& f, std::uint64_t) const noexcept {
        using vec::bytes16, vec::in_range;
        const std::uint64_t drops = f.under | ~f.within;
        const bytes16 lane0 = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
        const auto first_at = static_cast<unsigned char>(std::countr_zero(~drops));
        bytes16 before{};
        for (unsigned k = 0; k < 4 && 16 * k < n; ++k) {
            const bytes16 prev = __builtin_shufflevector(before, x[k], 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26,
                                                         27, 28, 29, 30);
            before = x[k];
            const bytes16 written = reinterpret_cast<bytes16>(lane0 + static_cast<unsigned char>(16 * k) > first_at);
            const bytes16 upper = in_range<'A', 'Z'>(x[k]);
            const bytes16 cap = camelcase_capital(in_range<'_', '_'>(prev), written) & (upper | in_range<'a', 'z'>(x[k]));
            const bytes16 mapped = (x[k] | (upper & 0x20)) & ~(cap & 0x20);
            o = vectors::compact16(o, mapped, static_cast<std::uint32_t>((drops >> (16 * k)) & 0xFFFF));
        }
    }
};

#if defined(__x86_64__)
// On the avx512 path: two 32-byte halves, and the byte expansion and
// compaction of VBMI2.
struct halves_512 {
    __m256i x[2];

    [[gnu::target(TAVO_TARGET_AVX512)]] explicit halves_512(const char* s) noexcept
        : x{vectors::load_512(s), vectors::load_512(s + 32)} {}
    [[gnu::target(TAVO_TARGET_AVX512)]] mixed_flags flags(std::size_t n) const noexcept {
        return flags_of_halves(n, x);
    }

    [[gnu::target(TAVO_TARGET_AVX512)]] void put_uncamel(char* o, std::size_t n, const mixed_flags& f,
                                                         std::uint64_t inserts) const noexcept {
        for (unsigned h = 0; h < 2 && 32 * h < n; ++h) {
            const auto up = static_cast<__mmask32>(f.upper >> (32 * h));
            o = vectors::expand32_512(o, vectors::lowered_512(x[h], up), static_cast<std::uint32_t>(inserts >> (32 * h)));
        }
    }

    [[gnu::target(TAVO_TARGET_AVX512)]] void put_camelcase(char* o, std::size_t n, const mixed_flags& f,
                                                           std::uint64_t capital) const noexcept {
        for (unsigned h = 0; h < 2 && 32 * h < n; ++h) {
            const auto half = [h](std::uint64_t m) { return static_cast<__mmask32>(m >> (32 * h)); };
            const __m256i mapped = vectors::camel_mapped_512(x[h], half(f.upper), half(f.upper | f.lower), half(capital));
            o = vectors::compact32_512(o, mapped, half(f.under | ~f.within));
        }
    }
};
#endif

// The text converted and true, or false with nothing written: out.cursor is
// left where it was, and what was written past it is left to be written over.
using mixed_step = bool (*)(const char*, std::size_t, byte_sink&);

// The step of a conversion on each path: the same code, and the popcnt
// instruction where the path has it (an ssse3 CPU may not).
enum class conversion { uncamel, camelcase };

template <conversion C, class Text>
[[gnu::always_inline]] inline bool mixed_on(const char* s, std::size_t n, byte_sink& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    const Text text(s);
    const mixed_flags f = text.flags(n);
    if (f.longer) return false;
    if constexpr (C == conversion::uncamel) {
        const two_byte_cases c = cases_of(p, f.lead);
        const std::uint64_t inserts = uncamel_inserts(f, c);
        out.reserve_more(2 * mixed_reach + 16);
        char* const start = out.cursor;
        text.put_uncamel(start, n, f, inserts);
        if (!put_lowered(start, p, c.lowered, inserts)) return false;
        out.cursor = start + n + std::popcount(inserts);
    } else {
        const std::uint64_t capital = camelcase_capitals(f);
        out.reserve_more(mixed_reach + 16);
        char* const start = out.cursor;
        text.put_camelcase(start, n, f, capital);
        if (!put_camelcase(start, p, f, capital)) return false;
        out.cursor = start + std::popcount(~f.under & f.within);
    }
    return true;
}

// The step of this CPU's path, chosen at the conversion's first call: none
// where it has no byte shuffle (x86-64's baseline).
#if defined(__x86_64__)
template <conversion C>
[[gnu::target(TAVO_TARGET_SSSE3)]] bool mixed_ssse3(const char* s, std::size_t n, byte_sink& out) {
    return mixed_on<C, sixteen_blocks>(s, n, out);
}
template <conversion C>
[[gnu::target(TAVO_TARGET_AVX2)]] bool mixed_avx2(const char* s, std::size_t n, byte_sink& out) {
    return mixed_on<C, sixteen_blocks>(s, n, out);
}
template <conversion C>
[[gnu::target(TAVO_TARGET_AVX512)]] bool mixed_avx512(const char* s, std::size_t n, byte_sink& out) {
    return mixed_on<C, halves_512>(s, n, out);
}
template <conversion C>
mixed_step mixed_of_this_cpu() noexcept {
    switch (cpu::chosen()) {
        case cpu::path::avx512: return mixed_avx512<C>;
        case cpu::path::avx2: return mixed_avx2<C>;
        case cpu::path::ssse3: return mixed_ssse3<C>;
        case cpu::path::baseline: break;
    }
    return nullptr;
}
#else
template <conversion C>
bool mixed_baseline(const char* s, std::size_t n, byte_sink& out) {
    return mixed_on<C, sixteen_blocks>(s, n, out);
}
template <conversion C>
mixed_step mixed_of_this_cpu() noexcept {
    return vectors::shuffled<cpu::path::baseline> ? mixed_baseline<C> : nullptr;
}
#endif

mixed_step uncamel_mixed() noexcept {
    static const mixed_step step = mixed_of_this_cpu<conversion::uncamel>();
    return step;
}
mixed_step camelcase_mixed() noexcept {
    static const mixed_step step = mixed_of_this_cpu<conversion::camelcase>();
    return step;
}

// A text of up to mixed_reach bytes outside ASCII by `step`: read in place
// when that many bytes may be read from its start, else from a copy.
[[gnu::always_inline]] inline bool converted_mixed(mixed_step step, std::string_view in, std::size_t readable,
                                                   byte_sink& out) {
    if (!step) return false;
    if (readable >= mixed_reach) return step(in.data(), in.size(), out);
    char copy[mixed_reach] = {};
    std::memcpy(copy, in.data(), in.size());
    return step(copy, in.size(), out);
}

// Short identifiers take the exact plan of short_ascii.hpp (nothing past
// the text is read), ASCII text the word walk, short texts of one- and
// two-byte code points their vector steps, the rest the code point walk.
template <class Short, void (*CodePoints)(const unsigned char*, std::size_t, byte_sink&),
          void (*Ascii)(const char*, std::size_t, byte_sink&), mixed_step (*Mixed)()>
void convert(std::string_view in, bool ascii, std::size_t readable, byte_sink& out) {
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
    } else if (n > mixed_reach || !converted_mixed(Mixed(), in, readable, out)) {
        CodePoints(reinterpret_cast<const unsigned char*>(in.data()), n, out);
    }
}

}  // namespace

void uncamel_text(std::string_view in, bool ascii, std::size_t readable, byte_sink& out) {
    convert<uncamel_form, uncamel_code_points, uncamel_ascii, uncamel_mixed>(in, ascii, readable, out);
}

void underscore_to_camelcase_text(std::string_view in, bool ascii, std::size_t readable, byte_sink& out) {
    convert<camelcase_form, camelcase_code_points, underscore_to_camelcase_ascii, camelcase_mixed>(in, ascii, readable,
                                                                                                  out);
}

}  // namespace tavo::text
