// Per-object locks and typed views of the lists and dicts that bodies read.
//
// With the interpreter lock, a body's native code runs without any other
// thread in between: a list or dict can change under it only when it runs
// Python code (a comparison, a lookup, a finalizer). A free-threaded build has
// no such lock. There every list and dict carries a lock of its own (a CPython
// critical section), and `object_lock` holds it for a scope, so that the
// native code in that scope sees no other thread's operation half done. The
// lock is given up whenever the thread blocks (waiting for another object's
// lock, or in Python code that sleeps or waits) and taken again before the
// thread goes on: it makes the stretches of native code between such points
// atomic, as the interpreter lock does, and no more. So the rules of the
// interpreter-lock build hold unchanged: a reference read from a container is
// kept past any such point only as an owned `ref`, and the container is read
// again through checked accesses afterwards.
//
// On builds with the interpreter lock `object_lock` is empty and costs nothing.
#pragma once

#include <atomic>
#include <string_view>

#include "boundary/error.hpp"

namespace tavo {

// True on free-threaded builds, where the per-object locks exist: code that
// only matters there is compiled out elsewhere.
#ifdef Py_GIL_DISABLED
inline constexpr bool free_threaded = true;
#else
inline constexpr bool free_threaded = false;
#endif

// IndexError "list index out of range": a read past the current end of a list.
error_value index_out_of_range() noexcept;

// Holds one object's lock (free-threaded builds) for the scope.
class object_lock {
public:
    explicit object_lock(PyObject* o) noexcept
#ifdef Py_GIL_DISABLED
        : obj_(o) {
        PyCriticalSection_Begin(&cs_, o);
    }
    ~object_lock() { PyCriticalSection_End(&cs_); }
    // Gives the lock up (around a call into Python code) and takes it again.
    void release() noexcept { PyCriticalSection_End(&cs_); }
    void reacquire() noexcept { PyCriticalSection_Begin(&cs_, obj_); }
#else
    {
        (void)o;
    }
    void release() noexcept {}
    void reacquire() noexcept {}
#endif
    object_lock(const object_lock&) = delete;
    object_lock& operator=(const object_lock&) = delete;

private:
#ifdef Py_GIL_DISABLED
    PyObject* obj_;
    PyCriticalSection cs_;
#endif
};

// Holds the locks of two objects (free-threaded builds) for the scope. Two
// objects are locked together or not at all: an inner lock taken while an
// outer one is held may release the outer one, so nesting two object_locks
// does not keep both.
class object_lock2 {
public:
    object_lock2(PyObject* a, PyObject* b) noexcept
#ifdef Py_GIL_DISABLED
        : a_(a), b_(b) {
        PyCriticalSection2_Begin(&cs_, a, b);
    }
    ~object_lock2() { PyCriticalSection2_End(&cs_); }
    void release() noexcept { PyCriticalSection2_End(&cs_); }
    void reacquire() noexcept { PyCriticalSection2_Begin(&cs_, a_, b_); }
#else
    {
        (void)a, (void)b;
    }
    void release() noexcept {}
    void reacquire() noexcept {}
#endif
    object_lock2(const object_lock2&) = delete;
    object_lock2& operator=(const object_lock2&) = delete;

private:
#ifdef Py_GIL_DISABLED
    PyObject* a_;
    PyObject* b_;
    PyCriticalSection2 cs_;
#endif
};

// Gives a held lock up for the scope: around a call into Python code, which
// may take other locks or wait for other threads.
template <class Lock>
class unlocked {
public:
    explicit unlocked(Lock& lock) noexcept : lock_(lock) { lock_.release(); }
    ~unlocked() { lock_.reacquire(); }
    unlocked(const unlocked&) = delete;
    unlocked& operator=(const unlocked&) = delete;

private:
    Lock& lock_;
};

// A new list of n slots for the caller to fill with PyList_SET_ITEM, or the
// failed-creation internal failure. On free-threaded CPython 3.13, a
// PyList_New(n > 0) whose item array cannot be allocated releases a list
// taken from the thread's free list with the stale item array of its former
// use, which was freed already: the heap is corrupted. A list made by
// repeating [None] gets its array another way, which fails cleanly; its
// slots hold None (never counted) until they are filled.
inline ref new_list(Py_ssize_t n) {
#ifdef Py_GIL_DISABLED
    if (n > 0) {
        ref one = created(PyList_New(0));
        if (PyList_Append(one.get(), Py_None) < 0) failed_creation();
        return created(PySequence_Repeat(one.get(), n));
    }
#endif
    return created(PyList_New(n));
}

// A new list that a body fills front to back. It is created with n slots; the
// first filled() hold references that the list owns, the rest are empty.
// Until finish() hands it over nothing else knows of the list, so it needs no
// lock. Finished early, or dropped unfinished (an error), the list is first
// shrunk to its filled slots: releasing it releases exactly what was stored.
class list_builder {
public:
    explicit list_builder(Py_ssize_t n) : list_(new_list(n)) {}
    ~list_builder() { trim(); }
    list_builder(const list_builder&) = delete;
    list_builder& operator=(const list_builder&) = delete;

