// The text kernels: uncamel, underscore_to_camelcase and
// sanitize_vulgar_string over one chunk, row by row through the text cores.
//
// All rows write into one byte_sink, sized once from the input's text and
// grown geometrically when a conversion makes the text longer; the offsets
// are written as the rows are, and the validity bitmap is the input's,
// shifted to start at bit 0.
#include "columns/kernels.hpp"

#include "text/byte_sink.hpp"
#include "text/convert.hpp"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace tavo::columns {

void widen_offsets(chunk& c) {
    if (c.large) return;
    block wide = allocate_block(static_cast<std::size_t>(c.length + 1) * 8);
    const auto* narrow = c.values_as<std::int32_t>();
    auto* out = static_cast<std::int64_t*>(wide.get());
    for (std::int64_t i = 0; i <= c.length; ++i) out[i] = narrow[i];
    c.values = std::move(wide);
    c.large = true;
}

namespace {

constexpr std::int64_t max_int32 = std::numeric_limits<std::int32_t>::max();

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
        } else if (v <= max_int32) {
            static_cast<std::int32_t*>(buf_.get())[i] = static_cast<std::int32_t>(v);
        } else {
            widen(i);
            static_cast<std::int64_t*>(buf_.get())[i] = v;
        }
    }

    bool large() const noexcept { return large_; }
    block take() noexcept { return std::move(buf_); }

private:
    // Entries 0..filled-1 are written.
    void widen(std::int64_t filled) {
        block wide = allocate_block(static_cast<std::size_t>(length_ + 1) * 8);
        const auto* narrow = static_cast<const std::int32_t*>(buf_.get());
        auto* out = static_cast<std::int64_t*>(wide.get());
        for (std::int64_t i = 0; i < filled; ++i) out[i] = narrow[i];
        buf_ = std::move(wide);
        large_ = true;
    }

    std::int64_t length_;
    bool large_;
    block buf_;
};

// Room for the output at the start: the input's text, plus what the
// conversion usually adds.
std::size_t first_capacity(text_function f, const string_chunk& in) {
    const auto bytes = static_cast<std::size_t>(in.text_bytes_hint);
    switch (f) {
        case text_function::uncamel: return bytes + bytes / 4 + 64;
        case text_function::underscore_to_camelcase: return bytes + 64;
        case text_function::sanitize_vulgar: return bytes + bytes / 16 + 64;
    }
    return bytes + 64;
}

template <text_function F>
inline void convert_row(std::string_view s, bool ascii, const char* end, byte_sink& out) {
    const std::size_t readable = end ? static_cast<std::size_t>(end - s.data()) : s.size();
    if constexpr (F == text_function::uncamel) {
        text::uncamel(s, ascii, out, readable);
    } else if constexpr (F == text_function::underscore_to_camelcase) {
        text::underscore_to_camelcase(s, ascii, out, readable);
    } else {
        // Every fraction character is outside ASCII: an ASCII row is copied.
        if (ascii || !text::sanitize_vulgar(s, out)) {
            out.reserve_more(s.size());
            out.put(s.data(), s.size());
        }
    }
}

template <text_function F>
kernel_output convert_chunk(const string_chunk& in, bool large) {
    const std::size_t capacity = first_capacity(F, in);
    byte_sink sink(capacity);
    prefer_huge_pages(const_cast<char*>(sink.data()), capacity);
    offsets_writer offsets(in.length, large);
    std::optional<row_fault> fault = walk_rows(
        in,
        [&](std::int64_t i, std::string_view s, bool ascii, const char* end) {
            convert_row<F>(s, ascii, end, sink);
            offsets.put(i + 1, sink.size());
        },
        [&](std::int64_t i) { offsets.put(i + 1, sink.size()); });
    if (fault) return {nullptr, std::move(fault)};

    auto out = std::make_shared<chunk>();
    out->length = in.length;
    out->large = offsets.large();
    out->values = offsets.take();
    std::size_t size = 0;
    out->data = block(sink.take(size));
    // The room left over from the estimate goes back (in place: a block only shrinks).
    if (void* fitted = std::realloc(out->data.get(), size == 0 ? 1 : size)) {
        (void)out->data.release();
        out->data.reset(fitted);
    }
    out->data_size = static_cast<std::int64_t>(size);
    if (in.validity) {
        const std::int64_t nulls = in.length - count_set_bits(in.validity, in.offset, in.length);
        if (nulls != 0) {
            out->validity = allocate_block(bitmap_bytes(in.length));
            copy_bits(in.validity, in.offset, static_cast<std::uint8_t*>(out->validity.get()), 0, in.length);
            out->null_count = nulls;
        }
    }
    return {std::move(out), std::nullopt};
}

}  // namespace

kernel_output run_text_kernel(text_function f, const string_chunk& in, bool large) {
    switch (f) {
        case text_function::uncamel: return convert_chunk<text_function::uncamel>(in, large);
        case text_function::underscore_to_camelcase:
            return convert_chunk<text_function::underscore_to_camelcase>(in, large);
        case text_function::sanitize_vulgar: return convert_chunk<text_function::sanitize_vulgar>(in, large);
    }
    return {nullptr, row_fault{-1, "unknown text function"}};
}

}  // namespace tavo::columns
