// Placeholder body: arguments are converted, the computation is not yet built.
#include "boundary/bodies.hpp"

namespace tavo {

result<ref> multikeysort_body(call_args& a) {
    auto items = list_arg(a, 0);
    if (!items) return std::move(items.error());
    if (a.given(2)) {
        auto inplace = bool_arg(a, 2);
        if (!inplace) return std::move(inplace.error());
    }
    return error_value::static_error(PyExc_NotImplementedError, "not implemented yet");
}

}  // namespace tavo
