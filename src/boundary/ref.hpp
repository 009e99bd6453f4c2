// Owning handle for Python object references.
//
// `ref` holds exactly one count of an object's reference count, or nothing.
// It is move-only; the destructor gives the count back. Taking ownership is
// always spelled out: `steal(p)` adopts a new reference, `borrow(p)` adds one,
// `release()` hands the count back to the caller (usually CPython).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tavo {

class ref {
public:
    ref() noexcept = default;
    ref(ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ref& operator=(ref&& other) noexcept {
        PyObject* old = std::exchange(p_, std::exchange(other.p_, nullptr));
        Py_XDECREF(old);
        return *this;
    }
    ref(const ref&) = delete;
    ref& operator=(const ref&) = delete;
    ~ref() { Py_XDECREF(p_); }

    static ref steal(PyObject* p) noexcept { return ref(p); }
    static ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return ref(p);
    }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset() noexcept { Py_XDECREF(std::exchange(p_, nullptr)); }

private:
    explicit ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

inline ref steal(PyObject* p) noexcept { return ref::steal(p); }
inline ref borrow(PyObject* p) noexcept { return ref::borrow(p); }

}  // namespace tavo
