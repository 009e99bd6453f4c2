// The price reader (price.hpp): the numbers of a text are found one by one,
// each with what stands around it (a currency, a sign, parentheses, a '%'),
// and the first that is a price is read by the strict number grammar of
// parse() (number_read.hpp).
#include "numparse/price.hpp"

#include "numparse/currency_table.hpp"
#include "numparse/number_read.hpp"
#include "shared/byte_words.hpp"
#include "shared/cpu_paths.hpp"
#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

namespace tavo::numparse {

char* price_scratch::room(std::size_t n) {
    if (n <= small_text) return small_;
    if (n > large_cap_) {
        large_.reset(new char[n]);
        large_cap_ = n;
    }
    return large_.get();
}

namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);
constexpr std::size_t longest_entry = 24;

// Bit n for each first byte that begins an entry of n bytes.
constexpr std::array<std::uint32_t, 256> sizes_by_first = [] {
    std::array<std::uint32_t, 256> t{};
    for (const currency_entry& e : currency_entries) {
        t[static_cast<unsigned char>(e.text[0])] |= std::uint32_t{1} << e.size;
    }
    return t;
}();
// Bit n for each last byte that ends an entry of n bytes.
constexpr std::array<std::uint32_t, 256> sizes_by_last = [] {
    std::array<std::uint32_t, 256> t{};
    for (const currency_entry& e : currency_entries) {
        t[static_cast<unsigned char>(e.text[e.size - 1])] |= std::uint32_t{1} << e.size;
    }
    return t;
}();
static_assert([] {
    for (const currency_entry& e : currency_entries) {
        if (e.size == 0 || e.size > longest_entry) return false;
    }
    return true;
}());

// The currencies whose minor unit is a thousandth and whose amounts shops
// write with three decimals ('KD 12.500'): a mark followed by three digits is
// their decimal point.
constexpr std::array<bool, currency_entry_count> three_decimals = [] {
    std::array<bool, currency_entry_count> t{};
    for (std::size_t i = 0; i < currency_entry_count; ++i) {
        const std::string_view code = currency_entries[i].code;
        t[i] = code == "BHD" || code == "JOD" || code == "KWD" || code == "OMR" || code == "TND" || code == "LYD";
    }
    return t;
}();

inline unsigned char byte_at(std::string_view t, std::size_t i) noexcept {
    return static_cast<unsigned char>(t[i]);
}
inline bool is_digit(unsigned char c) noexcept { return c - unsigned{'0'} < 10; }
inline bool is_ascii_alpha(unsigned char c) noexcept { return (c | 0x20) - unsigned{'a'} < 26; }
// The lead bytes of the two-byte letters of the Latin, Greek, Cyrillic,
// Armenian, Hebrew and Arabic scripts (U+00C0..U+06FF): a word goes on across
// them.
inline bool is_letter_lead(unsigned char c) noexcept { return c >= 0xC3 && c <= 0xDB; }
inline bool is_continuation(unsigned char c) noexcept { return (c & 0xC0) == 0x80; }

// Does a letter end right before `pos`?
bool letter_before(std::string_view t, std::size_t pos) noexcept {
    if (pos == 0) return false;
    const unsigned char c = byte_at(t, pos - 1);
    if (is_ascii_alpha(c)) return true;
    return is_continuation(c) && pos >= 2 && is_letter_lead(byte_at(t, pos - 2));
}

// Does a letter start at `pos`?
bool letter_at(std::string_view t, std::size_t pos) noexcept {
    if (pos >= t.size()) return false;
    const unsigned char c = byte_at(t, pos);
    return is_ascii_alpha(c) || is_letter_lead(c);
}

// An entry that begins or ends with a letter is a word of its own: no letter
// may touch it on that side ('USD' is not in 'USDT', 'kr' not in 'kroner').
// (`size` >= 1 bytes from `at` lie in the text)
[[gnu::always_inline]] inline bool fits(std::string_view t, std::size_t at, std::size_t size) noexcept {
    const unsigned char first = byte_at(t, at);
    if ((is_ascii_alpha(first) || is_letter_lead(first)) && letter_before(t, at)) return false;
    const unsigned char last = byte_at(t, at + size - 1);
    const bool ends_in_letter =
        is_ascii_alpha(last) || (is_continuation(last) && size >= 2 && is_letter_lead(byte_at(t, at + size - 2)));
    return !(ends_in_letter && letter_at(t, at + size));
}

