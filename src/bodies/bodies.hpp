// What a function body sees: its bound arguments (call_args), their
// conversions and the result kinds (args.hpp), error values (error.hpp) and
// the typed views (views.hpp). A body is
//     result<ref> name_body(call_args& a);
// declared here, listed in its module's table (src/modules/), and defined in
// its subsystem's folder.
#pragma once

#include "boundary/args.hpp"

namespace tavo {

// _tavo's nine
result<ref> parse_body(call_args& a);  // bodies/parse.cpp
result<ref> multikeysort_body(call_args& a);  // dictsort/multikeysort.cpp
result<ref> sanitize_vulgar_string_body(call_args& a);  // bodies/vulgar_fractions.cpp
result<ref> uncamel_body(call_args& a);  // bodies/case_conversion.cpp
result<ref> underscore_to_camelcase_body(call_args& a);  // bodies/case_conversion.cpp
result<ref> collapse_body(call_args& a);  // iter/collapse.cpp
result<ref> backfill_body(call_args& a);  // iter/backfill.cpp
result<ref> backfill_iterdict_body(call_args& a);  // iter/backfill_iterdict.cpp
result<ref> same_order_body(call_args& a);  // iter/same_order.cpp

// tavo's, per value (the column functions' are in columns/column_bodies.hpp)
result<ref> parse_with_decimal_body(call_args& a);  // bodies/parse_decimal.cpp
result<ref> number_format_body(call_args& a);  // bodies/number_format_body.cpp
result<ref> price_body(call_args& a);  // bodies/price_body.cpp
result<ref> keys_uncamel_body(call_args& a);  // keys/payload_keys.cpp
result<ref> keys_underscore_to_camelcase_body(call_args& a);  // keys/payload_keys.cpp

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
