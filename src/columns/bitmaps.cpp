#include "columns/bitmaps.hpp"

#include <bit>
#include <cstring>

namespace tavo::columns {

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

void set_bits(std::uint8_t* dst, std::int64_t to, std::int64_t length) noexcept {
    for (std::int64_t i = to; i < to + length; ++i) dst[i >> 3] = static_cast<std::uint8_t>(dst[i >> 3] | (1u << (i & 7)));
}

}  // namespace tavo::columns
