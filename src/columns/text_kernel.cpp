// The text kernel's parts that do not depend on the function.
#include "columns/text_kernel.hpp"

#include "columns/bitmaps.hpp"

#include <cstdlib>

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

}  // namespace tavo::columns::text_kernel_detail
