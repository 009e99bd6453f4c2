// UTF-8 code points for the text transforms.
//
// Input text is always valid (no surrogates, no overlong forms): it comes
// from CPython's own UTF-8 encoder, or from a column checked before any
// conversion reads it. Decoding checks nothing.
#pragma once

#include <cstdint>

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
