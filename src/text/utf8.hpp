// UTF-8 code points and byte words for the text transforms.
//
// Input text comes from CPython's own UTF-8 encoder, so it is always valid
// (no surrogates, no overlong forms): decoding checks nothing.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace tavo::utf8 {

// Decodes the code point starting at `p` and moves `p` past it.
inline char32_t decode(const unsigned char*& p) noexcept {
    const unsigned char b0 = p[0];
    if (b0 < 0x80) {
        p += 1;
        return b0;
    }
    if (b0 < 0xE0) {
        const char32_t c = (char32_t{b0 & 0x1Fu} << 6) | (p[1] & 0x3Fu);
        p += 2;
        return c;
    }
    if (b0 < 0xF0) {
        const char32_t c = (char32_t{b0 & 0x0Fu} << 12) | (char32_t{p[1] & 0x3Fu} << 6) | (p[2] & 0x3Fu);
        p += 3;
        return c;
    }
    const char32_t c = (char32_t{b0 & 0x07u} << 18) | (char32_t{p[1] & 0x3Fu} << 12) |
                       (char32_t{p[2] & 0x3Fu} << 6) | (p[3] & 0x3Fu);
    p += 4;
    return c;
}

// The start of the code point that ends right before `p`.
inline const unsigned char* previous(const unsigned char* p) noexcept {
    do {
        --p;
    } while ((*p & 0xC0) == 0x80);
    return p;
}

// Writes `c` at `out` and returns the position after it (at most 4 bytes).
inline char* encode(char* out, char32_t c) noexcept {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return out + 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return out + 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return out + 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return out + 4;
}

}  // namespace tavo::utf8

namespace tavo::words {

// Eight bytes at a time, byte i of the text in bits 8i..8i+7 of the word.
inline constexpr std::uint64_t ones = 0x0101010101010101u;
inline constexpr std::uint64_t high = 0x8080808080808080u;

inline std::uint64_t load(const void* p) noexcept {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
    return x;
}

// The first `n` (< 8) bytes at `p`, the rest zero.
inline std::uint64_t load_partial(const void* p, std::size_t n) noexcept {
    unsigned char b[8] = {};
    std::memcpy(b, p, n);
    return load(b);
}

inline void store(void* p, std::uint64_t x) noexcept {
    if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
    std::memcpy(p, &x, 8);
}

// For a word of ASCII bytes: the high bit of each byte that lies in [lo, hi].
template <unsigned char lo, unsigned char hi>
inline std::uint64_t in_range(std::uint64_t x) noexcept {
    static_assert(lo >= 1 && lo <= hi && hi < 0x80);
    const std::uint64_t at_least_lo = x + ones * (0x80 - lo);
    const std::uint64_t above_hi = x + ones * (0x7F - hi);
    return at_least_lo & ~above_hi & high;
}

// Index of the byte that holds the lowest set bit of a nonzero mask.
inline unsigned first_byte(std::uint64_t mask) noexcept {
    return static_cast<unsigned>(std::countr_zero(mask)) >> 3;
}

}  // namespace tavo::words

namespace tavo::vec {

// Sixteen bytes at a time, with the compiler's vector extensions (SSE2 on
// x86-64, Advanced SIMD on AArch64). A lane comparison gives 0xFF or 0x00 per
// byte; `halves` hands the two eight-byte halves to the word code above, in
// which the high bit of each byte is the flag.
typedef unsigned char bytes16 __attribute__((vector_size(16)));
typedef std::uint64_t words2 __attribute__((vector_size(16)));

// Whether the vector code applies: lanes in memory order match the words.
inline constexpr bool available = std::endian::native == std::endian::little;

inline bytes16 load(const void* p) noexcept {
    bytes16 v;
    std::memcpy(&v, p, 16);
    return v;
}

inline void store(void* p, bytes16 v) noexcept { std::memcpy(p, &v, 16); }

// 0xFF in each byte that lies in [lo, hi].
template <unsigned char lo, unsigned char hi>
inline bytes16 in_range(bytes16 x) noexcept {
    return reinterpret_cast<bytes16>(static_cast<bytes16>(x - lo) <= static_cast<unsigned char>(hi - lo));
}

inline std::uint64_t low_half(bytes16 v) noexcept { return reinterpret_cast<words2>(v)[0]; }
inline std::uint64_t high_half(bytes16 v) noexcept { return reinterpret_cast<words2>(v)[1]; }

}  // namespace tavo::vec
