// The Python side of the order of key values, and the comparison sort of records.
#include "dictsort/key_order.hpp"

#include "boundary/error.hpp"
#include "dictsort/stable_sort.hpp"

namespace tavo::dictsort {
namespace {

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
        case key_kind::wide_int_key:
            return v.as_wide_int().object;
        case key_kind::null_key:
            assert(!"a null key never goes to Python");
            return Py_None;
    }
    return temp.get();
}

// Whether `x op y` is true; nothing when it raised an ordinary exception
// (discarded). Two objects of one type go straight to the type's comparison
// slot, then to the reflected operation, and when both decline the
// comparison is the TypeError of unsupported operands: the steps
// PyObject_RichCompare takes for one type, without its dispatch. The caller
// holds references to x and y; their types are read again after each call,
// since Python code may reassign __class__.
result<std::optional<bool>> comparison_truth(PyObject* x, PyObject* y, int op) {
    ref r;
    PyTypeObject* t = Py_TYPE(x);
    if (t == Py_TYPE(y) && t->tp_richcompare) {
        r = steal(t->tp_richcompare(x, y, op));
        if (r.get() == Py_NotImplemented) {
            r.reset();
            richcmpfunc reflected = Py_TYPE(y)->tp_richcompare;
            if (!reflected) return std::optional<bool>();
            r = steal(reflected(y, x, op == Py_LT ? Py_GT : Py_LT));
            if (r.get() == Py_NotImplemented) return std::optional<bool>();
        }
    } else {
        r = steal(PyObject_RichCompare(x, y, op));
    }
    if (!r) {
        status cleared = discard_ordinary_error();
        if (!cleared) return std::move(cleared.error());
        return std::optional<bool>();
    }
    if (r.get() == Py_True) return std::optional<bool>(true);
    if (r.get() == Py_False) return std::optional<bool>(false);
    int truth = PyObject_IsTrue(r.get());
    if (truth < 0) {
        status cleared = discard_ordinary_error();
        if (!cleared) return std::move(cleared.error());
        return std::optional<bool>();
    }
    return std::optional<bool>(truth != 0);
}

// An exact int against a 64-bit integer, natively: no exception is possible.
// An int too wide for a wide int key is ordered against one by its sign, as
// against 0.
order compare_wide_int(PyObject* wide, std::int64_t y) noexcept {
    int overflow = 0;
    long long x = PyLong_AsLongLongAndOverflow(wide, &overflow);
    if (overflow != 0) return overflow > 0 ? order::greater : order::less;
    return x < y ? order::less : x > y ? order::greater : order::equal;
}

}  // namespace

result<order> python_compare(PyObject* x, PyObject* y, bool tell_greater) {
    result<std::optional<bool>> lt = comparison_truth(x, y, Py_LT);
    if (!lt) return std::move(lt.error());
    if (!*lt) return order::equal;
    if (**lt) return order::less;
    if (!tell_greater) return order::equal;
    result<std::optional<bool>> gt = comparison_truth(x, y, Py_GT);
    if (!gt) return std::move(gt.error());
    return *gt && **gt ? order::greater : order::equal;
}

result<order> compare_with_object(const sort_value& a, const sort_value& b, bool tell_greater) {
    assert(a.kind() == key_kind::object_key || b.kind() == key_kind::object_key);
    // An int key or a wide int key against an int too wide for a wide int
    // key: its sign decides, without a temporary int. A float key against one goes
    // through Python below, whose comparison of an int with a float is exact.
    if (a.kind() == key_kind::int_key && PyLong_CheckExact(b.as_object())) {
        return reverse(compare_wide_int(b.as_object(), a.as_int()));
    }
    if (b.kind() == key_kind::int_key && PyLong_CheckExact(a.as_object())) {
        return compare_wide_int(a.as_object(), b.as_int());
    }
    if (a.kind() == key_kind::wide_int_key && PyLong_CheckExact(b.as_object())) {
        return reverse(compare_wide_int(b.as_object(), 0));
    }
    if (b.kind() == key_kind::wide_int_key && PyLong_CheckExact(a.as_object())) {
        return compare_wide_int(a.as_object(), 0);
    }
    // Object keys are held by the key store; temporaries by these handles.
    ref temp_x, temp_y;
    PyObject* x = python_object_of(a, temp_x);
    PyObject* y = python_object_of(b, temp_y);
    return python_compare(x, y, tell_greater);
}

status sort_by_records(const sort_value* values, std::size_t width, const std::vector<sort_column>& columns,
                       std::size_t col, std::size_t* rows, std::size_t len, row_with_key* entries,
                       row_with_key* scratch) {
    for (std::size_t k = 0; k < len; ++k) entries[k] = {values[rows[k] * width + col], rows[k]};
    const bool last = col + 1 == columns.size();
    const bool descending = columns[col].descending;
    status sorted = stable_merge_sort(entries, len, scratch, [&](const row_with_key& x, const row_with_key& y) -> result<bool> {
        // On the last column an ascending sort need not tell greater from equal.
        result<order> o = compare_sort_values(x.key, y.key, !last || descending);
        if (!o) return std::move(o.error());
        if (*o != order::equal) return descending ? *o == order::greater : *o == order::less;
        if (last) return false;
        return record_less(columns, values + x.row * width, values + y.row * width, col + 1);
    });
    for (std::size_t k = 0; k < len; ++k) rows[k] = entries[k].row;  // a permutation even after an error
    return sorted;
}

}  // namespace tavo::dictsort
