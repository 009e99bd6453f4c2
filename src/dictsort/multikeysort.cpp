// multikeysort(items, columns, inplace=False): sorts a list of dicts by columns.
//
// The list is walked once to find which columns exist, once to take every key
// value, and the sort then moves row numbers only; the items are put in order
// at the end, after all of them have been fetched again.
#include "boundary/bodies.hpp"
#include "boundary/views.hpp"
#include "dictsort/object_keys.hpp"
#include "dictsort/small_sort.hpp"
#include "dictsort/sort_codes.hpp"
#include "dictsort/sort_keys.hpp"
#include "dictsort/stable_sort.hpp"

#include <bit>
#include <numeric>

namespace tavo {
namespace {

using dictsort::code_of;
using dictsort::column_plan;
using dictsort::column_profile;
using dictsort::plan_for;
using dictsort::ending_error;
using dictsort::key_kind;
using dictsort::keyed_row;
using dictsort::sort_column;
using dictsort::sort_value;

// The key values of every row, row after row, and what they point into.
struct row_keys {
    std::size_t width = 0;
    std::vector<sort_value> values;
    dictsort::key_store store;
    std::vector<column_profile> profiles;

    const sort_value* row(std::size_t i) const noexcept { return values.data() + i * width; }
};

// One lookup str per column (their names are distinct).
std::vector<ref> lookup_keys(const std::vector<sort_column>& columns) {
    std::vector<ref> keys;
    keys.reserve(columns.size());
    for (const sort_column& c : columns) {
        keys.push_back(dictsort::lookup_key(c));
    }
    return keys;
}

// The extraction pass: one row of key values per item of the list as it is
// now. Fails with the list's IndexError when Python code run by a lookup has
// shortened the list, and with the exception that ends the call when a lookup
// or a conversion raised one.
status extract_rows(const dictsort::sort_rows& rows, const std::vector<sort_column>& columns, row_keys& table,
                    ending_error& ending) {
    std::vector<ref> keys = lookup_keys(columns);
    std::size_t n = rows.size();
    std::size_t m = columns.size();
    table.width = m;
    table.values.reserve(n * m);
    table.profiles.assign(m, column_profile{});
    for (std::size_t i = 0; i < n; ++i) {
        ref item = rows.item(i, ending);  // a lookup may drop it from the list
        if (!item) return index_out_of_range();
        for (std::size_t c = 0; c < m; ++c) {
            sort_value v = dictsort::extract_sort_value(item.get(), keys[c].get(), table.store, ending);
            if (ending.is_set()) return ending.take();
            table.profiles[c].note(v);
            table.values.push_back(v);
        }
    }
    return ok();
}

// Puts the row numbers in the order of a stable sort by record order.
//
// A column whose keys all have a native order (ints, doubles without NaN,
// texts, with nulls below them) is sorted by unsigned codes of its keys: a
// radix pass over contiguous (code, row) pairs. The groups left tied are then
// sorted by the next column the same way; text codes hold only a prefix, so
// their ties are compared in full. Any other column, and every tie of a text
// prefix, goes to the merge sort with the record order from that column on.
// Within a group the rows are always in input order, so each step is stable.
// The groups still to sort wait in a list of their own, not on the C stack:
// the walk goes as deep as there are columns.
//
// Once a comparison has met an exception that ends the call, the sort stops
// as soon as it can; the order is then only a permutation.
class row_sorter {
public:
    row_sorter(const row_keys& table, const std::vector<sort_column>& columns, std::size_t n,
               ending_error& ending)
        : table_(table), columns_(columns), ending_(ending), order_(n), column_codes_(columns.size()),
          column_nulls_(columns.size()) {
        for (const column_profile& p : table.profiles) plans_.push_back(plan_for(p));
        std::iota(order_.begin(), order_.end(), std::size_t{0});
        // The codes of each column, row after row, read in one sequential
        // pass: a group reads one code per row instead of the key value and
        // the text behind it.
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (plans_[c] == column_plan::compare_only) continue;
            bool has_nulls = table.profiles[c].kinds & column_profile::bit(key_kind::null_key);
            std::vector<std::uint64_t>& codes = column_codes_[c];
            codes.resize(n);
            if (has_nulls) column_nulls_[c].resize(n);
            for (std::size_t row = 0; row < n; ++row) {
                const sort_value& v = table.row(row)[c];
                if (v.kind() == key_kind::null_key) {
                    column_nulls_[c][row] = 1;
                } else {
                    codes[row] = code_of(plans_[c], v);
                }
            }
        }
    }

    std::vector<std::size_t> run() {
        queue(0, order_.size(), 0);
        while (!pending_.empty() && !ending_.is_set()) {
            group g = pending_.back();
            pending_.pop_back();
            sort_group(g.lo, g.len, g.col);
        }
        return std::move(order_);
    }

private:
    // Merge sort of order_[lo, lo + len) by the record order from column
    // `col` on. The key of that column travels with its row, so most
    // comparisons read no record.
    void compare_sort(std::size_t lo, std::size_t len, std::size_t col) {
        struct entry {
            sort_value key;
            std::size_t row;
        };
        std::vector<entry> entries(len), scratch(len);
        for (std::size_t k = 0; k < len; ++k) entries[k] = {table_.row(order_[lo + k])[col], order_[lo + k]};
        const sort_value* values = table_.values.data();
        std::size_t width = table_.width;
        bool last = col + 1 == columns_.size();
        bool descending = columns_[col].descending;
        ending_error& ending = ending_;
        dictsort::stable_merge_sort(
            entries.data(), len, scratch.data(),
            [&](const entry& x, const entry& y) {
                // On the last column an ascending sort need not tell greater from equal.
                dictsort::order o = dictsort::compare_sort_values(x.key, y.key, ending, !last || descending);
                if (o != dictsort::order::equal) {
                    return descending ? o == dictsort::order::greater : o == dictsort::order::less;
                }
                return !last && dictsort::record_less(columns_, values + x.row * width, values + y.row * width,
                                                      ending, col + 1);
            },
            [&] { return ending.is_set(); });
        for (std::size_t k = 0; k < len; ++k) order_[lo + k] = entries[k].row;
    }

