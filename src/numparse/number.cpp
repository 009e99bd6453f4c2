// The out-of-line part of the number reading: the filter of a long text,
// sixteen bytes at a time, and the scratch buffer's growth (the rest is
// inline, number_read.hpp).
#include "numparse/number.hpp"

#include "shared/byte_words.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tavo::numparse {
namespace {

// Below this much free room a long input moves to a larger buffer instead of
// being filtered in ever smaller steps.
constexpr std::size_t min_room = 16;

}  // namespace

template <decimal_mark M>
std::string_view number_scratch::filter_long(std::string_view in) {
    const char* p = in.data();
    std::size_t left = in.size();
    std::size_t used = 0;
    if constexpr (vec::available) {
        // Sixteen bytes at a time: in a long text most blocks hold no number
        // character and are passed over; the others give theirs one by one.
        for (; left >= 16; p += 16, left -= 16) {
            const vec::bytes16 x = vec::load(p);
            std::uint32_t lanes = detail::number_lanes<M>(x);
            if (lanes == 0) continue;
            if (cap_ - used < 16) grow(used, used + left);
            char* const out = buf_ + used;
            if (lanes == 0xFFFF) {
                vec::store(out, detail::as_kept<M>(x));
                used += 16;
                continue;
            }
            std::size_t k = 0;
            for (; lanes != 0; lanes &= lanes - 1) {
                out[k++] = detail::as_kept<M>(p[std::countr_zero(lanes)]);
            }
            used += k;
        }
    }
    while (left != 0) {
        if (cap_ - used < min_room && left > cap_ - used) grow(used, used + left);
        // Branch-free: every byte is written, only number characters advance;
        // a step never writes past the buffer. Locals, since stores through a
        // char pointer could alias the members.
        const std::size_t step = std::min(cap_ - used, left);
        char* const out = buf_;
        std::size_t n = used;
        for (std::size_t i = 0; i < step; ++i) {
            out[n] = detail::as_kept<M>(p[i]);
            n += detail::number_chars<M>[static_cast<unsigned char>(p[i])];
        }
        used = n;
        p += step;
        left -= step;
    }
    return {buf_, used};
}

template std::string_view number_scratch::filter_long<decimal_mark::point>(std::string_view);
template std::string_view number_scratch::filter_long<decimal_mark::comma>(std::string_view);

void number_scratch::grow(std::size_t used, std::size_t cap) {
    std::unique_ptr<char[]> bigger(new char[cap]);
    std::memcpy(bigger.get(), buf_, used);
    large_ = std::move(bigger);
    buf_ = large_.get();
    cap_ = cap;
}

}  // namespace tavo::numparse
