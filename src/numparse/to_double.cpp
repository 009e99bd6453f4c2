// Decimal text to double, correctly rounded, without the interpreter. Two
// exact integer computations cover the texts the module meets in practice,
// and the C library's `strtod` (correctly rounded in glibc and musl) the rest.
// The C++ library's `std::from_chars` for doubles would do it all, but it
// needs libstdc++ 11 or later (GLIBCXX_3.4.29), which would raise the oldest
// system a wheel of the module installs on.
//
// The text's value is written 0.<significant digits> * 10^E.
//
// Short form: the first (at most) 19 significant digits make an integer w
// below 2^64, and the value is w * 10^e exactly when no later digit is
// non-zero. For |e| <= 27, 5^|e| < 2^63, and w * 10^e is rounded exactly in
// 128-bit integers (`scaled_value`). When later digits are not all zero, the
// value lies strictly between w * 10^e and (w + 1) * 10^e; rounding is
// monotonic, so when those two round to the same double, so does the value.
//
// Otherwise an infinity or a zero when E alone decides it, and else `strtod`
// on a short normal form "<digits>e<exponent>": at most `kept_digits`
// significant digits, and a "1" after them when any digit after them is not
// zero. That changes no result: every double and every point halfway between
// two neighbouring doubles is written with at most 767 significant digits, so
// none of them lies strictly between the kept digits and the exact value, nor
// between the kept digits and the kept digits with the "1" after them, and
// both round alike. So the conversion works on at most `kept_digits` + 1
// digits whatever the length of the text. The normal form has no point, so
// the locale's decimal point plays no part.
#include "numparse/number.hpp"
#include "numparse/u128.hpp"
#include "shared/byte_words.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace tavo::numparse {
namespace {

constexpr std::size_t kept_digits = 800;
constexpr int max_short_digits = 19;  // 10^19 < 2^64
constexpr int max_exact_exponent = 27;  // 5^27 < 2^63

constexpr std::uint64_t power_of_five(int k) {
    std::uint64_t p = 1;
    while (k-- > 0) p *= 5;
    return p;
}

constexpr auto powers_of_five = [] {
    struct table {
        std::uint64_t v[max_exact_exponent + 1];
    } t{};
    for (int k = 0; k <= max_exact_exponent; ++k) t.v[k] = power_of_five(k);
    return t;
}();

int bit_length(u128 n) {
    const auto high = static_cast<std::uint64_t>(n >> 64);
    if (high != 0) return 128 - __builtin_clzll(high);
    const auto low = static_cast<std::uint64_t>(n);
    return low == 0 ? 0 : 64 - __builtin_clzll(low);
}

// n * 2^exponent rounded to the nearest double, ties to even, where n > 0 is
// the integer part of the exact value and `sticky` says whether a non-zero
// fraction of n was dropped; n has at least 55 bits whenever `sticky` is set.
// The results here lie between 10^-27 and 10^47: normal doubles, built from
// their fields.
double rounded(u128 n, bool sticky, int exponent) {
    const int bits = bit_length(n);
    std::uint64_t mantissa = 0;
    if (bits > 53) {
        const int shift = bits - 53;
        const u128 rest = n & ((u128{1} << shift) - 1);
        const u128 half = u128{1} << (shift - 1);
        mantissa = static_cast<std::uint64_t>(n >> shift);
        exponent += shift;
        if (rest > half || (rest == half && (sticky || (mantissa & 1) != 0))) ++mantissa;
        if (mantissa >> 53 != 0) {  // rounded up to 2^53
            mantissa >>= 1;
            ++exponent;
        }
    } else {
        mantissa = static_cast<std::uint64_t>(n) << (53 - bits);
        exponent -= 53 - bits;
    }
    // mantissa in [2^52, 2^53): the value is 1.f * 2^(exponent + 52)
    const std::uint64_t fields = (static_cast<std::uint64_t>(exponent + 52 + 1023) << 52) | (mantissa & ((std::uint64_t{1} << 52) - 1));
    double v;
    std::memcpy(&v, &fields, sizeof v);
    return v;
}

// w * 10^e correctly rounded, for w > 0 and |e| <= 27.
double scaled_value(std::uint64_t w, int e) {
    if (e >= 0) return rounded(u128{w} * powers_of_five.v[e], false, e);  // below 2^127
    // w * 2^s / 5^-e with w * 2^s of 63 bits more than the divisor: a
    // quotient of 63 or 64 bits.
    const std::uint64_t divisor = powers_of_five.v[-e];
    const int s = 63 + bit_length(divisor) - bit_length(w);
    const u128 numerator = u128{w} << s;
    const u128 quotient = numerator / divisor;
    return rounded(quotient, numerator - quotient * divisor != 0, e - s);
}

[[noreturn]] void refused() { throw std::invalid_argument("not a decimal digit text"); }

// True when [p, end) holds only ASCII digits.
bool all_digits(const char* p, const char* end) {
    unsigned char bad = 0;
    for (; p != end; ++p) bad |= static_cast<unsigned char>(static_cast<unsigned char>(*p - '0') > 9);
    return bad == 0;
}

// True when [p, end), digits and at most a point, holds a non-zero digit.
bool any_nonzero(const char* p, const char* end) {
    unsigned char found = 0;
    for (; p != end; ++p) found |= static_cast<unsigned char>(*p > '0');
    return found != 0;
}

// Eight ASCII digits read at once from a word (the first character in the
// lowest byte).
bool eight_digits(std::uint64_t chunk) {
    return ((chunk & 0xF0F0F0F0F0F0F0F0) | (((chunk + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) >> 4)) ==
           0x3333333333333333;
}

std::uint64_t eight_digits_value(std::uint64_t chunk) {
    chunk -= 0x3030303030303030;
    chunk = chunk * 10 + (chunk >> 8);  // pairs of digits in every other byte
    const std::uint64_t pairs = 0x000000FF000000FF;
    return (((chunk & pairs) * (100 + (1000000ULL << 32))) + (((chunk >> 16) & pairs) * (1 + (10000ULL << 32)))) >> 32;
}

// strtod of <digits from `first`>e<exponent - digits written>: the value
// 0.<digits> * 10^exponent.
double converted(const char* first, const char* end, long long exponent) {
    char normal[kept_digits + 1 + 2 + 20 + 1];  // digits "1" "e-" exponent null
    std::size_t n = 0;
    const char* p = first;
    for (; p != end && n < kept_digits; ++p) {
        if (*p != '.') normal[n++] = *p;
    }
    if (any_nonzero(p, end)) normal[n++] = '1';
    const long long scale = exponent - static_cast<long long>(n);
    const int written = std::snprintf(normal + n, sizeof(normal) - n, "e%lld", scale);
    if (written <= 0 || static_cast<std::size_t>(written) >= sizeof(normal) - n) refused();
    // Overflow gives an infinity, underflow a zero or a subnormal (errno is
    // set to ERANGE; the values are the correctly rounded ones all the same).
    char* stop = nullptr;
    const double v = std::strtod(normal, &stop);
    if (stop != normal + n + static_cast<std::size_t>(written)) refused();
    return v;
}

double magnitude(std::string_view text) {
    const char* const first = text.data();
    const char* const end = first + text.size();
    // The leading zeros, then at most 19 significant digits into w.
    const char* point = nullptr;
    const char* digits = nullptr;  // the first significant digit
    long long leading_zeros = 0;
    std::uint64_t w = 0;
    int taken = 0;
    const char* p = first;
    for (; p != end && taken < max_short_digits; ++p) {
        if (taken != 0 && taken <= max_short_digits - 8 && end - p >= 8) {
            const std::uint64_t chunk = words::load(p);
            if (eight_digits(chunk)) {
                w = w * 100000000 + eight_digits_value(chunk);
                taken += 8;
                p += 7;
                continue;
            }
        }
        const auto d = static_cast<unsigned char>(*p - '0');
        if (d > 9) {
            if (*p != '.' || point) refused();
            point = p;
        } else if (taken != 0 || d != 0) {
            if (taken == 0) digits = p;
            w = w * 10 + d;
            ++taken;
        } else {
            ++leading_zeros;
        }
    }
    // The rest: digits, and the point if not yet met.
    if (!point) {
        point = static_cast<const char*>(std::memchr(p, '.', static_cast<std::size_t>(end - p)));
        if (point ? !all_digits(p, point) || !all_digits(point + 1, end) : !all_digits(p, end)) refused();
    } else if (!all_digits(p, end)) {
        refused();
    }
    if (text.size() == (point ? 1u : 0u)) refused();  // "." alone, or nothing
    if (taken == 0) return 0.0;

    const long long whole_digits = (point ? point : end) - first;
    const long long exponent = whole_digits - leading_zeros;  // the value is 0.<digits> * 10^exponent
    // 0.1 * 10^310 is above the largest double, 10^-325 below half the
    // smallest one.
    if (exponent > 310) return std::numeric_limits<double>::infinity();
    if (exponent < -325) return 0.0;

    const long long e = exponent - taken;  // the value is w * 10^e, plus what follows p
    if (e >= -max_exact_exponent && e <= max_exact_exponent) {
        const double low = scaled_value(w, static_cast<int>(e));
        if (!any_nonzero(p, end) || scaled_value(w + 1, static_cast<int>(e)) == low) return low;
    }
    return converted(digits, end, exponent);
}

}  // namespace

double to_double(std::string_view text, bool negative) {
    const double v = magnitude(text);
    return negative ? -v : v;
}

}  // namespace tavo::numparse
