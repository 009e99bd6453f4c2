// collapse(*args): nested lists and tuples flattened into one new list.
//
// The walk is depth-first and left to right over an explicit stack of open
// containers, so the nesting depth is limited only by memory. Each frame owns
// its container and remembers the next index and the length read when the
// container was entered. Leaves go straight into a result list sized from the
// top-level lengths (exact for a flat list); once it is full they are appended.
//
// No interpreter code runs during the walk: the only object it creates, the
// result list, exists before the walk starts, and every release it makes
// gives back a count on an object that its container still holds. Lists are
// nevertheless read through index checks.
//
// A list or tuple that contains itself would make the walk endless. Nesting
// up to `unchecked_depth` is never checked; deeper, the containers on the
// current path are kept in a pointer set, and entering one that is already on
// the path ends the call with ValueError. Any self-containing input drives the
// path past that depth, and the path then holds at most every distinct
// container once before the repeat is seen, so memory stays bounded.
// Containers of `tracked_length` items or more are kept in the set at any
// depth: a wide list that contains itself would otherwise add its items to the
// result once per level, `unchecked_depth` times over, before the check
// starts (gigabytes for a list of ten million items). One set entry per such
// container costs nothing next to walking its items.
#include "bodies/bodies.hpp"
#include "boundary/views.hpp"
#include "iter/address_set.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

namespace tavo {
namespace {

constexpr std::size_t unchecked_depth = 256;
constexpr Py_ssize_t tracked_length = 1024;

constexpr const char* self_containing_message =
    "collapse() cannot flatten a list or tuple that contains itself";

inline bool is_container(PyObject* o) noexcept {
    return PyType_FastSubclass(Py_TYPE(o), Py_TPFLAGS_LIST_SUBCLASS | Py_TPFLAGS_TUPLE_SUBCLASS);
}

// One open container on the current path.
struct frame {
    ref seq;          // what is walked: the container, or a copy of a list (below)
    PyObject* found;  // the container as found in its parent: the path set's key
    Py_ssize_t next;
    Py_ssize_t end;   // the length read when the container was entered
    bool is_list;
    bool tracked;     // in the path set
};

// The result list while it fills: created with the expected number of
// slots, filled in place while they last, then appended to.
class flat_result {
public:
    explicit flat_result(Py_ssize_t expected) : list_(expected) {}

    // Stores new references to the leaves of items[from, to) up to the first
    // container, and returns the index of that container (or `to`); the
    // interpreter's error when growing the list failed.
    result<Py_ssize_t> add_leaves(PyObject* const* items, Py_ssize_t from, Py_ssize_t to) {
        Py_ssize_t i = from;
        const Py_ssize_t room = std::min(to - from, list_.room());
        const Py_ssize_t stop = from + std::max<Py_ssize_t>(room, 0);
        // Locals, so that the reference count updates (which may alias any
        // Py_ssize_t in memory) do not force them back to memory each time.
        PyObject** dst = list_.empty_slots();
        PyTypeObject* last_leaf_type = nullptr;
        for (; i < stop; ++i) {
            PyObject* o = items[i];
            PyTypeObject* t = Py_TYPE(o);
            if (t != last_leaf_type) {
                if (is_container(o)) break;
                last_leaf_type = t;
            }
            *dst++ = Py_NewRef(o);
        }
        list_.add_filled(i - from);
        if (i < stop) return i;
        for (; i < to; ++i) {
            PyObject* o = items[i];
            if (is_container(o)) break;
            if (status added = list_.append(o); !added) return std::move(added.error());
        }
        return i;
    }

