// Sort columns, typed key values and their order.
//
// Every key value is taken out of its Python item once, before sorting, so the
// sort compares native values and enters Python only for values that have no
// native form (`object_key`). Null, int, float and text keys compare without a
// Python call and without allocating.
#pragma once

#include "boundary/args.hpp"
#include "boundary/views.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavo::dictsort {

// The exception that ends the call. A lookup, a conversion or a comparison
// whose exception is ordinary falls back (a null key, equal) and the exception
// is cleared; one that is not (KeyboardInterrupt, SystemExit, MemoryError,
// RecursionError...) is kept here. Once it is set nothing enters Python again:
// comparisons answer equal at once, the passes over the list stop, and the
// driver returns it with the list untouched. A PanicException raised by Python
// code resumes as an internal failure, as everywhere.
class ending_error {
public:
    bool is_set() const noexcept { return error_.has_value(); }
    // Clears the pending exception if it is an ordinary one, else keeps it.
    void discard_pending() {
        status s = discard_ordinary_error();
        if (!s && !error_) error_.emplace(std::move(s.error()));
    }
    error_value take() noexcept { return std::move(*error_); }

    // Python code run by the call (a lookup in a dict subclass, a conversion
    // of a value of another type, a comparison through Python): noted before
    // it runs. Until then the call has had no effect that anyone could see.
    void note_python() noexcept { python_ran_ = true; }
    bool python_ran() const noexcept { return python_ran_; }

private:
    std::optional<error_value> error_;
    bool python_ran_ = false;
};

// The UTF-8 text of a str (or subclass), or false when it has none (lone
// surrogates; the exception is cleared, or kept in `ending` when it ends the
// call). The text lives as long as `s`: the caller holds a reference to it.
inline bool utf8_of(PyObject* s, std::string_view& out, ending_error& ending) {
    if (PyUnicode_IS_COMPACT_ASCII(s)) {  // its own UTF-8
        out = std::string_view(static_cast<const char*>(PyUnicode_DATA(s)),
                               static_cast<std::size_t>(PyUnicode_GET_LENGTH(s)));
        return true;
    }
    Py_ssize_t n = 0;
    const char* u = PyUnicode_AsUTF8AndSize(s, &n);
    if (!u) {
        ending.discard_pending();
        return false;
    }
    out = std::string_view(u, static_cast<std::size_t>(n));
    return true;
}

// Calls `seen(text, key)` with every str key of every dict item of the list
// `items` and its UTF-8 text, in order, for as long as `more()` is true; a key without
// UTF-8 text is passed over. The list and its dicts are read again after every
// step: getting a key's text may allocate, a collection may then run
// finalizers that change them, and a dict's lock (free-threaded builds) is
// given up while one runs. So the item being read is held, and a key is held
// before its text is taken unless it is compact ASCII (its own UTF-8 text,
// nothing allocated). False when `ending` is set.
template <class More, class Seen>
bool for_each_key_text(PyObject* items, ending_error& ending, More more, Seen seen) {
    for (Py_ssize_t i = 0; more(); ++i) {
        ref item = list_view(items).item(i);
        if (!item) break;
        if (!PyDict_Check(item.get())) continue;
        object_lock hold(item.get());
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (more() && PyDict_Next(item.get(), &pos, &key, &value)) {
            if (!PyUnicode_Check(key)) continue;
            ref held_key;
            if (!PyUnicode_IS_COMPACT_ASCII(key)) held_key = borrow(key);
            std::string_view text;
            if (!utf8_of(key, text, ending)) {
                if (ending.is_set()) return false;
                continue;
            }
            seen(text, key);
        }
    }
    return true;
}

// The rows of one sort: the list argument as the call reads it.
//
// With the interpreter lock only Python code run by the call can change the
// list, and every read of it checks the index. On free-threaded builds other
// threads may change it at any moment, and the list's lock is given up while
// the call waits for a dict's lock: there the rows are read from a copy taken
// under the list's lock when the sort starts (the list of one moment), for as
// long as the call runs no Python code; from the first Python code on, the
// list itself is read, as with the interpreter lock.
class sort_rows {
public:
    // The caller holds the list's lock.
    explicit sort_rows(PyObject* list);

