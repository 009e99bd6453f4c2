// The body of parse(s) (_tavo): numparse::parse reads the text (number.cpp),
// and read_number (number_result.hpp) makes the Python result.
#include "bodies/bodies.hpp"
#include "bodies/decimal_arg.hpp"
#include "bodies/number_result.hpp"

#include <string>

namespace tavo {

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

error_value refused_decimal_mark(PyObject* value, bool infer) {
    std::string text = infer ? "decimal must be '.', ',' or 'infer', not " : "decimal must be '.' or ',', not ";
    if (status shown = append_display(text, value, true); !shown) return std::move(shown.error());
    return error_value::owned_error(PyExc_ValueError, std::move(text));
}

result<ref> parse_body(call_args& a) {
    auto s = text_arg(a, param(parse_desc, "s"));
    if (!s) return std::move(s.error());
    return read_number<numparse::decimal_mark::point>(s->utf8());
}

}  // namespace tavo
