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

}  // namespace tavo
