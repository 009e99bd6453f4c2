// The nine function bodies, each defined in its subsystem's folder. A body
// receives its bound arguments, converts them, computes, and returns a new
// reference or an error value.
#pragma once

#include "boundary/args.hpp"

namespace tavo {

result<ref> parse_body(call_args& a);                    // src/numparse
result<ref> multikeysort_body(call_args& a);             // src/dictsort
result<ref> sanitize_vulgar_string_body(call_args& a);   // src/text
result<ref> uncamel_body(call_args& a);                  // src/text
result<ref> underscore_to_camelcase_body(call_args& a);  // src/text
result<ref> collapse_body(call_args& a);                 // src/iter
result<ref> backfill_body(call_args& a);                 // src/iter
result<ref> backfill_iterdict_body(call_args& a);        // src/iter
result<ref> same_order_body(call_args& a);               // src/iter

// The common call of the two identifier functions, one positional str of 1
// to short_identifier ASCII bytes, skips binding and conversion: the entry
// wrapper passes the text straight to these, which return what the body
// would. s[n] must be readable (a str's bytes end with a NUL).
constexpr std::size_t short_identifier = 32;
ref uncamel_short(const char* s, std::size_t n);                  // src/text
ref underscore_to_camelcase_short(const char* s, std::size_t n);  // src/text

}  // namespace tavo
