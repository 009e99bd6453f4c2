// Process-wide cells filled once, the first store winning.
//
// The module's one-time data (the exception type, the module object, interned
// names, the datetime API) is made when first needed. On a free-threaded
// build two threads may make it at once; each then offers its own, the first
// offer is kept, and every later reader sees that one.
#pragma once

#include <atomic>

namespace tavo {

// Stores `value` in `cell` (a std::atomic<T*> or a std::atomic_ref<T*>)
// unless the cell holds a value already; returns the value the cell holds
// afterwards: `value`, or the one stored first (the caller then disposes of
// its own).
template <class Cell, class T>
T* keep_first(Cell&& cell, T* value) noexcept {
    T* stored = nullptr;
    if (cell.compare_exchange_strong(stored, value, std::memory_order_acq_rel, std::memory_order_acquire)) {
        return value;
    }
    return stored;
}

// keep_first for an object reference the caller owns (a type, an interned
// name): the reference goes to the cell, or is released when another thread
// filled the cell first. Returns the object the cell holds. Only for a
// caller that includes Python.h.
template <class Cell, class Object>
Object* keep_first_owned(Cell&& cell, Object* owned) noexcept {
    Object* kept = keep_first(cell, owned);
    if (kept != owned) Py_DECREF(owned);
    return kept;
}

}  // namespace tavo
