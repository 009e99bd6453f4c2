// Arrow validity bitmaps: bit i set means row i has a value, least
// significant bit first, as Arrow numbers them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavo::columns {

inline bool bit_is_set(const std::uint8_t* bits, std::int64_t i) noexcept {
    return (bits[i >> 3] >> (i & 7)) & 1;
}

inline std::size_t bitmap_bytes(std::int64_t length) noexcept { return static_cast<std::size_t>((length + 7) / 8); }

// Copies `length` bits starting at bit `from` of `src` into `dst` starting at bit `to`.
void copy_bits(const std::uint8_t* src, std::int64_t from, std::uint8_t* dst, std::int64_t to, std::int64_t length) noexcept;

// Sets `length` bits of `dst` starting at bit `to`.
void set_bits(std::uint8_t* dst, std::int64_t to, std::int64_t length) noexcept;

std::int64_t count_set_bits(const std::uint8_t* bits, std::int64_t from, std::int64_t length) noexcept;

}  // namespace tavo::columns
