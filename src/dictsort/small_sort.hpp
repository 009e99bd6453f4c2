// multikeysort of short lists: a page of results, a group.
//
// Same steps and same order as the general sort, without its fixed costs:
// working arrays live on the stack (or in one block each when they outgrow
// it), the column check compares names without building an index, and the
// rows are sorted by one stable merge sort over (code, row) pairs instead of
// radix passes set up per column.
#pragma once

#include "boundary/error.hpp"

#include <cstddef>

namespace tavo::dictsort {

// Lists of at most this many items take the short path.
constexpr Py_ssize_t small_rows = 256;

// The whole of multikeysort for a list of at most `small_rows` items and a
// `columns` argument other than None. The caller holds the list's lock.
result<ref> sort_small(PyObject* items, PyObject* columns, bool inplace);

}  // namespace tavo::dictsort
