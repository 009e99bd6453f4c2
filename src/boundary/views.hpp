// Typed views of the lists, tuples, dicts, str and bytes that bodies read:
// the only code outside src/boundary that knows their layout is here.
#pragma once

#include "boundary/error.hpp"
#include "shared/object_lock.hpp"

#include <atomic>
#include <optional>
#include <string_view>
#include <vector>

namespace tavo {

// IndexError "list index out of range": a read past the current end of a list.
inline error_value index_out_of_range() noexcept {
    return error_value::static_error(PyExc_IndexError, "list index out of range");
}

// --- Objects the module is still filling ------------------------------------------
//
// The rule: Python code that runs while the module fills a new list, tuple or
// dict (a key's __hash__ or __eq__, a comparison, a finalizer, a collection
// started by one of the call's own allocations and the gc.callbacks it runs,
// another thread) cannot change it. Such code finds objects it holds no
// reference to through the collector (gc.get_objects(), gc.get_referrers()),
// so each container the module fills is taken out of the collector's reach
// (untracked) as soon as it is made, and handed back only once the call's
// result holds it whole. Nothing but the module knows of it meanwhile, and
// every index the module writes is one it made.
//
// - `list_builder` (below) does it for a list filled front to back.
// - `unfinished_set` does it for the many containers of one call (the
//   payload walk, the rows of backfill_iterdict): each is hidden when made,
//   hidden again after a CPython call that may track it again (PyDict_SetItem
//   tracks a dict that takes a container), and all are handed back with
//   `reveal_all()` right before the result is returned. A call that fails
//   releases them untracked: nothing else holds them, and they die. (Kept out
//   of reach until the end, the containers are not traversed by the
//   collections that the call's own allocations start: a payload walk with
//   the collector on takes about two thirds of the time it took before.)
// - A private copy of an input list (steady_list, the rows of a sort) stays
//   out of reach for its whole life.
//
// Handing back restores what CPython had chosen: a container is tracked again
// only if it was tracked (a dict that never held a container is not).

// Takes a new container out of the collector's reach; whether the collector
// had it.
inline bool hide_from_collector(PyObject* o) noexcept {
    if (!PyObject_GC_IsTracked(o)) return false;
    PyObject_GC_UnTrack(o);
    return true;
}

// Hands a container back to the collector.
inline void show_to_collector(PyObject* o) noexcept {
    if (!PyObject_GC_IsTracked(o)) PyObject_GC_Track(o);
}

// The containers of one call that the module is still filling; see above.
// The set holds their addresses, not references: the call's result (or the
// containers being built, which end up in it) holds them.
class unfinished_set {
public:
    // Hides `o` (new, seen by nothing else yet); its number in the set.
    std::size_t hide(PyObject* o) {
        objects_.push_back(entry{o, hide_from_collector(o)});
        return objects_.size() - 1;
    }
    // Hides number i again after a CPython call that may have tracked it.
    void hide_again(std::size_t i) noexcept {
        if (hide_from_collector(objects_[i].object)) objects_[i].tracked = true;
    }
    // Every container goes back to the collector as CPython had it. Called
    // once the result holds them all, just before it is returned: nothing
    // runs between this and the return.
    void reveal_all() noexcept {
        for (const entry& e : objects_) {
            if (e.tracked) show_to_collector(e.object);
        }
        objects_.clear();
    }

private:
    struct entry {
        PyObject* object;
        bool tracked;  // what the collector had chosen
    };
    std::vector<entry> objects_;
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
// Until finish() hands it over nothing else knows of the list (it is out of
// the collector's reach: see above), so it needs no lock. Finished early, or dropped unfinished (an error), the list is first
// shrunk to its filled slots: releasing it releases exactly what was stored.
class list_builder {
public:
    explicit list_builder(Py_ssize_t n) : list_(new_list(n)) { hide_from_collector(list_.get()); }
    ~list_builder() {
        if (!list_) return;
        trim();
        show_to_collector(list_.get());  // dropped unfinished: an ordinary list again as it dies
    }
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

    // Adds `o` past the slots the list was created with (room() == 0); the
    // interpreter's error when the list could not grow.
    status append(PyObject* o) {
        if (PyList_Append(list_.get(), o) < 0) return error_value::fetch();
        ++filled_;
        return ok();
    }

