// The call boundary: every call from Python enters through `run_call`, the
// only place that catches an internal failure.
#pragma once

#include "boundary/error.hpp"

#include <new>
#include <type_traits>

namespace tavo {

namespace detail {
// Raise in the interpreter; when the exception cannot be built for want of
// memory, MemoryError is raised instead: the process is never stopped.
void raise_error(error_value&& e) noexcept;
void raise_panic(std::string&& text) noexcept;
void raise_panic(const char* text) noexcept;
}  // namespace detail

// Runs `body` (a callable returning result<ref>, or ref for a body that
// has no error value to return) and turns what it produced into what CPython
// expects: a new reference, or null with the exception set. `Rules`: whose
// rules the call keeps (error.hpp), _tavo's by default, `call_rules::package`
// for the package's calls.
template <call_rules Rules = call_rules::nine, class Body>
PyObject* run_call(Body&& body) noexcept {
    PyObject* out = nullptr;
    const rules_in_force rules(Rules);
    try {
        if constexpr (std::is_same_v<std::invoke_result_t<Body&>, ref>) {
            out = body().release();
        } else {
            result<ref> r = body();
            if (r) {
                out = r->release();
            } else {
                detail::raise_error(std::move(r.error()));
            }
        }
    } catch (internal_failure& f) {
        if (!f.keep_pending || !PyErr_Occurred()) detail::raise_panic(std::move(f.text));
    } catch (std::bad_alloc&) {
        if constexpr (Rules == call_rules::package) {
            PyErr_NoMemory();
        } else {
            detail::raise_panic("memory allocation failed");
        }
    } catch (...) {
        detail::raise_panic("panic from Vell code");
    }
    return out;
}

// Runs `body` (returning result<ref>) with std::bad_alloc made a MemoryError
// with `text`: the rule of the package's native modules, whose allocations
// are sized by a whole column or payload (error.hpp). Anything else unwinds
// to run_call as usual.
template <class Body>
result<ref> memory_error_on_bad_alloc(const char* text, Body&& body) {
    try {
        return body();
    } catch (std::bad_alloc&) {
        return error_value::static_error(PyExc_MemoryError, text);
    }
}

}  // namespace tavo
