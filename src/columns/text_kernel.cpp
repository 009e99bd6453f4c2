// The text kernel's parts that do not depend on the function.
#include "columns/text_kernel.hpp"

#include "columns/bitmaps.hpp"

#include <cstdlib>

namespace tavo::columns::text_kernel_detail {

const char* text_end(const string_chunk& in) noexcept {
    if (in.layout == string_layout::string_view || !in.data || in.length == 0) return nullptr;
    std::int64_t first = 0, last = 0;
    if (in.layout == string_layout::utf8) {
        first = static_cast<const std::int32_t*>(in.offsets)[in.offset];
        last = static_cast<const std::int32_t*>(in.offsets)[in.offset + in.length];
    } else {
        first = static_cast<const std::int64_t*>(in.offsets)[in.offset];
        last = static_cast<const std::int64_t*>(in.offsets)[in.offset + in.length];
    }
    return first >= 0 && last >= first ? in.data + last : nullptr;
}

std::shared_ptr<chunk> text_chunk(const string_chunk& in, offsets_writer& offsets, byte_sink& text) {
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

}  // namespace tavo::columns::text_kernel_detail
