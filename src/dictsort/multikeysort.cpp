// multikeysort(items, columns, inplace=False): sorts a list of dicts by columns.
//
// The list is walked once to find which columns exist, once to take every key
// value, and the sort then moves row numbers only; the items are put in order
// at the end, after all of them have been fetched again.
#include "bodies/bodies.hpp"
#include "boundary/views.hpp"
#include "dictsort/sort_columns.hpp"
#include "dictsort/key_order.hpp"
#include "dictsort/key_values.hpp"
#include "dictsort/object_keys.hpp"
#include "dictsort/small_buffer.hpp"
#include "dictsort/small_sort.hpp"
#include "dictsort/sort_codes.hpp"
#include "dictsort/row_list.hpp"
#include "dictsort/stable_sort.hpp"

#include <numeric>

namespace tavo {
namespace {

using dictsort::code_of;
using dictsort::column_plan;
using dictsort::column_profile;
using dictsort::key_kind;
using dictsort::keyed_row;
using dictsort::sort_column;
using dictsort::sort_value;

// The general sort: puts the row numbers in the order of a stable sort by
// record order.
//
// A column whose keys all have a native order (ints, doubles without NaN,
// texts, with nulls below them) is sorted by unsigned codes of its keys: a
// radix pass over contiguous (code, row) pairs. The groups left tied are then
// sorted by the next column the same way; text codes hold only a prefix, and
// the codes of numbers that doubles cannot all tell apart (wide ints) only
// their nearest doubles, so their ties are compared in full. Any other column, and every tie of a text
// prefix, goes to the comparison sort with the record order from that column
// on. Within a group the rows are always in input order, so each step is
// stable. The groups still to sort wait in a list of their own, not on the C
// stack: the walk goes as deep as there are columns.
class row_sorter {
public:
    // Sorts in `sorted_rows`, n rows.
    row_sorter(const sort_value* values, std::size_t n, const std::vector<sort_column>& columns,
               const column_profile* profiles, std::size_t* sorted_rows)
        : values_(values), width_(columns.size()), n_(n), columns_(columns), order_(sorted_rows),
          column_codes_(columns.size()), column_nulls_(columns.size()) {
        for (std::size_t c = 0; c < width_; ++c) plans_.push_back(dictsort::plan_for(profiles[c]));
        std::iota(order_, order_ + n, std::size_t{0});
        // The codes of each column, row after row, read in one sequential
        // pass: a group reads one code per row instead of the key value and
        // the text behind it.
        for (std::size_t c = 0; c < width_; ++c) {
            if (plans_[c] == column_plan::compare_only) continue;
            bool has_nulls = profiles[c].kinds & column_profile::bit(key_kind::null_key);
            std::vector<std::uint64_t>& codes = column_codes_[c];
            codes.resize(n);
            if (has_nulls) column_nulls_[c].resize(n);
            for (std::size_t row = 0; row < n; ++row) {
                const sort_value& v = values[row * width_ + c];
                if (v.kind() == key_kind::null_key) {
                    column_nulls_[c][row] = 1;
                } else {
                    codes[row] = code_of(plans_[c], v);
                }
            }
        }
    }

    // Leaves the rows in sorted order; on an error, in some permutation.
    status run() {
        queue(0, n_, 0);
        status outcome = ok();
        while (!pending_.empty() && outcome) {
            group g = pending_.back();
            pending_.pop_back();
            outcome = sort_group(g.lo, g.len, g.col);
        }
        return outcome;
    }

private:
    // The comparison sort of order_[lo, lo + len) from column `col` on.
    status compare_sort(std::size_t lo, std::size_t len, std::size_t col) {
        std::vector<dictsort::row_with_key> entries(len), scratch(len / 2 + 1);
        return dictsort::sort_by_records(values_, width_, columns_, col, order_ + lo, len, entries.data(),
                                         scratch.data());
    }

    // Sorts order_[lo, lo + len) by column `col`, and queues its tied groups
    // for the next column.
    status sort_group(std::size_t lo, std::size_t len, std::size_t col) {
        column_plan plan = plans_[col];
        if (plan == column_plan::compare_only) return compare_sort(lo, len, col);

        if (keyed_.empty()) keyed_.resize(n_), keyed_scratch_.resize(n_);
        bool descending = columns_[col].descending;
        std::uint64_t flip = descending ? ~std::uint64_t{0} : 0;
        const std::uint64_t* codes = column_codes_[col].data();
        const char* is_null = column_nulls_[col].empty() ? nullptr : column_nulls_[col].data();
        std::size_t nulls = 0;
        if (is_null) {
            for (std::size_t k = lo; k < lo + len; ++k) nulls += is_null[order_[k]] != 0;
        }
        std::size_t coded = len - nulls;
        // keyed_ is indexed like order_: each group uses its own stretch of it,
        // and its runs of equal codes are read before any other group is sorted.
        std::size_t coded_lo = descending ? lo : lo + nulls;
        std::size_t null_lo = descending ? lo + coded : lo;
        keyed_row* keyed = keyed_.data() + coded_lo;
        if (!is_null) {
            for (std::size_t k = 0; k < len; ++k) {
                std::size_t row = order_[lo + k];
                keyed[k] = {codes[row] ^ flip, row};
            }
        } else {
            // Null rows keep their relative order at the front for now.
            std::size_t n_null = 0, n_coded = 0;
            for (std::size_t k = lo; k < lo + len; ++k) {
                std::size_t row = order_[k];
                if (is_null[row]) {
                    order_[lo + n_null++] = row;
                } else {
                    keyed[n_coded++] = {codes[row] ^ flip, row};
                }
            }
            if (descending) {
                std::copy_backward(order_ + lo, order_ + lo + nulls, order_ + lo + len);
            }
        }
        dictsort::radix_sort_rows(keyed, coded, keyed_scratch_.data() + coded_lo);
        for (std::size_t k = 0; k < coded; ++k) order_[coded_lo + k] = keyed[k].row;

        queue(null_lo, nulls, col + 1);
        bool whole_keys = dictsort::is_prefix(plan);
        for (std::size_t s = coded_lo, end = coded_lo + coded; s < end;) {
            std::size_t e = s + 1;
            while (e < end && keyed_[e].key == keyed_[s].key) ++e;
            if (e - s > 1) {
                if (whole_keys) {
                    status sorted = compare_sort(s, e - s, col);  // reads no code: keyed_ stays as it is
                    if (!sorted) return sorted;
                } else {
                    queue(s, e - s, col + 1);
                }
            }
            s = e;
        }
        return ok();
    }

