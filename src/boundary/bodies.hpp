// What a function body sees: its bound arguments (call_args), their
// conversions and the result kinds (args.hpp), error values (error.hpp) and
// the typed views (views.hpp). A body is
//     result<ref> name_body(call_args& a);
// declared and listed in the function table (module.cpp), and defined in its
// subsystem's folder.
#pragma once

#include "boundary/args.hpp"

namespace tavo {

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
