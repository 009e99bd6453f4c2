// The text functions over columns, one record each: what the text kernel
// (text_kernel.hpp) needs to know of a conversion. A new text function is one
// record here and one row in the module's table (columns_module.cpp).
#pragma once

#include "columns/text_kernel.hpp"
#include "text/convert.hpp"

namespace tavo::columns {

struct uncamel_rows {
    static constexpr const char* name = "uncamel";
    static std::size_t capacity(std::size_t bytes) noexcept { return bytes + bytes / 4 + 64; }
    static void convert(std::string_view s, bool ascii, byte_sink& out, std::size_t readable) {
        text::uncamel(s, ascii, out, readable);
    }
};

struct underscore_to_camelcase_rows {
    static constexpr const char* name = "underscore_to_camelcase";
    static std::size_t capacity(std::size_t bytes) noexcept { return bytes + 64; }
    static void convert(std::string_view s, bool ascii, byte_sink& out, std::size_t readable) {
        text::underscore_to_camelcase(s, ascii, out, readable);
    }
};

struct sanitize_vulgar_string_rows {
    static constexpr const char* name = "sanitize_vulgar_string";
    static std::size_t capacity(std::size_t bytes) noexcept { return bytes + bytes / 16 + 64; }
    static void convert(std::string_view s, bool ascii, byte_sink& out, std::size_t) {
        // Every fraction character is outside ASCII: an ASCII row is copied.
        if (ascii || !text::sanitize_vulgar(s, out)) {
            out.reserve_more(s.size());
            out.put(s.data(), s.size());
        }
    }
};

}  // namespace tavo::columns
