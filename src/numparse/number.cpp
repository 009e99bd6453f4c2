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

// The number characters of the 16 bytes x, bit i for byte i: "(" and ")",
// "-", the decimal mark ("," and "-" are neighbours, as are "-" and "."),
// the digits.
template <decimal_mark M>
inline std::uint32_t number_lanes(vec::bytes16 x) noexcept {
    static_assert(')' == '(' + 1 && '-' == ',' + 1 && '.' == '-' + 1);
    const vec::bytes16 sign_and_mark =
        M == decimal_mark::point ? vec::in_range<'-', '.'>(x) : vec::in_range<',', '-'>(x);
    return vec::lane_bits(vec::in_range<'(', ')'>(x) | sign_and_mark | vec::in_range<'0', '9'>(x));
}

// The 16 bytes x as the filter writes them: a decimal comma becomes ".".
template <decimal_mark M>
inline vec::bytes16 as_kept(vec::bytes16 x) noexcept {
    if constexpr (M == decimal_mark::point) {
        return x;
    } else {
        static_assert('.' - ',' == 2);
        return x + (reinterpret_cast<vec::bytes16>(x == static_cast<unsigned char>(',')) & 2);
    }
}

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
            std::uint32_t lanes = number_lanes<M>(x);
            if (lanes == 0) continue;
            if (cap_ - used < 16) grow(used, used + left);
            char* const out = buf_ + used;
            if (lanes == 0xFFFF) {
                vec::store(out, as_kept<M>(x));
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