    // What the column scan reads.
    PyObject* scanned() const noexcept { return copy_ ? copy_.get() : list_; }
    // The number of rows now.
    std::size_t size() const noexcept { return static_cast<std::size_t>(list_view(scanned()).size()); }
    // Row i for the extraction, or empty when the list is shorter now.
    ref item(std::size_t i, const ending_error& ending) const noexcept {
        if (copy_ && !ending.python_ran()) return borrow(list_view(copy_.get()).items()[i]);
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
    result<ref> put_in_order(const std::size_t* order, std::size_t n, bool inplace,
                                            const ending_error& ending, bool last_try, ref* gathered) const;

private:
    PyObject* list_;
    ref copy_;  // free-threaded builds
};

inline result<ref> sort_rows::put_in_order(const std::size_t* order, std::size_t n, bool inplace,
                                           const ending_error& ending, bool last_try, ref* gathered) const {
    const list_view list(list_);
    // Until Python code runs, the rows are those of the copy (free-threaded
    // builds), which no other thread sees. After it, the list is read again:
    // Python code run by a lookup or a comparison (or another thread) may have
    // changed it since the extraction.
    bool from_copy = copy_ && !ending.python_ran();
    auto fetch = [&](std::size_t row) -> ref {
        if (from_copy) return borrow(list_view(copy_.get()).items()[row]);
        ref item = list.locked_item(static_cast<Py_ssize_t>(row));
        if (!item) fail("multikeysort: the list was shortened while it was being sorted");
        return item;
    };
    if (!inplace) {
        ref out = new_list(static_cast<Py_ssize_t>(n));
        for (std::size_t p = 0; p < n; ++p) PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(p), fetch(order[p]).release());
        return out;
    }
    // Every item is gathered before anything is written.
    for (std::size_t p = 0; p < n; ++p) gathered[p] = fetch(order[p]);
    if (from_copy) {
        // The list's lock is held, and nothing from this check to the last
        // store waits or runs Python code: the list the sort saw is the list
        // it rewrites. Otherwise another thread changed it: sort again, or on
        // the last try put the rows it holds now in the order found.
        PyObject* const* rows = list_view(copy_.get()).items();
        if (static_cast<std::size_t>(list.size()) != n || !std::equal(rows, rows + n, list.items())) {
            if (!last_try) return ref();
            from_copy = false;
            for (std::size_t p = 0; p < n; ++p) gathered[p] = fetch(order[p]);
        }
    }
    // Every slot below n exists (the gathered rows are 0 to n - 1), and
    // nothing from the gathering to the last store runs Python code.
    for (std::size_t p = 0; p < n; ++p) gathered[p] = list.exchange(static_cast<Py_ssize_t>(p), std::move(gathered[p]));
    return none_result();
}

// How many times a free-threaded in-place sort is made again when other
// threads keep changing its list; the last try writes whatever the list then
// holds, as the interpreter-lock build does after Python code changed it.
#ifdef Py_GIL_DISABLED
inline constexpr int sort_tries = 8;
#else
inline constexpr int sort_tries = 1;
#endif

// --- columns ---------------------------------------------------------------------

struct sort_column {
    std::string name;  // the dictionary key to read (UTF-8), may be empty
    bool descending = false;
    ref key;           // an exact str key with that name, from a dict item of the list
};

// Another list of the same columns (a sort made again starts from them).
inline std::vector<sort_column> copy_of(const std::vector<sort_column>& columns) {
    std::vector<sort_column> out;
    out.reserve(columns.size());
    for (const sort_column& c : columns) out.push_back({c.name, c.descending, borrow(c.key.get())});
    return out;
}

// "-x" is x descending; only the first "-" is taken off.
sort_column parse_column_text(std::string_view text);

// Reads the columns argument (anything but None). An unusable shape gives no
// columns and no error; only an exception that ends the call (an interrupt
// from a user sequence's iterator, MemoryError) is kept in `ending`, and then
// the columns read are meaningless.
std::vector<sort_column> parse_columns(PyObject* columns, ending_error& ending);

