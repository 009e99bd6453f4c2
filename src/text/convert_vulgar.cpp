// The vulgar-fraction sanitiser: each of the fifteen fraction characters of
// `vulgar_fraction_values`, with the whole number written in front of it,
// becomes one decimal number ('4¾' -> '4.75', 'a½' -> 'a 0.5').
//
// The matches are those of a leftmost, greedy, non-overlapping search for
// (\d*)\s*([fractions]), with \d the Nd digits and \s the White_Space code
// points of Unicode 16.0. Since neither class holds a fraction character, that
// comes down to this: every fraction character ends exactly one match, which
// starts at the beginning of the longest run of digits-then-white-space in
// front of the fraction that does not reach back into the previous match. So
// the scanner jumps from fraction to fraction (a byte search) and looks
// backwards from each; every byte is looked at a bounded number of times, and
// all the data is constexpr: nothing to build, nothing to guard between threads.
#include "numparse/number.hpp"
#include "numparse/u128.hpp"
#include "text/convert.hpp"
#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace tavo::text {
namespace {

// --- vulgar_fraction_values ------------------------------------------------------------

struct vulgar_fraction {
    char32_t cp;
    double value;
};

// The value of each is the double nearest to the fraction: the quotient in
// double precision.
constexpr vulgar_fraction vulgar_fraction_values[15] = {
    {U'\u00BC', 1.0 / 4}, {U'\u00BD', 1.0 / 2}, {U'\u00BE', 3.0 / 4},
    {U'\u2153', 1.0 / 3}, {U'\u2154', 2.0 / 3}, {U'\u2155', 1.0 / 5},
    {U'\u2156', 2.0 / 5}, {U'\u2157', 3.0 / 5}, {U'\u2158', 4.0 / 5},
    {U'\u2159', 1.0 / 6}, {U'\u215A', 5.0 / 6}, {U'\u215B', 1.0 / 8},
    {U'\u215C', 3.0 / 8}, {U'\u215D', 5.0 / 8}, {U'\u215E', 7.0 / 8},
};

// In UTF-8 the first three are C2 BC..C2 BE and the others E2 85 93..E2 85 9E,
// consecutive in the table above.
static_assert(vulgar_fraction_values[2].cp == 0xBE && vulgar_fraction_values[3].cp == 0x2153 &&
              vulgar_fraction_values[14].cp == 0x215E);

struct fraction_hit {
    double value;
    unsigned size;  // UTF-8 bytes of the fraction character
};

// The fraction character starting at `p` (a C2 or E2 lead byte), if it is one.
inline bool fraction_at(const unsigned char* p, const unsigned char* end, fraction_hit& hit) noexcept {
    if (p[0] == 0xC2) {
        if (end - p >= 2 && p[1] >= 0xBC && p[1] <= 0xBE) {
            hit = {vulgar_fraction_values[p[1] - 0xBC].value, 2};
            return true;
        }
    } else if (end - p >= 3 && p[1] == 0x85 && p[2] >= 0x93 && p[2] <= 0x9E) {
        hit = {vulgar_fraction_values[3 + (p[2] - 0x93)].value, 3};
        return true;
    }
    return false;
}

// Finds the fraction characters in order by searching for their lead bytes.
// The text is valid UTF-8, so a C2 or E2 byte always starts a code point.
class fraction_finder {
public:
    fraction_finder(const unsigned char* begin, const unsigned char* end) noexcept
        : end_(end), c2_(search(begin, 0xC2)), e2_(search(begin, 0xE2)) {}

    // The first fraction character at or after `from`, or nullptr.
    const unsigned char* next(const unsigned char* from, fraction_hit& hit) noexcept {
        if (c2_ < from) c2_ = search(from, 0xC2);
        if (e2_ < from) e2_ = search(from, 0xE2);
        for (;;) {
            const unsigned char*& lead = c2_ < e2_ ? c2_ : e2_;
            if (lead == end_) return nullptr;
            const unsigned char* p = lead;
            if (fraction_at(p, end_, hit)) return p;
            lead = search(p + 1, *p);
        }
    }

private:
    const unsigned char* search(const unsigned char* from, unsigned char byte) const noexcept {
        const void* p = std::memchr(from, byte, static_cast<std::size_t>(end_ - from));
        return p ? static_cast<const unsigned char*>(p) : end_;
    }

