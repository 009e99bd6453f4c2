// Process-wide interned attribute names, created at first use.
#pragma once

#include "boundary/error.hpp"
#include "shared/first_store.hpp"

#include <atomic>

namespace tavo {

// Returns the interned str for `text` (borrowed; kept for the process).
// `cell` is the caller's static slot. It is read and written only through
// this function, atomically: on a free-threaded build two threads may fill it
// at once; the first stored wins (both hold the same interned object anyway).
inline PyObject* interned(PyObject*& cell, const char* text) {
    std::atomic_ref<PyObject*> slot(cell);
    if (PyObject* s = slot.load(std::memory_order_acquire)) return s;
    PyObject* s = created(PyUnicode_FromString(text)).release();
    PyUnicode_InternInPlace(&s);
    return keep_first_owned(slot, s);  // filled meanwhile: the first is kept
}

}  // namespace tavo
