// Placeholder bodies: arguments are converted, the computation is not yet built.
#include "boundary/bodies.hpp"

namespace tavo {

namespace {
error_value not_built() {
    return error_value::static_error(PyExc_NotImplementedError, "not implemented yet");
}
}  // namespace

result<ref> collapse_body(call_args&) { return not_built(); }

result<ref> backfill_body(call_args& a) {
    auto values = list_arg(a, 0);
    if (!values) return std::move(values.error());
    return not_built();
}

result<ref> backfill_iterdict_body(call_args& a) {
    auto rows = list_arg(a, 0);
    if (!rows) return std::move(rows.error());
    return not_built();
}

result<ref> same_order_body(call_args& a) {
    auto ref_list = list_arg(a, 0);
    if (!ref_list) return std::move(ref_list.error());
    auto comp = list_arg(a, 1);
    if (!comp) return std::move(comp.error());
    return not_built();
}

}  // namespace tavo
