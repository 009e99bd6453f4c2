// Placeholder bodies: arguments are converted, the computation is not yet built.
#include "boundary/bodies.hpp"

namespace tavo {

namespace {
error_value not_built() {
    return error_value::static_error(PyExc_NotImplementedError, "not implemented yet");
}
}  // namespace

result<ref> uncamel_body(call_args& a) {
    auto text = string_arg(a, 0);
    if (!text) return std::move(text.error());
    return not_built();
}

result<ref> underscore_to_camelcase_body(call_args& a) {
    auto text = string_arg(a, 0);
    if (!text) return std::move(text.error());
    return not_built();
}

result<ref> sanitize_vulgar_string_body(call_args& a) {
    auto text = string_arg(a, 0);
    if (!text) return std::move(text.error());
    return not_built();
}

}  // namespace tavo
