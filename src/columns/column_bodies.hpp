// The column functions, each declared once, as the per-value ones are in
// bodies/bodies.hpp: its description, its body
//     result<ref> name_body(call_args& a);
// which reads its arguments by name, and its docstring, in the list
// column_functions that the module table (src/modules/native_module.cpp) is
// made of. A text function's are text_function_desc<R> and text_body<R> of its
// record (text_functions.hpp).
#pragma once

#include "boundary/args.hpp"
#include "boundary/declaration.hpp"
#include "columns/arrow/arrow_import.hpp"
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

// What the docstring of a column function says of its source.
inline constexpr auto source_doc =
    doc("Args:\n    source: ") + accepted_columns +
    ":\n    a pyarrow Array or ChunkedArray, a polars or pandas Series, ... Anything else\n"
    "    raises TypeError; malformed Arrow data (bad offsets or views, text that is not\n"
    "    UTF-8) raises ValueError naming the row.\n";

inline constexpr function_description column_parse_desc{
    "parse", {"source", "type", "decimal"}, 3, 1, false, 1, {"", "None", "'infer'"}};
result<ref> parse_body(call_args& a);
inline constexpr declared_function column_parse_function{
    column_parse_desc, parse_body,
    "Extract a number from every string of an Arrow string column.\n\n" + source_doc +
        "    type: None (inferred: 'int64' when every number read is an int within 64 bits, else\n"
        "        'float64'), 'int64' or 'float64'.\n"
        "    decimal: the decimal mark, '.' or ',' (the other one is dropped like any separator),\n"
        "        as for tavo.parse(); or 'infer' (the default): the mark that number_format()\n"
        "        decides from the whole column, and ValueError, with the rows' evidence, when it\n"
        "        decides none. Anything else raises ValueError.\n\n"
        "Returns:\n    Column of int64 or float64: each row is parse() of the input row, null where\n"
        "    parse() gives None (and for null rows). float64 holds each int as the nearest double,\n"
        "    as float() gives it; an int beyond the float range is inf or -inf. A forced 'int64'\n"
        "    never wraps: a value that int64 cannot hold exactly (a fraction, a number outside\n"
        "    64 bits) is null. A digit string longer than sys.get_int_max_str_digits() is null,\n"
        "    as parse() gives None for it.",
    "columns_parse"};

inline constexpr function_description column_price_desc{
    "price", {"source", "decimal"}, 2, 1, false, 1, {"", "None"}};
result<ref> price_body(call_args& a);
inline constexpr declared_function column_price_function{
    column_price_desc, price_body,
    "Read the amount and the currency of every price text of an Arrow string column.\n\n" + source_doc +
        "    decimal: None (the default: each text decides its own decimal mark), '.' or ',', as\n"
        "        for tavo.price(). Anything else raises ValueError.\n\n"
        "Returns:\n    Column of struct<amount: float64, currency: utf8>: each row is tavo.price() of the\n"
        "    input row, its amount as the nearest double (as float() gives an int; an int beyond\n"
        "    the float range is inf or -inf), its currency the text price() gives, null where it\n"
        "    has none; the row is null where price() gives None (and for null rows).",
    "columns_price"};

inline constexpr function_description column_format_desc{"number_format", {"source"}, 1, 1, false};
result<ref> format_body(call_args& a);
inline constexpr declared_function column_format_function{
    column_format_desc, format_body,
    "The evidence of every row of an Arrow string column for its decimal mark, and the mark\n"
        "decided from it all (as tavo.number_format() reads a list of texts; a null row shows\n"
        "neither mark).\n\n" + source_doc +
        "\nReturns:\n    (decimal, point_rows, comma_rows, either_rows, neither_rows, point_example,\n"
        "    comma_example, either_example), which tavo.columns.number_format gives as a\n"
        "    tavo.NumberFormat.",
    "columns_number_format"};

// The column functions but the text ones, in the module table's order.
using column_functions = declared_list<column_parse_function, column_format_function, column_price_function>;

// What the module holding the column functions makes once: its Column type (set
// as the attribute `Column`), and sys.get_int_max_str_digits, taken for parse.
status prepare_columns(PyObject* module);

}  // namespace tavo::columns
