// Values that fall back when Python refuses them.
#pragma once

#include "boundary/error.hpp"

#include <optional>
#include <utility>

namespace tavo::dictsort {

// For a value whose failure has a fallback (a column that is skipped, a key
// that is null): nothing when `r` failed with an ordinary exception, which is
// discarded; the error when it is one that must end the call (an interrupt,
// an exit, MemoryError, RecursionError).
template <class T>
result<std::optional<T>> unless_ordinary(result<T> r) {
    if (r) return std::optional<T>(std::move(*r));
    if (must_end_call(r.error().type())) return std::move(r.error());
    return std::optional<T>();
}

// The same for a failure alone: ok when `e` is ordinary (dropped), else `e`.
inline status unless_ordinary(error_value&& e) {
    if (must_end_call(e.type())) return std::move(e);
    return ok();
}

}  // namespace tavo::dictsort