inline bool same_bytes(const char* a, const char* b, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// A currency entry found in the text: its size (0: none) and its index.
struct entry_match {
    std::size_t size = 0;
    std::size_t index = 0;
};

constexpr std::uint32_t hash_bytes(const char* p, std::size_t n) noexcept {
    std::uint32_t h = 2166136261u;  // FNV-1a
    for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 16777619u;
    return h;
}

// The entries by the hash of their bytes (open addressing, linear probing):
// entry index + 1, 0 for an empty slot.
constexpr std::size_t hash_slots = 4096;
static_assert(hash_slots >= 2 * currency_entry_count && (hash_slots & (hash_slots - 1)) == 0);
constexpr std::array<std::uint16_t, hash_slots> entry_slots = [] {
    std::array<std::uint16_t, hash_slots> t{};
    for (std::size_t i = 0; i < currency_entry_count; ++i) {
        const currency_entry& e = currency_entries[i];
        std::size_t h = hash_bytes(e.text, e.size) & (hash_slots - 1);
        while (t[h] != 0) h = (h + 1) & (hash_slots - 1);
        t[h] = static_cast<std::uint16_t>(i + 1);
    }
    return t;
}();

// The entry whose bytes are the n at p, or npos.
[[gnu::always_inline]] inline std::size_t entry_of(const char* p, std::size_t n) noexcept {
    for (std::size_t h = hash_bytes(p, n) & (hash_slots - 1);; h = (h + 1) & (hash_slots - 1)) {
        const std::size_t slot = entry_slots[h];
        if (slot == 0) return npos;
        const currency_entry& e = currency_entries[slot - 1];
        if (e.size == n && same_bytes(p, e.text, n)) return slot - 1;
    }
}

// The size of a numeric character reference ("&#160;", "&#xA0;": at most
// "&#" and 6 digits, or "&#x" and 5 hex digits, then ';') at `pos`, and its
// code point; {0, 0} where none stands.
std::pair<std::size_t, std::uint32_t> numeric_entity_at(std::string_view t, std::size_t pos) noexcept {
    if (pos + 3 >= t.size() || t[pos] != '&' || t[pos + 1] != '#') return {0, 0};
    const bool hex = t[pos + 2] == 'x' || t[pos + 2] == 'X';
    std::size_t i = pos + 2 + hex;
    std::uint32_t code = 0;
    const std::size_t most = i + (hex ? 5 : 6);
    const std::size_t first = i;
    for (; i < t.size() && i < most; ++i) {
        const unsigned char c = byte_at(t, i);
        unsigned d;
        if (is_digit(c)) {
            d = c - unsigned{'0'};
        } else if (hex && (c | 0x20) - unsigned{'a'} < 6) {
            d = (c | 0x20) - unsigned{'a'} + 10;
        } else {
            break;
        }
        code = code * (hex ? 16 : 10) + d;
    }
    if (i == first || i >= t.size() || t[i] != ';') return {0, 0};
    return {i + 1 - pos, code};
}

// The currency sign that an HTML reference at `pos` stands for, as the entry
// of that sign with the reference's size ('&euro;', '&#8364;', '&#x20AC;':
// '€'), or none: named ones of the signs HTML names, numeric ones of a sign
// of the table past ASCII, or '$'.
static_assert(sizes_by_first['&'] == 0 && sizes_by_last[';'] == 0);
[[gnu::cold]] entry_match entity_currency_at(std::string_view t, std::size_t pos) noexcept {
    static constexpr std::pair<std::string_view, std::string_view> named[] = {
        {"&euro;", "\xE2\x82\xAC"}, {"&pound;", "\xC2\xA3"}, {"&yen;", "\xC2\xA5"}, {"&cent;", "\xC2\xA2"},
        {"&dollar;", "$"}};
    const std::string_view rest = t.substr(pos);
    for (const auto& [name, sign] : named) {
        if (rest.starts_with(name)) {
            const std::size_t i = entry_of(sign.data(), sign.size());
            return i == npos ? entry_match{} : entry_match{name.size(), i};
        }
    }
    const auto [size, code] = numeric_entity_at(t, pos);
    if (size == 0 || !(code == '$' || (code >= 0x80 && code < 0x110000 && !(code >= 0xD800 && code < 0xE000)))) {
        return {};
    }
    char utf8[4];
    std::size_t n = 0;
    if (code < 0x80) {
        utf8[n++] = static_cast<char>(code);
    } else if (code < 0x800) {
        utf8[n++] = static_cast<char>(0xC0 | (code >> 6));
        utf8[n++] = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        utf8[n++] = static_cast<char>(0xE0 | (code >> 12));
        utf8[n++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        utf8[n++] = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        utf8[n++] = static_cast<char>(0xF0 | (code >> 18));
        utf8[n++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        utf8[n++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        utf8[n++] = static_cast<char>(0x80 | (code & 0x3F));
    }
    const std::size_t i = entry_of(utf8, n);
    return i == npos ? entry_match{} : entry_match{size, i};
}

// The longest currency entry that starts at `pos`.
[[gnu::always_inline]] inline entry_match currency_from(std::string_view t, std::size_t pos) noexcept {
    if (pos >= t.size()) return {};
    if (t[pos] == '&') [[unlikely]] return entity_currency_at(t, pos);  // (no entry starts with '&')
    const std::size_t left = t.size() - pos;
    std::uint32_t sizes = sizes_by_first[byte_at(t, pos)];
    if (left < longest_entry) sizes &= (std::uint32_t{2} << left) - 1;
    while (sizes != 0) {
        const std::size_t n = static_cast<std::size_t>(31 - std::countl_zero(sizes));
        sizes &= ~(std::uint32_t{1} << n);
        if (const std::size_t i = entry_of(t.data() + pos, n); i != npos && fits(t, pos, n)) return {n, i};
    }
    return {};
}

// The longest currency entry that ends at `end`.
entry_match currency_until(std::string_view t, std::size_t end) noexcept {
    if (end == 0) return {};
    if (t[end - 1] == ';') {  // (no entry ends with ';'; a reference is at most 10 bytes)
        for (std::size_t back = 4; back <= 10 && back <= end; ++back) {
            if (t[end - back] == '&') {
                const entry_match e = entity_currency_at(t, end - back);
                return e.size == back ? e : entry_match{};
            }
        }
        return {};
    }
    std::uint32_t sizes = sizes_by_last[byte_at(t, end - 1)];
    if (end < longest_entry) sizes &= (std::uint32_t{2} << end) - 1;
    while (sizes != 0) {
        const std::size_t n = static_cast<std::size_t>(31 - std::countl_zero(sizes));
        sizes &= ~(std::uint32_t{1} << n);
        const std::size_t at = end - n;
        if (((sizes_by_first[byte_at(t, at)] >> n) & 1) == 0) continue;
        if (const std::size_t i = entry_of(t.data() + at, n); i != npos && fits(t, at, n)) return {n, i};
    }
    return {};
}

// The named references to a space that web pages leave ('1&thinsp;299').
constexpr std::string_view space_entities[] = {"&nbsp;", "&thinsp;", "&ensp;", "&emsp;", "&numsp;", "&hairsp;",
                                               "&puncsp;"};

// A code point that reads as a space: U+0020, U+00A0, the spaces of
// U+2000..U+200A, U+202F, U+3000, and those that show nothing (U+200B..U+200F,
// U+2060, U+FEFF: the marks of direction and the zero-width ones).
constexpr bool is_space_code(std::uint32_t c) noexcept {
    return c == 0x20 || c == 0xA0 || (c >= 0x2000 && c <= 0x200F) || c == 0x202F || c == 0x3000 || c == 0x2060 ||
           c == 0xFEFF;
}

// The size of the numeric reference at `pos` ('&'), or 1 where none stands.
[[gnu::noinline]] std::size_t numeric_entity_size(std::string_view t, std::size_t pos) noexcept {
    const std::size_t size = numeric_entity_at(t, pos).first;
    return size != 0 ? size : 1;
}

// A reference to a space at `pos` ('&'): its size, or 0.
[[gnu::noinline]] std::size_t entity_space_at(std::string_view t, std::size_t pos) noexcept {
    const std::string_view rest = t.substr(pos);
    for (const std::string_view name : space_entities) {
        if (rest.starts_with(name)) return name.size();
    }
    const auto [size, code] = numeric_entity_at(t, pos);
    return size != 0 && is_space_code(code) ? size : 0;
}

// The size of the space at `pos` (see is_space_code; tab and line ends too;
// "&nbsp;" and a numeric reference to a space left over from a web page), or 0.
std::size_t space_at(std::string_view t, std::size_t pos) noexcept {
    if (pos >= t.size()) return 0;
    const unsigned char c = byte_at(t, pos);
    if (c < 0x80) {
        if (c == '&') [[unlikely]] return entity_space_at(t, pos);
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' ? 1 : 0;
    }
    if (c == 0xC2 && pos + 1 < t.size() && byte_at(t, pos + 1) == 0xA0) return 2;
    if ((c == 0xE2 || c == 0xE3 || c == 0xEF) && pos + 2 < t.size()) {
        const unsigned char c1 = byte_at(t, pos + 1), c2 = byte_at(t, pos + 2);
        if (c == 0xE2 && c1 == 0x80 && (c2 <= 0x8F || c2 == 0xAF)) return 3;
        if (c == 0xE2 && c1 == 0x81 && c2 == 0xA0) return 3;
        if (c == 0xE3 && c1 == 0x80 && c2 == 0x80) return 3;
        if (c == 0xEF && c1 == 0xBB && c2 == 0xBF) return 3;
    }
    return 0;
}

// The size of the reference to a space ending at `end` (at ';'), or 0.
[[gnu::noinline]] std::size_t entity_space_until(std::string_view t, std::size_t end) noexcept {
    // a reference to a space is at most 10 bytes
    for (std::size_t back = 4; back <= 10 && back <= end; ++back) {
        if (t[end - back] == '&') return space_at(t, end - back) == back ? back : 0;
    }
    return 0;
}

// The size of the space ending at `end`, or 0.
std::size_t space_until(std::string_view t, std::size_t end) noexcept {
    if (end == 0) return 0;
    const unsigned char c = byte_at(t, end - 1);
    if (c < 0x80) {
        if (c == ';') [[unlikely]] return entity_space_until(t, end);
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' ? 1 : 0;
    }
    if (end >= 2 && space_at(t, end - 2) == 2) return 2;
    if (end >= 3 && space_at(t, end - 3) == 3) return 3;
    return 0;
}

std::size_t skip_spaces(std::string_view t, std::size_t pos) noexcept {
    while (const std::size_t n = space_at(t, pos)) pos += n;
    return pos;
}

std::size_t skip_spaces_back(std::string_view t, std::size_t end) noexcept {
    while (const std::size_t n = space_until(t, end)) end -= n;
    return end;
}

// The size of a digit group separator at `pos` that is not '.' or ',': a
// space of the thin or no-break kinds, or an apostrophe (', U+2019).
[[gnu::always_inline]] inline std::size_t group_space_at(std::string_view t, std::size_t pos) noexcept {
    if (pos >= t.size()) return 0;
    const unsigned char c = byte_at(t, pos);
    if (c != ' ' && c != '\'' && c != '&' && c < 0xC2) return 0;  // (most ends of a number)
    if (c == '\'') return 1;
    if (pos + 2 < t.size() && byte_at(t, pos) == 0xE2 && byte_at(t, pos + 1) == 0x80 && byte_at(t, pos + 2) == 0x99) {
        return 3;
    }
    if (pos + 1 < t.size() && byte_at(t, pos) == 0xCA && byte_at(t, pos + 1) == 0xBC) return 2;  // U+02BC
    const std::size_t n = space_at(t, pos);
    return n == 0 || t[pos] == '\t' || t[pos] == '\n' || t[pos] == '\r' ? 0 : n;
}

// A minus sign ('-', U+2212) or a dash (U+2013, U+2014) ending at `end`: its size, or 0.
std::size_t minus_until(std::string_view t, std::size_t end) noexcept {
    if (end >= 1 && t[end - 1] == '-') return 1;
    if (end >= 3 && byte_at(t, end - 3) == 0xE2) {
        const unsigned char c1 = byte_at(t, end - 2), c2 = byte_at(t, end - 1);
        if ((c1 == 0x88 && c2 == 0x92) || (c1 == 0x80 && (c2 == 0x93 || c2 == 0x94))) return 3;
    }
    return 0;
}

// A dash of a range or of "no cents" at `pos` ('-', U+2013, U+2014): its size, or 0.
std::size_t dash_at(std::string_view t, std::size_t pos) noexcept {
    if (pos >= t.size()) return 0;
    if (t[pos] == '-') return 1;
    if (pos + 2 < t.size() && byte_at(t, pos) == 0xE2 && byte_at(t, pos + 1) == 0x80 &&
        (byte_at(t, pos + 2) == 0x93 || byte_at(t, pos + 2) == 0x94)) {
        return 3;
    }
    return 0;
}

bool three_digits_at(std::string_view t, std::size_t pos) noexcept {
    return pos + 3 <= t.size() && is_digit(byte_at(t, pos)) && is_digit(byte_at(t, pos + 1)) &&
           is_digit(byte_at(t, pos + 2)) && (pos + 3 == t.size() || !is_digit(byte_at(t, pos + 3)));
}

// The value of a superscript digit at `pos` (U+2070, U+00B9, U+00B2, U+00B3,
// U+2074..U+2079) and its size, or {-1, 0}.
std::pair<int, std::size_t> superscript_at(std::string_view t, std::size_t pos) noexcept {
    if (pos + 1 < t.size() && byte_at(t, pos) == 0xC2) {
        const unsigned char c = byte_at(t, pos + 1);
        if (c == 0xB9) return {1, 2};
        if (c == 0xB2 || c == 0xB3) return {c - 0xB0, 2};
    }
    if (pos + 2 < t.size() && byte_at(t, pos) == 0xE2 && byte_at(t, pos + 1) == 0x81) {
        const unsigned char c = byte_at(t, pos + 2);
        if (c == 0xB0 || (c >= 0xB4 && c <= 0xB9)) return {c - 0xB0, 3};
    }
    return {-1, 0};
}

bool percent_at(std::string_view t, std::size_t pos) noexcept {
    if (pos >= t.size()) return false;
    if (t[pos] == '%') return true;
    const std::string_view rest = t.substr(pos);
    return rest.starts_with("\xD9\xAA") || rest.starts_with("\xEF\xBC\x85");  // U+066A, U+FF05
}

// One number of the text and what stands around it.
struct figure {
    std::size_t start = 0, end = 0;  // its digits and separators
    std::size_t digits = 0;          // how many digits stand in [start, end)
    std::uint64_t mantissa = 0;      // their value, when there are at most 19
    std::size_t next = 0;            // where the search for the next number goes on
    std::size_t prefix = 0;          // where what belongs to it before it starts
    std::size_t currency_at = 0, currency_size = 0, currency_entry = 0;
    std::size_t decimal_at = npos;  // the decimal mark, if it has one
    std::size_t fraction = 0;       // the digits after it
    bool no_cents = false;
    bool percent = false;
    bool negative = false;
    std::size_t shift = 0;  // 3 for 'k' after it, 6 for 'M'
    bool cents = false;     // two digits of cents after it: cents[] ('12€50', '19⁹⁹')
    char cent_digits[2] = {0, 0};
};

// The digits and separators of a number, and its marks.
struct figure_shape {
    std::size_t end = 0;
    std::size_t digits = 0;                            // all of them
    std::uint64_t mantissa = 0;                        // their value, when there are at most 19
    std::size_t marks[2] = {0, 0};                     // how many '.' and ','
    std::size_t first_mark[2] = {npos, npos};          // where the first '.' and ',' stand
    std::size_t digits_before[2] = {0, 0};             // the digits before them
    std::size_t last_mark = npos;                      // where the last mark stands
    std::size_t digits_before_last = 0;
    bool whole_is_zero = false;                        // the digits before the first mark are "0" or none
    bool grouped = false;                              // a space or an apostrophe joins groups in it
};

// The number starting at the digit at `pos`.
figure_shape shape_at(std::string_view t, std::size_t pos) noexcept {
    const std::size_t n = t.size();
    figure_shape f;
    bool first_group = true;
    for (;;) {
        const std::size_t group_start = pos;
        // (past 19 digits the value wraps and is not read)
        for (unsigned d; pos < n && (d = byte_at(t, pos) - unsigned{'0'}) < 10; ++pos) f.mantissa = f.mantissa * 10 + d;
        const std::size_t group = pos - group_start;
        f.digits += group;
        if (pos + 1 < n && (t[pos] == '.' || t[pos] == ',') && is_digit(byte_at(t, pos + 1))) {
            const int k = t[pos] == ',';
            if (f.marks[k]++ == 0) {
                f.first_mark[k] = pos;
                f.digits_before[k] = f.digits;
            }
            f.last_mark = pos;
            f.digits_before_last = f.digits;
            ++pos;
            first_group = false;
            continue;
        }
        // Spaces and apostrophes join groups of three after groups of at
        // most three: never after a fraction ('12,50 100').
        if (const std::size_t sep = group_space_at(t, pos);
            sep != 0 && (first_group ? group <= 3 : group == 3) && three_digits_at(t, pos + sep)) {
            pos += sep;
            f.grouped = true;
            first_group = false;
            continue;
        }
        f.end = pos;
        return f;
    }
}

// Where the digits from `pos` end, with the marks between them and the spaces
// before a group of three ('4', '29,99', '2 490': as far as the next number
// matters to the currency before it).
[[gnu::noinline]] std::size_t digits_end_at(std::string_view t, std::size_t pos) noexcept {
    while (pos < t.size()) {
        if (is_digit(byte_at(t, pos)) ||
            ((t[pos] == '.' || t[pos] == ',') && pos + 1 < t.size() && is_digit(byte_at(t, pos + 1)))) {
            ++pos;
        } else if (const std::size_t sep = group_space_at(t, pos); sep != 0 && three_digits_at(t, pos + sep)) {
            pos += sep;
        } else {
            break;
        }
    }
    return pos;
}

// Whether the number at `next`, against a currency that stands apart after
// another number, takes that currency: unless it has its own after it, or
// counts something (a word or a dash follows it) after a number written as
// an amount is (`amount_like`: with a separator in it). (A call of its own:
// few texts come here.)
[[gnu::noinline]] bool next_takes_currency(std::string_view t, std::size_t next, bool amount_like) noexcept {
    const std::size_t next_end = digits_end_at(t, next);
    const std::size_t q = skip_spaces(t, next_end);
    return currency_from(t, q).size == 0 && !(amount_like && (letter_at(t, q) || dash_at(t, next_end) != 0));
}

// The decimal mark of a number (npos: none) and the digits after it.
[[gnu::always_inline]] inline std::pair<std::size_t, std::size_t> decimal_of(const figure_shape& f,
                                                                          price_mark mark) noexcept {
    if (f.last_mark == npos) return {npos, 0};
    if (mark != price_mark::infer) {
        const int k = mark == price_mark::comma;
        if (f.marks[k] != 1) return {npos, 0};
        return {f.first_mark[k], f.digits - f.digits_before[k]};
    }
    const std::size_t after = f.digits - f.digits_before_last;
    if (f.marks[0] != 0 && f.marks[1] != 0) return {f.last_mark, after};
    if (f.marks[0] + f.marks[1] > 1) return {npos, 0};
    // (more than three digits before it, with no space between them: no
    // group of thousands, so the decimal point: '1250.000')
    if (after == 3 && !f.whole_is_zero && (f.digits_before_last <= 3 || f.grouped)) return {npos, 0};
    return {f.last_mark, after};
}

// Whether a number takes the currency before it (of `before_size` bytes at
// `before_at`; 0: none) over the one after it: a single letter ('R', 'L') is
// a currency only where there is no other one.
[[gnu::always_inline]] inline bool currency_before_wins(std::string_view t, std::size_t before_at,
                                                        std::size_t before_size, std::size_t after_at,
                                                        std::size_t after_size) noexcept {
    const auto single_letter = [&](std::size_t at, std::size_t size) {
        return size == 1 && is_ascii_alpha(byte_at(t, at));
    };
    return before_size != 0 &&
           !(after_size != 0 && single_letter(before_at, before_size) && !single_letter(after_at, after_size));
}

// Whether the one mark of a number that has no decimal point (by its shape),
// with three digits after it, is the decimal point of the currency of
// thousandths it is written with (`currency_size` 0: none): 'KD 12.500'.
[[gnu::always_inline]] inline bool thousandths_point(const figure_shape& s, std::size_t currency_size,
                                                     std::size_t currency_entry, price_mark mark) noexcept {
    return currency_size != 0 && three_decimals[currency_entry] && mark == price_mark::infer &&
           s.marks[0] + s.marks[1] == 1 && s.digits - s.digits_before_last == 3;
}

// Whether a line ends in [from, to) (a few spaces at most).
[[gnu::always_inline]] inline bool line_break_in(std::string_view t, std::size_t from, std::size_t to) noexcept {
    for (std::size_t i = from; i < to; ++i) {
        if (t[i] == '\n' || t[i] == '\r') [[unlikely]] return true;
    }
    return false;
}

// Whether a digit stands at `pos`, after spaces but no line end.
[[gnu::noinline]] bool is_digit_on_line(std::string_view t, std::size_t pos) noexcept {
    while (const std::size_t n = space_at(t, pos)) {
        if (t[pos] == '\n' || t[pos] == '\r') return false;
        pos += n;
    }
    return pos < t.size() && is_digit(byte_at(t, pos));
}

// What stands before the number's parentheses, when a '(' ends at `b`:
// whether it opens them (after a word, parentheses hold a note:
// 'Versandkosten (4,95 €)'), and the currency against it, which is no word
// ('USD (1,234.00)', '$(12.50)').
struct outside_parenthesis {
    bool opens = false;
    entry_match currency;
    std::size_t at = 0;
};
outside_parenthesis before_parenthesis(std::string_view t, std::size_t b) noexcept {
    if (b == 0 || t[b - 1] != '(') return {};
    const std::size_t q = skip_spaces_back(t, b - 1);
    const entry_match c = currency_until(t, q);
    return {c.size != 0 || !letter_before(t, q), c, q - c.size};
}

// The number found at the digit at `pos`, with what stands around it.
figure figure_at(std::string_view t, std::size_t pos, price_mark mark) noexcept {
    figure f;
    f.start = pos;
    figure_shape shape = shape_at(t, pos);
    f.end = shape.end;
    f.digits = shape.digits;
    f.mantissa = shape.mantissa;
    // A decimal mark before it, after neither a digit nor a letter nor a mark,
    // nor the end of a currency: '$.99' (but 'S/.49.90'), '–.95'.
    if (pos >= 1 && (t[pos - 1] == '.' || t[pos - 1] == ',') &&
        (pos == 1 ||
         (byte_at(t, pos - 2) < 0x80 ? !is_digit(byte_at(t, pos - 2)) && !is_ascii_alpha(byte_at(t, pos - 2)) &&
                                           t[pos - 2] != '.' && t[pos - 2] != ',' && currency_until(t, pos).size == 0
                                     : minus_until(t, pos - 1) == 3))) {
        f.start = pos - 1;
        const int k = t[pos - 1] == ',';
        shape.marks[k] += 1;
        shape.first_mark[k] = pos - 1;
        shape.digits_before[k] = 0;
        if (shape.last_mark == npos) {
            shape.last_mark = pos - 1;
            shape.digits_before_last = 0;
        }
    }
    // A percentage written with its sign first, as Turkish writes it: '%20
    // İndirim' (but not after the sign of the number before: '29%12,900원').
    if (f.start >= 1 && t[f.start - 1] == '%' && !(f.start >= 2 && is_digit(byte_at(t, f.start - 2)))) {
        f.percent = true;
        f.next = f.end;
        return f;
    }
    {
        const int k = shape.first_mark[1] < shape.first_mark[0];
        const std::size_t whole = shape.first_mark[k] == npos ? shape.digits : shape.digits_before[k];
        shape.whole_is_zero = whole == 0 || (whole == 1 && t[f.start] == '0');
    }
    std::size_t after = f.end;
    // No cents: ",-", ".-", ",--", ",–", and the Swedish ":-" (after a number
    // with no decimal point of its own: '29.90.-' is 29.90)
    if (after + 1 < t.size() && (t[after] == ',' || t[after] == '.' || t[after] == ':') &&
        decimal_of(shape, mark).first == npos) {
        if (std::size_t d = dash_at(t, after + 1)) {
            std::size_t q = after + 1 + d;
            while (std::size_t more = dash_at(t, q)) q += more;
            if (q >= t.size() || !is_digit(byte_at(t, q))) {
                f.no_cents = true;
                after = q;
            }
        }
    }
    if (!f.no_cents) std::tie(f.decimal_at, f.fraction) = decimal_of(shape, mark);
    // Cents written as two superscript digits: '19⁹⁹'.
    if (shape.last_mark == npos && !f.no_cents) {
        const auto [d0, s0] = superscript_at(t, after);
        if (d0 >= 0) {
            const auto [d1, s1] = superscript_at(t, after + s0);
            if (d1 >= 0 && superscript_at(t, after + s0 + s1).first < 0) {
                f.cents = true;
                f.cent_digits[0] = static_cast<char>('0' + d0);
                f.cent_digits[1] = static_cast<char>('0' + d1);
                f.fraction = 2;
                after += s0 + s1;
            }
        }
    }
    // Cents after a colon before a currency, as Swedish prices write them:
    // '12:95 kr'.
    if (shape.last_mark == npos && !f.no_cents && !f.cents && after + 3 <= t.size() && t[after] == ':' &&
        is_digit(byte_at(t, after + 1)) && is_digit(byte_at(t, after + 2)) &&
        (after + 3 == t.size() || !is_digit(byte_at(t, after + 3)))) [[unlikely]] {
        if (currency_from(t, skip_spaces(t, after + 3)).size != 0) {
            f.cents = true;
            f.cent_digits[0] = t[after + 1];
            f.cent_digits[1] = t[after + 2];
            f.fraction = 2;
            after += 3;
        }
    }

    // A dash against a leading mark before two digits stands for no whole
    // units, as Swiss prices write them: 'CHF –.95' is 0.95, no sign.
    std::size_t lead = f.start;
    if (f.start + 1 == pos && shape.end == pos + 2 && shape.digits == 2) {
        const std::size_t m = minus_until(t, f.start);
        if (m == 1 || (m == 3 && byte_at(t, f.start - 2) == 0x80)) lead -= m;  // '-', U+2013, U+2014
    }

    // Before it: a sign, a currency, a sign before the currency, a parenthesis.
    std::size_t b = skip_spaces_back(t, lead);
    std::size_t minus = npos;
    // (`from`: where what the sign stands before begins, spaces not skipped)
    const auto take_minus = [&](std::size_t from) {
        if (minus != npos) return;
        if (const std::size_t m = minus_until(t, b)) {
            // After a number (or a number and its currency) it is the dash of a range.
            std::size_t q = skip_spaces_back(t, b - m);
            if (q != 0 && is_digit(byte_at(t, q - 1))) return;
            if (const std::size_t c = currency_until(t, q).size) {
                const std::size_t r = skip_spaces_back(t, q - c);
                if (r != 0 && is_digit(byte_at(t, r - 1))) return;
            }
            // Set apart by a space, a dash after a word is the one between a
            // label and its price ('Price - $19.99', '500 g – 4,99 €'): a
            // sign stands against what it signs, or at the start, or after
            // '(', ':' or '='.
            if (b != from && q != 0 && t[q - 1] != '(' && t[q - 1] != ':' && t[q - 1] != '=') return;
            minus = b - m;
            b = skip_spaces_back(t, minus);
        }
    };
    take_minus(lead);
    std::size_t before_at = 0, before_size = 0;
    const entry_match before = currency_until(t, b);
    if (const std::size_t c = before.size) {
        before_at = b - c;
        before_size = c;
        b = skip_spaces_back(t, before_at);
        take_minus(before_at);
    }
    // (after a word, parentheses hold a note: 'Versandkosten (4,95 €)'; a
    // currency is no word: 'USD (1,234.00)', '$(12.50)')
    const outside_parenthesis outside = before_parenthesis(t, b);
    const bool open = outside.opens;
    f.prefix = b;

    // After it: 'k' or 'M' (of a price: with a currency before the number or
    // after the letter, '$1.5k', '150k ₫'), a '%', a currency, a parenthesis.
    if (!f.cents && after < t.size() && !letter_at(t, after + 1) &&
        !(after + 1 < t.size() && byte_at(t, after + 1) >= 0x80 && before_size != 0)) {
        const char c = t[after];
        const std::size_t shift = c == 'k' || c == 'K' ? 3 : c == 'm' || c == 'M' ? 6 : 0;
        if (shift != 0 && (before_size != 0 || currency_from(t, skip_spaces(t, after + 1)).size != 0)) {
            f.shift = shift;
            ++after;
        }
    }
    std::size_t a = skip_spaces(t, after);
    if (percent_at(t, a)) {
        f.percent = true;
        f.next = a + 1;
        return f;
    }
    // A footnote's marks between the number and its currency: '12,99* €',
    // '12,99¹ €'.
    const bool superscript_lead = a + 1 < t.size() && (byte_at(t, a) == 0xC2 ||
                                                       (byte_at(t, a) == 0xE2 && byte_at(t, a + 1) == 0x81));
    if (a < t.size() && (t[a] == '*' || (superscript_lead && superscript_at(t, a).first >= 0))) [[unlikely]] {
        std::size_t q = a;
        while (q < t.size() && t[q] == '*') ++q;
        while (const std::size_t s = superscript_at(t, q).second) q += s;
        q = skip_spaces(t, q);
        if (currency_from(t, q).size != 0) a = q;
    }
    const std::size_t after_at = a;
    std::size_t after_size = 0;
    entry_match behind;
    if (f.shift == 0 || before_size == 0) {
        behind = currency_from(t, a);
        after_size = behind.size;
        // A currency on the next line, before a number there, is that one's:
        // 'Taglia 44\n€ 39,90'.
        if (after_size != 0 && line_break_in(t, after, a) && is_digit_on_line(t, a + after_size)) [[unlikely]] {
            after_size = 0;
        }
        // A currency apart from this number and against the next one is the
        // next one's ('5 $10'), but for a next one with its own currency after
        // it ('19,99 €29,99 €'), and for a next one that counts something
        // after this one is written as an amount is (with a separator in it):
        // a word or a dash follows it ('19,99 €4 Stück', '1 990 ₽3 шт.').
        if (after_size != 0 && a != after && a + after_size < t.size() && is_digit(byte_at(t, a + after_size)) &&
            next_takes_currency(t, a + after_size, f.end - f.start != shape.digits)) {
            after_size = 0;
        }
        if (after_size != 0) {
            f.next = a + after_size;
            // Cents written after the currency that follows the whole amount: '12€50'.
            if (before_size == 0 && after_at == after && f.decimal_at == npos && !f.no_cents && !f.cents && f.shift == 0 &&
                f.next + 2 <= t.size() &&
                is_digit(byte_at(t, f.next)) && is_digit(byte_at(t, f.next + 1)) &&
                (f.next + 2 == t.size() || !is_digit(byte_at(t, f.next + 2))) &&
                !(f.next + 3 < t.size() && (t[f.next + 2] == '.' || t[f.next + 2] == ',') &&
                  is_digit(byte_at(t, f.next + 3)))) {
                f.cents = true;
                f.cent_digits[0] = t[f.next];
                f.cent_digits[1] = t[f.next + 1];
                f.fraction = 2;
                f.next += 2;
            }
            a = skip_spaces(t, f.next);
        }
    }
    const bool close = a < t.size() && t[a] == ')';
    if (after_size == 0) f.next = after;

    if (currency_before_wins(t, before_at, before_size, after_at, after_size)) {
        f.currency_at = before_at;
        f.currency_size = before_size;
        f.currency_entry = before.index;
    } else if (after_size != 0) {
        f.currency_at = after_at;
        f.currency_size = after_size;
        f.currency_entry = behind.index;
    }
    // A negative amount's currency outside its parentheses, as statements
    // write it: '$(1,234.00)', 'USD (12.50)', '(12,50) €'.
    if (open && close && before_size == 0 && after_size == 0) [[unlikely]] {
        if (outside.currency.size != 0) {
            f.currency_at = outside.at;
            f.currency_size = outside.currency.size;
            f.currency_entry = outside.currency.index;
        } else {
            const std::size_t q = skip_spaces(t, a + 1);
            const entry_match o = currency_from(t, q);
            if (o.size != 0 && !(q + o.size < t.size() && is_digit(byte_at(t, q + o.size)))) {
                f.currency_at = q;
                f.currency_size = o.size;
                f.currency_entry = o.index;
                f.next = q + o.size;
            }
        }
    }
    f.negative = minus != npos || (open && close);
    if (f.decimal_at == npos && !f.no_cents && !f.cents &&
        thousandths_point(shape, f.currency_size, f.currency_entry, mark)) {
        f.decimal_at = shape.last_mark;
        f.fraction = 3;
    }
    return f;
}

// The words and dashes between the two numbers of a range.
bool range_between(std::string_view t, std::size_t from, std::size_t to) noexcept {
    from = skip_spaces(t, from);
    to = skip_spaces_back(t, to);
    if (from >= to) return false;
    const std::string_view gap = t.substr(from, to - from);
    if (dash_at(gap, 0) == gap.size()) return true;
    for (std::string_view word : {"~", "\xEF\xBD\x9E", "\xE3\x80\x9C", "to", "bis", "\xC3\xA0", "a", "al", "au", "tot",
                                  "till", "til", "do", "\xD0\xB4\xD0\xBE"}) {
        if (gap == word) return true;
    }
    return false;
}

// Whether a word stands before the number at `start`, set apart by a space,
// that opens no range: the name the number belongs to ('iPhone 15 – 899 €',
// 'Pixel 8 - $699'), where 'from 26 to 50 €' and 'ab 100 bis 200 CHF' open one.
bool named_before(std::string_view t, std::size_t start) noexcept {
    const std::size_t b = skip_spaces_back(t, start);
    if (b == start || !letter_before(t, b)) return false;
    std::size_t w = b;
    while (letter_before(t, w)) w -= is_ascii_alpha(byte_at(t, w - 1)) ? 1 : 2;
    const std::string_view word = t.substr(w, b - w);
    for (std::string_view opening :
         {"from", "From", "FROM", "ab", "Ab", "AB", "von", "Von", "od", "Od", "OD", "\xD0\xBE\xD1\x82",
          "\xD0\x9E\xD1\x82", "de", "De", "desde", "Desde", "d\xC3\xA8s", "D\xC3\xA8s", "vanaf", "Vanaf", "fra", "Fra",
          "fr\xC3\xA5n", "Fr\xC3\xA5n", "da", "Da", "dal", "Dal", "at", "At"}) {  // от, От, dès, från
        if (word == opening) return false;
    }
    return true;
}

// Whether `first`, a number before another with a range's words between
// them (range_between), starts a range with it: a range runs upward, and
// does not start at a number glued to letters ('EOS R50 – 799 €') or after a
// word that opens none ('iPhone 15 – 899 €', see named_before). Numbers with
// as many digits after the mark compare by the value of their digits (the
// other's `mantissa` of `digits`), where it was read (at most 19 digits) and
// is all of the amount (`whole_value`: no multiple, no cents apart);
// elsewhere the range is taken as written. (A call of its own: inlined, it
// cost the reading of every text, which seldom comes here.)
[[gnu::noinline]] bool starts_range(std::string_view t, const figure& first, std::uint64_t mantissa,
                                    std::size_t digits, bool whole_value) noexcept {
    if (letter_before(t, first.start) || named_before(t, first.start)) return false;
    if (first.digits > detail::max_native_digits || digits > detail::max_native_digits || first.shift != 0 ||
        first.cents || !whole_value) {
        return true;
    }
    return first.mantissa <= mantissa;
}

// The amount of a figure without a multiple, from the value of its digits
// taken while its shape was read, when it has at most 19 digits and reads
// exactly as read_number_text would (an integer of 64 bits, or a mantissa of
// 53 bits over an exact power of ten), into `out`; otherwise false, and `out`
// as it was.
[[gnu::always_inline]] inline bool amount_in_place(std::uint64_t mantissa, std::size_t digits, bool whole,
                                                   std::size_t fraction_digits, bool negative, number& out) noexcept {
    if (digits > detail::max_native_digits) return false;
    if (whole) {
        const std::uint64_t limit = negative ? detail::int64_magnitude_limit : detail::int64_magnitude_limit - 1;
        if (mantissa > limit) return false;
        out.what = number::kind::int64;
        out.integer = static_cast<std::int64_t>(negative ? std::uint64_t{0} - mantissa : mantissa);
        return true;
    }
    if (mantissa > detail::max_exact_mantissa || fraction_digits > detail::max_exact_power) return false;
    const double v = static_cast<double>(mantissa) / detail::exact_powers_of_ten[fraction_digits];
    out.what = number::kind::real;
    out.real = negative ? -v : v;
    return true;
}

bool amount_in_place(const figure& f, number& out) noexcept {
    std::uint64_t mantissa = f.mantissa;
    // the digits after the decimal mark (decimal_of counts them), or the cents
    std::size_t fraction_digits = f.decimal_at == npos ? 0 : f.fraction;
    if (f.cents) {
        if (f.digits + 2 > detail::max_native_digits) return false;
        mantissa = mantissa * 100 + static_cast<unsigned>(f.cent_digits[0] - '0') * 10 +
                   static_cast<unsigned>(f.cent_digits[1] - '0');
        fraction_digits += 2;
    }
    return amount_in_place(mantissa, f.digits + (f.cents ? 2 : 0), f.decimal_at == npos && !f.cents, fraction_digits,
                           f.negative, out);
}

// The amount of a figure read by the strict number grammar from a copy of its
// digits (and its mark, as '.'; a multiple moves the mark): the figures that
// amount_in_place does not read.
number read_amount_text(std::string_view t, const figure& f, price_scratch& scratch) {
    char* const out = scratch.room(f.end - f.start + 12);
    std::size_t n = 0;
    if (f.shift == 0) {
        // Every byte is written, only the digits move on (and the decimal
        // mark, written as '.').
        out[n] = '-';
        n += f.negative;
        const std::size_t mark_at = f.decimal_at == npos ? f.end : f.decimal_at;
        for (std::size_t i = f.start; i < mark_at; ++i) {
            out[n] = t[i];
            n += is_digit(byte_at(t, i));
        }
        if (mark_at != f.end) {
            out[n++] = '.';
            for (std::size_t i = mark_at + 1; i < f.end; ++i) {
                out[n] = t[i];
                n += is_digit(byte_at(t, i));
            }
        } else if (f.cents) {
            out[n++] = '.';
            out[n++] = f.cent_digits[0];
            out[n++] = f.cent_digits[1];
        }
        return detail::read_number_text(std::string_view(out, n));
    }
    if (f.negative) out[n++] = '-';
    std::size_t shift = f.shift;  // fraction digits moved into the whole part
    bool in_fraction = false;
    for (std::size_t i = f.start; i < f.end; ++i) {
        const char c = t[i];
        if (i == f.decimal_at) {
            in_fraction = true;
            if (shift == 0) out[n++] = '.';
            continue;
        }
        if (!is_digit(static_cast<unsigned char>(c))) continue;
        out[n++] = c;
        if (in_fraction && shift != 0 && --shift == 0) out[n++] = '.';
    }
    if (shift != 0) {
        while (shift-- != 0) out[n++] = '0';
        if (in_fraction) out[n++] = '.';
    }
    return detail::read_number_text(std::string_view(out, n));
}

// The amount of a figure, into `out` (the caller's own: a number built
// field by field and then copied whole stalls on the copy's wide loads).
void amount_of(std::string_view t, const figure& f, price_scratch& scratch, number& out) {
    if (f.shift == 0 && amount_in_place(f, out)) return;
    out = read_amount_text(t, f, scratch);
}

// A figure kept for later, or none. Its storage is left as it is until a
// figure is kept: std::optional<figure> zeroed its payload on every call
// (three of them, 312 bytes), a fifth of the reading of a short price text.
class kept_figure {
public:
    kept_figure() noexcept {}
    kept_figure(const kept_figure&) = delete;
    kept_figure& operator=(const kept_figure&) = delete;

    explicit operator bool() const noexcept { return kept_; }
    const figure& operator*() const noexcept { return *std::launder(reinterpret_cast<const figure*>(bytes_)); }
    const figure* operator->() const noexcept { return &**this; }
    kept_figure& operator=(const figure& f) noexcept {
        ::new (static_cast<void*>(bytes_)) figure(f);
        kept_ = true;
        return *this;
    }
    void reset() noexcept { kept_ = false; }

private:
    static_assert(std::is_trivially_copyable_v<figure> && std::is_trivially_destructible_v<figure>);
    alignas(figure) unsigned char bytes_[sizeof(figure)];
    bool kept_ = false;
};

// The shape of the one number of a short text read from bit masks of its
// bytes (bit i for byte i) instead of byte by byte: when its digits and marks
// are every byte from its first digit to its last, no two marks together, at
// most 16 bytes. Then shape_at, from its first digit, takes exactly those
// bytes (each mark there is followed by a digit, and past the last digit none
// is left to join), and there is no other number to look for.
constexpr std::size_t short_text = 32;

// The shape of the one number of a text of n (at most short_text) bytes whose
// first bytes are at `block`, of which short_text are readable, and where its
// first digit stands; false when the text is not of that kind. Instantiated
// for a path with popcnt and pshufb (avx2, on x86-64) and for the baseline.
// `plain`: whether the text's other bytes are none that quick_price leaves
// to the general reading (see below).
template <cpu::path P>
[[gnu::always_inline]] inline bool short_shape(const char* block, std::size_t n, std::size_t& first,
                                               figure_shape& f, bool& plain) noexcept {
    if constexpr (!vec::available) {
        return false;
    } else {
        const vec::bytes16 lo = vec::load(block), hi = vec::load(block + 16);
        const std::uint32_t within = n >= 32 ? ~std::uint32_t{0} : (std::uint32_t{1} << n) - 1;
        const auto bits = [&](auto test) {
            return (vec::lane_bits(test(lo)) | vec::lane_bits(test(hi)) << 16) & within;
        };
        const auto equal = [](unsigned char c) {
            return [c](vec::bytes16 v) { return reinterpret_cast<vec::bytes16>(v == c); };
        };
        const std::uint32_t digits = bits(vec::in_range<'0', '9'>);
        if (digits == 0) return false;
        first = static_cast<std::size_t>(std::countr_zero(digits));
        const auto last = static_cast<std::size_t>(31 - std::countl_zero(digits));
        if (last - first >= 16) return false;
        const auto span = static_cast<std::uint32_t>((std::uint64_t{2} << last) - (std::uint64_t{1} << first));
        const std::uint32_t dots = bits(equal('.')) & span, commas = bits(equal(',')) & span;
        const std::uint32_t marks = dots | commas;
        if ((span & ~(digits | marks)) != 0 || (marks & (marks >> 1)) != 0) return false;
        // below ' ', '-', '%', '&', '*' (a footnote's); of the other bytes,
        // those of the code points that the general reading looks for
        // (spaces, dashes, minus signs, superscripts, percent signs):
        // U+0080..U+00BF but for ¢ £ ¤ ¥ (C2 not followed by A2..A5),
        // U+0600..U+067F (D9), U+2000..U+207F and U+20C0..U+2FFF (E2 not
        // followed by 82: the currency signs are U+20A0..U+20BF),
        // U+3000..U+3FFF (E3), U+F000..U+FFFF (EF)
        typedef signed char signed16 __attribute__((vector_size(16)));
        const std::uint32_t high = bits([](vec::bytes16 v) {
            return reinterpret_cast<vec::bytes16>(reinterpret_cast<signed16>(v) < 0);
        });
        const std::uint32_t ascii_read = bits([](vec::bytes16 v) {
            return reinterpret_cast<vec::bytes16>(v < ' ') | reinterpret_cast<vec::bytes16>(v == '-') |
                   reinterpret_cast<vec::bytes16>(v == '%') | reinterpret_cast<vec::bytes16>(v == '&') |
                   reinterpret_cast<vec::bytes16>(v == '*');
        });
        plain = ascii_read == 0;
        if (high != 0 && plain) {
            const std::uint32_t c2 = bits(equal(0xC2)), e2 = bits(equal(0xE2));
            const std::uint32_t cents_to_yen = bits(vec::in_range<0xA2, 0xA5>), signs = bits(equal(0x82));
            plain = ((c2 << 1 & ~cents_to_yen) | (e2 << 1 & ~signs) |
                     bits([](vec::bytes16 v) {
                         return reinterpret_cast<vec::bytes16>(v == 0xD9) | reinterpret_cast<vec::bytes16>(v == 0xE3) |
                                reinterpret_cast<vec::bytes16>(v == 0xEF);
                     })) == 0;
        }

        f.end = last + 1;
        f.digits = static_cast<std::size_t>(std::popcount(digits));
#if defined(__x86_64__) || defined(__aarch64__)
        if constexpr (vec::shuffled<P> || P == cpu::path::avx2) {
            // 16 readable bytes from `base` hold them all
            const std::size_t base = first < 16 ? first : 16;
            f.mantissa = detail::digits_value_shuffled(block + base, digits >> base);
        } else
#endif
        {
            std::uint64_t mantissa = 0;
            for (std::size_t i = first; i <= last; ++i) {
                const unsigned d = static_cast<unsigned char>(block[i]) - unsigned{'0'};
                if (d < 10) mantissa = mantissa * 10 + d;
            }
            f.mantissa = mantissa;
        }
        const auto digits_before = [&](std::size_t at) {
            return static_cast<std::size_t>(std::popcount(digits & ((std::uint32_t{1} << at) - 1)));
        };
        const std::uint32_t by_kind[2] = {dots, commas};
        for (int k = 0; k < 2; ++k) {
            if (by_kind[k] == 0) continue;
            f.marks[k] = static_cast<std::size_t>(std::popcount(by_kind[k]));
            f.first_mark[k] = static_cast<std::size_t>(std::countr_zero(by_kind[k]));
            f.digits_before[k] = digits_before(f.first_mark[k]);
        }
        if (marks != 0) {
            f.last_mark = static_cast<std::size_t>(31 - std::countl_zero(marks));
            f.digits_before_last = digits_before(f.last_mark);
        }
        // (as figure_at sets it, when no mark stands before the number)
        const std::size_t whole = marks == 0 ? f.digits : digits_before(static_cast<std::size_t>(std::countr_zero(marks)));
        f.whole_is_zero = whole == 0 || (whole == 1 && block[first] == '0');
        return true;
    }
}

#if defined(__x86_64__)
[[gnu::target(TAVO_TARGET_AVX2)]] bool short_shape_avx2(const char* block, std::size_t n, std::size_t& first,
                                                         figure_shape& f, bool& plain) noexcept {
    return short_shape<cpu::path::avx2>(block, n, first, f, plain);
}
#endif
bool short_shape_baseline(const char* block, std::size_t n, std::size_t& first, figure_shape& f,
                          bool& plain) noexcept {
    return short_shape<cpu::path::baseline>(block, n, first, f, plain);
}

// What stands before the number at `first`: its currency entry, whether a
// parenthesis opens before them, and whether a currency stands outside it. It
// depends on those bytes only, as the number's first digit is no letter (see
// fits).
price_context context_before(std::string_view t, std::size_t first) noexcept {
    std::size_t b = first;
    while (b > 0 && t[b - 1] == ' ') --b;
    const entry_match before = currency_until(t, b);
    price_context c;
    c.size = static_cast<std::uint8_t>(before.size);
    c.entry = static_cast<std::uint16_t>(before.index);
    c.offset = static_cast<std::uint8_t>(first - (b - before.size));
    b -= before.size;
    if (before.size != 0) {
        while (b > 0 && t[b - 1] == ' ') --b;
    }
    const outside_parenthesis outside = before_parenthesis(t, b);
    c.parenthesis = outside.opens;
    c.outside = outside.currency.size != 0;
    return c;
}

// What stands after the number ending at `end`: its currency entry, whether a
// parenthesis closes after them, and whether a currency stands outside it. It
// depends on those bytes only, as the number's last digit is no letter.
price_context context_after(std::string_view t, std::size_t end) noexcept {
    const std::size_t n = t.size();
    std::size_t a = end;
    while (a < n && t[a] == ' ') ++a;
    const entry_match behind = currency_from(t, a);
    price_context c;
    c.size = static_cast<std::uint8_t>(behind.size);
    c.entry = static_cast<std::uint16_t>(behind.index);
    c.offset = static_cast<std::uint8_t>(a - end);
    a += behind.size;
    if (behind.size != 0) {
        while (a < n && t[a] == ' ') ++a;
    }
    c.parenthesis = a < n && t[a] == ')';
    c.outside = c.parenthesis && currency_from(t, skip_spaces(t, a + 1)).size != 0;
    return c;
}

// The context of the `length` (at most 8) bytes `bytes` among those kept in
// `kept`, else found by `find` and kept.
template <class Find>
[[gnu::always_inline]] inline price_context context_of(price_context* kept, unsigned& filled, std::uint64_t bytes,
                                                       std::size_t length, Find&& find) noexcept {
    const unsigned count = filled < price_contexts::slots ? filled : price_contexts::slots;
    for (unsigned i = 0; i < count; ++i) {
        if (kept[i].bytes == bytes && kept[i].length == length) return kept[i];
    }
    price_context c = find();
    c.bytes = bytes;
    c.length = static_cast<std::uint8_t>(length);
    kept[filled % price_contexts::slots] = c;
    // (past the slots: the oldest is replaced; kept below 2 * slots)
    filled = filled + 1 < 2 * price_contexts::slots ? filled + 1 : price_contexts::slots;
    return c;
}

// The n (at most 8) bytes at p, of which 8 are readable, as a word (byte i in
// bits 8i..8i+7: short texts are read so only where vec::available holds).
inline std::uint64_t first_bytes(const char* p, std::size_t n) noexcept {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return n >= 8 ? w : w & ((std::uint64_t{1} << (8 * n)) - 1);
}

// The price of a short text of one number whose other bytes are plain
// (short_shape) into `out`, when nothing stands against the number but
// spaces, a currency and parentheses: what figure_at finds there,
// without what plain bytes cannot hold (a minus, a dash, a percentage, a
// footnote's star, superscripts, other spaces) and without a multiple. False
// when the text is not of that kind, or its amount is not read in place.
bool quick_price(std::string_view t, const char* block, std::size_t first, const figure_shape& s, price_mark mark,
                 price_contexts& kept, price& out) noexcept {
    const std::size_t n = t.size(), end = s.end;
    const auto is_mark = [](char c) { return c == '.' || c == ','; };
    // '$.99', '50,-', '12.'
    if ((first > 0 && is_mark(t[first - 1])) || (end < n && is_mark(t[end]))) return false;
    // What stands around the number, kept by its bytes when they are few
    // (32 bytes are readable from `block`, and n <= 32).
    const price_context before =
        first <= 8 ? context_of(kept.before, kept.before_filled, first_bytes(block, first), first,
                                [&] { return context_before(t, first); })
                   : context_before(t, first);
    const std::size_t rest = n - end;
    const price_context behind =
        rest <= 8 ? context_of(kept.after, kept.after_filled,
                               n >= 8 ? (rest == 0 ? 0 : first_bytes(block + n - 8, 8) >> (8 * (8 - rest)))
                                      : first_bytes(block, n) >> (8 * end),
                               rest, [&] { return context_after(t, end); })
                  : context_after(t, end);
    // '£1.5k', '150k ₫'
    if (end < n && ((t[end] | 0x20) == 'k' || (t[end] | 0x20) == 'm')) return false;
    const bool open = before.parenthesis, close = behind.parenthesis;
    // (a currency outside the parentheses: the general reading's)
    if (open && close && before.size == 0 && behind.size == 0 && (before.outside || behind.outside)) return false;
    const std::size_t before_at = first - before.offset, after_at = end + behind.offset;

    if (currency_before_wins(t, before_at, before.size, after_at, behind.size)) {
        out.currency_size = before.size;
        out.currency_entry = before.entry;
    } else if (behind.size != 0) {
        out.currency_size = behind.size;
        out.currency_entry = behind.entry;
    }
    const auto [decimal_at, fraction] = decimal_of(s, mark);
    bool whole = decimal_at == npos;
    std::size_t fraction_digits = fraction;
    if (whole && thousandths_point(s, out.currency_size, out.currency_entry, mark)) {
        whole = false;
        fraction_digits = 3;
    }
    if (amount_in_place(s.mantissa, s.digits, whole, whole ? 0 : fraction_digits, open && close, out.amount)) {
        return true;
    }
    out.currency_size = out.currency_entry = 0;
    return false;
}

// The price of a text by its ASCII digits (read_price's rules but the last).
// (one result, built in place: written field by field and then copied whole,
// it stalls on the copy's wide loads)
[[gnu::always_inline]] inline price read_ascii_price(std::string_view text, price_mark mark,
                                                     price_scratch& scratch) {
    price out;
    const std::size_t n = text.size();
    // The earlier numbers without a currency, as far as they matter: the one
    // just before (a range's first), the first, the first with a fraction.
    kept_figure previous, fallback;
    // The first price whose currency is a single letter ('R', 'L', 'K'), and
    // its currency: the price only when no other currency follows ('1.5L
    // 2,49 €').
    kept_figure weak;
    std::size_t weak_currency_size = 0, weak_currency_entry = 0;
    std::size_t pos = 0;
    for (;;) {
        // (a numeric reference is passed whole: its digits are no number, '&#8381;')
        for (unsigned char c; pos < n && !is_digit(c = byte_at(text, pos));) {
            pos += c == '&' ? numeric_entity_size(text, pos) : 1;
        }
        if (pos == n) break;
        const figure f = figure_at(text, pos, mark);
        pos = f.next > f.end ? f.next : f.end;
        if (f.percent) {
            previous.reset();
            continue;
        }
        if (f.currency_size != 0) {
            const bool range =
                previous && previous->fraction == f.fraction && range_between(text, previous->next, f.prefix) &&
                starts_range(text, *previous, f.mantissa, f.digits, f.shift == 0 && !f.cents);
            if (f.currency_size == 1 && is_ascii_alpha(byte_at(text, f.currency_at))) {
                if (!weak) {
                    weak = range ? *previous : f;
                    weak_currency_size = f.currency_size;
                    weak_currency_entry = f.currency_entry;
                }
                previous = f;
                continue;
            }
            amount_of(text, range ? *previous : f, scratch, out.amount);
            out.currency_size = f.currency_size;
            out.currency_entry = f.currency_entry;
            return out;
        }
        if (!fallback || (fallback->fraction == 0 && f.fraction != 0)) fallback = f;
        previous = f;
    }
    if (weak) {
        amount_of(text, *weak, scratch, out.amount);
        out.currency_size = weak_currency_size;
        out.currency_entry = weak_currency_entry;
        return out;
    }
    if (fallback) amount_of(text, *fallback, scratch, out.amount);
    return out;
}

// Whether the text holds a decimal digit of another script than ASCII
// (Unicode's Nd: full-width, Arabic-Indic, Devanagari, ...).
[[gnu::cold]] bool other_digits_in(std::string_view text) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        if (*p < 0xC0) {
            ++p;
            continue;
        }
        if (ucd::digit_value(utf8::decode(p)) < 10) return true;
    }
    return false;
}

// The text with those digits written as ASCII ones, the Arabic decimal and
// thousands separators (U+066B, U+066C) as the decimal mark in force and the
// other one, and the full-width comma and full stop as ',' and '.'.
[[gnu::cold]] std::string with_ascii_digits(std::string_view text, price_mark mark) {
    const char decimal = mark == price_mark::comma ? ',' : '.';
    const char thousands = mark == price_mark::comma ? '.' : ',';
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        const unsigned char* const from = p;
        const char32_t c = utf8::decode(p);
        if (const unsigned v = c < 0x80 ? 10 : ucd::digit_value(c); v < 10) {
            out += static_cast<char>('0' + v);
        } else if (c == 0x066B) {
            out += decimal;
        } else if (c == 0x066C) {
            out += thousands;
        } else if (c == 0xFF0C || c == 0xFF0E) {
            out += c == 0xFF0C ? ',' : '.';
        } else {
            out.append(reinterpret_cast<const char*>(from), static_cast<std::size_t>(p - from));
        }
    }
    return out;
}

}  // namespace

