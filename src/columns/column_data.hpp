// The output of a column function: chunks of Arrow buffers that no Python
// object owns, each knowing its value type.
//
// A chunk is built once by a kernel and never written again. Every export
// (each array, each stream, as many times as asked) shares it through a
// reference count, so exports outlive the Column they came from and may be
// released by any thread, with or without the interpreter lock.
#pragma once

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

// The name Column.type shows.
const char* type_name(value_type t) noexcept;
inline bool is_text(value_type t) noexcept { return t == value_type::utf8 || t == value_type::large_utf8; }

struct chunk {
    value_type type = value_type::utf8;
    std::int64_t length = 0;
    std::int64_t null_count = 0;
    block validity;  // bit i set: row i has a value; absent when null_count == 0
    block values;    // text: length + 1 offsets (int32 for utf8, int64 for large_utf8); numbers: length values
    block data;      // text bytes; absent for numbers
    std::int64_t data_size = 0;

    template <class T>
    T* values_as() const noexcept {
        return static_cast<T*>(values.get());
    }
};

// One column: its type is that of every chunk (and names the type of a
// column without any).
struct column_data {
    value_type type = value_type::utf8;
    std::vector<std::shared_ptr<const chunk>> chunks;
    std::int64_t length = 0;
};

// The first `filled` of `narrow` int32 offsets in a new block of `size`
// int64 offsets.
block wider_offsets(const std::int32_t* narrow, std::int64_t filled, std::int64_t size);

// The first n int64 values at p become the nearest doubles (ties to even, as
// float(int) gives them), in place.
void ints_to_doubles(void* p, std::int64_t n) noexcept;

// The column of the built chunks, in one type: `type` unless a chunk has the
// wider type of the same kind (large_utf8 beside utf8, float64 beside
// int64), which every chunk is then given (int64 offsets; each int the
// nearest double).
std::shared_ptr<const column_data> column_of(std::vector<std::shared_ptr<chunk>> chunks, value_type type);

// One chunk holding every row of the column, in order: the chunk itself when
// there is one, an empty chunk when there is none. Null when the joined text
// would not fit the int32 offsets of a utf8 column.
std::shared_ptr<const chunk> joined(const column_data& column);

}  // namespace tavo::columns
