// The call boundary: every call from Python enters here.
//
// It raises this thread's lock depth counter (how deeply the thread is known
// to hold the interpreter lock), applies references whose release was asked
// for without the lock, runs the body, and turns its `result<ref>` into what
// CPython expects: a new reference, or null with the exception set. It is the
// only place that catches `internal_failure`.
//
// A free-threaded build has no interpreter lock. What the counter stands for
// there is what a release needs there: the thread is attached to the
// interpreter, as every thread that CPython calls into is. So the counter and
// the pending release list keep their meaning: inside a call a release is
// made at once (from any thread: CPython merges counts released by a thread
// that does not own the object), outside one it waits in the list, whose
// mutex is held only to add or take references, never while running Python
// code, and the next call on any thread applies it.
#pragma once

#include "boundary/error.hpp"

#include <atomic>
#include <cstdint>
#include <new>
#include <type_traits>

// The counter is read on every call: keep it in the static TLS block, which
// a module loaded by the interpreter can use (it is a single word), instead
// of paying a __tls_get_addr call per access.
#define TAVO_TLS_MODEL __attribute__((tls_model("initial-exec")))

namespace tavo {

namespace detail {
extern constinit thread_local std::int64_t lock_depth TAVO_TLS_MODEL;
extern std::atomic<bool> releases_pending;
void apply_pending_releases() noexcept;
// Raises the error value (or a panic) in the interpreter. When that cannot
// be built for want of memory, MemoryError is raised instead: the process is
// never stopped.
void raise_error(error_value&& e) noexcept;
void raise_panic(std::string&& text) noexcept;
void raise_panic(const char* text) noexcept;
}  // namespace detail

inline std::int64_t current_lock_depth() noexcept { return detail::lock_depth; }

// Entered and left in pairs (run_call, and the scope that renders an error
// on a thread not known to hold the lock), so the counter is never negative.
inline void enter_lock_scope() noexcept {
    ++detail::lock_depth;
    if (detail::releases_pending.load(std::memory_order_acquire)) detail::apply_pending_releases();
}

inline void leave_lock_scope() noexcept { --detail::lock_depth; }

// Runs `body` (a callable returning result<ref>, or ref for a body that
// has no error value to return) inside the boundary.
template <class Body>
PyObject* run_call(Body&& body) noexcept {
    enter_lock_scope();
    PyObject* out = nullptr;
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
        detail::raise_panic("memory allocation failed");
    } catch (...) {
        detail::raise_panic("panic from Vell code");
    }
    leave_lock_scope();
    return out;
}

}  // namespace tavo
