// Extracting key values.
#include "dictsort/key_values.hpp"

#include "boundary/views.hpp"
#include "dictsort/fallback.hpp"
#include "dictsort/small_buffer.hpp"
#include "dictsort/row_list.hpp"

#include <cmath>

namespace tavo::dictsort {
namespace {

// A str's key: its text, or an object key when it has no UTF-8 text.
result<sort_value> text_key(PyObject* v, key_store& store) {
    // ASCII first, its text read where it stands: handing it through the
    // general path's result<optional<...>> stores it in pieces and reads it
    // back whole, a stall on every row.
    if (const std::optional<std::string_view> ascii = ascii_text(v)) {
        return sort_value::of_text(store.copy_text(ascii->data(), ascii->size()), ascii->size());
    }
    result<std::optional<std::string_view>> text = unless_ordinary(str_utf8(v));
    if (!text) return std::move(text.error());
    if (!*text) return sort_value::of_object(store.keep(borrow(v)));
    std::string_view t = **text;
    return sort_value::of_text(store.copy_text(t.data(), t.size()), t.size());
}

// The key of an exact int outside 64 bits: a wide int key within
// [-2^127, 2^128), else an object key.
result<sort_value> wide_int_value(PyObject* v, key_store& store) {
    ref shift = created(PyLong_FromLong(64));
    ref high = created(PyNumber_Rshift(v, shift.get()));  // floor(v / 2^64): an exact int, no Python code
    PyObject* kept = store.keep(borrow(v));
    int overflow = 0;
    long long h = PyLong_AsLongLongAndOverflow(high.get(), &overflow);
    std::uint64_t high_bits = static_cast<std::uint64_t>(h);
    if (overflow < 0) return sort_value::of_object(kept);
    if (overflow > 0) {
        high_bits = PyLong_AsUnsignedLongLong(high.get());
        if (high_bits == ~std::uint64_t{0} && PyErr_Occurred()) {  // 2^64 or more: wider than 128 bits
            status cleared = discard_ordinary_error();
            if (!cleared) return std::move(cleared.error());
            return sort_value::of_object(kept);
        }
    }
    std::uint64_t low = PyLong_AsUnsignedLongLongMask(v);  // v mod 2^64
    double nearest = PyLong_AsDouble(v);                   // below 2^128: no overflow
    return sort_value::of_wide_int(store.keep(wide_int{h < 0 && overflow == 0, high_bits, low, nearest, kept}));
}

// The value of a lookup of another type than None, int, float, bool and str
// as a key value: a subclass, an object with __index__ or __float__, any
// other object. The caller holds a reference to `v`.
[[gnu::noinline]] result<sort_value> convert_other(PyObject* v, key_store& store, python_trace& trace) {
    trace.ran = true;  // a subclass's or another type's conversion methods
    // Without an __index__ slot (nor __float__, for the second call) the
    // conversion calls can only raise TypeError: skip them and the message
    // they would format.
    PyNumberMethods* number = Py_TYPE(v)->tp_as_number;
    bool has_index = PyLong_Check(v) || (number && number->nb_index);
    if (has_index) {
        // The integer itself: its value when it fits in 64 bits, else the
        // exact int's key (compared exactly like one given as an int).
        int overflow = 0;
        if (PyLong_Check(v)) {
            long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
            if (overflow == 0) return sort_value::of_int(x);
        }
        ref index = steal(PyNumber_Index(v));  // an exact int; runs __index__ for other types
        if (index) {
            long long x = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
            if (overflow == 0) return sort_value::of_int(x);
            return wide_int_value(index.get(), store);
        }
        status cleared = discard_ordinary_error();
        if (!cleared) return std::move(cleared.error());
    }
    // Python code run by __index__ may have changed the value's type: read it again.
    number = Py_TYPE(v)->tp_as_number;
    if (has_index || (number && number->nb_float)) {
        double d = PyFloat_AsDouble(v);
        if (d != -1.0 || !PyErr_Occurred()) return sort_value::of_float(d);
        status cleared = discard_ordinary_error();
        if (!cleared) return std::move(cleared.error());
    }
    if (PyUnicode_Check(v)) return text_key(v, store);
    return sort_value::of_object(store.keep(borrow(v)));
}

// The value of a lookup as a key value (rules 2 to 5 of the extraction). The
// caller holds a reference to `v`. Exact built-in types first: for them the
// conversion calls run no Python code, so their outcome is known without
// making them.
inline result<sort_value> convert_value(PyObject* v, key_store& store, python_trace& trace) {
    if (v == Py_None) return sort_value::null();
    PyTypeObject* t = Py_TYPE(v);
    if (t == &PyLong_Type) {
        int overflow = 0;
        long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
        if (overflow == 0) return sort_value::of_int(x);
        return wide_int_value(v, store);
    }
    if (t == &PyFloat_Type) return sort_value::of_float(PyFloat_AS_DOUBLE(v));
    if (t == &PyBool_Type) return sort_value::of_int(v == Py_True ? 1 : 0);
    if (t == &PyUnicode_Type) return text_key(v, store);
    return convert_other(v, store, trace);
}

// A failed lookup: a null key, unless its exception must end the call.
[[gnu::noinline]] result<sort_value> failed_lookup() {
    status cleared = discard_ordinary_error();
    if (!cleared) return std::move(cleared.error());
    return sort_value::null();
}

// item[key] as a key value; `key` is the column's lookup str.
[[gnu::always_inline]] inline result<sort_value> extract_sort_value(PyObject* item, PyObject* key, key_store& store,
                                                                   python_trace& trace) {
    ref value;
    if (PyDict_CheckExact(item)) {
        // A plain dict has no __missing__: a missing key is simply null. The
        // value is held: conversions below may run code that drops it from
        // the dict (or another thread may, on free-threaded builds).
        result<ref> found = dict_item(item, key);
        if (!found) {
            // A key whose hash or equality raised: the one rule for discarding it.
            std::move(found.error()).raise();
            return failed_lookup();
        }
        value = std::move(*found);
        if (!value) return sort_value::null();
    } else {
        trace.ran = true;
        value = steal(PyObject_GetItem(item, key));
        if (!value) return failed_lookup();
    }
    return convert_value(value.get(), store, trace);
}

}  // namespace

const char* key_store::copy_text_to_new_block(const char* p, std::size_t n) {
    constexpr std::size_t block_size = 64 * 1024;
    if (n == 0) return "";
    if (n > block_size / 4) {  // a long text gets a block of its own
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(n));
        std::memcpy(blocks_.back().get(), p, n);
        return blocks_.back().get();
    }
    if (n > left_) {
        // Most calls sort a few rows: the first block is small.
        std::size_t size = blocks_.empty() && n <= 256 ? 1024 : block_size;
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        free_ = blocks_.back().get();
        left_ = size;
    }
    char* dst = free_;
    std::memcpy(dst, p, n);
    free_ += n;
    left_ -= n;
    return dst;
}

