// The Python result of parse(): numparse::parse reads the text, and this
// makes the int, float or None, for each decimal mark.
#pragma once

#include "boundary/args.hpp"
#include "numparse/number.hpp"

#include <string_view>

namespace tavo {

// The exact int for significant digits beyond 64 bits. A text longer than the
// interpreter's limit for integer text conversion gives None: the conversion
// refuses it with ValueError before doing any arithmetic.
result<ref> exact_int(std::string_view digits, bool negative);

// The Python value of a number read: an int, a float, or None.
inline result<ref> number_result(const numparse::number& number) {
    switch (number.what) {
        case numparse::number::kind::int64:
            return int_result(number.integer);
        case numparse::number::kind::real:
            return float_result(number.real);
        case numparse::number::kind::big_int:
            return exact_int(number.digits, number.negative);
        case numparse::number::kind::none:
            break;
    }
    return none_result();
}

// The Python result of reading `text` with the decimal mark M.
template <numparse::decimal_mark M>
inline result<ref> read_number(std::string_view text) {
    numparse::number_scratch scratch;
    return number_result(numparse::parse<M>(text, scratch));
}

}  // namespace tavo
