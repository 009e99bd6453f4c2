// The decimal mark a column of number texts is written with, decided from
// its rows: what one row's text shows ('.' or ',' as the decimal point, either
// one, or nothing), and the tally that folds rows into a decision. Bytes in,
// counts out: nothing here knows Python objects, so it runs with or without
// the interpreter lock, and it never allocates.
//
// The number of a row is its first run of digits: from the first ASCII digit,
// through every separator that stands between two digits ('.', ',', a space,
// an apostrophe ' or U+2019, U+00A0 or U+202F), to the first character that
// is neither a digit nor such a separator. A '.' or ',' just before that first
// digit belongs to it too ('.5', as parse() reads it: a half). parse() joins
// every digit of a text; the evidence is taken from the first number only, so
// that a second figure ('12,50 (was 15.00)'), a version, a date or a sentence's
// full stop after the number ('Total: 12,5.') does not speak for the mark.
//
// The evidence of that number:
// - both marks: the later one is the decimal point ('1.234,56' shows ',');
// - one mark twice or more: a thousands separator, so the decimal point is
//   the other one ('1.234.567' shows ',');
// - one mark once, followed by a group of 1, 2, or 4 or more digits: the
//   decimal point ('12,5', '3.14159');
// - one mark once, followed by exactly 3 digits: either ('1.250', '12,500');
// - no mark (the spaces, apostrophes, U+00A0 and U+202F between digit groups
//   are evidence of neither), or no digit at all: neither.
#pragma once

#include "shared/byte_words.hpp"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tavo::numparse {

enum class mark_evidence : std::uint8_t {
    neither = 0,  // no number, or a number without '.' or ','
    point = 1,    // '.' is the decimal point
    comma = 2,    // ',' is the decimal point
    either = 3,   // one mark once, before exactly three digits
};
inline constexpr std::size_t evidence_kinds = 4;

// What the UTF-8 text `s` shows (any bytes are read safely; a byte of a
// multi-byte character is never taken for a digit or a mark).
mark_evidence evidence_of(std::string_view s) noexcept;

// The same evidence, for the column kernel: an ASCII row of at most 16 bytes
// with 16 readable from its start (`readable_end`: null, none past the row)
// is read from the masks of its bytes' kinds, without a loop over them; any
// other row by evidence_of().
inline mark_evidence evidence_of_row(std::string_view s, bool ascii, const char* readable_end) noexcept;

enum class decided_mark : std::uint8_t { point, comma, undecided };

// The set of evidence kinds some rows show: bit k for kind k.
using evidence_kinds_seen = unsigned;
inline constexpr evidence_kinds_seen seen_bit(mark_evidence e) noexcept { return 1u << static_cast<unsigned>(e); }

// The decision from the kinds the rows show: one side with evidence and the
// other without: that side; both: undecided (no majority vote: a mixed column
// is where a guess does harm); neither: '.' when no row reads either way
// (every mark then reads the same with both), else undecided.
inline constexpr decided_mark decision_of(evidence_kinds_seen seen) noexcept {
    const bool points = seen & seen_bit(mark_evidence::point), commas = seen & seen_bit(mark_evidence::comma);
    if (points && !commas) return decided_mark::point;
    if (commas && !points) return decided_mark::comma;
    if (points) return decided_mark::undecided;
    return seen & seen_bit(mark_evidence::either) ? decided_mark::undecided : decided_mark::point;
}

// Rows folded into counts, with the first row of each kind.
struct format_tally {
    std::array<std::int64_t, evidence_kinds> rows{};
    std::array<std::int64_t, evidence_kinds> first{-1, -1, -1, -1};

    // Counts row `row` (rows are added in increasing order); true when it is
    // the first of its kind, whose text the caller may then keep.
    bool add(std::int64_t row, mark_evidence e) noexcept {
        const auto k = static_cast<std::size_t>(e);
        ++rows[k];
        if (first[k] >= 0) [[likely]] return false;
        first[k] = row;
        return true;
    }

    std::int64_t count(mark_evidence e) const noexcept { return rows[static_cast<std::size_t>(e)]; }
    std::int64_t first_row(mark_evidence e) const noexcept { return first[static_cast<std::size_t>(e)]; }

    evidence_kinds_seen seen() const noexcept {
        evidence_kinds_seen s = 0;
        for (std::size_t k = 0; k < evidence_kinds; ++k) s |= (rows[k] > 0 ? 1u : 0u) << k;
        return s;
    }
    decided_mark decision() const noexcept { return decision_of(seen()); }
};

namespace detail {

// Bit i of each mask is byte i of the row (n <= 16 bytes, ASCII).
[[gnu::always_inline]] inline mark_evidence evidence_of_sixteen(const char* p, std::size_t n) noexcept {
    using namespace vec;
    const bytes16 x = load(p);
    const std::uint32_t row = (std::uint32_t{1} << n) - 1;
    const std::uint32_t digits = lane_bits(in_range<'0', '9'>(x)) & row;
    if (digits == 0) return mark_evidence::neither;
    // (the separators past the row stand beside no digit of the number: only
    // the digits need the row's mask)
    const std::uint32_t points = lane_bits(x == static_cast<unsigned char>('.'));
    const std::uint32_t commas = lane_bits(x == static_cast<unsigned char>(','));
    const std::uint32_t spaces = lane_bits((x == static_cast<unsigned char>(' ')) | (x == static_cast<unsigned char>('\'')));
    // A separator belongs to the number between two digits; the number is the
    // run of those and the digits from the first digit on (adding the first
    // digit's bit carries through that run and no further).
    const std::uint32_t inside = digits | ((points | commas | spaces) & (digits >> 1) & (digits << 1));
    const std::uint32_t first = digits & (0u - digits);
    const std::uint32_t number = inside & ~(inside + first);
    const std::uint32_t lead = (first >> 1) & (points | commas);  // '.5'
    const std::uint32_t p_marks = points & (number | lead);
    const std::uint32_t c_marks = commas & (number | lead);
    // both: the later one, whose bit is the higher
    if (p_marks && c_marks) return p_marks > c_marks ? mark_evidence::point : mark_evidence::comma;
    const std::uint32_t marks = p_marks | c_marks;
    if (marks == 0) return mark_evidence::neither;
    if (marks & (marks - 1)) return p_marks ? mark_evidence::comma : mark_evidence::point;
    // one mark: the run of digits right after it, exactly three or not
    const std::uint32_t after = marks << 1;
    const std::uint32_t run = digits & ~(digits + after);
    if (run == after * 7) return mark_evidence::either;
    return p_marks ? mark_evidence::point : mark_evidence::comma;
}

}  // namespace detail

inline mark_evidence evidence_of_row(std::string_view s, bool ascii, const char* readable_end) noexcept {
    if constexpr (vec::available) {
        if (ascii && s.size() <= 16 && readable_end && readable_end - s.data() >= 16) {
            return detail::evidence_of_sixteen(s.data(), s.size());
        }
    }
    return evidence_of(s);
}

}  // namespace tavo::numparse
