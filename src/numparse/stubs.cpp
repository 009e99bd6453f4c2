// Placeholder body: the argument is converted, the computation is not yet built.
#include "boundary/bodies.hpp"

namespace tavo {

result<ref> parse_body(call_args& a) {
    auto text = string_arg(a, 0);
    if (!text) return std::move(text.error());
    return error_value::static_error(PyExc_NotImplementedError, "not implemented yet");
}

}  // namespace tavo
