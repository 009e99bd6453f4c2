// The evidence of one row's text (number_format.hpp): a byte walk over the
// first number, with one table load a byte.
#include "numparse/number_format.hpp"

#include <array>

namespace tavo::numparse {
namespace {

enum byte_kind : std::uint8_t {
    other = 0,
    digit,
    point,        // '.'
    comma,        // ','
    ascii_space,  // ' ' or '\'': a group separator of one byte
    lead_c2,      // may start U+00A0
    lead_e2,      // may start U+202F or U+2019
};

constexpr std::array<std::uint8_t, 256> byte_kinds = [] {
    std::array<std::uint8_t, 256> t{};
    for (unsigned c = '0'; c <= '9'; ++c) t[c] = digit;
    t['.'] = point;
    t[','] = comma;
    t[' '] = ascii_space;
    t['\''] = ascii_space;
    t[0xC2] = lead_c2;
    t[0xE2] = lead_e2;
    return t;
}();

inline std::uint8_t kind_of(const unsigned char* p, std::size_t i) noexcept { return byte_kinds[p[i]]; }

// The width of the separator at p[i] (0: none there): a mark or an ASCII space
// or apostrophe is one byte, U+00A0 two, U+202F and U+2019 three.
inline std::size_t separator_width(const unsigned char* p, std::size_t i, std::size_t n) noexcept {
    switch (kind_of(p, i)) {
        case point:
        case comma:
        case ascii_space:
            return 1;
        case lead_c2:
            return i + 1 < n && p[i + 1] == 0xA0 ? 2 : 0;
        case lead_e2:
            return i + 2 < n && p[i + 1] == 0x80 && (p[i + 2] == 0xAF || p[i + 2] == 0x99) ? 3 : 0;
        default:
            return 0;
    }
}

}  // namespace

mark_evidence evidence_of(std::string_view s) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n && kind_of(p, i) != digit) ++i;
    if (i == n) return mark_evidence::neither;

    unsigned points = 0, commas = 0;
    unsigned char last_mark = 0;
    std::size_t group = 0;         // the digits of the group after the last mark
    bool after_mark = false;       // still in that group
    const auto mark = [&](unsigned char c) {
        points += c == '.';
        commas += c == ',';
        last_mark = c;
        group = 0;
        after_mark = true;
    };
    if (i > 0 && (p[i - 1] == '.' || p[i - 1] == ',')) mark(p[i - 1]);  // '.5'
    for (;;) {
        const std::size_t start = i;
        while (i < n && kind_of(p, i) == digit) ++i;
        if (after_mark) group += i - start;
        if (i == n) break;
        const std::size_t w = separator_width(p, i, n);
        if (w == 0 || i + w >= n || kind_of(p, i + w) != digit) break;  // the number ends here
        if (w == 1 && (p[i] == '.' || p[i] == ',')) {
            mark(p[i]);
        } else {
            after_mark = false;  // a space group: the mark's own group has ended
        }
        i += w;
    }

    if (points > 0 && commas > 0) return last_mark == '.' ? mark_evidence::point : mark_evidence::comma;
    if (points >= 2) return mark_evidence::comma;
    if (commas >= 2) return mark_evidence::point;
    if (points + commas == 0) return mark_evidence::neither;
    if (group == 3) return mark_evidence::either;
    return points == 1 ? mark_evidence::point : mark_evidence::comma;
}

}  // namespace tavo::numparse
