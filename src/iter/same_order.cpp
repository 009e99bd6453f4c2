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
#include "bodies/bodies.hpp"
#include "boundary/views.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tavo {
namespace {

inline bool plain_str(PyObject* o) noexcept { return compact_exact_str(o); }

inline std::uint64_t load8(const unsigned char* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// An exact, compact str prepared for many equality tests against others of
// its kind: equal length, equal storage width, equal code units. Texts of 8
// bytes or more compare their first and last 8 bytes inline before the rest.
class str_probe {
public:
    str_probe() noexcept = default;
    explicit str_probe(PyObject* s) noexcept : str_probe(units_of(s)) {}
    explicit str_probe(str_units u) noexcept
        : length_(u.length),
          kind_(u.width),
          data_(u.data),
          nbytes_(static_cast<std::size_t>(length_) * static_cast<std::size_t>(kind_)) {
        if (nbytes_ >= 8) {
            head_ = load8(data_);
            tail_ = load8(data_ + nbytes_ - 8);
        }
    }

    bool equals(PyObject* c) const noexcept {
        const str_units u = units_of(c);
        if (u.length != length_ || u.width != kind_) return false;
        const unsigned char* d = u.data;
        if (nbytes_ < 8) return std::memcmp(d, data_, nbytes_) == 0;
        if (load8(d) != head_ || load8(d + nbytes_ - 8) != tail_) return false;
        return nbytes_ <= 16 || std::memcmp(d + 8, data_ + 8, nbytes_ - 16) == 0;
    }

private:
    Py_ssize_t length_ = -1;
    int kind_ = 0;
    const unsigned char* data_ = nullptr;
    std::size_t nbytes_ = 0;
    std::uint64_t head_ = 0;
    std::uint64_t tail_ = 0;
};

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

// True when comparing two objects of these types runs no Python code: exact
// built-in numbers and str (a mixed pair compares natively, or answers
// NotImplemented both ways and is then not equal). Not bytes: bytes against
// str may warn (python -b), and a warning runs Python code.
inline bool native_pair(PyObject* a, PyObject* b) noexcept {
    const auto native = [](PyTypeObject* t) {
        return t == &PyLong_Type || t == &PyFloat_Type || t == &PyUnicode_Type || t == &PyBool_Type;
    };
    return native(Py_TYPE(a)) && native(Py_TYPE(b));
}

}  // namespace

result<ref> same_order_body(call_args& a) {
    auto ref_arg = list_arg(a, param(same_order_desc, "ref_list"));
    if (!ref_arg) return std::move(ref_arg.error());
    auto comp_arg = list_arg(a, param(same_order_desc, "comp"));
    if (!comp_arg) return std::move(comp_arg.error());
    const list_view refs(*ref_arg);
    const list_view comp(*comp_arg);

    // Both lists are read under their locks (free-threaded builds), given up
    // only while a comparison runs Python code: between comparisons the call
    // sees no other thread's operation, as with the interpreter lock.
    object_lock hold(refs.object(), comp.object());
    const Py_ssize_t m = refs.size();
    const Py_ssize_t n = comp.size();
    if (n < m) return bool_result(false);

    Py_ssize_t start = 0;
    for (Py_ssize_t j = 0; j < m; ++j) {
        ref wanted = refs.locked_item(j);
        if (!wanted) return index_out_of_range();
        PyObject* w = wanted.get();
        const bool w_str = plain_str(w);
        const bool w_float = PyFloat_CheckExact(w);
        const str_probe probe = w_str ? str_probe(w) : str_probe();

        Py_ssize_t i = start;
        for (; i < n; ++i) {
            if (i >= comp.size()) return index_out_of_range();
            PyObject* c = comp.items()[i];
            if (w_str && plain_str(c)) {
                // A run of plain str elements runs no interpreter code, so
                // the list stays as it is for the whole run.
                PyObject* const* items = comp.items();
                const Py_ssize_t limit = std::min(n, comp.size());
                while (i < limit && plain_str(items[i]) && !probe.equals(items[i])) ++i;
                if (i < limit && plain_str(items[i])) break;  // found
                --i;  // the loop steps on to the element that ended the run
                continue;
            }
            if (w_float && PyFloat_CheckExact(c)) {
                if (PyFloat_AS_DOUBLE(w) == PyFloat_AS_DOUBLE(c)) break;
                continue;
            }
            ref candidate = borrow(c);
            result<bool> eq = [&] {
                if (!free_threaded || native_pair(w, c)) return rich_equal(w, candidate.get());
                without_object_lock python_runs(hold);
                return rich_equal(w, candidate.get());
            }();
            if (!eq) return std::move(eq.error());
            if (*eq) break;
        }
        if (i == n) return bool_result(false);
        start = i;
    }
    return bool_result(true);
}

}  // namespace tavo
