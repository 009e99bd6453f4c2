// The bodies of uncamel and underscore_to_camelcase. The conversion itself
// is text::uncamel / text::underscore_to_camelcase (convert_case.cpp); the
// common call, one identifier of up to 32 ASCII bytes, makes its result str
// at its final length from the plan of short_ascii.hpp and has it written
// there directly: for so short a text, binding, a buffer and the copy out of
// it would be a large share of the call.
#include "bodies/bodies.hpp"
#include "text/convert.hpp"
#include "text/short_ascii.hpp"

#include <cstddef>

namespace tavo {

namespace {

// The text is a str's own bytes, which end with a NUL.
template <class Short>
ref short_result(const char* s, std::size_t n) {
    const text::short_plan plan = Short::plan(s, n);
    new_ascii out = new_ascii_str(plan.length);
    Short::write(out.bytes, s, n, plan, true);
    return std::move(out.str);
}

// The result str of a conversion of `in` into a buffer.
template <void (*Convert)(std::string_view, bool, byte_sink&, std::size_t)>
ref converted(std::string_view in, bool ascii) {
    byte_sink out(0);  // the conversion reserves what it needs
    Convert(in, ascii, out, in.size());
    if (ascii) return ascii_result({out.data(), out.size()});
    return string_result({out.data(), out.size()});
}

template <ref (*Short)(const char*, std::size_t), void (*Convert)(std::string_view, bool, byte_sink&, std::size_t)>
result<ref> case_body(call_args& a, std::size_t text_param) {
    auto text = text_arg(a, text_param);
    if (!text) return std::move(text.error());
    const std::string_view s = text->utf8();
    if (text::takes_short_path(text->ascii(), s.size())) return Short(s.data(), s.size());
    return converted<Convert>(s, text->ascii());
}

}  // namespace

ref uncamel_short(const char* s, std::size_t n) {
    return short_result<text::uncamel_form>(s, n);
}

ref underscore_to_camelcase_short(const char* s, std::size_t n) {
    return short_result<text::camelcase_form>(s, n);
}

namespace {

// A str's conversion, the same steps as the bodies' after their argument is
// read: the short ASCII form, or the conversion into a buffer.
template <ref (*Short)(const char*, std::size_t), void (*Convert)(std::string_view, bool, byte_sink&, std::size_t)>
result<ref> convert_str(PyObject* s) {
    if (const auto ascii = ascii_text(s)) {
        if (text::takes_short_path(true, ascii->size())) return Short(ascii->data(), ascii->size());
        return converted<Convert>(*ascii, true);
    }
    auto utf8 = str_utf8(s);
    if (!utf8) return std::move(utf8.error());
    return converted<Convert>(*utf8, ascii_text(s).has_value());
}

}  // namespace

result<ref> uncamel_str(PyObject* s) {
    return convert_str<uncamel_short, text::uncamel>(s);
}

result<ref> underscore_to_camelcase_str(PyObject* s) {
    return convert_str<underscore_to_camelcase_short, text::underscore_to_camelcase>(s);
}

result<ref> uncamel_body(call_args& a) {
    return case_body<uncamel_short, text::uncamel>(a, param(uncamel_desc, "camel"));
}

result<ref> underscore_to_camelcase_body(call_args& a) {
    return case_body<underscore_to_camelcase_short, text::underscore_to_camelcase>(a, param(underscore_desc, "s"));
}

}  // namespace tavo
