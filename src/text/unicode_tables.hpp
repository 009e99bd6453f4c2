// Unicode character data of the text transforms: the Uppercase and Lowercase
// properties and full case mappings (Unicode 17.0), the decimal digits with
// their values and the White_Space property (Unicode 16.0).
//
// The data is generated into unicode_tables.inc by tools/gen_unicode_tables.py;
// everything is constexpr, so it needs no initialisation and is safe to read
// from any thread. Callers handle ASCII themselves and use these lookups only
// for code points from U+0080 on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace tavo::ucd {

// One de-duplicated case record. `lower` and `upper` are deltas to add to the
// code point, or, when the matching sequence flag is set, a reference to a run
// of `case_sequences`: (offset << 2) | length.
struct case_record {
    std::int32_t lower;
    std::int32_t upper;
    std::uint8_t flags;
};

inline constexpr std::uint8_t lower_sequence_flag = 1;
inline constexpr std::uint8_t upper_sequence_flag = 2;

// A code point's entry in the block table: its record number plus the bits
// that answer the common questions without reading the record.
using case_entry = std::uint16_t;
inline constexpr case_entry record_mask = (1u << 12) - 1;
inline constexpr case_entry uppercase_bit = 1u << 12;
inline constexpr case_entry lowercase_bit = 1u << 13;
inline constexpr case_entry lower_mapped_bit = 1u << 14;  // lowercases to something else
inline constexpr case_entry upper_mapped_bit = 1u << 15;  // uppercases to something else

struct digit_range {
    char32_t first;
    char32_t last;
    std::uint8_t first_value;
};

struct code_range {
    char32_t first;
    char32_t last;
};

#include "text/unicode_tables.inc"

static_assert(std::size(case_records) <= record_mask + 1u);

constexpr case_entry entry_of(char32_t c) noexcept {
    if (c >= case_table_limit) return 0;
    constexpr char32_t mask = (char32_t{1} << case_block_shift) - 1;
    const std::size_t block = case_block_index[c >> case_block_shift];
    return case_block_entries[(block << case_block_shift) | (c & mask)];
}

// A full case mapping: one to three code points.
struct mapping {
    char32_t cp[3];
    unsigned size;
};

constexpr mapping expand(char32_t c, std::int32_t field, bool sequence) noexcept {
    if (!sequence) return {{static_cast<char32_t>(static_cast<std::int32_t>(c) + field), 0, 0}, 1};
    const auto ref = static_cast<std::uint32_t>(field);
    const char32_t* s = case_sequences + (ref >> 2);
    mapping m{{s[0], 0, 0}, ref & 3};
    for (unsigned i = 1; i < m.size; ++i) m.cp[i] = s[i];
    return m;
}

constexpr mapping lower_of(char32_t c, case_entry e) noexcept {
    const case_record& r = case_records[e & record_mask];
    return expand(c, r.lower, r.flags & lower_sequence_flag);
}

constexpr mapping upper_of(char32_t c, case_entry e) noexcept {
    const case_record& r = case_records[e & record_mask];
    return expand(c, r.upper, r.flags & upper_sequence_flag);
}

// The decimal value of a general category Nd code point: 0..9, or 10 or more
// for any other code point.
inline unsigned digit_value(char32_t c) noexcept {
    if (c - U'0' < 10) return static_cast<unsigned>(c - U'0');
    std::size_t lo = 0, hi = std::size(decimal_digits);
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (decimal_digits[mid].last < c) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    if (lo == std::size(decimal_digits) || decimal_digits[lo].first > c) return 10;
    return decimal_digits[lo].first_value + static_cast<unsigned>(c - decimal_digits[lo].first);
}

inline bool is_white_space(char32_t c) noexcept {
    if (c < 0x80) return c == U' ' || (c >= 0x09 && c <= 0x0D);
    for (const code_range& r : white_space) {
        if (c < r.first) return false;
        if (c <= r.last) return true;
    }
    return false;
}

}  // namespace tavo::ucd
