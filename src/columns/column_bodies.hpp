// The bodies of the column functions, which the module table
// (src/modules/native_module.cpp) lists: a body is
//     result<ref> name_body(call_args& a);
// and a text function's is text_body<R> of its record (text_functions.hpp).
#pragma once

#include "boundary/args.hpp"
#include "columns/kernels/text_kernel.hpp"

namespace tavo::columns {

// The text kernel of one function's rows, as text_body reads a column with it.
using text_kernel_fn = kernel_output (*)(const string_chunk& in, bool large, bool views);

result<ref> text_body_with(call_args& a, text_kernel_fn kernel);

// A text function over a column: `source`.
template <text_rows R>
result<ref> text_body(call_args& a) {
    return text_body_with(a, &run_text_kernel<R>);
}

// parse(source, type=None, *, decimal='infer')
result<ref> parse_body(call_args& a);
// price(source, *, decimal=None)
result<ref> price_body(call_args& a);
// number_format(source)
result<ref> format_body(call_args& a);

// What the module holding the column functions makes once: its Column type (set
// as the attribute `Column`), and sys.get_int_max_str_digits, taken for parse.
status prepare_columns(PyObject* module);

}  // namespace tavo::columns
