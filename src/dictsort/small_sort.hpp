// The sort of short lists: a page of results, a group.
//
// Same order as the general sort (multikeysort.cpp), without its fixed costs:
// working arrays live on the stack (or in one block each when they outgrow
// it), and the rows are sorted by one stable merge sort over (code, row)
// pairs instead of radix passes set up per column.
#pragma once

#include "dictsort/sort_columns.hpp"
#include "dictsort/key_values.hpp"

#include <cstddef>
#include <vector>

namespace tavo::dictsort {

// Lists of at most this many items take the short path.
constexpr std::size_t small_rows = 256;

// Puts the row numbers 0 to n - 1 of `values` (records of columns.size()
// keys, row after row) into `sorted_rows` in the order of a stable sort by
// record order. `first` is the profile of the first column. Fails with an
// exception that must end the call, met by a comparison through Python.
status sort_small(const sort_value* values, std::size_t n, const std::vector<sort_column>& columns,
                  const column_profile& first, std::size_t* sorted_rows);

}  // namespace tavo::dictsort
