// Reading a column from any object that speaks the Arrow PyCapsule
// interface: `__arrow_c_stream__` (preferred) or `__arrow_c_array__`.
//
// The structs are moved out of their capsules (the capsule's copy is marked
// released, so its destructor does nothing) into owning handles, which call
// each release callback exactly once, on every path. Everything here runs
// with the interpreter lock held: a producer's callbacks may need it.
#pragma once

#include "boundary/error.hpp"
#include "columns/arrow/arrow_abi.hpp"
#include "columns/string_rows.hpp"

#include <cstring>
#include <utility>

namespace tavo::columns {

// What a column function reads: the TypeError for anything else and the
// functions' docstrings say it in these words.
inline constexpr char accepted_columns[] =
    "an Arrow string column (utf8, large_utf8 or string_view) from an object with "
    "__arrow_c_stream__ or __arrow_c_array__";

// Owns one Arrow struct (ArrowSchema, ArrowArray or ArrowArrayStream) and
// releases it once, unless it was moved on.
template <class S>
class owned {
public:
    owned() noexcept { std::memset(&s_, 0, sizeof s_); }
    owned(owned&& o) noexcept : s_(o.s_) { o.s_.release = nullptr; }
    owned& operator=(owned&& o) noexcept {
        if (this != &o) {
            reset();
            s_ = o.s_;
            o.s_.release = nullptr;
        }
        return *this;
    }
    owned(const owned&) = delete;
    owned& operator=(const owned&) = delete;
    ~owned() { reset(); }

    // Takes the struct at `p` (a capsule's): a bitwise copy, after which `p`
    // is marked released, as the protocol asks of a consumer that moves it.
    static owned take(S* p) noexcept {
        owned o;
        o.s_ = *p;
        p->release = nullptr;
        return o;
    }

    void reset() noexcept {
        if (s_.release) {
            s_.release(&s_);
            s_.release = nullptr;  // a producer that forgets to mark it is released only once all the same
        }
    }
    S* get() noexcept { return &s_; }
    const S& operator*() const noexcept { return s_; }
    const S* operator->() const noexcept { return &s_; }
    explicit operator bool() const noexcept { return s_.release != nullptr; }

private:
    S s_;
};

// The chunks of one input column, in order.
class arrow_input {
public:
    // Asks `source` for its data; a TypeError when it offers none, or data
    // that is not a string column.
    static result<arrow_input> open(PyObject* source);

    string_layout layout() const noexcept { return layout_; }
    // The next array; a released handle at the end.
    result<owned<arrow::ArrowArray>> next();

    arrow_input(arrow_input&&) noexcept = default;
    arrow_input& operator=(arrow_input&&) noexcept = default;

private:
    arrow_input() = default;

    string_layout layout_ = string_layout::utf8;
    owned<arrow::ArrowArrayStream> stream_;
    owned<arrow::ArrowArray> single_;
    bool from_stream_ = false;
};

}  // namespace tavo::columns
