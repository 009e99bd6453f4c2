// 128-bit unsigned integers, for the exact products of the decimal conversions.
#pragma once

namespace tavo {

__extension__ typedef unsigned __int128 u128;  // a GCC and Clang extension

}  // namespace tavo