// The columns whose name is a str key of at least one dict item of the list
// `items`, in their order, each name once (a later column with an earlier
// one's name is dropped: it would only be asked about rows that the earlier
// one found equal). Empty when `ending` is set.
std::vector<sort_column> keep_known_columns(PyObject* items, std::vector<sort_column> columns,
                                            ending_error& ending);

// The str looked up in every dict for a column: the key object of the first
// dict item that has the name, when it is an exact str, so that lookups in
// dicts sharing their key objects (rows made from one literal, or by one
// decoder) match it by identity instead of comparing texts; otherwise a new
// str. Never an interned one: on some versions interned strings live as long
// as the process, and column names made at run time would pile up.
ref lookup_key(const sort_column& column);

// --- key values --------------------------------------------------------------------

enum class key_kind : std::uint8_t { null_key, int_key, float_key, text_key, object_key };

// A key value in 16 bytes. Text bytes and object references are owned by the
// `key_store` of the call, which outlives every value built from it.
class sort_value {
public:
    sort_value() noexcept : sort_value(key_kind::null_key, 0) {}
    static sort_value null() noexcept { return sort_value(key_kind::null_key, 0); }
    static sort_value of_int(std::int64_t v) noexcept {
        sort_value s(key_kind::int_key, 0);
        s.i_ = v;
        return s;
    }
    static sort_value of_float(double v) noexcept {
        sort_value s(key_kind::float_key, 0);
        s.f_ = v;
        return s;
    }
    static sort_value of_text(const char* p, std::size_t n) noexcept {
        sort_value s(key_kind::text_key, n);
        s.text_ = p;
        return s;
    }
    static sort_value of_object(PyObject* o) noexcept {
        sort_value s(key_kind::object_key, 0);
        s.obj_ = o;
        return s;
    }

    key_kind kind() const noexcept { return static_cast<key_kind>(tag_ & 7u); }
    std::int64_t as_int() const noexcept { return i_; }
    double as_float() const noexcept { return f_; }
    std::string_view as_text() const noexcept { return {text_, static_cast<std::size_t>(tag_ >> 3)}; }
    PyObject* as_object() const noexcept { return obj_; }

private:
    sort_value(key_kind k, std::size_t len) noexcept
        : tag_((static_cast<std::uint64_t>(len) << 3) | static_cast<std::uint64_t>(k)), i_(0) {}
    std::uint64_t tag_;
    union {
        std::int64_t i_;
        double f_;
        const char* text_;
        PyObject* obj_;
    };
};

// Owns what the key values of one call point into: private copies of texts
// (in blocks that never move) and references to objects.
class key_store {
public:
    const char* copy_text(const char* p, std::size_t n) {
        if (n == 0 || n > left_) return copy_text_to_new_block(p, n);
        char* dst = free_;
        std::memcpy(dst, p, n);
        free_ += n;
        left_ -= n;
        return dst;
    }
    PyObject* keep(ref obj) {
        if (objects_.capacity() == 0) objects_.reserve(32);
        objects_.push_back(std::move(obj));
        return objects_.back().get();
    }

private:
    const char* copy_text_to_new_block(const char* p, std::size_t n);
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;
    std::size_t left_ = 0;
    std::vector<ref> objects_;
};

// Which kinds a column's values took, for choosing how to sort.
struct column_profile {
    unsigned kinds = 0;           // bit (1 << kind) per kind seen
    bool has_nan = false;         // a float key is NaN
    bool has_wide_int = false;    // an int key is not exactly representable as a double
    bool only(unsigned mask) const noexcept { return (kinds & ~mask) == 0; }
    static constexpr unsigned bit(key_kind k) noexcept { return 1u << static_cast<unsigned>(k); }
    void note(const sort_value& v) noexcept;
};

// item[key] as a key value; `key` is the column's lookup str, built once per
// call. Never leaves an exception set: an ordinary one gives the fallback, one
// that ends the call is kept in `ending` (the value is then null). Must not be
// called once `ending` is set.
sort_value extract_sort_value(PyObject* item, PyObject* key, key_store& store, ending_error& ending);

// --- order ---------------------------------------------------------------------------

enum class order : int { less = -1, equal = 0, greater = 1 };

