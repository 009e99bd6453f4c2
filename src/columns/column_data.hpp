// The output of a column function: chunks of Arrow buffers that no Python
// object owns, and their export through the C Data and C Stream Interfaces.
//
// A chunk is built once by a kernel and never written again. Every export
// (each array, each stream, as many times as asked) shares it through a
// reference count, so exports outlive the Column they came from and may be
// released by any thread, with or without the interpreter lock.
#pragma once

#include "columns/arrow_abi.hpp"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace tavo::columns {

struct free_block {
    void operator()(void* p) const noexcept { std::free(p); }
};
// A block from std::malloc (an Arrow buffer, or a byte_sink's taken storage).
using block = std::unique_ptr<void, free_block>;

// Asks for the large pages of [p, p + n) to be backed by huge pages: a
// column's output is written once, front to back, into fresh memory, and
// 2 MB pages take one fault where 4 KB pages take 512. Only a hint.
void prefer_huge_pages(void* p, std::size_t n) noexcept;

// `n` bytes (at least one, so that a buffer pointer is never null).
inline block allocate_block(std::size_t n) {
    void* p = std::malloc(n == 0 ? 1 : n);
    if (!p) throw std::bad_alloc();
    prefer_huge_pages(p, n);
    return block(p);
}

enum class value_type : std::uint8_t { utf8, large_utf8, int64, float64 };

// The Arrow format string ("u", "U", "l", "g") and the name Column.type shows.
const char* arrow_format(value_type t) noexcept;
const char* type_name(value_type t) noexcept;
inline bool is_text(value_type t) noexcept { return t == value_type::utf8 || t == value_type::large_utf8; }

struct chunk {
    std::int64_t length = 0;
    std::int64_t null_count = 0;
    block validity;  // bit i set: row i has a value; absent when null_count == 0
    block values;    // text: length + 1 offsets (int32, or int64 when `large`); numbers: length values
    block data;      // text bytes; absent for numbers
    std::int64_t data_size = 0;
    bool large = false;

    template <class T>
    T* values_as() const noexcept {
        return static_cast<T*>(values.get());
    }
};

struct column_data {
    value_type type = value_type::utf8;
    std::vector<std::shared_ptr<const chunk>> chunks;
    std::int64_t length = 0;
};

// Fill `out` (which the caller then owns and releases). None of them runs
// Python code; std::bad_alloc is the only failure.
void export_schema(value_type t, arrow::ArrowSchema* out);
void export_array(std::shared_ptr<const chunk> c, arrow::ArrowArray* out);
void export_stream(std::shared_ptr<const column_data> column, arrow::ArrowArrayStream* out);

// One chunk holding every row of the column, in order: the chunk itself when
// there is one, an empty chunk when there is none. Null when the joined text
// would not fit the int32 offsets of a utf8 column.
std::shared_ptr<const chunk> joined(const column_data& column);

// Bitmap helpers (least significant bit first, as Arrow numbers them).
inline bool bit_is_set(const std::uint8_t* bits, std::int64_t i) noexcept {
    return (bits[i >> 3] >> (i & 7)) & 1;
}
inline std::size_t bitmap_bytes(std::int64_t length) noexcept { return static_cast<std::size_t>((length + 7) / 8); }
// Copies `length` bits starting at bit `from` of `src` into `dst` starting at bit `to`.
void copy_bits(const std::uint8_t* src, std::int64_t from, std::uint8_t* dst, std::int64_t to, std::int64_t length) noexcept;
std::int64_t count_set_bits(const std::uint8_t* bits, std::int64_t from, std::int64_t length) noexcept;

}  // namespace tavo::columns
