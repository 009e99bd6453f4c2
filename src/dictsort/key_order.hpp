// The order of key values and of records (one key value per column).
//
// Null, int, wide int, float and text keys compare natively, without a
// Python call and without allocating; a pair that involves an object key is
// compared through Python (`<`, then `>`), except an int key against an int
// wider than a wide int key.
#pragma once

#include "dictsort/sort_columns.hpp"
#include "dictsort/key_values.hpp"

#include <cassert>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

namespace tavo::dictsort {

enum class order : int { less = -1, equal = 0, greater = 1 };

inline order reverse(order o) noexcept { return static_cast<order>(-static_cast<int>(o)); }

inline order compare_numbers(double x, double y) noexcept {
    if (x < y) return order::less;
    if (x > y) return order::greater;
    return order::equal;  // equal, or NaN on either side
}

// An int against a double, exactly as Python compares them (NaN is equal).
// The int's nearest double orders it wherever it differs from y (rounding
// keeps the order); where they are equal, y is a whole number in
// [-2^63, 2^63] and is compared as an integer.
inline order compare_int_double(std::int64_t x, double y) noexcept {
    double d = static_cast<double>(x);
    if (d < y) return order::less;
    if (d > y) return order::greater;
    if (d != y) return order::equal;  // NaN
    if (y >= 0x1p63) return order::less;  // 2^63, above every 64-bit integer
    auto w = static_cast<std::int64_t>(y);
    return x < w ? order::less : x > w ? order::greater : order::equal;
}

// Two integers of 129 bits, each -2^128 (when negative) + high * 2^64 + low.
inline order compare_129(bool xn, std::uint64_t xh, std::uint64_t xl, bool yn, std::uint64_t yh,
                         std::uint64_t yl) noexcept {
    if (xn != yn) return xn ? order::less : order::greater;
    if (xh != yh) return xh < yh ? order::less : order::greater;
    return xl < yl ? order::less : xl > yl ? order::greater : order::equal;
}

inline order compare_wide_ints(const wide_int& x, const wide_int& y) noexcept {
    return compare_129(x.negative, x.high, x.low, y.negative, y.high, y.low);
}

inline order compare_wide_int64(const wide_int& w, std::int64_t y) noexcept {
    return compare_129(w.negative, w.high, w.low, y < 0, y < 0 ? ~std::uint64_t{0} : 0, static_cast<std::uint64_t>(y));
}

// A wide int against a double, exactly (NaN is equal). The wide int is
// outside [-2^63, 2^63) and within [-2^127, 2^128): a double within the first
// range is on the side of zero the int's sign says, one outside the second
// is beyond it, and any other is a whole number whose exact form is taken.
inline order compare_wide_double(const wide_int& w, double y) noexcept {
    if (y != y) return order::equal;
    if (y >= 0x1p128) return order::less;
    if (y < -0x1p127) return order::greater;
    if (y >= -0x1p63 && y < 0x1p63) return w.negative ? order::less : order::greater;
    double high = std::floor(y * 0x1p-64);  // in [-2^63, 2^64)
    double low = y - high * 0x1p64;         // in [0, 2^64), exact: y's own low bits
    bool negative = high < 0;
    std::uint64_t high_bits = negative ? static_cast<std::uint64_t>(static_cast<std::int64_t>(high))
                                       : static_cast<std::uint64_t>(high);
    return compare_129(w.negative, w.high, w.low, negative, high_bits, static_cast<std::uint64_t>(low));
}

inline order compare_texts(std::string_view x, std::string_view y) noexcept {
    std::size_t n = x.size() < y.size() ? x.size() : y.size();
    if (n != 0) {
        int c = std::memcmp(x.data(), y.data(), n);  // unsigned bytes
        if (c != 0) return c < 0 ? order::less : order::greater;
    }
    if (x.size() == y.size()) return order::equal;
    return x.size() < y.size() ? order::less : order::greater;
}

// `<` and then `>`; a comparison that raises an ordinary exception is equal
// (the exception discarded); one that must end the call comes back. With
// `tell_greater` false the caller only asks whether x is less: `>` is not
// called, and greater is reported as equal.
result<order> python_compare(PyObject* x, PyObject* y, bool tell_greater = true);

// The branch of compare_sort_values where at least one side is an object key.
result<order> compare_with_object(const sort_value& a, const sort_value& b, bool tell_greater);

// The order of a relative to b when neither is an object key.
inline order compare_native(const sort_value& a, const sort_value& b) noexcept {
    key_kind ka = a.kind(), kb = b.kind();
    assert(ka != key_kind::object_key && kb != key_kind::object_key);
    if (ka == kb) {
        switch (ka) {
            case key_kind::int_key:
                return a.as_int() < b.as_int() ? order::less
                       : a.as_int() > b.as_int() ? order::greater
                                                 : order::equal;
            case key_kind::float_key:
                return compare_numbers(a.as_float(), b.as_float());
            case key_kind::text_key:
                return compare_texts(a.as_text(), b.as_text());
            case key_kind::wide_int_key:
                return compare_wide_ints(a.as_wide_int(), b.as_wide_int());
            default:  // null
                return order::equal;
        }
    }
    if (ka == key_kind::null_key) return order::less;
    if (kb == key_kind::null_key) return order::greater;
    // A str against an int or a float: both `<` and `>` raise TypeError for
    // the built-in types, so the pair is equal; no need to ask Python.
    if (ka == key_kind::text_key || kb == key_kind::text_key) return order::equal;
    // Numbers of two kinds, exactly.
    if (ka == key_kind::wide_int_key) {
        return kb == key_kind::int_key ? compare_wide_int64(a.as_wide_int(), b.as_int())
                                       : compare_wide_double(a.as_wide_int(), b.as_float());
    }
    if (kb == key_kind::wide_int_key) return reverse(compare_native(b, a));
    if (ka == key_kind::int_key) return compare_int_double(a.as_int(), b.as_float());
    return reverse(compare_int_double(b.as_int(), a.as_float()));
}

// The order of a relative to b. With `tell_greater` false, greater may come
// back as equal (for callers that only ask whether a is less).
inline result<order> compare_sort_values(const sort_value& a, const sort_value& b, bool tell_greater = true) {
    if (a.kind() == key_kind::object_key || b.kind() == key_kind::object_key) {
        if (a.kind() == key_kind::null_key) return order::less;
        if (b.kind() == key_kind::null_key) return order::greater;
        return compare_with_object(a, b, tell_greater);
    }
    return compare_native(a, b);
}

// True when the record at a sorts strictly before the one at b, comparing
// columns `first` onward (the keys of one record are contiguous, in column
// order).
inline result<bool> record_less(const std::vector<sort_column>& columns, const sort_value* a, const sort_value* b,
                                std::size_t first = 0) {
    assert(!columns.empty());  // with no column, nothing is sorted at all
    std::size_t last = columns.size() - 1;
    for (std::size_t i = first; i < last; ++i) {
        result<order> o = compare_sort_values(a[i], b[i]);
        if (!o) return std::move(o.error());
        if (*o != order::equal) return columns[i].descending ? *o == order::greater : *o == order::less;
    }
    if (first > last) return false;
    // On the last column equal and the losing side give the same answer, so
    // an ascending column need not tell greater from equal.
    bool descending = columns[last].descending;
    result<order> o = compare_sort_values(a[last], b[last], descending);
    if (!o) return std::move(o.error());
    return descending ? *o == order::greater : *o == order::less;
}

// A row of a group being sorted by comparison, with its key in the column
// the group is sorted by (most comparisons then read no record).
struct row_with_key {
    sort_value key;
    std::size_t row;
};

// Sorts the rows[0, len) (row numbers into `values`, records of `width` keys)
// stably by record order from column `col` on. `entries` has room for len
// entries, `scratch` for len / 2 + 1. Ends at once, the rows a permutation of
// what they were, when a comparison meets an exception that must end the call.
status sort_by_records(const sort_value* values, std::size_t width, const std::vector<sort_column>& columns,
                       std::size_t col, std::size_t* rows, std::size_t len, row_with_key* entries,
                       row_with_key* scratch);

}  // namespace tavo::dictsort
