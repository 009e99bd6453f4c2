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
#include <cstring>
#include <limits>
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

// price: a struct of two fields, `amount` (a float64 chunk) and `currency` (a utf8
// chunk), each with a validity of its own; the struct's validity is the chunk's.
// large_price: the same with a large_utf8 currency, for currencies past 2**31 - 1 bytes.
enum class value_type : std::uint8_t { utf8, large_utf8, string_view, int64, float64, price, large_price };

// The name Column.type shows.
const char* type_name(value_type t) noexcept;
inline bool is_text(value_type t) noexcept {
    return t == value_type::utf8 || t == value_type::large_utf8 || t == value_type::string_view;
}
inline bool is_price(value_type t) noexcept { return t == value_type::price || t == value_type::large_price; }

struct chunk {
    value_type type = value_type::utf8;
    std::int64_t length = 0;
    std::int64_t null_count = 0;
    block validity;  // bit i set: row i has a value; absent when null_count == 0
    // text: length + 1 offsets (int32 for utf8, int64 for large_utf8), or length 16-byte
    // views (string_view); numbers: length values
    block values;
    block data;      // text bytes, every row's in row order; absent for numbers
    std::int64_t data_size = 0;
    // string_view: where each data buffer of the views starts in `data`, and the sizes
    // buffer (one int64 a data buffer)
    std::vector<std::int64_t> view_buffers;
    block view_sizes;
    // price: the amount and currency fields, each of the struct's length (a null
    // struct row is null in both)
    std::vector<std::shared_ptr<chunk>> children;

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

// The output offsets: int32 until the text passes what they can hold.
class offsets_writer {
public:
    offsets_writer(std::int64_t length, bool large)
        : length_(length), large_(large),
          buf_(allocate_block(static_cast<std::size_t>(length + 1) * (large ? 8 : 4))) {
        put(0, 0);
    }

    void put(std::int64_t i, std::size_t at) {
        const auto v = static_cast<std::int64_t>(at);
        if (large_) {
            static_cast<std::int64_t*>(buf_.get())[i] = v;
        } else if (v <= std::numeric_limits<std::int32_t>::max()) {
            static_cast<std::int32_t*>(buf_.get())[i] = static_cast<std::int32_t>(v);
        } else {
            // Entries 0..i-1 are written.
            buf_ = wider_offsets(static_cast<const std::int32_t*>(buf_.get()), i, length_ + 1);
            large_ = true;
            static_cast<std::int64_t*>(buf_.get())[i] = v;
        }
    }

    bool large() const noexcept { return large_; }
    block take() noexcept { return std::move(buf_); }

private:
    std::int64_t length_;
    bool large_;
    block buf_;
};

// The string_views of a chunk's rows, which lie one after the other in one text: a row
// of up to 12 bytes inline in its view, a longer one naming its place in the text. The
// text is cut into data buffers of at most 2**31 - 1 bytes at row boundaries (a view's
// offset is an int32); a row longer than that has no view, and the writer is then spoilt.
class views_writer {
public:
    explicit views_writer(std::int64_t length) : views_(allocate_block(static_cast<std::size_t>(length) * 16)) {}

    // Row i: `size` bytes at `start` of `text`, of which `readable` bytes from the start
    // may be read.
    void put(std::int64_t i, const char* text, std::int64_t start, std::int64_t size, std::int64_t readable) noexcept {
        unsigned char* v = static_cast<unsigned char*>(views_.get()) + i * 16;
        std::uint64_t lo = 0;  // bytes 4-11 of the view
        std::uint32_t hi = 0;  // bytes 12-15
        if (size <= 12) {
            if (start + 12 <= readable) {  // one fixed-size read, masked
                std::memcpy(&lo, text + start, 8);
                std::memcpy(&hi, text + start + 8, 4);
                lo = size >= 8 ? lo : lo & ((std::uint64_t{1} << (8 * size)) - 1);
                hi = size <= 8 ? 0 : hi & static_cast<std::uint32_t>((std::uint64_t{1} << (8 * (size - 8))) - 1);
            } else {
                unsigned char bytes[12] = {};
                std::memcpy(bytes, text + start, static_cast<std::size_t>(size));
                std::memcpy(&lo, bytes, 8);
                std::memcpy(&hi, bytes + 8, 4);
            }
        } else {
            if (size > most) {
                spoilt_ = true;
                return;
            }
            if (start + size - starts_.back() > most) starts_.push_back(start);
            std::uint32_t head;
            std::memcpy(&head, text + start, 4);
            lo = head | static_cast<std::uint64_t>(starts_.size() - 1) << 32;
            hi = static_cast<std::uint32_t>(start - starts_.back());
        }
        const auto size32 = static_cast<std::uint32_t>(size);
        std::memcpy(v, &size32, 4);
        std::memcpy(v + 4, &lo, 8);
        std::memcpy(v + 12, &hi, 4);
    }

    bool spoilt() const noexcept { return spoilt_; }

    // The views into `c`, whose text is the one described (`c.data_size` bytes): c becomes
    // string_view.
    void finish(chunk& c);

private:
    static constexpr std::int64_t most = 0x7fffffff;
    block views_;
    std::vector<std::int64_t> starts_{0};
    bool spoilt_ = false;
};

// A utf8 or large_utf8 chunk becomes string_view over the same text. False, and the
// chunk unchanged, when a row is too long for a view.
bool to_views(chunk& c);

// The first n int64 values at p become the nearest doubles (ties to even, as
// float(int) gives them), in place.
void ints_to_doubles(void* p, std::int64_t n) noexcept;

// The column of the built chunks, in one type: `type` unless a chunk has the
// wider type of the same kind (large_utf8 beside utf8, float64 beside
// int64, large_price beside price), which every chunk is then given (int64
// offsets; each int the nearest double).
std::shared_ptr<const column_data> column_of(std::vector<std::shared_ptr<chunk>> chunks, value_type type);

// One chunk holding every row of the column, in order: the chunk itself when
// there is one, an empty chunk when there is none. Null when the joined text
// would not fit the int32 offsets of a utf8 column (or field).
std::shared_ptr<const chunk> joined(const column_data& column);

}  // namespace tavo::columns