    void queue(std::size_t lo, std::size_t len, std::size_t col) {
        if (len >= 2 && col < columns_.size()) pending_.push_back({lo, len, col});
    }

    struct group {
        std::size_t lo, len, col;
    };

    const sort_value* values_;
    std::size_t width_, n_;
    const std::vector<sort_column>& columns_;
    std::vector<group> pending_;  // disjoint stretches of order_ still to sort
    std::vector<column_plan> plans_;
    std::size_t* order_;  // the rows, sorted in place
    std::vector<std::vector<std::uint64_t>> column_codes_;  // per column, by row (radix columns only)
    std::vector<std::vector<char>> column_nulls_;           // per column, by row, when it has nulls
    std::vector<keyed_row> keyed_, keyed_scratch_;
};

constexpr std::size_t inline_rows = 32;

// One sort of the rows by the parsed columns, from the column scan on. An
// empty reference when the sort is to be made again
// (dictsort::row_list::put_in_order). Nothing is written before the sort is
// complete: an exception that ends the call leaves the list as it is.
result<ref> sort_once(const dictsort::row_list& rows, std::vector<sort_column> columns, bool inplace,
                      bool last_try) {
    status kept = dictsort::keep_known_columns(rows.scanned(), columns);
    if (!kept) return std::move(kept.error());
    if (columns.empty()) return rows.unsorted(inplace);
    const std::size_t m = columns.size();
    const std::size_t n = rows.size();

    dictsort::key_store store;
    dictsort::small_buffer<sort_value, 2 * inline_rows> values(n * m);
    dictsort::small_buffer<column_profile, 8> profiles(m);
    dictsort::python_trace trace;
    status extracted = dictsort::extract_rows(rows, n, columns, values.data(), profiles.data(), store, trace);
    if (!extracted) return std::move(extracted.error());
    status native = dictsort::encode_object_columns(values.data(), n, m, profiles.data(), store);
    if (!native) return std::move(native.error());
    // Object keys left are compared through Python, which may run Python code.
    for (std::size_t c = 0; c < m; ++c) trace.ran |= (profiles[c].kinds & column_profile::bit(key_kind::object_key)) != 0;

    dictsort::small_buffer<std::size_t, inline_rows> sorted_rows(n);
    status sorted = n <= dictsort::small_rows
                        ? dictsort::sort_small(values.data(), n, columns, profiles[0], sorted_rows.data())
                        : row_sorter(values.data(), n, columns, profiles.data(), sorted_rows.data()).run();
    if (!sorted) return std::move(sorted.error());
    dictsort::small_buffer<ref, inline_rows> gathered(inplace ? n : 0);
    return rows.put_in_order(sorted_rows.data(), n, inplace, trace.ran, last_try, gathered.data());
}

}  // namespace

result<ref> multikeysort_body(call_args& a) {
    auto items_arg = list_arg(a, param(multikeysort_desc, "items"));
    if (!items_arg) return std::move(items_arg.error());
    PyObject* items = *items_arg;
    bool inplace = false;
    if (constexpr std::size_t flag_param = param(multikeysort_desc, "inplace"); a.given(flag_param)) {
        auto flag = bool_arg(a, flag_param);
        if (!flag) return std::move(flag.error());
        inplace = *flag;
    }
    PyObject* columns_arg = a[param(multikeysort_desc, "columns")];
    // The list's lock (free-threaded builds) is held for the rest of the call,
    // as list.sort holds it: other threads' operations on the list wait, and
    // it can change only where the call gives the lock up (Python code run by
    // a lookup or a comparison, a wait for a dict's lock).
    object_lock hold(items);
    if (columns_arg == Py_None) return dictsort::row_list(items).unsorted(inplace);

    result<std::vector<sort_column>> parsed = dictsort::parse_columns(columns_arg);
    if (!parsed) return std::move(parsed.error());
    for (int attempt = 1;; ++attempt) {
        const bool last_try = attempt == dictsort::sort_tries;
        const dictsort::row_list rows(items);
        std::vector<sort_column> columns = last_try ? std::move(*parsed) : dictsort::copy_of(*parsed);
        result<ref> done = sort_once(rows, std::move(columns), inplace, last_try);
        if (!done || *done) return done;  // an empty list reference: sort again
    }
}

}  // namespace tavo
