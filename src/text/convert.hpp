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

#include "shared/cpu_paths.hpp"
#include "text/byte_sink.hpp"
#include "text/short_ascii.hpp"

#include <cstddef>
#include <string_view>

namespace tavo::text {

// The two case conversions of any text (convert_case.cpp), short
// identifiers included; `readable` bytes from in.data() may be read (at
// least in.size()).
void uncamel_text(std::string_view in, bool ascii, std::size_t readable, byte_sink& out);
void underscore_to_camelcase_text(std::string_view in, bool ascii, std::size_t readable, byte_sink& out);

// One text converted into `out`, the short identifiers of short_ascii.hpp
// written here, inline, in one step, by the writer of path P (the caller's
// choice: a column kernel compiled for that path). `readable` is how many
// bytes from in.data() may be read (at least in.size()): a column's rows are
// followed by the rest of its buffer, and with short_reach of them readable
// the short writer loads and stores whole words or vectors past the row's end
// (the stores land in the room `out` keeps past its cursor). A per-element
// caller passes in.size().
template <class Form, cpu::path P, void (*Text)(std::string_view, bool, std::size_t, byte_sink&)>
[[gnu::always_inline]] inline void convert_one(std::string_view in, bool ascii, std::size_t readable, byte_sink& out) {
    const std::size_t n = in.size();
    if (takes_short_path(ascii, n) && readable >= short_reach) {
        out.reserve_more(Form::most_padded);
        out.cursor = Form::template write_padded<P>(out.cursor, in.data(), n);
        return;
    }
    Text(in, ascii, readable < n ? n : readable, out);
}

// camelCase to snake_case.
template <cpu::path P = cpu::path::baseline>
inline void uncamel(std::string_view in, bool ascii, byte_sink& out, std::size_t readable = 0) {
    convert_one<uncamel_form, P, uncamel_text>(in, ascii, readable, out);
}

// snake_case to camelCase.
template <cpu::path P = cpu::path::baseline>
inline void underscore_to_camelcase(std::string_view in, bool ascii, byte_sink& out, std::size_t readable = 0) {
    convert_one<camelcase_form, P, underscore_to_camelcase_text>(in, ascii, readable, out);
}

// Each vulgar fraction character, with the whole number written in front of
// it, becomes one decimal number. Appends the result and returns true, or
// returns false and appends nothing when the text has no fraction character.
bool sanitize_vulgar(std::string_view in, byte_sink& out);

}  // namespace tavo::text
