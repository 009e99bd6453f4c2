// The body of sanitize_vulgar_string; the conversion is text::sanitize_vulgar
// (convert_vulgar.cpp).
#include "bodies/bodies.hpp"
#include "text/convert.hpp"

namespace tavo {

result<ref> sanitize_vulgar_string_body(call_args& a) {
    auto arg = text_arg(a, param(sanitize_desc, "s"));
    if (!arg) return std::move(arg.error());
    // No fraction character is ASCII. Unchanged, the input is returned as
    // a str: the same object when it is an exact str.
    if (arg->ascii()) return arg->exact_str();
    const std::string_view text = arg->utf8();
    byte_sink out(0);  // the conversion reserves room once it finds a fraction
    if (!text::sanitize_vulgar(text, out)) return arg->exact_str();
    return string_result({out.data(), out.size()});
}

}  // namespace tavo
