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
result<ref> parse_body(call_args& a);                    // src/numparse
result<ref> multikeysort_body(call_args& a);             // src/dictsort
result<ref> sanitize_vulgar_string_body(call_args& a);   // src/text
result<ref> uncamel_body(call_args& a);                  // src/text
result<ref> underscore_to_camelcase_body(call_args& a);  // src/text
result<ref> collapse_body(call_args& a);                 // src/iter
result<ref> backfill_body(call_args& a);                 // src/iter
result<ref> backfill_iterdict_body(call_args& a);        // src/iter
result<ref> same_order_body(call_args& a);               // src/iter

// tavo's, per value (the column functions' are in columns/column_bodies.hpp)
result<ref> parse_with_decimal_body(call_args& a);            // src/numparse
result<ref> number_format_body(call_args& a);                 // src/numparse
result<ref> price_body(call_args& a);                         // src/numparse
result<ref> keys_uncamel_body(call_args& a);                  // src/iter
result<ref> keys_underscore_to_camelcase_body(call_args& a);  // src/iter

// The common call of the two identifier functions, one positional str that
// takes the short path (text::takes_short_path), skips binding and
// conversion: the entry wrapper passes the text straight to these, which
// return what the body would. s[n] must be readable (a str's bytes end with a
// NUL).
ref uncamel_short(const char* s, std::size_t n);                  // src/text
ref underscore_to_camelcase_short(const char* s, std::size_t n);  // src/text

// What uncamel or underscore_to_camelcase gives for a str (or subclass), as an
// exact str: the conversion of its characters, for the walks that convert
// many strs (the keys of a payload). src/text
result<ref> uncamel_str(PyObject* s);
result<ref> underscore_to_camelcase_str(PyObject* s);

}  // namespace tavo
