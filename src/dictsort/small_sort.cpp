// The sort of short lists.
//
// Where the general sort radix-sorts a column by unsigned codes and then
// sorts each group of equal codes by the next column, this path merge-sorts
// (code, row) pairs once, breaking equal codes by the rest of the record:
// under a consistent order a stable sort has one answer, so both give the
// same. A first column without codes is sorted by the very comparison sort
// the general sort uses for it.
#include "dictsort/small_sort.hpp"

#include "dictsort/key_order.hpp"
#include "dictsort/small_buffer.hpp"
#include "dictsort/sort_codes.hpp"
#include "dictsort/stable_sort.hpp"

#include <algorithm>

namespace tavo::dictsort {
namespace {

constexpr std::size_t inline_rows = 32;

class small_sorter {
public:
    small_sorter(const sort_value* values, std::size_t n, const std::vector<sort_column>& columns)
        : values_(values), n_(n), m_(columns.size()), columns_(columns) {}

    status run(const column_profile& first, std::size_t* sorted_rows) const {
        column_plan plan = plan_for(first);
        if (plan == column_plan::compare_only) return by_comparison(sorted_rows);
        return by_codes(plan, sorted_rows);
    }

private:
    const sort_value* row(std::size_t r) const noexcept { return values_ + r * m_; }

    // The first column by its codes, ties by the rest of the record; its null
    // keys apart, by the rest of the record.
    [[gnu::noinline]] status by_codes(column_plan plan, std::size_t* sorted_rows) const {
        const bool descending = columns_[0].descending;
        const std::uint64_t flip = descending ? ~std::uint64_t{0} : 0;
        small_buffer<keyed_row, inline_rows> coded(n_);
        small_buffer<std::size_t, inline_rows> nulls(n_);
        std::size_t n_coded = 0, n_null = 0;
        for (std::size_t r = 0; r < n_; ++r) {
            const sort_value& v = row(r)[0];
            if (v.kind() == key_kind::null_key) {
                nulls[n_null++] = r;
            } else {
                coded[n_coded++] = {code_of(plan, v) ^ flip, r};
            }
        }
        {
            small_buffer<keyed_row, inline_rows / 2 + 1> scratch(n_coded / 2 + 1);
            const bool prefix = is_prefix(plan);
            if (m_ == 1 && !prefix) {  // the code is the whole key
                status sorted = stable_merge_sort(coded.data(), n_coded, scratch.data(),
                                                  [](const keyed_row& x, const keyed_row& y) { return x.key < y.key; });
                static_cast<void>(sorted);  // a comparison of codes cannot fail
            } else {
                status sorted = stable_merge_sort(
                    coded.data(), n_coded, scratch.data(), [&](const keyed_row& x, const keyed_row& y) -> result<bool> {
                        if (x.key != y.key) return x.key < y.key;
                        if (prefix) {
                            order o = compare_native(row(x.row)[0], row(y.row)[0]);
                            if (o != order::equal) return descending ? o == order::greater : o == order::less;
                        }
                        if (m_ == 1) return false;
                        return record_less(columns_, row(x.row), row(y.row), 1);
                    });
                if (!sorted) return sorted;
            }
        }
        if (m_ > 1 && n_null > 1) {
            small_buffer<std::size_t, inline_rows / 2 + 1> scratch(n_null / 2 + 1);
            status sorted = stable_merge_sort(nulls.data(), n_null, scratch.data(),
                                              [&](std::size_t x, std::size_t y) -> result<bool> {
                                                  return record_less(columns_, row(x), row(y), 1);
                                              });
            if (!sorted) return sorted;
        }
        // Nulls come first on an ascending column, last on a descending one.
        std::size_t* out = sorted_rows;
        if (!descending) out = std::copy_n(nulls.data(), n_null, out);
        for (std::size_t k = 0; k < n_coded; ++k) *out++ = coded[k].row;
        if (descending) std::copy_n(nulls.data(), n_null, out);
        return ok();
    }

    // The general sort's comparison sort of a group, over every row.
    [[gnu::noinline]] status by_comparison(std::size_t* sorted_rows) const {
        small_buffer<row_with_key, inline_rows> entries(n_);
        small_buffer<row_with_key, inline_rows / 2 + 1> scratch(n_ / 2 + 1);
        for (std::size_t r = 0; r < n_; ++r) sorted_rows[r] = r;
        return sort_by_records(values_, m_, columns_, 0, sorted_rows, n_, entries.data(), scratch.data());
    }

    const sort_value* values_;
    std::size_t n_, m_;
    const std::vector<sort_column>& columns_;
};

}  // namespace

status sort_small(const sort_value* values, std::size_t n, const std::vector<sort_column>& columns,
                  const column_profile& first, std::size_t* sorted_rows) {
    return small_sorter(values, n, columns).run(first, sorted_rows);
}

}  // namespace tavo::dictsort
