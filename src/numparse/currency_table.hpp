// The currency table of the price reader: the signs, codes and short names
// written beside an amount (generated from CLDR by
// tools/gen_currency_tables.py into currency_table.inc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tavo::numparse {

struct currency_entry {
    const char* text;  // UTF-8, as written
    std::uint8_t size;
    char code[4];  // the ISO 4217 code it stands for, NUL-terminated
};

#include "numparse/currency_table.inc"

static_assert(currency_first[256] == currency_entry_count);

}  // namespace tavo::numparse
