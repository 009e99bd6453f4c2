// Export of built chunks through the Arrow C Data and C Stream Interfaces.
//
// Every struct handed out owns what it points to through its private data:
// an array keeps its chunk alive (a shared count, so any number of arrays and
// streams share one chunk), a stream keeps the whole column. The release
// callbacks free only what their own struct holds, run no Python code, and
// may be called from any thread.
#include "columns/column_data.hpp"

#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

#include <sys/mman.h>

namespace tavo::columns {

const char* arrow_format(value_type t) noexcept {
    switch (t) {
        case value_type::utf8: return "u";
        case value_type::large_utf8: return "U";
        case value_type::int64: return "l";
        case value_type::float64: return "g";
    }
    return "";
}

const char* type_name(value_type t) noexcept {
    switch (t) {
        case value_type::utf8: return "utf8";
        case value_type::large_utf8: return "large_utf8";
        case value_type::int64: return "int64";
        case value_type::float64: return "float64";
    }
    return "";
}

void copy_bits(const std::uint8_t* src, std::int64_t from, std::uint8_t* dst, std::int64_t to,
               std::int64_t length) noexcept {
    if (length <= 0) return;
    if ((to & 7) == 0) {
        // Whole destination bytes from two neighbouring source bytes each;
        // the last one masked to the bits that belong to the copy.
        std::uint8_t* out = dst + (to >> 3);
        const std::uint8_t* in = src + (from >> 3);
        const unsigned shift = static_cast<unsigned>(from & 7);
        const std::int64_t whole = length >> 3;
        const std::int64_t last_src_byte = (from + length - 1) >> 3;  // relative to src
        for (std::int64_t j = 0; j < whole; ++j) {
            unsigned v = in[j] >> shift;
            if (shift != 0 && (from >> 3) + j + 1 <= last_src_byte) v |= static_cast<unsigned>(in[j + 1]) << (8 - shift);
            out[j] = static_cast<std::uint8_t>(v);
        }
        const std::int64_t rest = length & 7;
        if (rest != 0) {
            unsigned v = in[whole] >> shift;
            if (shift != 0 && (from >> 3) + whole + 1 <= last_src_byte) {
                v |= static_cast<unsigned>(in[whole + 1]) << (8 - shift);
            }
            const unsigned mask = (1u << rest) - 1;
            out[whole] = static_cast<std::uint8_t>(v & mask);  // the bits after the copy start empty
        }
        return;
    }
    for (std::int64_t i = 0; i < length; ++i) {
        const std::int64_t d = to + i;
        const auto m = static_cast<std::uint8_t>(1u << (d & 7));
        if (bit_is_set(src, from + i)) {
            dst[d >> 3] = static_cast<std::uint8_t>(dst[d >> 3] | m);
        } else {
            dst[d >> 3] = static_cast<std::uint8_t>(dst[d >> 3] & ~m);
        }
    }
}

std::int64_t count_set_bits(const std::uint8_t* bits, std::int64_t from, std::int64_t length) noexcept {
    std::int64_t n = 0;
    std::int64_t i = from;
    const std::int64_t end = from + length;
    for (; i < end && (i & 7) != 0; ++i) n += bit_is_set(bits, i);
    for (; i + 64 <= end; i += 64) {
        std::uint64_t w;
        std::memcpy(&w, bits + (i >> 3), 8);
        n += std::popcount(w);
    }
    for (; i + 8 <= end; i += 8) n += std::popcount(static_cast<unsigned>(bits[i >> 3]));
    for (; i < end; ++i) n += bit_is_set(bits, i);
    return n;
}

void prefer_huge_pages(void* p, std::size_t n) noexcept {
    constexpr std::uintptr_t huge = std::uintptr_t{2} << 20;
    if (n < 2 * huge) return;
    const auto start = (reinterpret_cast<std::uintptr_t>(p) + huge - 1) & ~(huge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(p) + n) & ~(huge - 1);
    if (end > start) (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

namespace {

using arrow::ArrowArray;
using arrow::ArrowArrayStream;
using arrow::ArrowSchema;

void release_schema(ArrowSchema* s) noexcept {
    // The strings are static; nothing else is held.
    s->release = nullptr;
}

struct exported_array {
    std::shared_ptr<const chunk> keep;
    const void* buffers[3];
};

void release_array(ArrowArray* a) noexcept {
    delete static_cast<exported_array*>(a->private_data);
    a->private_data = nullptr;
    a->release = nullptr;
}

struct exported_stream {
    std::shared_ptr<const column_data> column;
    std::size_t next = 0;
    std::string last_error;
};

exported_stream* stream_of(ArrowArrayStream* s) noexcept { return static_cast<exported_stream*>(s->private_data); }

int stream_get_schema(ArrowArrayStream* s, ArrowSchema* out) noexcept {
    if (!s->release) return EINVAL;
    export_schema(stream_of(s)->column->type, out);
    return 0;
}

int stream_get_next(ArrowArrayStream* s, ArrowArray* out) noexcept {
    if (!s->release) return EINVAL;
    exported_stream* st = stream_of(s);
    if (st->next == st->column->chunks.size()) {
        std::memset(out, 0, sizeof *out);  // the end of the stream: a released array
        return 0;
    }
    try {
        export_array(st->column->chunks[st->next], out);
    } catch (...) {
        try {
            st->last_error = "out of memory while exporting an array";
        } catch (...) {
            st->last_error.clear();
        }
        return ENOMEM;
    }
    ++st->next;
    return 0;
}

const char* stream_get_last_error(ArrowArrayStream* s) noexcept {
    if (!s->release) return nullptr;
    const std::string& e = stream_of(s)->last_error;
    return e.empty() ? nullptr : e.c_str();
}

void release_stream(ArrowArrayStream* s) noexcept {
    delete stream_of(s);
    s->private_data = nullptr;
    s->release = nullptr;
}

}  // namespace

void export_schema(value_type t, ArrowSchema* out) {
    *out = ArrowSchema{arrow_format(t), "", nullptr, arrow::flag_nullable, 0, nullptr, nullptr, &release_schema, nullptr};
}

void export_array(std::shared_ptr<const chunk> c, ArrowArray* out) {
    auto* priv = new exported_array{std::move(c), {}};
    const chunk& k = *priv->keep;
    priv->buffers[0] = k.null_count != 0 ? k.validity.get() : nullptr;
    priv->buffers[1] = k.values.get();
    priv->buffers[2] = k.data.get();
    const std::int64_t n_buffers = k.data ? 3 : 2;
    *out = ArrowArray{k.length, k.null_count, 0, n_buffers, 0, priv->buffers, nullptr, nullptr, &release_array, priv};
}

void export_stream(std::shared_ptr<const column_data> column, ArrowArrayStream* out) {
    auto* priv = new exported_stream{std::move(column), 0, {}};
    *out = ArrowArrayStream{&stream_get_schema, &stream_get_next, &stream_get_last_error, &release_stream, priv};
}

namespace {

template <class Offset>
std::shared_ptr<chunk> join_text(const column_data& column, std::int64_t bytes) {
    auto out = std::make_shared<chunk>();
    out->length = column.length;
    out->large = sizeof(Offset) == 8;
    out->values = allocate_block(static_cast<std::size_t>(column.length + 1) * sizeof(Offset));
    out->data = allocate_block(static_cast<std::size_t>(bytes));
    out->data_size = bytes;
    auto* offsets = out->values_as<Offset>();
    auto* data = static_cast<char*>(out->data.get());
    offsets[0] = 0;
    std::int64_t row = 0, at = 0;
    for (const auto& c : column.chunks) {
        const auto copy = [&](const auto* in) {
            for (std::int64_t i = 0; i < c->length; ++i) offsets[row + i + 1] = static_cast<Offset>(at + in[i + 1]);
        };
        if (c->large) {
            copy(c->values_as<std::int64_t>());
        } else {
            copy(c->values_as<std::int32_t>());
        }
        std::memcpy(data + at, c->data.get(), static_cast<std::size_t>(c->data_size));
        at += c->data_size;
        row += c->length;
    }
    return out;
}

}  // namespace

std::shared_ptr<const chunk> joined(const column_data& column) {
    if (column.chunks.size() == 1) return column.chunks[0];
    std::shared_ptr<chunk> out;
    if (is_text(column.type)) {
        std::int64_t bytes = 0;
        for (const auto& c : column.chunks) bytes += c->data_size;
        if (column.type == value_type::utf8) {
            if (bytes > std::numeric_limits<std::int32_t>::max()) return nullptr;
            out = join_text<std::int32_t>(column, bytes);
        } else {
            out = join_text<std::int64_t>(column, bytes);
        }
    } else {
        auto numbers = std::make_shared<chunk>();
        numbers->length = column.length;
        numbers->values = allocate_block(static_cast<std::size_t>(column.length) * 8);
        std::int64_t row = 0;
        for (const auto& c : column.chunks) {
            std::memcpy(static_cast<char*>(numbers->values.get()) + row * 8, c->values.get(),
                        static_cast<std::size_t>(c->length) * 8);
            row += c->length;
        }
        out = std::move(numbers);
    }
    // The validity of the joined rows, when any chunk has a null.
    std::int64_t nulls = 0;
    for (const auto& c : column.chunks) nulls += c->null_count;
    if (nulls != 0) {
        chunk& k = *out;
        k.validity = allocate_block(bitmap_bytes(column.length));
        auto* bits = static_cast<std::uint8_t*>(k.validity.get());
        std::memset(bits, 0, bitmap_bytes(column.length));
        std::int64_t row = 0;
        for (const auto& c : column.chunks) {
            if (c->null_count != 0) {
                copy_bits(static_cast<const std::uint8_t*>(c->validity.get()), 0, bits, row, c->length);
            } else {
                for (std::int64_t i = 0; i < c->length; ++i) bits[(row + i) >> 3] |= static_cast<std::uint8_t>(1u << ((row + i) & 7));
            }
            row += c->length;
        }
        k.null_count = nulls;
    }
    return out;
}

}  // namespace tavo::columns
