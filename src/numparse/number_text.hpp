// The strict stage of number extraction: reads a filtered number text (only
// ASCII digits and "(", ")", "-", ".") as an integer or as a float.
//
// Nothing here touches the interpreter; integers too long for 64 bits come
// back as a view of their significant digits and are built by the caller.
#pragma once

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

// `text` holds number characters only and is never empty. A text holding a
// "." is read by the float grammar, any other by the integer grammar; both
// refuse the same texts otherwise, so the point is looked for during the one
// scan that checks the grammar.
parsed_number parse_number_text(std::string_view text);

// The nearest double to the decimal `text` (digits with at most one ".", at
// least one digit), ties to even, for any number of digits. Too large gives
// an infinity, too small a zero, each carrying the sign. A text outside that
// form is a broken invariant and ends in an internal failure.
double decimal_to_double(std::string_view text, bool negative);

}  // namespace tavo