// The reading of a text with digits of other scripts, into `out`, which holds
// the reading of its ASCII digits (see read_price). The copy with ASCII digits
// is read by read_price, once: it holds no other digits.
[[gnu::cold, gnu::noinline]] static void read_other_digits(std::string_view text, price_mark mark,
                                                           price_scratch& scratch, price& out) {
    const std::string ascii = with_ascii_digits(text, mark);
    // (a scratch of its own, so that the digits of the first reading's amount stay)
    price_scratch own;
    price again = read_price(ascii, mark, own);
    if (again.amount.what == number::kind::none) return;
    if (again.amount.what == number::kind::big_int) again = read_price(ascii, mark, scratch);
    out = again;
}

// The last rule of read_price, after a reading of ASCII digits into `out`
// (the general one, or the quick one of a short text): a text of no price with
// a currency is read again with its digits of other scripts, when it holds any.
[[gnu::always_inline]] inline void then_other_digits(std::string_view text, price_mark mark, price_scratch& scratch,
                                                     price& out) {
    if (out.currency_size == 0 && other_digits_in(text)) [[unlikely]] read_other_digits(text, mark, scratch, out);
}

price read_price(std::string_view text, std::size_t readable, price_mark mark, price_scratch& scratch,
                 price_contexts& contexts) {
    // (one result, built in place: written field by field and then copied
    // whole, it stalls on the copy's wide loads)
    price out;
    const std::size_t n = text.size();
    if (n <= short_text && readable >= short_text) {
        const char* block = text.data();
        std::size_t first = 0;
        figure_shape shape;
        bool plain = false;
#if defined(__x86_64__)
        const bool one = cpu::chosen() >= cpu::path::avx2 ? short_shape_avx2(block, n, first, shape, plain)
                                                          : short_shape_baseline(block, n, first, shape, plain);
#else
        const bool one = short_shape_baseline(block, n, first, shape, plain);
#endif
        if (one && plain && quick_price(text, block, first, shape, mark, contexts, out)) {
            then_other_digits(text, mark, scratch, out);  // ('9۵')
            return out;
        }
    }
    out = read_price(text, mark, scratch);
    return out;
}

// A text without a price with a currency in ASCII digits is read again with
// its digits of other scripts as ASCII ones, when it holds any ('１，２８０円',
// '۱۲۹٬۰۰۰ تومان'): that reading is the price when it finds one.
price read_price(std::string_view text, price_mark mark, price_scratch& scratch) {
    price out = read_ascii_price(text, mark, scratch);
    then_other_digits(text, mark, scratch, out);
    return out;
}

}  // namespace tavo::numparse
