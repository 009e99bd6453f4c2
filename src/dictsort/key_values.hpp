// Typed key values: what one item gives for one column, taken out of the
// Python item once, before sorting, so that the sort compares native values.
#pragma once

#include "boundary/error.hpp"
#include "dictsort/sort_columns.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace tavo::dictsort {

class row_list;

enum class key_kind : std::uint8_t { null_key, int_key, float_key, text_key, object_key, wide_int_key };

// An int outside 64 bits within [-2^127, 2^128) (a UUID's int, any signed
// 128-bit one): -2^128 (when negative) + high * 2^64 + low exactly, and the
// int itself for comparisons through Python. An int wider still is an
// object key holding the exact int.
struct wide_int {
    bool negative;
    std::uint64_t high;
    std::uint64_t low;
    double nearest;    // the nearest double
    PyObject* object;  // kept by the key store
};

// A key value in 16 bytes. Text bytes, wide ints and object references are
// owned by the `key_store` of the call, which outlives every value built
// from it.
class sort_value {
public:
    sort_value() noexcept = default;  // unwritten, as a plain array element: null() for a null key
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
    static sort_value of_wide_int(const wide_int* w) noexcept {
        sort_value s(key_kind::wide_int_key, 0);
        s.wide_ = w;
        return s;
    }

    key_kind kind() const noexcept { return static_cast<key_kind>(tag_ & 7u); }
    std::int64_t as_int() const noexcept { return i_; }
    double as_float() const noexcept { return f_; }
    std::string_view as_text() const noexcept { return {text_, static_cast<std::size_t>(tag_ >> 3)}; }
    PyObject* as_object() const noexcept { return obj_; }
    const wide_int& as_wide_int() const noexcept { return *wide_; }

private:
    sort_value(key_kind k, std::size_t len) noexcept
        : tag_((static_cast<std::uint64_t>(len) << 3) | static_cast<std::uint64_t>(k)), i_(0) {}
    std::uint64_t tag_;
    union {
        std::int64_t i_;
        double f_;
        const char* text_;
        PyObject* obj_;
        const wide_int* wide_;
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
    const wide_int* keep(const wide_int& w) {
        if (wide_left_ == 0) {  // blocks that never move, made only for a call that meets wide ints
            wide_blocks_.push_back(std::make_unique_for_overwrite<wide_int[]>(wide_block));
            wide_left_ = wide_block;
        }
        wide_int* slot = wide_blocks_.back().get() + (wide_block - wide_left_--);
        *slot = w;
        return slot;
    }

private:
    const char* copy_text_to_new_block(const char* p, std::size_t n);
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;
    std::size_t left_ = 0;
    std::vector<ref> objects_;
    static constexpr std::size_t wide_block = 256;
    std::vector<std::unique_ptr<wide_int[]>> wide_blocks_;
    std::size_t wide_left_ = 0;
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

// Whether the call has run Python code: a lookup in a dict subclass or in
// another mapping, a conversion of a value of another type. Until it has,
// nothing the call did could be seen by anyone, and on free-threaded builds
// the rows are still those of the call's own copy of the list (row_list).
struct python_trace {
    bool ran = false;
};

// The extraction pass: for each of the first n rows, item[name] as a key
// value for each column (looked up with the column's lookup_key str), into
// values (row after row, n * columns.size() of them), and each column's
// profile; n is the number of rows when the pass starts. An ordinary
// exception from a lookup or a conversion gives the fallback (null, or the
// next rule of the conversion). Fails with the list's IndexError when Python
// code run by a lookup has shortened the list, and with an exception that
// must end the call.
status extract_rows(const row_list& rows, std::size_t n, const std::vector<sort_column>& columns,
                    sort_value* values, column_profile* profiles, key_store& store, python_trace& trace);

}  // namespace tavo::dictsort
