// The body of parse(): numparse::parse reads the text (number.cpp), and this
// makes the Python result.
#include "boundary/bodies.hpp"
#include "numparse/number.hpp"

#include <string>

namespace tavo {
namespace {

// The exact int for significant digits beyond 64 bits. A text longer than the
// interpreter's limit for integer text conversion gives None: the conversion
// refuses it with ValueError before doing any arithmetic.
result<ref> exact_int(std::string_view digits, bool negative) {
    std::string text;
    text.reserve(digits.size() + 1);
    if (negative) text += '-';
    text += digits;
    PyObject* v = PyLong_FromString(text.c_str(), nullptr, 10);
    if (v) return steal(v);
    if (PyErr_ExceptionMatches(PyExc_ValueError)) {
        if (status s = discard_ordinary_error(); !s) return std::move(s.error());
        return none_result();
    }
    failed_creation();
}

}  // namespace

result<ref> parse_body(call_args& a) {
    auto s = text_arg(a, 0);
    if (!s) return std::move(s.error());
    numparse::number_scratch scratch;
    const numparse::number number = numparse::parse(s->utf8(), scratch);
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

}  // namespace tavo