    // The list, holding the filled slots.
    ref finish() noexcept {
        trim();
        show_to_collector(list_.get());
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
    // thread already holds first gives it up. The size is read again once
    // the new list is made: making it may start a garbage collection, whose
    // finalizers run Python code that may let other threads change this list
    // (PyList_GetSlice reads the items with the size it read before, and a
    // shrunk list then gives it pointers past its items: a crash seen under
    // the sanitizers in the thread stress of tavo.keys). Reading the items
    // runs nothing.
    ref copy() const {
        for (;;) {
            const Py_ssize_t n = size();
            ref out = new_list(n);
            if (size() != n) continue;  // changed meanwhile: made again
            PyObject* const* from = items();
            for (Py_ssize_t i = 0; i < n; ++i) PyList_SET_ITEM(out.get(), i, Py_NewRef(from[i]));
            return out;
        }
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
    PyObject* operator[](Py_ssize_t i) const noexcept { return items()[i]; }

private:
    PyObject* p_;
};

// A new exact tuple holding the items of a tuple (or subclass), or the
// failed-creation internal failure: a new object whatever the tuple's type
// (but the empty tuple, which the interpreter keeps one of).
inline ref tuple_copy(PyObject* tuple) {
    const Py_ssize_t n = PyTuple_GET_SIZE(tuple);
    ref out = created(PyTuple_New(n));
    PyObject* const* from = tuple_view(tuple).items();
    for (Py_ssize_t i = 0; i < n; ++i) PyTuple_SET_ITEM(out.get(), i, Py_NewRef(from[i]));
    return out;
}

// Stores `item` in slot i of a tuple that the caller made and that nothing
// else has seen yet (tuple_copy), and returns the reference the slot held.
[[nodiscard]] inline ref exchange_in_new_tuple(PyObject* tuple, Py_ssize_t i, ref item) noexcept {
    PyObject** slot = reinterpret_cast<PyTupleObject*>(tuple)->ob_item + i;
    ref old = steal(*slot);
    *slot = item.release();
    return old;
}

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
//
// The copy is private: out of the collector's reach for its whole life, so
// Python code that the call runs cannot change it.
inline ref steady_list(PyObject* list) {
#ifdef Py_GIL_DISABLED
    object_lock hold(list);
    ref copy = list_view(list).copy();
    hide_from_collector(copy.get());
    return copy;
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
// owned reference: empty when the key is missing, the error when the lookup
// raised (a key whose hash or equality failed). With the interpreter lock the
// borrowed value is taken before anything else can run; on free-threaded
// builds another thread could release it in between, so the lookup itself
// takes the reference.
inline result<ref> dict_item(PyObject* d, PyObject* key) {
#ifdef Py_GIL_DISABLED
    PyObject* v = nullptr;
    if (PyDict_GetItemRef(d, key, &v) < 0) return error_value::fetch();
    return steal(v);
#else
    PyObject* v = PyDict_GetItemWithError(d, key);
    if (v == nullptr && PyErr_Occurred()) return error_value::fetch();
    return borrow(v);
#endif
}

// The number of items of a dict (or subclass), read from its own storage.
inline Py_ssize_t dict_size(PyObject* d) noexcept { return PyDict_GET_SIZE(d); }

// The text of a str (or subclass) whose characters are all ASCII: its own
// bytes, which are its UTF-8 form, valid while the str lives. Nothing for any
// other str. (CPython 3.11 still has str objects that are not "ready", made
// by the deprecated PyUnicode_FromUnicode: their flags are read only once
// the str is, and until then such a str takes the general path, which
// readies it.)
inline std::optional<std::string_view> ascii_text(PyObject* s) noexcept {
#if PY_VERSION_HEX < 0x030C0000
    if (!PyUnicode_IS_READY(s)) return std::nullopt;
#endif
    if (!PyUnicode_IS_ASCII(s)) return std::nullopt;
    return std::string_view(static_cast<const char*>(PyUnicode_DATA(s)),
                            static_cast<std::size_t>(PyUnicode_GET_LENGTH(s)));
}

// An exact str in the compact form every str made by the interpreter has,
// read as its code units: `length` units of `width` bytes (1, 2 or 4) each.
// Two such str are equal exactly when their widths and units are equal.
struct str_units {
    Py_ssize_t length;
    int width;
    const unsigned char* data;
};
inline bool compact_exact_str(PyObject* o) noexcept { return PyUnicode_CheckExact(o) && PyUnicode_IS_COMPACT(o); }
inline str_units units_of(PyObject* compact_str) noexcept {
    return {PyUnicode_GET_LENGTH(compact_str), static_cast<int>(PyUnicode_KIND(compact_str)),
            static_cast<const unsigned char*>(PyUnicode_DATA(compact_str))};
}

// A new str of n ASCII characters for the caller to write, before anything
// else sees it: `bytes` points at its n bytes (followed by its NUL).
struct new_ascii {
    ref str;
    char* bytes;
};
inline new_ascii new_ascii_str(std::size_t n) {
    ref s = created(PyUnicode_New(static_cast<Py_ssize_t>(n), 127));
    char* bytes = reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(s.get()));
    return {std::move(s), bytes};
}

// The bytes of a bytes object (or subclass), valid while it lives.
inline std::string_view bytes_of(PyObject* b) noexcept {
    return std::string_view(PyBytes_AS_STRING(b), static_cast<std::size_t>(PyBytes_GET_SIZE(b)));
}

}  // namespace tavo
