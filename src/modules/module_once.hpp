// The one module object of an extension, made by the first import and kept
// for the process. The module keeps process-wide state, so only the
// interpreter that imported it first may import it; an import that fails
// and is tried again makes the module again.
#pragma once

#include "boundary/error.hpp"
#include "shared/first_store.hpp"

#include <atomic>
#include <cstdint>

namespace tavo {

// The definition of a module with no per-module state.
inline PyModuleDef module_definition(const char* name, const char* doc, PyMethodDef* functions = nullptr) noexcept {
    return PyModuleDef{PyModuleDef_HEAD_INIT, name, doc, 0, functions, nullptr, nullptr, nullptr, nullptr};
}

struct module_cell {
    std::atomic<std::int64_t> interpreter{-1};  // the one that may import it
    std::atomic<PyObject*> module{nullptr};     // one strong reference, stored once
};

// The kept module, or `make()`'s new one, kept. `refusal` is the ImportError
// text for another interpreter.
template <class Make>
result<ref> module_once(module_cell& cell, const char* refusal, Make make) {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) return error_value::fetch();
    std::int64_t expected = -1;
    if (!cell.interpreter.compare_exchange_strong(expected, id, std::memory_order_seq_cst) && expected != id) {
        return error_value::static_error(PyExc_ImportError, refusal);
    }
    if (PyObject* stored = cell.module.load(std::memory_order_acquire)) return borrow(stored);
    result<ref> module = make();
    if (!module) return std::move(module.error());
#ifdef Py_GIL_DISABLED
    // Every function is safe without the interpreter lock: the interpreter
    // keeps it off when the module is imported.
    if (PyUnstable_Module_SetGIL(module->get(), Py_MOD_GIL_NOT_USED) < 0) return error_value::fetch();
#endif
    PyObject* kept = keep_first(cell.module, module->get());
    if (kept == module->get()) return borrow(module->release());  // the cell keeps the created reference
    return borrow(kept);  // filled meanwhile: the new module is released
}

}  // namespace tavo
