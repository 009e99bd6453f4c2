// Decimal text to double for the texts the short path of `parse_number_text`
// does not take: more than 19 significant digits, a mantissa above 2^53, or
// more than 22 digits after the point.
#include "boundary/error.hpp"
#include "numparse/number_text.hpp"

#include <charconv>
#include <limits>
#include <system_error>

namespace tavo {

double decimal_to_double(std::string_view text, bool negative) {
    double v = 0.0;
    const char* first = text.data();
    const char* last = first + text.size();
    auto [end, ec] = std::from_chars(first, last, v, std::chars_format::fixed);
    if (end != last || (ec != std::errc{} && ec != std::errc::result_out_of_range)) {
        fail("decimal conversion refused a checked digit text");
    }
    if (ec == std::errc::result_out_of_range) {
        // The conversion leaves `v` untouched when the nearest double is an
        // infinity or a zero. Which one: a significant digit before the
        // point means at least 1, so the value overflowed; otherwise it is
        // below 1 and can only have underflowed.
        bool whole_part = false;
        for (char c : text) {
            if (c == '.') break;
            if (c != '0') {
                whole_part = true;
                break;
            }
        }
        v = whole_part ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -v : v;
}

}  // namespace tavo
