#include "columns/column_data.hpp"

#include "boundary/error.hpp"
#include "columns/bitmaps.hpp"

#include <cstring>
#include <limits>

#include <sys/mman.h>

namespace tavo::columns {

const char* type_name(value_type t) noexcept {
    switch (t) {
        case value_type::utf8: return "utf8";
        case value_type::large_utf8: return "large_utf8";
        case value_type::string_view: return "string_view";
        case value_type::int64: return "int64";
        case value_type::float64: return "float64";
        case value_type::price: return "struct<amount: float64, currency: utf8>";
        case value_type::large_price: return "struct<amount: float64, currency: large_utf8>";
    }
    return "";
}

void prefer_huge_pages(void* p, std::size_t n) noexcept {
    constexpr std::uintptr_t huge = std::uintptr_t{2} << 20;
    if (n < 2 * huge) return;
    const auto start = (reinterpret_cast<std::uintptr_t>(p) + huge - 1) & ~(huge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(p) + n) & ~(huge - 1);
    if (end > start) (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

block wider_offsets(const std::int32_t* narrow, std::int64_t filled, std::int64_t size) {
    block wide = allocate_block(static_cast<std::size_t>(size) * 8);
    auto* out = static_cast<std::int64_t*>(wide.get());
    for (std::int64_t i = 0; i < filled; ++i) out[i] = narrow[i];
    return wide;
}

namespace {

template <class Offset>
bool offsets_to_views(chunk& c) {
    const Offset* offsets = c.values_as<Offset>();
    views_writer views(c.length);
    for (std::int64_t i = 0; i < c.length; ++i) {
        const auto start = static_cast<std::int64_t>(offsets[i]);
        views.put(i, static_cast<const char*>(c.data.get()), start, static_cast<std::int64_t>(offsets[i + 1]) - start,
                  c.data_size);
    }
    if (views.spoilt()) return false;
    views.finish(c);
    return true;
}

// The rows of a string_view chunk made by views_writer lie one after the other in its
// text: their offsets are the running sum of their sizes. Writes out[1..length], each from
// the one before (out[0] is the caller's).
void sum_view_sizes(const chunk& c, std::int64_t* out) noexcept {
    const auto* views = static_cast<const char*>(c.values.get());
    for (std::int64_t i = 0; i < c.length; ++i) {
        std::int32_t size;
        std::memcpy(&size, views + i * 16, 4);
        out[i + 1] = out[i] + size;
    }
}

// A string_view chunk made by views_writer back to large_utf8 over the same text.
void views_to_offsets(chunk& c) {
    block offsets = allocate_block(static_cast<std::size_t>(c.length + 1) * 8);
    auto* out = static_cast<std::int64_t*>(offsets.get());
    out[0] = 0;
    sum_view_sizes(c, out);
    c.values = std::move(offsets);
    c.view_buffers.clear();
    c.view_sizes.reset();
    c.type = value_type::large_utf8;
}

}  // namespace

void views_writer::finish(chunk& c) {
    block sizes = allocate_block(starts_.size() * 8);
    for (std::size_t k = 0; k < starts_.size(); ++k) {
        const std::int64_t end = k + 1 < starts_.size() ? starts_[k + 1] : c.data_size;
        static_cast<std::int64_t*>(sizes.get())[k] = end - starts_[k];
    }
    c.values = std::move(views_);
    c.view_buffers = std::move(starts_);
    c.view_sizes = std::move(sizes);
    c.type = value_type::string_view;
}

bool to_views(chunk& c) {
    if (c.type == value_type::string_view) return true;
    return c.type == value_type::utf8 ? offsets_to_views<std::int32_t>(c) : offsets_to_views<std::int64_t>(c);
}

void ints_to_doubles(void* p, std::int64_t n) noexcept {
    auto* values = static_cast<char*>(p);
    for (std::int64_t i = 0; i < n; ++i) {
        std::int64_t v;
        std::memcpy(&v, values + i * 8, 8);
        const auto d = static_cast<double>(v);
        std::memcpy(values + i * 8, &d, 8);
    }
}

namespace {

// The wider type of t's kind (t itself when it is the wider one).
value_type wider(value_type t) noexcept {
    switch (t) {
        case value_type::utf8:
        case value_type::large_utf8:
        case value_type::string_view: return value_type::large_utf8;
        case value_type::int64:
        case value_type::float64: return value_type::float64;
        case value_type::price:
        case value_type::large_price: return value_type::large_price;
    }
    return t;
}

// Gives `c` the wider type `to` of its kind.
void widen(chunk& c, value_type to) {
    if (c.type == to) return;
    if (wider(c.type) != to) fail("a chunk is widened only to the wider type of its kind");
    if (to == value_type::large_price) {
        chunk& currency = *c.children.at(1);
        currency.values = wider_offsets(currency.values_as<std::int32_t>(), currency.length + 1, currency.length + 1);
        currency.type = value_type::large_utf8;
    } else if (to == value_type::large_utf8 && c.type == value_type::string_view) {
        views_to_offsets(c);
    } else if (to == value_type::large_utf8) {
        c.values = wider_offsets(c.values_as<std::int32_t>(), c.length + 1, c.length + 1);
    } else {
        ints_to_doubles(c.values.get(), c.length);
    }
    c.type = to;
}

}  // namespace

std::shared_ptr<const column_data> column_of(std::vector<std::shared_ptr<chunk>> chunks, value_type type) {
    for (const auto& c : chunks) {
        if (c->type == wider(type)) type = c->type;
    }
    auto column = std::make_shared<column_data>();
    column->type = type;
    column->chunks.reserve(chunks.size());
    for (auto& c : chunks) {
        widen(*c, type);
        column->length += c->length;
        column->chunks.push_back(std::move(c));
    }
    return column;
}

namespace {

template <class Offset>
std::shared_ptr<chunk> join_text(const column_data& column, std::int64_t bytes) {
    auto out = std::make_shared<chunk>();
    out->type = column.type;
    out->length = column.length;
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
        if (c->type == value_type::large_utf8) {
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

// string_view chunks made by to_views joined: their texts one after the other, the views
// made again over the joined text.
std::shared_ptr<chunk> join_views(const column_data& column, std::int64_t bytes) {
    auto out = std::make_shared<chunk>();
    out->type = value_type::large_utf8;
    out->length = column.length;
    out->values = allocate_block(static_cast<std::size_t>(column.length + 1) * 8);
    out->data = allocate_block(static_cast<std::size_t>(bytes));
    out->data_size = bytes;
    auto* offsets = out->values_as<std::int64_t>();
    auto* data = static_cast<char*>(out->data.get());
    offsets[0] = 0;
    std::int64_t row = 0, at = 0;
    for (const auto& c : column.chunks) {
        sum_view_sizes(*c, offsets + row);
        row += c->length;
        std::memcpy(data + at, c->data.get(), static_cast<std::size_t>(c->data_size));
        at += c->data_size;
    }
    if (!to_views(*out)) fail("joined string_view rows are each of a view's size");
    return out;
}

}  // namespace

// The rows of every chunk, one after the other (the chunks are of the column's type).
std::shared_ptr<const chunk> joined(const column_data& column) {
    if (column.chunks.size() == 1) return column.chunks[0];
    std::shared_ptr<chunk> out;
    if (is_price(column.type)) {
        // each field joined as a column of its own
        auto price = std::make_shared<chunk>();
        price->type = column.type;
        price->length = column.length;
        for (std::size_t f = 0; f < 2; ++f) {
            column_data field;
            field.type = f == 0                                 ? value_type::float64
                         : column.type == value_type::large_price ? value_type::large_utf8
                                                                  : value_type::utf8;
            field.length = column.length;
            for (const auto& c : column.chunks) field.chunks.push_back(c->children.at(f));
            std::shared_ptr<const chunk> one = joined(field);
            if (!one) return nullptr;
            // a field of one chunk is that chunk, shared and never written again
            price->children.push_back(std::const_pointer_cast<chunk>(std::move(one)));
        }
        out = std::move(price);
    } else if (is_text(column.type)) {
        std::int64_t bytes = 0;
        for (const auto& c : column.chunks) bytes += c->data_size;
        if (column.type == value_type::utf8) {
            if (bytes > std::numeric_limits<std::int32_t>::max()) return nullptr;
            out = join_text<std::int32_t>(column, bytes);
        } else if (column.type == value_type::string_view) {
            out = join_views(column, bytes);
        } else {
            out = join_text<std::int64_t>(column, bytes);
        }
    } else {
        auto numbers = std::make_shared<chunk>();
        numbers->type = column.type;
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
                set_bits(bits, row, c->length);
            }
            row += c->length;
        }
        k.null_count = nulls;
    }
    return out;
}

}  // namespace tavo::columns