// `<` and then `>`; a comparison that raises is equal, its exception cleared
// when ordinary and kept in `ending` otherwise. With `tell_greater` false the
// caller only asks whether x is less: `>` is not called, and greater is
// reported as equal. Once `ending` is set, answers equal without a call.
order python_compare(PyObject* x, PyObject* y, ending_error& ending, bool tell_greater = true);

// The Python branch of compare_sort_values: at least one side is an object key.
order compare_through_python(const sort_value& a, const sort_value& b, ending_error& ending, bool tell_greater);

inline order compare_numbers(double x, double y) noexcept {
    if (x < y) return order::less;
    if (x > y) return order::greater;
    return order::equal;  // equal, or NaN on either side
}

inline order compare_texts(std::string_view x, std::string_view y) noexcept {
    std::size_t n = x.size() < y.size() ? x.size() : y.size();
    if (n != 0) {
        int c = std::memcmp(x.data(), y.data(), n);  // unsigned bytes
        if (c != 0) return c < 0 ? order::less : order::greater;
    }
    if (x.size() == y.size()) return order::equal;
    return x.size() < y.size() ? order::less : order::greater;
}

// An int against a double, exactly as Python compares them (NaN is equal).
// The int's nearest double orders it wherever it differs from y (rounding
// keeps the order); where they are equal, y is a whole number in
// [-2^63, 2^63] and is compared as an integer.
inline order compare_int_double(std::int64_t x, double y) noexcept {
    double d = static_cast<double>(x);
    if (d < y) return order::less;
    if (d > y) return order::greater;
    if (d != y) return order::equal;  // NaN
    if (y >= 0x1p63) return order::less;  // 2^63, above every 64-bit integer
    auto w = static_cast<std::int64_t>(y);
    return x < w ? order::less : x > w ? order::greater : order::equal;
}

// The order of a relative to b. With `tell_greater` false, greater may come
// back as equal (for callers that only ask whether a is less).
inline order compare_sort_values(const sort_value& a, const sort_value& b, ending_error& ending,
                                 bool tell_greater = true) {
    key_kind ka = a.kind(), kb = b.kind();
    if (ka == kb) {
        switch (ka) {
            case key_kind::null_key:
                return order::equal;
            case key_kind::int_key:
                return a.as_int() < b.as_int() ? order::less
                       : a.as_int() > b.as_int() ? order::greater
                                                 : order::equal;
            case key_kind::float_key:
                return compare_numbers(a.as_float(), b.as_float());
            case key_kind::text_key:
                return compare_texts(a.as_text(), b.as_text());
            case key_kind::object_key:
                return compare_through_python(a, b, ending, tell_greater);
        }
    }
    if (ka == key_kind::null_key) return order::less;
    if (kb == key_kind::null_key) return order::greater;
    if (ka == key_kind::object_key || kb == key_kind::object_key) return compare_through_python(a, b, ending, tell_greater);
    // A str against an int or a float: both `<` and `>` raise TypeError for
    // the built-in types, so the pair is equal; no need to ask Python.
    if (ka == key_kind::text_key || kb == key_kind::text_key) return order::equal;
    // An int against a float, exactly.
    if (ka == key_kind::int_key) return compare_int_double(a.as_int(), b.as_float());
    order o = compare_int_double(b.as_int(), a.as_float());
    return static_cast<order>(-static_cast<int>(o));
}

// True when record a sorts strictly before record b, comparing columns
// `first` onward (the keys of one record are contiguous, in column order).
inline bool record_less(const std::vector<sort_column>& columns, const sort_value* a, const sort_value* b,
                        ending_error& ending, std::size_t first = 0) {
    assert(!columns.empty());  // with no column, nothing is sorted at all
    std::size_t last = columns.size() - 1;
    for (std::size_t i = first; i < last; ++i) {
        order o = compare_sort_values(a[i], b[i], ending);
        if (o != order::equal) return columns[i].descending ? o == order::greater : o == order::less;
    }
    if (first > last) return false;
    // On the last column equal and the losing side give the same answer, so
    // an ascending column need not tell greater from equal.
    bool descending = columns[last].descending;
    order o = compare_sort_values(a[last], b[last], ending, descending);
    return descending ? o == order::greater : o == order::less;
}

}  // namespace tavo::dictsort
