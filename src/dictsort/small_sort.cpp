// multikeysort of short lists.
//
// The steps are those of the general sort: the columns are read, those that
// no dict item has are dropped, one row of key values is taken per item, and
// the rows are put in the order of a stable sort by record order. Where the
// general sort radix-sorts a column by unsigned codes and then sorts each
// group of equal codes by the next column, this path merge-sorts (code, row)
// pairs once, breaking equal codes by the rest of the record: under a
// consistent order a stable sort has one answer, so both give the same. A
// first column without codes is sorted by the very comparison the general
// sort uses for it.
#include "dictsort/small_sort.hpp"

#include "boundary/args.hpp"
#include "boundary/views.hpp"
#include "dictsort/object_keys.hpp"
#include "dictsort/sort_codes.hpp"
#include "dictsort/sort_keys.hpp"
#include "dictsort/stable_sort.hpp"

#include <bit>
#include <memory>
#include <string_view>
#include <vector>

namespace tavo::dictsort {
namespace {

// An array of n values: inside the object when n <= N, else on the heap.
template <class T, std::size_t N>
class small_buffer {
public:
    explicit small_buffer(std::size_t n) : size_(n) {
        if (n > N) {
            heap_ = std::make_unique<T[]>(n);
            data_ = heap_.get();
        } else {
            data_ = reinterpret_cast<T*>(inline_);
            std::uninitialized_value_construct_n(data_, n);
        }
    }
    small_buffer(const small_buffer&) = delete;
    small_buffer& operator=(const small_buffer&) = delete;
    ~small_buffer() {
        if (!heap_) std::destroy_n(data_, size_);
    }

    T* data() noexcept { return data_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }

private:
    std::size_t size_;
    T* data_;
    std::unique_ptr<T[]> heap_;
    alignas(T) unsigned char inline_[N * sizeof(T)];
};

constexpr std::size_t inline_rows = 32;

// The columns whose name is a str key of at least one dict item, in their
// order, each name once: a later column with the name of an earlier one would
// only be asked about rows that the earlier one found equal. The scan stops
// once every name has been seen (for_each_key_text). Empty when `ending` is
// set. Up to eight names are compared one by one; more go to
// keep_known_columns, which hashes them (a linear scan per key would make many
// columns quadratic).
void keep_few_known_columns(PyObject* items, std::vector<sort_column>& columns, ending_error& ending) {
    const std::size_t width = columns.size();
    if (width > 8) {
        columns = keep_known_columns(items, std::move(columns), ending);
        return;
    }
    small_buffer<char, 16> found(width);  // per column; a repeated name is never looked for
    std::size_t missing = 0;
    for (std::size_t c = 0; c < width; ++c) {
        bool repeated = false;
        for (std::size_t e = 0; e < c && !repeated; ++e) repeated = columns[e].name == columns[c].name;
        found[c] = repeated ? 2 : 0;
        missing += !repeated;
    }
    const bool read = for_each_key_text(
        items, ending, [&] { return missing > 0; },
        [&](std::string_view text, PyObject* key) {
            for (std::size_t c = 0; c < width; ++c) {
                if (found[c] == 0 && columns[c].name == text) {
                    found[c] = 1;
                    --missing;
                    if (PyUnicode_CheckExact(key)) columns[c].key = borrow(key);
                }
            }
        });
    if (!read) return;
    std::size_t kept = 0;
    for (std::size_t c = 0; c < width; ++c) {
        if (found[c] == 1) {
            if (kept != c) columns[kept] = std::move(columns[c]);
            ++kept;
        }
    }
    columns.resize(kept);
}

// --- the sort ------------------------------------------------------------------------

class small_sorter {
public:
    small_sorter(const sort_value* values, std::size_t n, const std::vector<sort_column>& columns,
                 ending_error& ending)
        : values_(values), n_(n), m_(columns.size()), columns_(columns), ending_(ending) {}