    // Sorts order_[lo, lo + len) by column `col`, and queues its tied groups
    // for the next column.
    void sort_group(std::size_t lo, std::size_t len, std::size_t col) {
        column_plan plan = plans_[col];
        if (plan == column_plan::compare_only) return compare_sort(lo, len, col);

        if (keyed_.empty()) keyed_.resize(order_.size()), keyed_scratch_.resize(order_.size());
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
                std::copy_backward(order_.begin() + lo, order_.begin() + lo + nulls, order_.begin() + lo + len);
            }
        }
        dictsort::radix_sort_rows(keyed, coded, keyed_scratch_.data() + coded_lo);
        for (std::size_t k = 0; k < coded; ++k) order_[coded_lo + k] = keyed[k].row;

        queue(null_lo, nulls, col + 1);
        bool whole_texts = plan == column_plan::text_prefix;
        for (std::size_t s = coded_lo, end = coded_lo + coded; s < end && !ending_.is_set();) {
            std::size_t e = s + 1;
            while (e < end && keyed_[e].key == keyed_[s].key) ++e;
            if (e - s > 1) {
                if (whole_texts) {
                    compare_sort(s, e - s, col);  // reads no code: keyed_ stays as it is
                } else {
                    queue(s, e - s, col + 1);
                }
            }
            s = e;
        }
    }

    void queue(std::size_t lo, std::size_t len, std::size_t col) {
        if (len >= 2 && col < columns_.size()) pending_.push_back({lo, len, col});
    }

    struct group {
        std::size_t lo, len, col;
    };

    const row_keys& table_;
    const std::vector<sort_column>& columns_;
    ending_error& ending_;
    std::vector<group> pending_;  // disjoint stretches of order_ still to sort
    std::vector<column_plan> plans_;
    std::vector<std::size_t> order_;
    std::vector<std::vector<std::uint64_t>> column_codes_;  // per column, by row (radix columns only)
    std::vector<std::vector<char>> column_nulls_;           // per column, by row, when it has nulls
    std::vector<keyed_row> keyed_, keyed_scratch_;
};

// multikeysort of more than dictsort::small_rows rows, from the column scan on.
result<ref> sort_large(const dictsort::sort_rows& rows, std::vector<sort_column> parsed, bool inplace, bool last_try,
                       ending_error& ending) {
    std::vector<sort_column> columns = dictsort::keep_known_columns(rows.scanned(), std::move(parsed), ending);
    if (ending.is_set()) return result<ref>(ending.take());
    if (columns.empty()) return rows.unsorted(inplace);

    row_keys table;
    status extracted = extract_rows(rows, columns, table, ending);
    if (!extracted) return result<ref>(std::move(extracted.error()));
    std::size_t n = table.values.size() / columns.size();
    status native = dictsort::encode_object_columns(table.values.data(), n, columns.size(), table.profiles.data(),
                                                    table.store);
    if (!native) return result<ref>(std::move(native.error()));
    std::vector<std::size_t> order = row_sorter(table, columns, n, ending).run();
    if (ending.is_set()) return result<ref>(ending.take());
    std::vector<ref> gathered(inplace ? n : 0);
    return rows.put_in_order(order.data(), n, inplace, ending, last_try, gathered.data());
}

}  // namespace

result<ref> multikeysort_body(call_args& a) {
    auto items_arg = list_arg(a, 0);
    if (!items_arg) return std::move(items_arg.error());
    PyObject* items = *items_arg;
    bool inplace = false;
    if (a.given(2)) {
        auto flag = bool_arg(a, 2);
        if (!flag) return std::move(flag.error());
        inplace = *flag;
    }
    PyObject* columns_arg = a[1];
    // The list's lock (free-threaded builds) is held for the rest of the call,
    // as list.sort holds it: other threads' operations on the list wait, and
    // it can change only where the call gives the lock up (Python code run by
    // a lookup or a comparison, a wait for a dict's lock).
    object_lock hold(items);
    if (columns_arg == Py_None) return dictsort::sort_rows(items).unsorted(inplace);

    // An exception that ends the call, met anywhere below, leaves the list as
    // it is: nothing is written before the sort is complete.
    ending_error ending;
    std::vector<sort_column> parsed = dictsort::parse_columns(columns_arg, ending);
    if (ending.is_set()) return ending.take();
    for (int attempt = 1;; ++attempt) {
        const bool last_try = attempt == dictsort::sort_tries;
        const dictsort::sort_rows rows(items);
        std::vector<sort_column> columns = last_try ? std::move(parsed) : dictsort::copy_of(parsed);
        result<ref> done = rows.size() <= dictsort::small_rows
                               ? dictsort::sort_small(rows, std::move(columns), inplace, last_try, ending)
                               : sort_large(rows, std::move(columns), inplace, last_try, ending);
        if (!done || *done) return done;  // an empty list reference: sort again
    }
}

}  // namespace tavo
