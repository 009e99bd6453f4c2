// Decimal text to double, shared by the fraction sanitiser and number
// extraction: the correctly rounded conversion (nearest double, ties to even,
// any number of digits; too large gives an infinity, too small a zero).
#pragma once

#include <string_view>

namespace tavo {

// The nearest double to the decimal `text` (ASCII digits with at most one
// ".", at least one digit), negated when `negative`. A text outside that form
// is a broken invariant and ends in an internal failure; so does a conversion
// that finds no memory.
double decimal_to_double(std::string_view text, bool negative);

}  // namespace tavo
