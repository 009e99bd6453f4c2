// Per-object locks of free-threaded builds.
//
// There every list and dict carries a lock of its own (a CPython critical
// section). `object_lock` holds it for a scope, so that the native code in
// that scope sees no other thread's operation half done. CPython gives the
// lock up whenever the thread blocks (waiting for another lock, or in Python
// code that waits) and takes it again before the thread goes on, so it makes
// the stretches of native code between such points atomic, as the
// interpreter lock does, and no more: a reference read from a container is
// kept past such a point only as an owned `ref`, and the container is read
// again through checked accesses afterwards. With the interpreter lock the
// class is empty and costs nothing.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tavo {

// True on free-threaded builds, where the per-object locks exist: code that
// only matters there is compiled out elsewhere.
#ifdef Py_GIL_DISABLED
inline constexpr bool free_threaded = true;
#else
inline constexpr bool free_threaded = false;
#endif

// Holds the lock of one object, or of two together, for the scope. Two
// objects are locked in one step or not at all: an inner lock taken while an
// outer one is held may give the outer one up, so nesting two locks does not
// keep both.
class object_lock {
public:
#ifdef Py_GIL_DISABLED
    explicit object_lock(PyObject* a) noexcept : a_(a) { PyCriticalSection_Begin(&one_, a); }
    object_lock(PyObject* a, PyObject* b) noexcept : a_(a), b_(b) { PyCriticalSection2_Begin(&two_, a, b); }
    ~object_lock() { release(); }
    // Gives the lock up (around a call into Python code) and takes it again.
    void release() noexcept {
        if (b_) {
            PyCriticalSection2_End(&two_);
        } else {
            PyCriticalSection_End(&one_);
        }
    }
    void reacquire() noexcept {
        if (b_) {
            PyCriticalSection2_Begin(&two_, a_, b_);
        } else {
            PyCriticalSection_Begin(&one_, a_);
        }
    }
#else
    explicit object_lock(PyObject*) noexcept {}
    object_lock(PyObject*, PyObject*) noexcept {}
    void release() noexcept {}
    void reacquire() noexcept {}
#endif
    object_lock(const object_lock&) = delete;
    object_lock& operator=(const object_lock&) = delete;

private:
#ifdef Py_GIL_DISABLED
    PyObject* a_;
    PyObject* b_ = nullptr;
    union {
        PyCriticalSection one_;
        PyCriticalSection2 two_;
    };
#endif
};

// Gives a held lock up for the scope: around a call into Python code, which
// may take other locks or wait for other threads.
class without_object_lock {
public:
    explicit without_object_lock(object_lock& lock) noexcept : lock_(lock) { lock_.release(); }
    ~without_object_lock() { lock_.reacquire(); }
    without_object_lock(const without_object_lock&) = delete;
    without_object_lock& operator=(const without_object_lock&) = delete;

private:
    object_lock& lock_;
};

}  // namespace tavo
