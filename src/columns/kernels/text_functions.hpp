// The text functions over columns, one record each: what the text kernel
// (text_kernel.hpp) needs to know of a conversion, and what the function's
// docstring says of it:
//   summary                   its first line, after the signature
//   returns (if any)          what follows "Returns:\n    Column: "; without
//                             it, each row is the per-element function's result,
//                             in the text types uncamel's says
// (the module writes the signature, `(source)`, and the source's description).
// A new text function is one record here, named in `text_functions` below: the
// module table (src/modules/native_module.cpp) is built from that list.
#pragma once

#include "columns/kernels/text_kernel.hpp"
#include "text/convert.hpp"

namespace tavo::columns {

// The rows of a case conversion: the per-element core converts each row,
// the short ones with the writer of the kernel's path.
template <class Form, void (*Text)(std::string_view, bool, std::size_t, byte_sink&)>
struct core_rows {
    static constexpr bool ascii_unchanged = false;
    static constexpr bool by_path = true;
    template <cpu::path P>
    [[gnu::always_inline]] static void convert(std::string_view s, bool ascii, byte_sink& out, std::size_t readable) {
        text::convert_one<Form, P, Text>(s, ascii, readable, out);
    }
};

struct uncamel_rows : core_rows<text::uncamel_form, text::uncamel_text> {
    static constexpr char name[] = "uncamel";
    static constexpr char summary[] = "Convert every string of an Arrow string column from camelCase to snake_case.";
    static constexpr char returns[] =
        "one chunk per input chunk; each row is uncamel() of the input row, null\n"
        "    for null. utf8 in gives utf8 (large_utf8 when the text passes 2**31 - 1 bytes),\n"
        "    large_utf8 gives large_utf8, string_view gives string_view.";
    static std::size_t capacity(std::size_t bytes) noexcept { return bytes + bytes / 4 + 64; }
};

struct underscore_to_camelcase_rows : core_rows<text::camelcase_form, text::underscore_to_camelcase_text> {
    static constexpr char name[] = "underscore_to_camelcase";
    static constexpr char summary[] =
        "Convert every string of an Arrow string column from underscore_delimited_text to camelCase.";
    static std::size_t capacity(std::size_t bytes) noexcept { return bytes + 64; }
};

struct sanitize_vulgar_string_rows {
    static constexpr char name[] = "sanitize_vulgar_string";
    static constexpr char summary[] =
        "Replace vulgar fractions with decimal equivalents in every string of an Arrow string column.";
    static std::size_t capacity(std::size_t bytes) noexcept { return bytes + bytes / 16 + 64; }
    // Every fraction character is outside ASCII: an ASCII row is copied.
    static constexpr bool ascii_unchanged = true;
    static constexpr bool by_path = false;
    template <cpu::path>
    static void convert(std::string_view s, bool ascii, byte_sink& out, std::size_t) {
        if (ascii || !text::sanitize_vulgar(s, out)) {
            out.reserve_more(s.size());
            out.put(s.data(), s.size());
        }
    }
};

// A text function as the module lists it: its rows and its docstring's summary.
template <class R>
concept text_function = text_rows<R> && requires {
    { R::summary } -> std::convertible_to<const char*>;
};

template <text_function... R>
struct function_list {};

// The module's text functions, in the order of its table.
using text_functions = function_list<uncamel_rows, underscore_to_camelcase_rows, sanitize_vulgar_string_rows>;

}  // namespace tavo::columns
