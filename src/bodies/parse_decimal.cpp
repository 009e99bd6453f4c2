// The body of parse(s, *, decimal='.') (tavo._native): the text is read with
// the decimal mark chosen. A file of its own, so that each body inlines the
// conversion of its str (parse.cpp has _tavo's).
#include "bodies/bodies.hpp"
#include "bodies/decimal_arg.hpp"
#include "bodies/number_result.hpp"

namespace tavo {

// The str is read (and refused) first, as parse(s) does; then the mark.
result<ref> parse_with_decimal_body(call_args& a) {
    auto s = text_arg(a, param(parse_with_decimal_desc, "s"));
    if (!s) return std::move(s.error());
    result<numparse::decimal_mark> mark = decimal_mark_arg(a, param(parse_with_decimal_desc, "decimal"));
    if (!mark) return std::move(mark.error());
    if (*mark == numparse::decimal_mark::comma) return read_number<numparse::decimal_mark::comma>(s->utf8());
    return read_number<numparse::decimal_mark::point>(s->utf8());
}

}  // namespace tavo