void column_profile::note(const sort_value& v) noexcept {
    kinds |= bit(v.kind());
    if (v.kind() == key_kind::float_key) {
        has_nan |= std::isnan(v.as_float());
    } else if (v.kind() == key_kind::int_key) {
        constexpr std::int64_t exact = std::int64_t{1} << 53;
        has_wide_int |= v.as_int() > exact || v.as_int() < -exact;
    }
}

status extract_rows(const row_list& rows, std::size_t n, const std::vector<sort_column>& columns,
                    sort_value* values, column_profile* profiles, key_store& store, python_trace& trace) {
    const std::size_t m = columns.size();
    small_buffer<ref, 8> keys(m);
    for (std::size_t c = 0; c < m; ++c) keys[c] = lookup_key(columns[c]);
    for (std::size_t i = 0; i < n; ++i) {
        ref item = rows.item(i, trace.ran);  // a lookup may have dropped it from the list
        if (!item) return index_out_of_range();
        for (std::size_t c = 0; c < m; ++c) {
            result<sort_value> v = extract_sort_value(item.get(), keys[c].get(), store, trace);
            if (!v) return std::move(v.error());
            profiles[c].note(*v);
            values[i * m + c] = *v;
        }
    }
    return ok();
}

}  // namespace tavo::dictsort
