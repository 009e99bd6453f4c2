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
// The same for a failure alone: ok when `e` is ordinary (dropped), else `e`.
// A deferred error has no type until it is made: it is normalised first (and
// an error met while making it, MemoryError, is the one judged).
inline status unless_ordinary(error_value&& e) {
    e.normalise();
    if (must_end_call(e.type())) return std::move(e);
    return ok();
}

template <class T>
result<std::optional<T>> unless_ordinary(result<T> r) {
    if (r) return std::optional<T>(std::move(*r));
    status ordinary = unless_ordinary(std::move(r.error()));
    if (!ordinary) return std::move(ordinary.error());
    return std::optional<T>();
}

}  // namespace tavo::dictsort
