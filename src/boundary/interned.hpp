// Process-wide interned attribute names, created at first use.
#pragma once

#include "boundary/error.hpp"

namespace tavo {

// Returns the interned str for `text` (borrowed; kept for the process).
// `cell` is the caller's static slot.
inline PyObject* interned(PyObject*& cell, const char* text) {
    if (!cell) {
        PyObject* s = created(PyUnicode_FromString(text)).release();
        PyUnicode_InternInPlace(&s);
        if (cell) {  // filled meanwhile: keep the first
            Py_DECREF(s);
        } else {
            cell = s;
        }
    }
    return cell;
}

}  // namespace tavo
