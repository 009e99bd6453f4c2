// The text conversions over UTF-8 bytes, shared by the per-element functions
// and the column kernels. They know nothing of Python objects: they run with
// or without the interpreter lock, on any number of threads at once. Each
// appends its result to `out`; the only failure is std::bad_alloc.
//
// `in` is valid UTF-8 (the conversions check nothing), and `ascii` is true
// when every byte of it is below 0x80: the caller knows that cheaply (a str's
// flag, a column's scan), and ASCII text takes a path that works on sixteen or
// eight bytes at a time.
#pragma once

#include "text/byte_sink.hpp"

#include <string_view>

namespace tavo::text {

// camelCase to snake_case.
void uncamel(std::string_view in, bool ascii, byte_sink& out);

// snake_case to camelCase.
void underscore_to_camelcase(std::string_view in, bool ascii, byte_sink& out);

// Each vulgar fraction character, with the whole number written in front of
// it, becomes one decimal number. Appends the result and returns true, or
// returns false and appends nothing when the text has no fraction character.
bool sanitize_vulgar(std::string_view in, byte_sink& out);

}  // namespace tavo::text
