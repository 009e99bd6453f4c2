// The column functions, each declared once, as the per-value ones are in
// bodies/bodies.hpp: its description, which the module table
// (src/modules/native_module.cpp) lists, and its body
//     result<ref> name_body(call_args& a);
// which reads its arguments by name. A text function's are
// text_function_desc<R> and text_body<R> of its record (text_functions.hpp).
#pragma once

#include "boundary/args.hpp"
#include "columns/kernels/text_kernel.hpp"

namespace tavo::columns {

// The text kernel of one function's rows, as text_body reads a column with it.
using text_kernel_fn = kernel_output (*)(const string_chunk& in, bool large, bool views);

result<ref> text_body_with(PyObject* source, text_kernel_fn kernel);

// A text function over a column: `source`.
template <class R>
inline constexpr function_description text_function_desc{R::name, {"source"}, 1, 1, false};

template <text_rows R>
result<ref> text_body(call_args& a) {
    return text_body_with(a[param(text_function_desc<R>, "source")], &run_text_kernel<R>);
}

inline constexpr function_description column_parse_desc{
    "parse", {"source", "type", "decimal"}, 3, 1, false, 1, {"", "None", "'infer'"}};
result<ref> parse_body(call_args& a);

inline constexpr function_description column_price_desc{
    "price", {"source", "decimal"}, 2, 1, false, 1, {"", "None"}};
result<ref> price_body(call_args& a);

inline constexpr function_description column_format_desc{"number_format", {"source"}, 1, 1, false};
result<ref> format_body(call_args& a);

// What the module holding the column functions makes once: its Column type (set
// as the attribute `Column`), and sys.get_int_max_str_digits, taken for parse.
status prepare_columns(PyObject* module);

}  // namespace tavo::columns