    Py_ssize_t filled() const noexcept { return filled_; }
    // The number of slots still empty.
    Py_ssize_t room() const noexcept { return PyList_GET_SIZE(list_.get()) - filled_; }

    // The empty slots, in order. The caller stores new references in a prefix
    // of them and counts it with add_filled() before anything that can fail.
    // A loop that fills many slots this way keeps its position in a local,
    // which reference count updates (stores that may alias any word) do not
    // force back to memory after each item.
    PyObject** empty_slots() const noexcept { return slot_array() + filled_; }
    void add_filled(Py_ssize_t k) noexcept { filled_ += k; }

    // Adds `o` past the slots the list was created with (room() == 0). False,
    // with the exception pending, when the list could not grow.
    bool append(PyObject* o) noexcept {
        if (PyList_Append(list_.get(), o) < 0) return false;
        ++filled_;
        return true;
    }

    // The list, holding the filled slots.
    ref finish() noexcept {
        trim();
        return std::move(list_);
    }

private:
    PyObject** slot_array() const noexcept { return reinterpret_cast<PyListObject*>(list_.get())->ob_item; }
    void trim() noexcept {
        if (list_ && filled_ < PyList_GET_SIZE(list_.get())) Py_SET_SIZE(list_.get(), filled_);
    }

    ref list_;
    Py_ssize_t filled_ = 0;
};

// A list (or subclass) read through its own storage, never through a
// subclass's methods. The view does not own the list.
class list_view {
public:
    explicit list_view(PyObject* list) noexcept : p_(list) {}
    PyObject* object() const noexcept { return p_; }

    // The current length (a single atomic read on free-threaded builds).
    Py_ssize_t size() const noexcept { return PyList_GET_SIZE(p_); }

    // Item i as an owned reference, or empty when the list is shorter now,
    // for a caller that does not hold the list's lock (free-threaded builds;
    // one that does reads locked_item).
    ref item(Py_ssize_t i) const noexcept {
#ifdef Py_GIL_DISABLED
        if (static_cast<std::size_t>(i) >= static_cast<std::size_t>(size())) return ref();
        ref r = steal(PyList_GetItemRef(p_, i));
        if (!r) PyErr_Clear();  // shortened meanwhile: the IndexError just set
        return r;
#else
        if (static_cast<std::size_t>(i) >= static_cast<std::size_t>(size())) return ref();
        return borrow(PyList_GET_ITEM(p_, i));
#endif
    }

    // Item i as an owned reference, or empty when the list is shorter now,
    // for a caller that holds the list's lock, which no writer then holds:
    // read in place. PyList_GetItemRef may take the list's lock itself, and
    // on CPython 3.13 a thread that takes a lock it holds already first gives
    // up every lock it holds, so other threads could change the list (and
    // any other list the caller holds) in the middle of the caller's stretch.
    ref locked_item(Py_ssize_t i) const noexcept {
        if (static_cast<std::size_t>(i) >= static_cast<std::size_t>(size())) return ref();
        return borrow(PyList_GET_ITEM(p_, i));
    }

    // Item i, or the IndexError of a read past the end.
    result<ref> at(Py_ssize_t i) const {
        if (ref r = item(i)) return r;
        return index_out_of_range();
    }

    // The items, borrowed. Only while the list's lock is held and no Python
    // code runs: valid for size() entries read under the same lock.
    PyObject* const* items() const noexcept { return reinterpret_cast<PyListObject*>(p_)->ob_item; }

