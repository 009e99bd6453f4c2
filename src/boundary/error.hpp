// Error values and internal failures: the module's error conventions.
//
// - A Python error (an argument refused, an exception raised by Python code
//   the module called, a CPython call that failed with an exception the
//   caller should see) is a value: the function that meets it returns
//   `result<T>`, or `status` when it has no value, holding an `error_value`.
//   The exception is taken out of the interpreter where the failed call is
//   made (`error_value::fetch()`), and only the call boundary (call.hpp)
//   raises, once. No function of the bodies answers false, -1 or an empty
//   handle "with the error pending". Three primitives below the bodies do,
//   as the CPython calls they wrap: `panic_exception_type()` (null with the
//   error that prevented the type), `error_value::raise()` and
//   `ensure_error_pending()`, whose whole purpose is a pending exception.
// - An internal failure (an object creation that failed, an invariant broken
//   by Python code run during the call, a PanicException raised by Python
//   code) is the one thrown type, `internal_failure`, made by `fail`,
//   `failed_creation` and `created`. It unwinds to the boundary, releasing
//   every `ref` on the way, and is raised there as PanicException; one
//   made with `keep_pending` (a creation that failed on an interrupt or an
//   exit, which printing would lose) leaves that exception pending and ends
//   the call with it instead.
// - A failed allocation: in _tavo's nine functions an internal failure like
//   any other (std::bad_alloc from the C++ library: PanicException "memory
//   allocation failed"; a failed creation: "Python API call failed", the
//   creation's MemoryError printed first). The functions of the package's
//   native module (tavo._native), whose allocations are
//   sized by a whole column or payload, end with MemoryError itself and
//   print nothing: their calls run under `call_rules::package` (run_call in
//   call.hpp sets the rules for the call).
// - An error is dropped only through `discard_ordinary_error` (or, for an
//   error value already taken, a check of `must_end_call` on its normalised
//   type), which never drops what must end the call (an interrupt,
//   MemoryError, RecursionError). One CPython call whose only possible
//   failure is a known condition clears it where it stands: the IndexError
//   of PyList_GetItemRef on a list shortened by another thread (views.hpp).
// - The column kernels run without the interpreter lock and touch no Python
//   object: they have a convention of their own, free of Python, in
//   src/columns/ (a `row_fault` for bad input, std::bad_alloc for memory),
//   which the column module turns into error values once the lock is back.
//
// The same condition gives the same outcome in every function:
// - a list read past its current end: IndexError "list index out of range"
//   (`index_out_of_range()`);
// - a dict changed during its walk: internal failure "dictionary changed
//   size during iteration" (or "... keys changed ...");
// - an object of the wrong type: `type_mismatch` (TypeError "'{qualname}'
//   object cannot be converted to '{target}'");
// - a failed creation: `failed_creation`; a failed append or item store:
//   the interpreter's exception, returned.
#pragma once

#include "boundary/ref.hpp"

#include <cstdint>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <new>
#include <type_traits>
#include <utility>
#include <variant>

namespace tavo {

// Whose rules the running call keeps. `nine`: _tavo's functions, exactly as
// documented (a failed allocation is an internal failure; binding messages say
// "takes 1 positional arguments", as CPython's once did). `package`: the
// functions of the package tavo (a failed allocation is MemoryError, see
// above; binding messages in plain English, naming keyword-only parameters).
enum class call_rules : std::uint8_t { nine, package };

// The rules of the call running on this thread: set by the call boundary for
// the call and put back when it returns (a call of _tavo made by Python code
// that a package function runs keeps _tavo's rules).
class rules_in_force {
public:
    explicit rules_in_force(call_rules rules) noexcept : saved_(current_) {
        if (saved_ != rules) current_ = rules;
    }
    ~rules_in_force() {
        if (current_ != saved_) current_ = saved_;
    }
    rules_in_force(const rules_in_force&) = delete;
    rules_in_force& operator=(const rules_in_force&) = delete;
    static call_rules current() noexcept { return current_; }

private:
    [[gnu::tls_model("initial-exec")]] static thread_local call_rules current_;
    call_rules saved_;
};

// Thrown by `fail`; caught only by the call boundary.
struct internal_failure {
    std::string text;
    // The exception pending in the interpreter ends the call instead of a
    // PanicException (an interrupt or an exit met by a failed creation).
    bool keep_pending = false;
};

// Ends the running body with an internal failure: writes the diagnostic to
// standard error and unwinds to the call boundary.
[[noreturn]] void fail(std::string text,
                       std::source_location where = std::source_location::current());

// The internal failure for a CPython creation call that returned null: prints
// the pending exception (usually MemoryError) and fails "Python API call failed".
// An exception that is not an Exception (KeyboardInterrupt, SystemExit) is not
// printed, which would lose it or end the process: it stays pending and ends
// the call.
[[noreturn]] void failed_creation(std::source_location where = std::source_location::current());

// Adopts the new reference returned by a creation call, or fails.
inline ref created(PyObject* p, std::source_location where = std::source_location::current()) {
    if (p == nullptr) failed_creation(where);
    return steal(p);
}

class error_value {
public:
    // Deferred errors: the exception argument is built only when raised.
    static error_value static_error(PyObject* type, const char* text) noexcept;
    static error_value owned_error(PyObject* type, std::string text) noexcept;
    static error_value type_mismatch(PyTypeObject* type, const char* target) noexcept;
    static error_value panic(std::string text) noexcept;
    // Wraps an exception instance (with its type) as a normalised error.
    static error_value from_instance(ref instance) noexcept;

