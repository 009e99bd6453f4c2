// The `decimal` argument of tavo.parse and tavo.columns.parse: which
// character is the decimal mark.
#pragma once

#include "boundary/args.hpp"
#include "numparse/number.hpp"

namespace tavo {

// The ValueError "decimal must be '.' or ',', not {repr}".
error_value refused_decimal_mark(PyObject* value);

// The decimal mark given as the optional argument `i`: "." (also when it is
// not given) or ","; a str subclass is read by its content. Anything else is
// refused.
inline result<numparse::decimal_mark> decimal_mark_arg(const call_args& a, std::size_t i) {
    PyObject* const value = a[i];
    if (!value) return numparse::decimal_mark::point;
    if (PyUnicode_Check(value)) {
        if (const auto text = ascii_text(value); text && text->size() == 1) {
            if ((*text)[0] == '.') return numparse::decimal_mark::point;
            if ((*text)[0] == ',') return numparse::decimal_mark::comma;
        }
    }
    return refused_decimal_mark(value);
}

}  // namespace tavo
