// What a function body sees: its bound arguments (call_args), their
// conversions and the result kinds (args.hpp), error values (error.hpp) and
// the typed views (views.hpp). Each function is declared here once: its
// description (name, parameters, how many are required, the keyword-only ones
// and the defaults), which its module's table (src/modules/) makes its
// signature and argument binding of, and its body
//     result<ref> name_body(call_args& a);
// defined in its subsystem's folder, which reads each argument by name:
// a[param(name_desc, "s")].
#pragma once

#include "boundary/args.hpp"

namespace tavo {

// --- _tavo's nine -------------------------------------------------------------------------

inline constexpr function_description parse_desc{"parse", {"s"}, 1, 1, false};
result<ref> parse_body(call_args& a);  // bodies/parse.cpp

inline constexpr function_description multikeysort_desc{
    "multikeysort", {"items", "columns", "inplace"}, 3, 2, false, 0, {"", "", "False"}};
result<ref> multikeysort_body(call_args& a);  // dictsort/multikeysort.cpp

inline constexpr function_description sanitize_desc{"sanitize_vulgar_string", {"s"}, 1, 1, false};
result<ref> sanitize_vulgar_string_body(call_args& a);  // bodies/vulgar_fractions.cpp

inline constexpr function_description uncamel_desc{"uncamel", {"camel"}, 1, 1, false};
result<ref> uncamel_body(call_args& a);  // bodies/case_conversion.cpp

inline constexpr function_description underscore_desc{"underscore_to_camelcase", {"s"}, 1, 1, false};
result<ref> underscore_to_camelcase_body(call_args& a);  // bodies/case_conversion.cpp

inline constexpr function_description collapse_desc{"collapse", {}, 0, 0, true};
result<ref> collapse_body(call_args& a);  // iter/collapse.cpp

inline constexpr function_description backfill_desc{"backfill", {"values"}, 1, 1, false};
result<ref> backfill_body(call_args& a);  // iter/backfill.cpp

inline constexpr function_description backfill_iterdict_desc{"backfill_iterdict", {"iterdict"}, 1, 1, false};
result<ref> backfill_iterdict_body(call_args& a);  // iter/backfill_iterdict.cpp

inline constexpr function_description same_order_desc{"same_order", {"ref_list", "comp"}, 2, 2, false};
result<ref> same_order_body(call_args& a);  // iter/same_order.cpp

// --- tavo's, per value (the column functions' are in columns/column_bodies.hpp) -----------

inline constexpr function_description parse_with_decimal_desc{
    "parse", {"s", "decimal"}, 2, 1, false, 1, {"", "'.'"}};
result<ref> parse_with_decimal_body(call_args& a);  // bodies/parse_decimal.cpp

inline constexpr function_description number_format_desc{"number_format", {"texts"}, 1, 1, false};
result<ref> number_format_body(call_args& a);  // bodies/number_format_body.cpp

inline constexpr function_description price_desc{"price", {"text", "decimal"}, 2, 1, false, 1, {"", "None"}};
result<ref> price_body(call_args& a);  // bodies/price_body.cpp

inline constexpr function_description keys_uncamel_desc{
    "uncamel", {"data", "depth"}, 2, 1, false, 1, {"", "None"}};
result<ref> keys_uncamel_body(call_args& a);  // keys/payload_keys.cpp

inline constexpr function_description keys_underscore_desc{
    "underscore_to_camelcase", {"data", "depth"}, 2, 1, false, 1, {"", "None"}};
result<ref> keys_underscore_to_camelcase_body(call_args& a);  // keys/payload_keys.cpp

// --- shortcuts and shared conversions -------------------------------------------------------

// The common call of the two identifier functions, one positional str that
// takes the short path (text::takes_short_path), skips binding and
// conversion: the entry wrapper passes the text straight to these, which
// return what the body would. s[n] must be readable (a str's bytes end with a
// NUL).
ref uncamel_short(const char* s, std::size_t n);  // bodies/case_conversion.cpp
ref underscore_to_camelcase_short(const char* s, std::size_t n);  // bodies/case_conversion.cpp

// What uncamel or underscore_to_camelcase gives for a str (or subclass), as an
// exact str: the conversion of its characters, for the walks that convert
// many strs (the keys of a payload). bodies/case_conversion.cpp
result<ref> uncamel_str(PyObject* s);
result<ref> underscore_to_camelcase_str(PyObject* s);

}  // namespace tavo