    const unsigned char* end_;
    const unsigned char* c2_;
    const unsigned char* e2_;
};

// --- format_decimal --------------------------------------------------------------------

// The digits of n, at most 20, in front of `end`; returns where they start.
char* put_integer(char* end, std::uint64_t n) noexcept {
    do {
        *--end = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    return end;
}

// Rounds to six decimals (halves away from zero, in doubles), writes the exact
// value of that double in fixed notation with six decimals (correctly rounded,
// a tie to even, as '%.6f' % y does), then drops trailing zeros and a trailing
// point. Values here are never negative; infinity, from a huge number or from
// x * 1e6 overflowing, is "inf".
//
// With y = m * 2^k (m < 2^53 an integer), y * 10^6 = m * 15625 * 2^(k + 6),
// which for y below 2^63 is rounded to an integer exactly in 128 bits. Larger
// values are whole numbers (of 19 digits and more), with no decimals to write:
// the C library writes their exact digits ("%.0f" prints no point, so the
// locale plays no part).
void format_decimal(double x, byte_sink& out) {
    const double y = std::round(x * 1000000.0) / 1000000.0;
    if (std::isinf(y)) {
        out.reserve_more(3);
        out.put(std::string_view("inf"));
        return;
    }
    if (y >= 0x1p63) {
        char digits[320];  // the largest double has 309 digits
        const int size = std::snprintf(digits, sizeof digits, "%.0f", y);
        if (size <= 0 || static_cast<std::size_t>(size) >= sizeof digits) throw std::bad_alloc();
        out.reserve_more(static_cast<std::size_t>(size));
        out.put(digits, static_cast<std::size_t>(size));
        return;
    }
    int k = 0;
    const auto m = static_cast<std::uint64_t>(std::ldexp(std::frexp(y, &k), 53));  // exact
    k -= 53;
    std::uint64_t whole = 0;
    std::uint32_t millionths = 0;
    if (k >= 0) {
        whole = m << k;  // y itself, below 2^63
    } else {
        // n = y * 10^6 = p * 2^(k + 6), rounded to an integer, ties to even.
        const u128 p = u128{m} * 15625;  // below 2^67
        u128 n = 0;
        if (k + 6 >= 0) {
            n = p << (k + 6);
        } else if (const int s = -(k + 6); s < 100) {
            n = p >> s;
            const u128 rest = p & ((u128{1} << s) - 1);
            const u128 half = u128{1} << (s - 1);
            if (rest > half || (rest == half && (n & 1) != 0)) ++n;
        }
        whole = static_cast<std::uint64_t>(n / 1000000);  // below 2^63: y is
        millionths = static_cast<std::uint32_t>(n % 1000000);
    }
    char text[20 + 1 + 6];
    char* const digits_end = text + 20;
    char* const begin = put_integer(digits_end, whole);
    char* last = digits_end;
    if (millionths != 0) {
        *last++ = '.';
        for (std::uint32_t scale = 100000; millionths != 0; scale /= 10) {
            *last++ = static_cast<char>('0' + millionths / scale);
            millionths %= scale;
        }
    }
    const std::size_t size = static_cast<std::size_t>(last - begin);
    out.reserve_more(size);
    out.put(begin, size);
}

// --- the number in front of a fraction ------------------------------------------------

// The value of a run of Nd digits, each read by its decimal digit value;
// correctly rounded, any length; a run too large for a double is infinity.
double digits_value(const unsigned char* p, const unsigned char* end, bool ascii) {
    std::string translated;
    if (!ascii) {
        translated.reserve(static_cast<std::size_t>(end - p));
        while (p < end) translated.push_back(static_cast<char>('0' + ucd::digit_value(utf8::decode(p))));
        p = reinterpret_cast<const unsigned char*>(translated.data());
        end = p + translated.size();
    }
    return numparse::to_double(std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p)),
                             false);
}

}  // namespace

// --- sanitize_vulgar ----------------------------------------------------------------------

bool sanitize_vulgar(std::string_view text, byte_sink& out) {
    const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = begin + text.size();
    fraction_finder finder(begin, end);
    fraction_hit hit{};
    const unsigned char* fraction = finder.next(begin, hit);
    if (!fraction) return false;

    // Each match is replaced as soon as it is found: building the result front
    // to back gives the same text as editing a copy from the last match
    // backwards, without moving any bytes twice.
    out.reserve_more(text.size() + 16);
    const unsigned char* copied = begin;  // end of the previous match: nothing before it is searched again
    while (fraction) {
        // Back over white space, then over digits, never into the previous match.
        const unsigned char* space_start = fraction;
        while (space_start > copied) {
            const unsigned char* q = utf8::previous(space_start);
            const unsigned char* r = q;
            if (!ucd::is_white_space(utf8::decode(r))) break;
            space_start = q;
        }
        const unsigned char* number_start = space_start;
        bool ascii_digits = true;
        while (number_start > copied) {
            const unsigned char* q = utf8::previous(number_start);
            const unsigned char* r = q;
            if (*q >= 0x80) {
                if (ucd::digit_value(utf8::decode(r)) >= 10) break;
                ascii_digits = false;
            } else if (static_cast<unsigned>(*q - '0') >= 10u) {
                break;
            }
            number_start = q;
        }

        out.reserve_more(static_cast<std::size_t>(number_start - copied) + 1);
        out.put(copied, static_cast<std::size_t>(number_start - copied));
        if (number_start < space_start) {
            format_decimal(digits_value(number_start, space_start, ascii_digits) + hit.value, out);
        } else {
            if (number_start != begin) out.put(' ');
            format_decimal(hit.value, out);
        }
        copied = fraction + hit.size;
        fraction = finder.next(copied, hit);
    }
    out.reserve_more(static_cast<std::size_t>(end - copied));
    out.put(copied, static_cast<std::size_t>(end - copied));
    return true;
}

}  // namespace tavo::text