    // The pending exception, or nothing. A PanicException raised by Python
    // code is not returned: it resumes as an internal failure.
    static std::optional<error_value> take_pending();
    // The pending exception, or SystemError "attempted to fetch exception but
    // none was set" when the interpreter reported failure without one.
    static error_value fetch();

    error_value(error_value&&) noexcept = default;
    error_value& operator=(error_value&&) noexcept = default;

    // Leaves the exception set in the interpreter; consumes the value. When
    // the exception cannot be built (no memory for its message), the pending
    // MemoryError, or a preallocated one, is left set instead.
    void raise() && noexcept;
    // Materialises the exception; afterwards type() and value() are set.
    void normalise();
    PyObject* type() const noexcept { return type_.get(); }
    PyObject* value() const noexcept { return value_.get(); }

    // "PyErr { type: ..., value: ..., traceback: ... }". Best effort: a part
    // that cannot be displayed shows as "<unprintable object>".
    std::string render();

private:
    enum class state : std::uint8_t { static_msg, owned_msg, mismatch, panic, fetched, normalised };
    error_value() noexcept = default;
    // Runs the deferred routine: the exception type and its argument, or a
    // null type with the exception that prevented it left pending.
    std::pair<PyObject*, ref> materialise();

    state state_ = state::static_msg;
    PyObject* exc_type_ = nullptr;  // static exception type of a deferred error (borrowed)
    const char* static_text_ = nullptr;
    std::string text_;
    ref type_, value_, tb_;  // mismatch: type_ is the refused object's type
};

// A value or an error value. A tagged union rather than std::variant: its
// destructor is one test of the tag, which matters on the paths that make a
// result for every item.
template <class T>
class [[nodiscard]] result {
public:
    result(T value) noexcept(std::is_nothrow_move_constructible_v<T>) : ok_(true) {
        new (&value_) T(std::move(value));
    }
    result(error_value error) noexcept : ok_(false) { new (&error_) error_value(std::move(error)); }
    result(result&& other) noexcept(std::is_nothrow_move_constructible_v<T>) : ok_(other.ok_) {
        if (ok_) {
            new (&value_) T(std::move(other.value_));
        } else {
            new (&error_) error_value(std::move(other.error_));
        }
    }
    result(const result&) = delete;
    result& operator=(const result&) = delete;
    result& operator=(result&& other) noexcept(std::is_nothrow_move_constructible_v<T>) {
        if (this != &other) {
            destroy();
            ok_ = other.ok_;
            if (ok_) {
                new (&value_) T(std::move(other.value_));
            } else {
                new (&error_) error_value(std::move(other.error_));
            }
        }
        return *this;
    }
    ~result() { destroy(); }

    explicit operator bool() const noexcept { return ok_; }
    T& operator*() noexcept { return value_; }
    T* operator->() noexcept { return &value_; }
    error_value& error() noexcept { return error_; }

private:
    void destroy() noexcept {
        if (ok_) {
            value_.~T();
        } else {
            error_.~error_value();
        }
    }

    union {
        T value_;
        error_value error_;
    };
    bool ok_;
};

using status = result<std::monostate>;
inline status ok() { return std::monostate{}; }

// For a fallback that replaces a value's failure (a missing key, an
// unusable column list): clears the pending exception, if any, when it is
// an ordinary one. An exception that is not an Exception (KeyboardInterrupt,
// SystemExit, GeneratorExit) and the two that report the interpreter's own
// state (MemoryError, RecursionError) are never cleared: they come back as
// the error that ends the call. A PanicException resumes as an internal
// failure. This is the one way the module discards an exception.
status discard_ordinary_error();

// True for the exceptions that `discard_ordinary_error` never clears.
bool must_end_call(PyObject* exc_type) noexcept;

// Appends the text of a str (or subclass, read as it is: no method of it is
// called) as UTF-8, each lone surrogate as U+FFFD. Fails only with what must
// end the call (MemoryError, an interrupt).
status append_str_text(std::string& out, PyObject* s);

// Appends the display of an object (its str, or repr when `use_repr`) as
// UTF-8; a text with lone surrogates shows each bad sequence as U+FFFD; a
// failing str() is reported as unraisable and shown as "<unprintable T object>".
// A failure that must end the call (MemoryError, an interrupt) is returned.
status append_display(std::string& out, PyObject* obj, bool use_repr = false);

// The process-wide PanicException type (created on first need). Borrowed;
// null, with the exception pending, when it cannot be created.
PyObject* panic_exception_type() noexcept;

// Makes sure an exception is pending: when none is, sets MemoryError (which
// CPython raises from preallocated instances). For paths where building the
// intended exception failed for want of memory.
void ensure_error_pending() noexcept;

}  // namespace tavo
