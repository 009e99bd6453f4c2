// Reading the columns, extracting key values, and the Python side of the order.
#include "dictsort/sort_keys.hpp"

#include "boundary/args.hpp"
#include "boundary/views.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <unordered_map>

namespace tavo::dictsort {
namespace {

// A column from a str element, or false when it is not a str with UTF-8 text.
// The caller holds a reference to `element`.
bool column_of(PyObject* element, std::vector<sort_column>& out, ending_error& ending) {
    std::string_view text;
    if (!PyUnicode_Check(element) || !utf8_of(element, text, ending)) return false;
    out.push_back(parse_column_text(text));
    return true;
}

std::vector<sort_column> columns_of_sequence(PyObject* columns, ending_error& ending) {
    std::vector<sort_column> out;
    Py_ssize_t hint = PySequence_Size(columns);
    if (hint < 0) {
        ending.discard_pending();
        if (ending.is_set()) return {};
    } else {
        out.reserve(static_cast<std::size_t>(hint < 1024 ? hint : 1024));
    }
    ref it = steal(PyObject_GetIter(columns));
    if (!it) {
        ending.discard_pending();
        return {};
    }
    while (ref element = steal(PyIter_Next(it.get()))) {
        if (!column_of(element.get(), out, ending)) return {};
    }
    if (PyErr_Occurred()) {
        ending.discard_pending();
        return {};
    }
    return out;
}

// The value of a lookup as a key value (rules 2 to 5 of the extraction). The
// caller holds a reference to `v`. Null once `ending` is set.
sort_value convert_value(PyObject* v, key_store& store, ending_error& ending) {
    if (v == Py_None) return sort_value::null();
    PyTypeObject* t = Py_TYPE(v);
    // Exact built-in types first: for them the conversion calls below run no
    // Python code, so their outcome is known without making them.
    if (t == &PyLong_Type) {
        int overflow = 0;
        long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
        if (overflow == 0) return sort_value::of_int(x);
        return sort_value::of_object(store.keep(borrow(v)));  // a wide int, compared exactly
    }
    if (t == &PyFloat_Type) return sort_value::of_float(PyFloat_AS_DOUBLE(v));
    if (t == &PyBool_Type) return sort_value::of_int(v == Py_True ? 1 : 0);
    if (t == &PyUnicode_Type) {
        std::string_view text;
        if (utf8_of(v, text, ending)) return sort_value::of_text(store.copy_text(text.data(), text.size()), text.size());
        if (ending.is_set()) return sort_value::null();
        return sort_value::of_object(store.keep(borrow(v)));
    }

    ending.note_python();  // a subclass's or another type's conversion methods
    // Without an __index__ slot (nor __float__, for the second call) the
    // conversion calls can only raise TypeError: skip them and the message
    // they would format.
    PyNumberMethods* number = t->tp_as_number;
    bool has_index = PyLong_Check(v) || (number && number->nb_index);
    if (has_index) {
        // The integer itself: its value when it fits in 64 bits, else the
        // exact int (a wide int, compared exactly like one given as an int).
        int overflow = 0;
        if (PyLong_Check(v)) {
            long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
            if (overflow == 0) return sort_value::of_int(x);
        }
        ref index = steal(PyNumber_Index(v));  // exact int; runs __index__ for other types
        if (index) {
            long long x = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
            if (overflow == 0) return sort_value::of_int(x);
            return sort_value::of_object(store.keep(std::move(index)));
        }
        ending.discard_pending();
        if (ending.is_set()) return sort_value::null();
    }
    // Python code run by __index__ may have changed the value's type: read it again.
    number = Py_TYPE(v)->tp_as_number;
    if (has_index || (number && number->nb_float)) {
        double d = PyFloat_AsDouble(v);
        if (d != -1.0 || !PyErr_Occurred()) return sort_value::of_float(d);
        ending.discard_pending();
        if (ending.is_set()) return sort_value::null();
    }
    std::string_view text;
    if (PyUnicode_Check(v) && utf8_of(v, text, ending)) {
        return sort_value::of_text(store.copy_text(text.data(), text.size()), text.size());
    }
    if (ending.is_set()) return sort_value::null();
    return sort_value::of_object(store.keep(borrow(v)));
}

// A key value as a Python object for a comparison: an object key's own
// object (the key store keeps it alive), or a new one held by `temp`.
PyObject* python_object_of(const sort_value& v, ref& temp) {
    switch (v.kind()) {
        case key_kind::int_key:
            temp = created(PyLong_FromLongLong(v.as_int()));
            break;
        case key_kind::float_key:
            temp = created(PyFloat_FromDouble(v.as_float()));
            break;
        case key_kind::text_key: {
            std::string_view s = v.as_text();
            temp = created(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
            break;
        }
        case key_kind::object_key:
            return v.as_object();
        case key_kind::null_key:
            assert(!"a null key never goes to Python");
            return Py_None;
    }
    return temp.get();
}

order reverse(order o) noexcept { return static_cast<order>(-static_cast<int>(o)); }

// An exact int against a 64-bit integer, natively (no exception is possible).
order compare_wide_int(PyObject* wide, std::int64_t y) noexcept {
    int overflow = 0;
    long long x = PyLong_AsLongLongAndOverflow(wide, &overflow);
    if (overflow != 0) return overflow > 0 ? order::greater : order::less;
    return x < y ? order::less : x > y ? order::greater : order::equal;
}

// 1 when `x op y` is true, 0 when false, -1 when it raised (the exception
// cleared, or kept in `ending`). Two objects of one type go straight to the
// type's comparison slot, then to the reflected operation, and when both
// decline the comparison is the TypeError of unsupported operands: the steps
// PyObject_RichCompare takes for one type, without its dispatch. The caller
// holds references to x and y; their types are read again after each call,
// since Python code may reassign __class__.
int comparison_truth(PyObject* x, PyObject* y, int op, ending_error& ending) {
    ending.note_python();
    ref r;
    PyTypeObject* t = Py_TYPE(x);
    if (t == Py_TYPE(y) && t->tp_richcompare) {
        r = steal(t->tp_richcompare(x, y, op));
        if (r.get() == Py_NotImplemented) {
            r.reset();
            richcmpfunc reflected = Py_TYPE(y)->tp_richcompare;
            if (!reflected) return -1;
            r = steal(reflected(y, x, op == Py_LT ? Py_GT : Py_LT));
            if (r.get() == Py_NotImplemented) return -1;
        }
    } else {
        r = steal(PyObject_RichCompare(x, y, op));
    }
    if (!r) {
        ending.discard_pending();
        return -1;
    }
    if (r.get() == Py_True) return 1;
    if (r.get() == Py_False) return 0;
    int truth = PyObject_IsTrue(r.get());
    if (truth < 0) {
        ending.discard_pending();
        return -1;
    }
    return truth;
}

// The distinct names of the columns, and for each column the index of its name.
class distinct_names {
public:
    // The views point into `columns`, which must outlive this.
    explicit distinct_names(const std::vector<sort_column>& columns) {
        std::unordered_map<std::string_view, std::size_t> seen;
        of_column_.reserve(columns.size());
        for (const sort_column& c : columns) {
            auto [at, fresh] = seen.try_emplace(c.name, names_.size());
            if (fresh) names_.push_back(c.name);
            of_column_.push_back(at->second);
        }
        if (names_.size() > 8) index_ = std::move(seen);  // a few names are quicker to scan
    }

    std::size_t size() const noexcept { return names_.size(); }
    std::size_t of_column(std::size_t c) const noexcept { return of_column_[c]; }
    std::string_view name(std::size_t k) const noexcept { return names_[k]; }

    // The index of `name`, or size() when no column has it.
    std::size_t find(std::string_view name) const {
        if (index_.empty()) {
            std::size_t k = 0;
            while (k < names_.size() && names_[k] != name) ++k;
            return k;
        }
        auto at = index_.find(name);
        return at == index_.end() ? names_.size() : at->second;
    }

private:
    std::vector<std::string_view> names_;
    std::vector<std::size_t> of_column_;
    std::unordered_map<std::string_view, std::size_t> index_;
};

}  // namespace

sort_column parse_column_text(std::string_view text) {
    if (!text.empty() && text.front() == '-') return {std::string(text.substr(1)), true, ref()};
    return {std::string(text), false, ref()};
}

ref lookup_key(const sort_column& column) {
    if (column.key) return borrow(column.key.get());
    const std::string& name = column.name;
    return created(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
}

std::vector<sort_column> parse_columns(PyObject* columns, ending_error& ending) {
    std::vector<sort_column> out;
    if (PyUnicode_Check(columns)) {
        column_of(columns, out, ending);  // a str without UTF-8 text gives no columns
        return out;
    }
    if (PyList_Check(columns)) {
        // Getting the UTF-8 text of an element may allocate, and a collection
        // then may run finalizers that change the list: each element is held
        // while it is read, and the size is read again for every element.
        for (Py_ssize_t i = 0; !ending.is_set(); ++i) {
            ref element = list_view(columns).item(i);
            if (!element) break;
            column_of(element.get(), out, ending);
        }
        return out;
    }
    if (!PySequence_Check(columns)) return out;
    return columns_of_sequence(columns, ending);
}

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

sort_value extract_sort_value(PyObject* item, PyObject* key, key_store& store, ending_error& ending) {
    ref value;
    if (PyDict_CheckExact(item)) {
        // A plain dict has no __missing__: a missing key is simply null. The
        // value is held: conversions below may run code that drops it from
        // the dict (or another thread may, on free-threaded builds).
        value = dict_lookup(item, key);
        if (!value) {
            if (PyErr_Occurred()) ending.discard_pending();
            return sort_value::null();
        }
    } else {
        ending.note_python();
        value = steal(PyObject_GetItem(item, key));
        if (!value) {
            ending.discard_pending();
            return sort_value::null();
        }
    }
    return convert_value(value.get(), store, ending);
}

sort_rows::sort_rows(PyObject* list) : list_(list) {
    if constexpr (free_threaded) copy_ = list_view(list).copy();
}

result<ref> sort_rows::unsorted(bool inplace) const {
    if (inplace) return none_result();
    if (copy_) return borrow(copy_.get());  // the list of one moment, seen by no other thread
    return list_view(list_).copy();
}

order python_compare(PyObject* x, PyObject* y, ending_error& ending, bool tell_greater) {
    if (ending.is_set()) return order::equal;
    int lt = comparison_truth(x, y, Py_LT, ending);
    if (lt < 0) return order::equal;
    if (lt > 0) return order::less;
    if (!tell_greater) return order::equal;
    return comparison_truth(x, y, Py_GT, ending) > 0 ? order::greater : order::equal;
}

order compare_through_python(const sort_value& a, const sort_value& b, ending_error& ending, bool tell_greater) {
    assert(a.kind() == key_kind::object_key || b.kind() == key_kind::object_key);
    if (ending.is_set()) return order::equal;
    // An int key against a wide int: the wide int's sign decides, without a
    // temporary int. A float key against one goes through Python below, whose
    // comparison of an int with a float is exact.
    if (a.kind() == key_kind::int_key && PyLong_CheckExact(b.as_object())) {
        return reverse(compare_wide_int(b.as_object(), a.as_int()));
    }
    if (b.kind() == key_kind::int_key && PyLong_CheckExact(a.as_object())) {
        return compare_wide_int(a.as_object(), b.as_int());
    }
    // Object keys are held by the key store; temporaries by these handles.
    ref temp_x, temp_y;
    PyObject* x = python_object_of(a, temp_x);
    PyObject* y = python_object_of(b, temp_y);
    return python_compare(x, y, ending, tell_greater);
}

// The columns whose name is a str key of at least one dict item, in their
// order. A column whose name an earlier column has is dropped, whatever its
// direction: it would only be asked about rows that the earlier one found
// equal, and it would find them equal again. Dict keys are scanned with
// PyDict_Next; the scan stops as soon as every name has been seen. Empty when
// `ending` is set.
std::vector<sort_column> keep_known_columns(PyObject* items, std::vector<sort_column> columns,
                                            ending_error& ending) {
    std::vector<std::size_t> keep;  // indices into columns
    {
        distinct_names names(columns);
        std::vector<char> found(names.size(), 0);
        std::vector<ref> keys(names.size());  // the first exact str key found for each name
        std::size_t missing = names.size();
        const bool read = for_each_key_text(
            items, ending, [&] { return missing > 0; },
            [&](std::string_view text, PyObject* key) {
                std::size_t k = names.find(text);
                if (k < names.size() && !found[k]) {
                    found[k] = 1;
                    --missing;
                    if (PyUnicode_CheckExact(key)) keys[k] = borrow(key);
                }
            });
        if (!read) return {};
        std::vector<char> taken(names.size(), 0);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            std::size_t k = names.of_column(c);
            if (found[k] && !taken[k]) {
                taken[k] = 1;
                columns[c].key = std::move(keys[k]);
                keep.push_back(c);
            }
        }
    }
    std::vector<sort_column> kept;
    kept.reserve(keep.size());
    for (std::size_t c : keep) kept.push_back(std::move(columns[c]));
    return kept;
}

}  // namespace tavo::dictsort
