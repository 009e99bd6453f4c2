// same_order(ref_list, comp): do the elements of ref_list occur in comp in the
// same relative order?
//
// Each element of ref_list is searched for in comp from the index where the
// previous one matched (inclusive; 0 for the first), so repeated elements may
// share a match and the walk over comp is linear. The first element not found
// from there ends the call with False.
//
// Equality is the interpreter's rich comparison for equality, ref_list element
// on the left, followed by the truth test of what it returns; there is no
// identity shortcut, so a NaN is never found. Two exact str or two exact float
// objects are compared in place: their equality is fixed by the interpreter
// and runs no Python code. Any other pair may run Python code that changes
// either list, so both lengths are read once, every read is index-checked, and
// the call owns both elements while they are compared.
#include "boundary/bodies.hpp"

#include <cstring>

namespace tavo {
namespace {

error_value index_error(PyObject* list) {
    PyList_GetItem(list, PyList_GET_SIZE(list));
    return error_value::fetch();
}

// Equality of two exact, compact str objects: same length, same storage
// width, same code units.
inline bool str_equal(PyObject* a, PyObject* b) noexcept {
    Py_ssize_t len = PyUnicode_GET_LENGTH(a);
    if (PyUnicode_GET_LENGTH(b) != len) return false;
    int kind = PyUnicode_KIND(a);
    if (PyUnicode_KIND(b) != kind) return false;
    return std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), static_cast<std::size_t>(len) * kind) == 0;
}

inline bool plain_str(PyObject* o) noexcept {
    return PyUnicode_CheckExact(o) && PyUnicode_IS_COMPACT(o);
}

// Rich comparison for equality, then the truth test of its result.
result<bool> rich_equal(PyObject* left, PyObject* right) {
    ref verdict = steal(PyObject_RichCompare(left, right, Py_EQ));
    if (!verdict) return error_value::fetch();
    if (verdict.get() == Py_True) return true;
    if (verdict.get() == Py_False) return false;
    int truth = PyObject_IsTrue(verdict.get());
    if (truth < 0) return error_value::fetch();
    return truth != 0;
}

}  // namespace

result<ref> same_order_body(call_args& a) {
    auto ref_arg = list_arg(a, 0);
    if (!ref_arg) return std::move(ref_arg.error());
    auto comp_arg = list_arg(a, 1);
    if (!comp_arg) return std::move(comp_arg.error());
    PyObject* refs = *ref_arg;
    PyObject* comp = *comp_arg;

    const Py_ssize_t m = PyList_GET_SIZE(refs);
    const Py_ssize_t n = PyList_GET_SIZE(comp);
    if (n < m) return bool_result(false);

    Py_ssize_t start = 0;
    for (Py_ssize_t j = 0; j < m; ++j) {
        if (j >= PyList_GET_SIZE(refs)) return index_error(refs);
        ref wanted = borrow(PyList_GET_ITEM(refs, j));
        PyObject* w = wanted.get();
        const bool w_str = plain_str(w);
        const bool w_float = PyFloat_CheckExact(w);

        Py_ssize_t i = start;
        for (; i < n; ++i) {
            if (i >= PyList_GET_SIZE(comp)) return index_error(comp);
            PyObject* c = PyList_GET_ITEM(comp, i);
            if (w_str && plain_str(c)) {
                if (str_equal(w, c)) break;
                continue;
            }
            if (w_float && PyFloat_CheckExact(c)) {
                if (PyFloat_AS_DOUBLE(w) == PyFloat_AS_DOUBLE(c)) break;
                continue;
            }
            ref candidate = borrow(c);
            result<bool> eq = rich_equal(w, candidate.get());
            if (!eq) return std::move(eq.error());
            if (*eq) break;
        }
        if (i == n) return bool_result(false);
        start = i;
    }
    return bool_result(true);
}

}  // namespace tavo