    // Stores `item` in slot i (which must exist; the list's lock held) and
    // returns the reference the slot held.
    [[nodiscard]] ref exchange(Py_ssize_t i, ref item) const noexcept {
        PyObject** slot = reinterpret_cast<PyListObject*>(p_)->ob_item + i;
#ifdef Py_GIL_DISABLED
        // Other threads read items without the list's lock (an index, an
        // iteration: CPython's lock-free item read), so the store is atomic
        // and releases the item to them, as CPython's own item stores do.
        std::atomic_ref<PyObject*> cell(*slot);
        ref old = steal(cell.load(std::memory_order_relaxed));
        cell.store(item.release(), std::memory_order_release);
#else
        ref old = steal(*slot);
        *slot = item.release();
#endif
        return old;
    }

    // A new list holding the items as they are now, or the failed-creation
    // internal failure. The caller holds the list's lock (free-threaded
    // builds): PyList_GetSlice would take it again, and taking a lock the
    // thread already holds first gives it up.
    ref copy() const {
#ifdef Py_GIL_DISABLED
        const Py_ssize_t n = size();
        ref out = new_list(n);  // allocating gives no lock up here
        PyObject* const* from = items();
        for (Py_ssize_t i = 0; i < n; ++i) PyList_SET_ITEM(out.get(), i, Py_NewRef(from[i]));
        return out;
#else
        return created(PyList_GetSlice(p_, 0, PY_SSIZE_T_MAX));
#endif
    }

private:
    PyObject* p_;
};

// A tuple (or subclass). Its items never change, and it holds them: they may
// be read borrowed for as long as the tuple lives.
class tuple_view {
public:
    explicit tuple_view(PyObject* tuple) noexcept : p_(tuple) {}
    PyObject* object() const noexcept { return p_; }
    Py_ssize_t size() const noexcept { return PyTuple_GET_SIZE(p_); }
    PyObject* const* items() const noexcept { return reinterpret_cast<PyTupleObject*>(p_)->ob_item; }

private:
    PyObject* p_;
};

// A list or tuple (or subclass of either), read as one array of items
// whichever it is: a tuple's as tuple_view reads them, a list's as
// list_view::items() does (only while no Python code runs, and under the
// list's lock on free-threaded builds).
class sequence_view {
public:
    explicit sequence_view(PyObject* list_or_tuple) noexcept : p_(list_or_tuple) {}
    bool is_list() const noexcept { return PyList_Check(p_); }
    Py_ssize_t size() const noexcept { return is_list() ? list_view(p_).size() : tuple_view(p_).size(); }
    PyObject* const* items() const noexcept { return is_list() ? list_view(p_).items() : tuple_view(p_).items(); }

private:
    PyObject* p_;
};

// The list that a body reads by index while it runs code that may give its
// locks up. With the interpreter lock, the list itself: only Python code run
// by the call can change it, and every read is checked. On free-threaded
// builds, where other threads may change it at any moment, a copy read whole
// under the list's lock: the items of one moment.
inline ref steady_list(PyObject* list) {
#ifdef Py_GIL_DISABLED
    object_lock hold(list);
    return list_view(list).copy();
#else
    return borrow(list);
#endif
}

// The UTF-8 text of a str (or subclass), valid while the str lives: its own
// bytes when it is compact ASCII, else the UTF-8 copy that the str keeps
// (made on first use, which may allocate). The error of a str that has no
// UTF-8 text (lone surrogates).
inline result<std::string_view> str_utf8(PyObject* s) {
    if (PyUnicode_IS_COMPACT_ASCII(s)) {
        return std::string_view(static_cast<const char*>(PyUnicode_DATA(s)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(s)));
    }
    Py_ssize_t n = 0;
    const char* u = PyUnicode_AsUTF8AndSize(s, &n);
    if (!u) return error_value::fetch();
    return std::string_view(u, static_cast<std::size_t>(n));
}

// d[key] for a dict (or subclass) through the dict's own storage, as an
// owned reference. Empty when the key is missing (no exception set) or when
// the lookup raised (a key whose hash or equality failed; the exception is
// left pending). With the interpreter lock the borrowed value is taken
// before anything else can run; on free-threaded builds another thread could
// release it in between, so the lookup itself takes the reference.
inline ref dict_lookup(PyObject* d, PyObject* key) noexcept {
#ifdef Py_GIL_DISABLED
    PyObject* v = nullptr;
    PyDict_GetItemRef(d, key, &v);
    return steal(v);
#else
    return borrow(PyDict_GetItemWithError(d, key));
#endif
}

}  // namespace tavo