    // Fills sorted_rows[0, n) with the rows in sorted order. Kept out of
    // sort_small, so that the room of its buffers is taken only while it
    // runs, not while every lookup does (a lookup may call multikeysort
    // again, as deep as the recursion limit allows).
    [[gnu::noinline]] void run(const column_profile& first, std::size_t* sorted_rows) {
        column_plan plan = plan_for(first);
        if (plan == column_plan::compare_only) return by_comparison(sorted_rows);
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
            const bool text = plan == column_plan::text_prefix;
            auto by_code = [](const keyed_row& x, const keyed_row& y) { return x.key < y.key; };
            if (m_ == 1 && !text) {  // the code is the whole key
                stable_merge_sort(coded.data(), n_coded, scratch.data(), by_code);
            } else {
                auto by_record = [&](const keyed_row& x, const keyed_row& y) {
                    if (x.key != y.key) return x.key < y.key;
                    if (text) {
                        order o = compare_texts(row(x.row)[0].as_text(), row(y.row)[0].as_text());
                        if (o != order::equal) return descending ? o == order::greater : o == order::less;
                    }
                    return m_ > 1 && record_less(columns_, row(x.row), row(y.row), ending_, 1);
                };
                stable_merge_sort(coded.data(), n_coded, scratch.data(), by_record, stopped());
            }
        }
        if (m_ > 1 && n_null > 1) {
            small_buffer<std::size_t, inline_rows / 2 + 1> scratch(n_null / 2 + 1);
            stable_merge_sort(
                nulls.data(), n_null, scratch.data(),
                [&](std::size_t x, std::size_t y) { return record_less(columns_, row(x), row(y), ending_, 1); },
                stopped());
        }
        // Nulls come first on an ascending column, last on a descending one.
        std::size_t* out = sorted_rows;
        if (!descending) out = std::copy_n(nulls.data(), n_null, out);
        for (std::size_t k = 0; k < n_coded; ++k) *out++ = coded[k].row;
        if (descending) std::copy_n(nulls.data(), n_null, out);
    }

private:
    const sort_value* row(std::size_t r) const noexcept { return values_ + r * m_; }
    // Ends a sort early once a comparison has met an exception that ends the call.
    struct stop_when_ending {
        const ending_error* ending;
        bool operator()() const noexcept { return ending->is_set(); }
    };
    stop_when_ending stopped() const noexcept { return {&ending_}; }

    // The general sort's comparison sort of a group, over every row.
    [[gnu::noinline]] void by_comparison(std::size_t* sorted_rows) {
        struct entry {
            sort_value key;
            std::size_t row;
        };
        small_buffer<entry, inline_rows> entries(n_);
        small_buffer<entry, inline_rows / 2 + 1> scratch(n_ / 2 + 1);
        for (std::size_t r = 0; r < n_; ++r) entries[r] = {row(r)[0], r};
        const bool last = m_ == 1;
        const bool descending = columns_[0].descending;
        stable_merge_sort(
            entries.data(), n_, scratch.data(),
            [&](const entry& x, const entry& y) {
                order o = compare_sort_values(x.key, y.key, ending_, !last || descending);
                if (o != order::equal) return descending ? o == order::greater : o == order::less;
                return !last && record_less(columns_, row(x.row), row(y.row), ending_, 1);
            },
            stopped());
        for (std::size_t k = 0; k < n_; ++k) sorted_rows[k] = entries[k].row;
    }

    const sort_value* values_;
    std::size_t n_, m_;
    const std::vector<sort_column>& columns_;
    ending_error& ending_;
};

}  // namespace

result<ref> sort_small(const sort_rows& rows, std::vector<sort_column> columns, bool inplace, bool last_try,
                       ending_error& ending) {
    // An exception that ends the call, met anywhere below, leaves the list as
    // it is: nothing is written before the sort is complete.
    keep_few_known_columns(rows.scanned(), columns, ending);
    if (ending.is_set()) return result<ref>(ending.take());
    if (columns.empty()) return rows.unsorted(inplace);
    const std::size_t m = columns.size();
    const std::size_t n = rows.size();
    small_buffer<ref, 8> keys(m);
    for (std::size_t c = 0; c < m; ++c) {
        keys[c] = lookup_key(columns[c]);
    }

    // Extraction: a lookup that shortens the list makes the next fetch fail
    // with the list's IndexError.
    key_store store;
    small_buffer<sort_value, 2 * inline_rows> values(n * m);
    small_buffer<column_profile, 8> profiles(m);
    for (std::size_t i = 0; i < n; ++i) {
        ref item = rows.item(i, ending);  // a lookup may drop it from the list
        if (!item) return result<ref>(index_out_of_range());
        for (std::size_t c = 0; c < m; ++c) {
            sort_value v = extract_sort_value(item.get(), keys[c].get(), store, ending);
            if (ending.is_set()) return result<ref>(ending.take());
            profiles[c].note(v);
            values[i * m + c] = v;
        }
    }
    status native = encode_object_columns(values.data(), n, m, profiles.data(), store);
    if (!native) return result<ref>(std::move(native.error()));
    small_buffer<std::size_t, inline_rows> sorted_rows(n);
    small_sorter(values.data(), n, columns, ending).run(profiles[0], sorted_rows.data());
    if (ending.is_set()) return result<ref>(ending.take());
    small_buffer<ref, inline_rows> gathered(inplace ? n : 0);
    return rows.put_in_order(sorted_rows.data(), n, inplace, ending, last_try, gathered.data());
}

}  // namespace tavo::dictsort
