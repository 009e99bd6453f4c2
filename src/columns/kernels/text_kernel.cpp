// The text kernel's parts that do not depend on the function.
#include "columns/kernels/text_kernel.hpp"

#include "columns/bitmaps.hpp"

#include <cstdlib>
#include <cstring>

namespace tavo::columns::text_kernel_detail {

std::shared_ptr<chunk> text_chunk(const string_chunk& in, offsets_writer& offsets, byte_sink& text,
                                  views_writer* views) {
    auto out = std::make_shared<chunk>();
    out->type = offsets.large() ? value_type::large_utf8 : value_type::utf8;
    out->length = in.length;
    out->values = offsets.take();
    std::size_t size = 0;
    out->data = block(text.take(size));
    // The room left over from the estimate goes back (in place: a block only shrinks).
    if (void* fitted = std::realloc(out->data.get(), size == 0 ? 1 : size)) {
        (void)out->data.release();
        out->data.reset(fitted);
    }
    out->data_size = static_cast<std::int64_t>(size);
    if (views && !views->spoilt()) views->finish(*out);  // else the offsets stay
    if (in.validity) {
        const std::int64_t nulls = in.length - count_set_bits(in.validity, in.offset, in.length);
        if (nulls != 0) {
            out->validity = allocate_block(bitmap_bytes(in.length));
            copy_bits(in.validity, in.offset, static_cast<std::uint8_t*>(out->validity.get()), 0, in.length);
            out->null_count = nulls;
        }
    }
    return out;
}

namespace {

template <class Offset>
std::shared_ptr<chunk> copy_if_ascii(const string_chunk& in, value_type type) {
    const Offset* off = static_cast<const Offset*>(in.offsets) + in.offset;
    const std::int64_t first = in.first_offset, last = in.last_offset;
    if (first < 0 || last < first) return nullptr;
    // The extent first (text that is not ASCII shows in its first block), then
    // the offsets: never decreasing from the first to the last, every row
    // inside the extent.
    const auto bytes = static_cast<std::size_t>(last - first);
    if (!span_ascii(in.data + first, bytes)) return nullptr;
    bool ordered = true;
    for (std::int64_t i = 0; i < in.length; ++i) ordered &= off[i] <= off[i + 1];
    if (!ordered) return nullptr;
    auto out = std::make_shared<chunk>();
    out->type = type;
    out->length = in.length;
    out->values = allocate_block(static_cast<std::size_t>(in.length + 1) * sizeof(Offset));
    auto* shifted = static_cast<Offset*>(out->values.get());
    for (std::int64_t i = 0; i <= in.length; ++i) shifted[i] = static_cast<Offset>(off[i] - first);
    out->data = allocate_block(bytes);
    std::memcpy(out->data.get(), in.data + first, bytes);
    out->data_size = static_cast<std::int64_t>(bytes);
    return out;
}

}  // namespace

std::shared_ptr<chunk> copied_ascii_chunk(const string_chunk& in) {
    if (in.validity || in.length == 0 || !in.data) return nullptr;
    switch (in.layout) {
        case string_layout::utf8: return copy_if_ascii<std::int32_t>(in, value_type::utf8);
        case string_layout::large_utf8: return copy_if_ascii<std::int64_t>(in, value_type::large_utf8);
        case string_layout::string_view: return nullptr;
    }
    return nullptr;
}

}  // namespace tavo::columns::text_kernel_detail
