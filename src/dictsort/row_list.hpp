// The rows of one sort: the list argument as the call reads and rewrites it.
#pragma once

#include "boundary/views.hpp"

#include <cstddef>

namespace tavo::dictsort {

// With the interpreter lock only Python code run by the call can change the
// list, and every read of it checks the index. On free-threaded builds other
// threads may change it at any moment, and the list's lock is given up while
// the call waits for a dict's lock: there the rows are read from a copy taken
// under the list's lock when the sort starts (the list of one moment), for as
// long as the call runs no Python code (`python_ran` false); from the first
// Python code on, the list itself is read, as with the interpreter lock.
class row_list {
public:
    // The caller holds the list's lock.
    explicit row_list(PyObject* list);

    // What the column scan reads.
    PyObject* scanned() const noexcept { return copy_ ? copy_.get() : list_; }
    // The number of rows now.
    std::size_t size() const noexcept { return static_cast<std::size_t>(list_view(scanned()).size()); }
    // Row i for the extraction, or empty when the list is shorter now.
    ref item(std::size_t i, bool python_ran) const noexcept {
        if (copy_ && !python_ran) return borrow(list_view(copy_.get()).items()[i]);
        return list_view(list_).locked_item(static_cast<Py_ssize_t>(i));
    }

    // The rows unsorted: a copy of the list, or None with `inplace`.
    result<ref> unsorted(bool inplace) const;

    // The rows in `order` (n row numbers, a permutation of 0 to n - 1): a new
    // list, or with `inplace` the list itself rewritten (None). Every row is
    // fetched before anything is written; a row that cannot be fetched (a
    // list shortened by Python code) is an internal failure. `gathered` has
    // room for n references. An empty reference when another thread changed
    // the list of an in-place call that ran no Python code and `last_try` is
    // false: nothing was written and the caller sorts again.
    result<ref> put_in_order(const std::size_t* order, std::size_t n, bool inplace, bool python_ran,
                             bool last_try, ref* gathered) const;

private:
    PyObject* list_;
    ref copy_;  // free-threaded builds
};

// How many times a free-threaded in-place sort is made again when other
// threads keep changing its list; the last try writes whatever the list then
// holds, as the interpreter-lock build does after Python code changed it.
#ifdef Py_GIL_DISABLED
inline constexpr int sort_tries = 8;
#else
inline constexpr int sort_tries = 1;
#endif

}  // namespace tavo::dictsort
