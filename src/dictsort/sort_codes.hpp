// Unsigned codes of key values, for radix passes over columns whose keys all
// have a native order. Both the general sort and the short-list path use them.
#pragma once

#include "dictsort/key_values.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tavo::dictsort {

// How a column's keys can be turned into unsigned codes. The codes of a
// prefix plan order the keys coarsely: equal codes still need a look at the
// whole keys (compare_native).
enum class column_plan { compare_only, exact_int, exact_double, number_prefix, text_prefix };

inline bool is_prefix(column_plan plan) noexcept {
    return plan == column_plan::number_prefix || plan == column_plan::text_prefix;
}

inline column_plan plan_for(const column_profile& p) {
    constexpr unsigned null = column_profile::bit(key_kind::null_key);
    constexpr unsigned ints = column_profile::bit(key_kind::int_key);
    constexpr unsigned floats = column_profile::bit(key_kind::float_key);
    constexpr unsigned texts = column_profile::bit(key_kind::text_key);
    if (p.only(null | ints)) return column_plan::exact_int;
    // With no NaN and every int exact as a double, numbers order as doubles do.
    if (p.only(null | ints | floats) && !p.has_nan && !p.has_wide_int) return column_plan::exact_double;
    // Otherwise numbers order as their nearest doubles do, coarsely.
    constexpr unsigned wide_ints = column_profile::bit(key_kind::wide_int_key);
    if (p.only(null | ints | floats | wide_ints) && !p.has_nan) return column_plan::number_prefix;
    if (p.only(null | texts)) return column_plan::text_prefix;
    return column_plan::compare_only;
}

inline constexpr std::uint64_t sign_bit = std::uint64_t{1} << 63;

// A double as an unsigned code in the same order (-0.0 as 0.0; not for NaN):
// the sign bit set for positives, every bit flipped for negatives.
inline std::uint64_t double_code(double d) noexcept {
    if (d == 0.0) d = 0.0;  // -0.0 equals 0.0
    auto b = std::bit_cast<std::uint64_t>(d);
    return (b & sign_bit) ? ~b : b | sign_bit;
}

// The code of a key of a column with that plan (0 for compare_only). Text
// codes hold the first eight bytes, big-endian, zero-padded: ordering by them
// is a coarser form of the byte order, so equal codes still need a look at
// the whole text; number codes are those of the nearest doubles.
inline std::uint64_t code_of(column_plan plan, const sort_value& v) {
    switch (plan) {
        case column_plan::exact_int:
            return static_cast<std::uint64_t>(v.as_int()) ^ sign_bit;
        case column_plan::exact_double:
            return double_code(v.kind() == key_kind::int_key ? static_cast<double>(v.as_int()) : v.as_float());
        case column_plan::number_prefix:  // the nearest double: rounding keeps the order
            return double_code(v.kind() == key_kind::int_key        ? static_cast<double>(v.as_int())
                               : v.kind() == key_kind::wide_int_key ? v.as_wide_int().nearest
                                                                    : v.as_float());
        case column_plan::text_prefix: {
            std::string_view s = v.as_text();
            std::uint64_t k = 0;
            if (s.size() >= 8) {
                std::memcpy(&k, s.data(), 8);
                return std::endian::native == std::endian::little ? __builtin_bswap64(k) : k;
            }
            for (std::size_t i = 0; i < 8; ++i) k = (k << 8) | (i < s.size() ? static_cast<unsigned char>(s[i]) : 0);
            return k;
        }
        case column_plan::compare_only:
            break;
    }
    return 0;
}

}  // namespace tavo::dictsort
