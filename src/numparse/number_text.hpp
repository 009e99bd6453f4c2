// The strict stage of number extraction: reads a filtered number text (only
// ASCII digits and "(", ")", "-", ".") as an integer or as a float.
//
// Integers too long for 64 bits come back as a view of their significant
// digits and are built by the caller. The reading is inline: it runs once per
// call on a few bytes, and only long decimals leave it, for the interpreter's
// conversion behind `decimal_to_double`.
#pragma once

#include "boundary/decimal_text.hpp"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tavo {

struct parsed_number {
    enum class kind : std::uint8_t {
        no_number,   // nothing could be read
        int_number,  // `integer` holds the value
        big_int,     // `digits` (no leading zero) with `negative`: outside 64 bits
        float_number // `real` holds the value
    };
    kind what = kind::no_number;
    bool negative = false;
    std::int64_t integer = 0;
    double real = 0.0;
    std::string_view digits;
};

namespace number_text_limits {

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
constexpr unsigned digit_value(char c) noexcept {
    return static_cast<unsigned>(static_cast<unsigned char>(c)) - unsigned{'0'};
}

}  // namespace number_text_limits

// `text` holds number characters only and is never empty. A text holding a
// "." is read by the float grammar, any other by the integer grammar; both
// refuse the same texts otherwise, so the point is looked for during the one
// scan that checks the grammar.
inline parsed_number parse_number_text(std::string_view text) {
    using namespace number_text_limits;
    assert(!text.empty());
    parsed_number out;
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
    for (unsigned d; p != end && (d = digit_value(*p)) < 10; ++p) mantissa = mantissa * 10 + d;
    const std::size_t whole_digits = static_cast<std::size_t>(p - first);
    std::size_t significant = static_cast<std::size_t>(p - whole_significant);

    if (p == end) {
        // No point: the integer conversion.
        if (whole_digits == 0) return out;
        if (significant <= max_native_digits) {
            const std::uint64_t limit = negative ? int64_magnitude_limit : int64_magnitude_limit - 1;
            if (mantissa <= limit) {
                out.what = parsed_number::kind::int_number;
                // Modular conversion: 0 - 2^63 lands exactly on INT64_MIN.
                out.integer = static_cast<std::int64_t>(negative ? std::uint64_t{0} - mantissa : mantissa);
                return out;
            }
        }
        out.what = parsed_number::kind::big_int;
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
    for (unsigned d; p != end && (d = digit_value(*p)) < 10; ++p) mantissa = mantissa * 10 + d;
    if (p != end) return out;  // a second point, a sign or a parenthesis
    const std::size_t fraction_digits = static_cast<std::size_t>(end - fraction);
    if (whole_digits + fraction_digits == 0) return out;  // "." alone
    significant += static_cast<std::size_t>(end - fraction_significant);

    out.what = parsed_number::kind::float_number;
    if (significant <= max_native_digits && mantissa <= max_exact_mantissa &&
        fraction_digits <= max_exact_power) {
        // Both operands are exact doubles, so the one rounding of the
        // division is the correct rounding of the decimal value.
        const double v = static_cast<double>(mantissa) / exact_powers_of_ten[fraction_digits];
        out.real = negative ? -v : v;
    } else {
        out.real = decimal_to_double(text, negative);
    }
    return out;
}

}  // namespace tavo
