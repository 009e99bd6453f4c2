// The `decimal` argument of tavo.parse, tavo.price and their column
// versions: which character is the decimal mark.
#pragma once

#include "boundary/args.hpp"
#include "numparse/number.hpp"
#include "numparse/price.hpp"

namespace tavo {

// The ValueError "decimal must be '.' or ',', not {repr}"; with `infer`,
// "decimal must be '.', ',' or 'infer', not {repr}".
error_value refused_decimal_mark(PyObject* value, bool infer = false);

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

// The `decimal` argument of tavo.columns.parse: a mark, or `infer` (also
// when it is not given): the mark decided from the whole column.
struct column_decimal {
    bool infer;
    numparse::decimal_mark mark;  // when not `infer`
};

inline result<column_decimal> column_decimal_arg(const call_args& a, std::size_t i) {
    PyObject* const value = a[i];
    if (!value) return column_decimal{true, numparse::decimal_mark::point};
    if (PyUnicode_Check(value)) {
        if (const auto text = ascii_text(value)) {
            if (*text == ".") return column_decimal{false, numparse::decimal_mark::point};
            if (*text == ",") return column_decimal{false, numparse::decimal_mark::comma};
            if (*text == "infer") return column_decimal{true, numparse::decimal_mark::point};
        }
    }
    return refused_decimal_mark(value, true);
}

// The `decimal` argument of tavo.price and tavo.columns.price, the optional
// argument `i`: None (also when it is not given) lets each text decide; "."
// or ","; a str subclass is read by its content. Anything else is refused
// with parse's message.
inline result<numparse::price_mark> price_mark_arg(const call_args& a, std::size_t i) {
    PyObject* const value = a[i];
    if (!value || value == Py_None) return numparse::price_mark::infer;
    if (PyUnicode_Check(value)) {
        if (const auto text = ascii_text(value); text && text->size() == 1) {
            if ((*text)[0] == '.') return numparse::price_mark::point;
            if ((*text)[0] == ',') return numparse::price_mark::comma;
        }
    }
    return refused_decimal_mark(value);
}

}  // namespace tavo
