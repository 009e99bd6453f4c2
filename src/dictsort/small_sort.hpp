// multikeysort of short lists: a page of results, a group.
//
// Same steps and same order as the general sort, without its fixed costs:
// working arrays live on the stack (or in one block each when they outgrow
// it), the column check compares names without building an index, and the
// rows are sorted by one stable merge sort over (code, row) pairs instead of
// radix passes set up per column.
#pragma once

#include "dictsort/sort_keys.hpp"

#include <cstddef>

namespace tavo::dictsort {

// Lists of at most this many items take the short path.
constexpr std::size_t small_rows = 256;

// multikeysort of at most `small_rows` rows by the parsed `columns`, from the
// column scan on. The caller holds the list's lock. An empty reference when
// the sort is to be made again (sort_rows::put_in_order).
result<ref> sort_small(const sort_rows& rows, std::vector<sort_column> columns, bool inplace, bool last_try,
                       ending_error& ending);

}  // namespace tavo::dictsort