    ref finish() {
        const Py_ssize_t filled = list_.filled();
        const Py_ssize_t slots = filled + list_.room();
        ref out = list_.finish();
        // A list created much larger than its content (many empty
        // containers) is copied into one of the right size.
        if (filled * 2 < slots) return created(PyList_GetSlice(out.get(), 0, filled));
        return out;
    }

private:
    list_builder list_;
};

// --- small inputs --------------------------------------------------------------------
// A few dozen elements a few levels deep are flattened in one walk over a
// stack of plain pointers (no interpreter code runs during it), which starts
// at the caller's argument array and takes a reference to each leaf; the
// result list is then created at the right size and takes them over. Anything
// deeper or larger goes to the general walk.

constexpr int small_depth = 8;            // levels below the arguments
constexpr Py_ssize_t small_visits = 64;   // elements looked at, containers included

// Calls leaf(o) for each leaf in order; returns their number, or -1 when the
// input is too deep or too large for this walk.
template <class Leaf>
Py_ssize_t walk_small(const call_args& args, Leaf&& leaf) noexcept {
    struct level {
        PyObject* const* items;
        Py_ssize_t next;
        Py_ssize_t end;
    };
    level stack[small_depth + 1];
    int depth = 0;
    stack[0] = {args.gathered, 0, args.gathered_count};
    Py_ssize_t visits = 0, leaves = 0;
    PyTypeObject* leaf_type = nullptr;  // the type of the last leaf: no container
    while (depth >= 0) {
        level& l = stack[depth];
        if (l.end - l.next > small_visits - visits) return -1;
        visits += l.end - l.next;
        while (l.next < l.end) {
            PyObject* o = l.items[l.next++];
            if (Py_TYPE(o) != leaf_type) {
                if (is_container(o)) {
                    if (depth == small_depth) return -1;
#ifdef Py_GIL_DISABLED
                    if (PyList_Check(o)) return -1;  // other threads may change it: the general walk copies it
#endif
                    visits -= l.end - l.next;  // counted again when the level resumes
                    const sequence_view c(o);
                    stack[++depth] = {c.items(), 0, c.size()};
                    goto next_level;
                }
                leaf_type = Py_TYPE(o);
            }
            leaf(o);
            ++leaves;
        }
        --depth;
    next_level:;
    }
    return leaves;
}

// The commonest call, one list or tuple of a few leaves, without the stack:
// leaf(o) for each item, and true; false as soon as an item is a container
// (the caller then discards what it was given).
template <class Leaf>
bool hold_flat_argument(const call_args& args, Leaf&& leaf) noexcept {
    if (args.gathered_count != 1) return false;
    PyObject* only = args.gathered[0];
    if (!is_container(only)) return false;
#ifdef Py_GIL_DISABLED
    if (PyList_Check(only)) return false;  // other threads may change it: the general walk copies it
#endif
    const sequence_view c(only);
    const Py_ssize_t n = c.size();
    if (n > small_visits) return false;
    PyObject* const* items = c.items();
    PyTypeObject* leaf_type = nullptr;  // the type of the last leaf: no container
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* o = items[i];
        if (Py_TYPE(o) != leaf_type) {
            if (is_container(o)) return false;
            leaf_type = Py_TYPE(o);
        }
        leaf(o);
    }
    return true;
}

// The flat list of a small input, or nothing (the general walk applies).
std::optional<ref> collapse_small(const call_args& args) {
    // The leaves are held before the list is created, so a collection started
    // by creating it cannot take them away. Only the handles in use are built.
    class held_leaves {
    public:
        ~held_leaves() { clear(); }
        // Releasing a leaf runs no interpreter code: its container holds it.
        void clear() noexcept {
            std::destroy_n(at(0), count_);
            count_ = 0;
        }
        void hold(PyObject* o) noexcept { new (at(count_++)) ref(borrow(o)); }
        Py_ssize_t size() const noexcept { return static_cast<Py_ssize_t>(count_); }
        // Hands every reference to the list's empty slots, which must be
        // enough; nothing is held afterwards.
        void give_to(list_builder& list) noexcept {
            PyObject** slots = list.empty_slots();
            for (std::size_t i = 0; i < count_; ++i) slots[i] = at(i)->release();
            list.add_filled(size());
        }

    private:
        ref* at(std::size_t i) noexcept { return reinterpret_cast<ref*>(storage_) + i; }
        alignas(ref) unsigned char storage_[small_visits * sizeof(ref)];
        std::size_t count_ = 0;
    } leaves;
    if (!hold_flat_argument(args, [&](PyObject* o) noexcept { leaves.hold(o); })) {
        leaves.clear();
        if (walk_small(args, [&](PyObject* o) noexcept { leaves.hold(o); }) < 0) return std::nullopt;
    }
    list_builder out(leaves.size());
    leaves.give_to(out);
    return out.finish();
}

// The general walk: the leaves of the arguments tuple into `out`, the tuple
// being the first open container. Kept out of line: inlined into the body,
// it keeps the result in registers that are saved around every append.
[[gnu::noinline]] status walk(PyObject* args, flat_result& out) {
    const Py_ssize_t nargs = tuple_view(args).size();
    std::vector<frame> stack;
    address_set path;
    stack.push_back(frame{borrow(args), args, 0, nargs, false, false});

    while (!stack.empty()) {
        frame* f = &stack.back();
        PyObject* seq = f->seq.get();
        PyObject* const* items;
        Py_ssize_t stop = f->end;
        if (f->is_list) {
            // No interpreter code runs during the walk, so the list keeps its
            // item array and length for the whole run of leaves.
            const list_view list(seq);
            items = list.items();
            stop = std::min(stop, list.size());
        } else {
            items = tuple_view(seq).items();
        }
        result<Py_ssize_t> added = out.add_leaves(items, f->next, stop);
        if (!added) [[unlikely]] return std::move(added.error());
        const Py_ssize_t at = *added;
        PyObject* child = nullptr;
        if (at < stop) {
            child = items[at];
            f->next = at + 1;
        } else if (stop < f->end) [[unlikely]] {
            return index_out_of_range();  // the list is shorter than when it was entered
        } else {
            f->next = at;
        }
        if (child == nullptr) {
            if (f->tracked) path.erase(f->found);
            stack.pop_back();
            continue;
        }
        // On free-threaded builds a list is walked as a copy, read whole
        // under its lock, that no other thread can change. Tuples never change.
        ref walked = PyList_Check(child) ? steady_list(child) : borrow(child);
        const Py_ssize_t len = sequence_view(walked.get()).size();
        if (len == 0) continue;
        bool tracked = false;
        if (stack.size() >= unchecked_depth || len >= tracked_length) {
            if (!path.insert(child)) {
                return error_value::static_error(PyExc_ValueError, self_containing_message);
            }
            tracked = true;
        }
        stack.push_back(frame{std::move(walked), child, 0, len, PyList_Check(child) != 0, tracked});
    }
    return ok();
}

}  // namespace

result<ref> collapse_body(call_args& a) {
    if (std::optional<ref> small = collapse_small(a)) return std::move(*small);
    const ref varargs = varargs_tuple(a);
    const tuple_view arg_items(varargs.get());
    Py_ssize_t expected = 0;
    for (Py_ssize_t i = 0; i < arg_items.size(); ++i) {
        PyObject* o = arg_items.items()[i];
        expected += is_container(o) ? sequence_view(o).size() : 1;
    }
    flat_result out(expected);
    status walked = walk(varargs.get(), out);
    if (!walked) return std::move(walked.error());
    return out.finish();
}

}  // namespace tavo
