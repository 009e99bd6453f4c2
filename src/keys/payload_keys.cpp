// tavo.keys.uncamel(data, *, depth=None) and
// tavo.keys.underscore_to_camelcase(data, *, depth=None): the keys of a
// nested payload converted.
//
// A dict (or subclass) becomes a new dict whose str keys are converted and
// whose values are converted in turn; a list or tuple (or subclass) becomes a
// new list or tuple of converted items; anything else is the very object.
// `depth` counts the levels of dicts whose keys are converted; lists and
// tuples are no level. Below it, objects are the very objects.
//
// The walk is depth-first over an explicit stack of open containers, so the
// nesting depth is limited only by memory. Each frame owns the container it
// converts and the new one it builds:
// - a dict is read from its own storage (never through a subclass's
//   methods), in place for as long as no Python code can run in between
//   (see read_in_place), and otherwise from new references to its pairs
//   taken at one moment and kept in `pairs`, a stack of key/value references
//   shared by the frames: what happens to the dict afterwards (a key's
//   __hash__ that changes it, a finaliser run by a collection, another
//   thread) cannot reach the walk;
// - a list is copied on entry (under its lock on free-threaded builds: the
//   items of one moment), and the copy, which nothing else knows of, becomes
//   the new list: each item that must be converted is replaced in place by
//   its conversion when that is done;
// - a tuple likewise, through a new tuple holding the same items.
// So the only Python code a walk runs is a non-str key's __hash__ and
// __eq__ (as it enters the new dict), a finaliser started by an allocation
// or a release, a signal handler (the walk checks for signals every few
// thousand steps, where it holds nothing borrowed), and __repr__ of the keys
// named in a collision's message; across each of them the walk holds owned
// references only. The new dicts, lists and tuples are out of the
// collector's reach until the whole result is made (unfinished_set in
// boundary/views.hpp), so that code cannot find them and change them under
// the walk.
//
// Keys: a payload repeats its keys (every record of a list has the same), and
// json.loads gives equal keys as one object. Each distinct key is converted
// once per call: `key_cache` maps an exact str to its conversion, by identity
// first and then by text, and holds both. A converted key with the text of
// its source is the source itself.
//
// A container met again on the current path (one that contains itself) ends
// the call with ValueError, as json.dumps refuses to write one: the first
// `scanned_path` frames are compared one by one (a payload's path is short),
// deeper ones are kept in a set of addresses. A container shared by several
// places is not on one path, and is converted at each.
//
// Two keys of one dict that become the same key end the call with ValueError
// naming both and the key they become.
#include "bodies/bodies.hpp"
#include "boundary/views.hpp"
#include "iter/address_set.hpp"
#include "shared/object_lock.hpp"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace tavo {
namespace {

// Every level of dicts.
constexpr Py_ssize_t unlimited = PY_SSIZE_T_MAX;
// Frames of the path compared one by one before the address set takes over.
constexpr std::size_t scanned_path = 32;
// Steps of the walk (containers entered, pairs put) between two checks for a
// pending signal, so that a long walk stops promptly on Ctrl-C.
constexpr std::uint32_t steps_between_signal_checks = 4096;

// The two conversions, as the walk sees them.
struct uncamel_keys {
    static constexpr const char* name = "uncamel";
    static constexpr const char* cycle = "uncamel: circular reference: a dict, list or tuple contains itself";
    static result<ref> convert(PyObject* s) { return uncamel_str(s); }
};
struct camelcase_keys {
    static constexpr const char* name = "underscore_to_camelcase";
    static constexpr const char* cycle =
        "underscore_to_camelcase: circular reference: a dict, list or tuple contains itself";
    // A key without an underscore is kept as it is ('lastUpdate', 'userID',
    // 'id'): a payload mixes keys that are camelCase already with snake_case
    // ones. (The text is kept; a str subclass still becomes a plain str.)
    static result<ref> convert(PyObject* s) {
        const Py_ssize_t n = PyUnicode_GetLength(s);
        const Py_ssize_t at = PyUnicode_FindChar(s, '_', 0, n, 1);
        if (at == -2) return error_value::fetch();
        if (at == -1) return created(PyUnicode_Substring(s, 0, n));
        return underscore_to_camelcase_str(s);
    }
};

// Appends the repr of a key for a collision's message. A key whose __repr__
// fails is shown as "<T object at 0x...>", as object.__repr__ would show it,
// and the failure is dropped: nothing is printed. A failure that must end the
// call (MemoryError, an interrupt) is returned.
status append_key(std::string& text, PyObject* key) {
    ref shown = steal(PyObject_Repr(key));
    if (!shown) {
        if (status dropped = discard_ordinary_error(); !dropped) return dropped;
        shown = steal(PyUnicode_FromFormat("<%s object at %p>", Py_TYPE(key)->tp_name, static_cast<void*>(key)));
        if (!shown) return error_value::fetch();
    }
    return append_str_text(text, shown.get());
}

// Whether two exact str in the compact form hold the same text.
bool same_text(PyObject* a, PyObject* b) noexcept {
    const str_units x = units_of(a), y = units_of(b);
    return x.length == y.length && x.width == y.width &&
           std::memcmp(x.data, y.data, static_cast<std::size_t>(x.length) * static_cast<std::size_t>(x.width)) == 0;
}

// Each distinct key's conversion, made once per call. Exact str keys are
// kept in an open-addressing table on their hash (which the str keeps once
// computed): an entry matches the very object, or another str of the same
// text. The table holds its keys and their conversions, so an address in it
// always means the same object. A str subclass is converted each time: its
// __hash__ and __eq__ may be anything, and only its characters count.
template <class Form>
class key_cache {
public:
    // The key's conversion: an exact str held by the cache until the next
    // call at least.
    [[gnu::always_inline]] result<PyObject*> convert(PyObject* key) {
        // The same key object as a recent one (json.loads gives every record
        // the same key objects): one compare. The table holds what the
        // front entries point at.
        const front_entry& front = front_[front_slot(key)];
        if (front.key == key) return front.out;
        return convert_slow(key);
    }

private:
    [[gnu::noinline]] result<PyObject*> convert_slow(PyObject* key) {
        front_entry& front = front_[front_slot(key)];
        if (!compact_exact_str(key)) {
            result<ref> out = Form::convert(key);
            if (!out) return std::move(out.error());
            spare_ = std::move(*out);
            return spare_.get();
        }
        const Py_hash_t hash = PyObject_Hash(key);  // a str's own hash: no Python code
        if (hash == -1) return error_value::fetch();
        std::size_t i = slot_of(hash);
        if (!slots_.empty()) {
            for (; slots_[i].key; i = (i + 1) & (slots_.size() - 1)) {
                const entry& e = slots_[i];
                if (e.key.get() == key || (e.hash == hash && same_text(e.key.get(), key))) {
                    if (e.key.get() == key) front = {key, e.out.get()};
                    return e.out.get();
                }
            }
        }
        result<ref> out = Form::convert(key);
        if (!out) return std::move(out.error());
        // The text unchanged: the key itself.
        ref converted = same_text(out->get(), key) ? borrow(key) : std::move(*out);
        if ((count_ + 1) * 2 > slots_.size()) {
            grow();
            i = slot_of(hash);
            while (slots_[i].key) i = (i + 1) & (slots_.size() - 1);
        }
        entry& e = slots_[i];
        e.key = borrow(key);
        e.out = std::move(converted);
        e.hash = hash;
        ++count_;
        front = {key, e.out.get()};
        return e.out.get();
    }

    struct entry {
        ref key;
        ref out;
        Py_hash_t hash = 0;
    };
    // A key of the table and its conversion, by address; borrowed from the table.
    struct front_entry {
        PyObject* key = nullptr;
        PyObject* out = nullptr;
    };
    static constexpr std::size_t front_size = 256;  // front_slot() takes the top 8 bits

    static std::size_t front_slot(PyObject* key) noexcept {
        const auto x = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key));
        return static_cast<std::size_t>((x * 0x9E3779B97F4A7C15ull) >> 56);
    }

    std::size_t slot_of(Py_hash_t hash) const noexcept {
        if (slots_.empty()) return 0;
        const auto h = static_cast<std::uint64_t>(hash) * 0x9E3779B97F4A7C15ull;
        return static_cast<std::size_t>(h >> 32) & (slots_.size() - 1);
    }

    void grow() {
        std::vector<entry> old;
        old.swap(slots_);
        slots_.resize(old.empty() ? 64 : old.size() * 2);
        for (entry& e : old) {
            if (!e.key) continue;
            std::size_t i = slot_of(e.hash);
            while (slots_[i].key) i = (i + 1) & (slots_.size() - 1);
            slots_[i] = std::move(e);
        }
    }

    front_entry front_[front_size];
    std::vector<entry> slots_;
    std::size_t count_ = 0;
    ref spare_;  // the last conversion of a str subclass
};

enum class kind : std::uint8_t { dict, list, tuple };

// One open container on the current path.
struct frame {
    ref source;         // the container as found
    ref out;            // its conversion, being built
    Py_ssize_t levels;  // the levels of dicts left for the containers inside
    Py_ssize_t next;    // the next item (a dict's: the next pair in `pairs`)
    Py_ssize_t end;
    std::size_t base;   // a dict's first reference in `pairs`
    Py_ssize_t pos;     // a dict read in place: PyDict_Next's position
    std::size_t made;   // `out`'s number among the walk's unfinished containers
    kind k;
    bool in_place;      // a dict read in place, not yet from `pairs`
    bool tracked;       // in the address set
};

// Whether the walk enters `o` with `levels` levels of dicts left.
inline bool enters(PyObject* o, Py_ssize_t levels) noexcept {
    return levels > 0 && PyType_FastSubclass(Py_TYPE(o), Py_TPFLAGS_DICT_SUBCLASS | Py_TPFLAGS_LIST_SUBCLASS |
                                                             Py_TPFLAGS_TUPLE_SUBCLASS);
}

template <class Form>
class payload_walk {
public:
    result<ref> run(PyObject* data, Py_ssize_t levels) {
        if (!enters(data, levels)) return borrow(data);
        push(data, levels);  // the first frame: on no path yet
        for (;;) {
            if (signal_check_due()) {
                if (PyErr_CheckSignals() < 0) return error_value::fetch();
            }
            frame* f = &stack_.back();
            PyObject* child = nullptr;
            if (f->k == kind::dict) {
                if (f->in_place) {
                    if (status read = read_in_place(*f, child); !read) return std::move(read.error());
                }
                for (; !child && f->next < f->end; ++f->next) {
                    // The pair is held by `pairs_`, and the new dict is out
                    // of reach: a signal handler may run here.
                    if (signal_check_due()) {
                        if (PyErr_CheckSignals() < 0) return error_value::fetch();
                    }
                    PyObject* value = pairs_[f->base + 2 * static_cast<std::size_t>(f->next) + 1].get();
                    if (enters(value, f->levels)) {
                        child = value;
                        break;
                    }
                    if (status put = put_pair(*f, key_at(*f), value); !put) return std::move(put.error());
                }
            } else {
                // The new list or tuple is the walk's own: no Python code runs
                // in this loop, and nothing else changes its items.
                PyObject* const* items = sequence_view(f->out.get()).items();
                for (; f->next < f->end; ++f->next) {
                    if (enters(items[f->next], f->levels)) {
                        child = items[f->next];
                        break;
                    }
                }
            }
            if (child != nullptr) {
                if (!push(child, f->levels)) return error_value::static_error(PyExc_ValueError, Form::cycle);
                continue;
            }
            ref done = std::move(f->out);
            pop();
            if (stack_.empty()) {
                unfinished_.reveal_all();  // the result holds them all
                return done;
            }
            if (status given = give(stack_.back(), std::move(done)); !given) return std::move(given.error());
        }
    }

private:
    // Opens a frame for the container `o`; `levels` are those left where it
    // was found (more than none). False, and nothing done, when `o` is on the
    // current path already.
    bool push(PyObject* o, Py_ssize_t levels) {
        const std::size_t scanned = std::min(stack_.size(), scanned_path);
        for (std::size_t i = 0; i < scanned; ++i) {
            if (stack_[i].source.get() == o) return false;
        }
        const bool tracked = stack_.size() >= scanned_path;
        if (tracked && !path_.insert(o)) return false;
        // From here on the frame is pushed or, when a creation fails, the
        // call ends: the address set is not used again.
        frame f{borrow(o), ref(), levels, 0, 0, pairs_.size(), 0, 0, kind::list, false, false};
        if (PyDict_Check(o)) {
            f.k = kind::dict;
            if (levels != unlimited) --f.levels;
            if constexpr (free_threaded) {
                f.end = read_pairs(o, 0);
            } else {
                f.in_place = true;
            }
            f.out = created(PyDict_New());
        } else if (PyList_Check(o)) {
            {
                object_lock hold(o);
                f.out = list_view(o).copy();
            }
            f.end = list_view(f.out.get()).size();
        } else {
            f.k = kind::tuple;
            f.out = tuple_copy(o);
            f.end = tuple_view(f.out.get()).size();
        }
        // Made (or copied) with nothing run since: out of reach before any
        // Python code runs.
        f.made = unfinished_.hide(f.out.get());
        f.tracked = tracked;
        stack_.push_back(std::move(f));
        return true;
    }

    void pop() noexcept {
        frame& f = stack_.back();
        if (f.tracked) path_.erase(f.source.get());
        const std::size_t base = f.base;
        const bool dict = f.k == kind::dict;
        stack_.pop_back();
        if (dict) pairs_.resize(base);
    }

    // New references to the keys and values of a dict (or subclass) from
    // PyDict_Next's position `pos` on, read from its own storage at one
    // moment, pushed on `pairs`; their number.
    Py_ssize_t read_pairs(PyObject* d, Py_ssize_t pos) {
        object_lock hold(d);
        const std::size_t n = static_cast<std::size_t>(dict_size(d));
        const std::size_t need = pairs_.size() + 2 * n;
        if (need > pairs_.capacity()) pairs_.reserve(std::max(need, 2 * pairs_.capacity()));
        Py_ssize_t count = 0;
        PyObject *key, *value;
        while (PyDict_Next(d, &pos, &key, &value)) {
            pairs_.push_back(borrow(key));
            pairs_.push_back(borrow(value));
            ++count;
        }
        return count;
    }

    // With the interpreter lock, a dict is read in place for as long as no
    // Python code can run: while its pairs have str keys (converting one and
    // putting it into the new dict, whose keys are all exact str, runs none;
    // the allocations it makes start no collection) and values that the walk
    // does not enter. At the first pair that is not such, that pair and the
    // rest are read into `pairs`, and the frame goes on from there; `child`
    // is then that pair's value when the walk enters it. (On free-threaded
    // builds every dict is read into `pairs` when entered: other threads may
    // change it at any moment.)
    status read_in_place(frame& f, PyObject*& child) {
        PyObject* d = f.source.get();
        PyObject *key, *value;
        Py_ssize_t at = f.pos;
        while (PyDict_Next(d, &f.pos, &key, &value)) {
            // When a check for a signal is due, the rest is read into
            // `pairs` first: a handler may change the dict.
            const bool check_signals = signal_check_due();
            if (!PyUnicode_Check(key) || enters(value, f.levels) || check_signals) {
                f.in_place = false;
                f.base = pairs_.size();
                f.next = 0;
                f.end = read_pairs(d, at);
                if (enters(value, f.levels)) child = pairs_[f.base + 1].get();
                if (check_signals && PyErr_CheckSignals() < 0) return error_value::fetch();
                return ok();
            }
            if (status put = put_pair(f, key, value); !put) return put;
            at = f.pos;
        }
        f.in_place = false;
        return ok();  // next == end == 0: done
    }

    PyObject* key_at(const frame& f) const noexcept {
        return pairs_[f.base + 2 * static_cast<std::size_t>(f.next)].get();
    }

    // Whether a check for a pending signal is due at this step.
    bool signal_check_due() noexcept { return ++steps_ % steps_between_signal_checks == 0; }

    // Stores the conversion of the child at `f.next` and moves past it.
    status give(frame& f, ref converted) {
        switch (f.k) {
        case kind::dict:
            if (status put = put_pair(f, key_at(f), converted.get()); !put) return put;
            break;
        case kind::list: {
            // The item it replaces is released here, holding nothing
            // borrowed. The list is the walk's own, out of reach of any
            // Python code: it has the length it was made with.
            assert(f.next < list_view(f.out.get()).size());
            ref old = list_view(f.out.get()).exchange(f.next, std::move(converted));
            break;
        }
        case kind::tuple: {
            ref old = exchange_in_new_tuple(f.out.get(), f.next, std::move(converted));
            break;
        }
        }
        ++f.next;
        return ok();
    }

    // Puts a pair into the new dict, its key converted, with `value` (the
    // pair's own value or its conversion).
    [[gnu::always_inline]] status put_pair(frame& f, PyObject* key, PyObject* value) {
        PyObject* new_key = key;
        if (PyUnicode_Check(key)) {
            result<PyObject*> converted = keys_.convert(key);
            if (!converted) return std::move(converted.error());
            new_key = *converted;
        }
        PyObject* out = f.out.get();
        const Py_ssize_t before = dict_size(out);
        if (PyDict_SetItem(out, new_key, value) < 0) return error_value::fetch();
        // A dict that takes a container is tracked by the collector again.
        if (PyType_IS_GC(Py_TYPE(value)) || PyType_IS_GC(Py_TYPE(new_key))) unfinished_.hide_again(f.made);
        if (dict_size(out) == before) [[unlikely]] return collision(f, borrow(key), borrow(new_key));
        return ok();
    }

    // `key` became `new_key`, which the new dict holds already: the error
    // names the other key of the dict that became it too, found in the dict
    // as it is now.
    [[gnu::noinline, gnu::cold]] error_value collision(frame& f, ref key, ref new_key) {
        const std::size_t base = pairs_.size();
        const Py_ssize_t count = read_pairs(f.source.get(), 0);
        ref earlier;
        for (Py_ssize_t j = 0; j < count && !earlier; ++j) {
            ref other = borrow(pairs_[base + 2 * static_cast<std::size_t>(j)].get());
            if (other.get() == key.get()) continue;
            ref became = borrow(other.get());
            if (PyUnicode_Check(other.get())) {
                result<PyObject*> converted = keys_.convert(other.get());
                if (!converted) return std::move(converted.error());
                became = borrow(*converted);
            }
            const int equal = PyObject_RichCompareBool(became.get(), new_key.get(), Py_EQ);
            if (equal < 0) return error_value::fetch();
            if (equal) earlier = std::move(other);
        }
        std::string text = Form::name;
        status shown = ok();
        if (earlier) {
            text += ": the keys ";
            shown = append_key(text, earlier.get());
            if (shown) {
                text += " and ";
                shown = append_key(text, key.get());
            }
            text += " both become ";
        } else {
            text += ": the key ";
            shown = append_key(text, key.get());
            text += " becomes a key the new dict holds already: ";
        }
        if (shown) shown = append_key(text, new_key.get());
        if (!shown) return std::move(shown.error());
        return error_value::owned_error(PyExc_ValueError, std::move(text));
    }

    std::vector<frame> stack_;
    std::vector<ref> pairs_;  // key, value, key, value... of the open dicts
    address_set path_;        // the frames from `scanned_path` on
    key_cache<Form> keys_;
    unfinished_set unfinished_;  // every new container, until the result is whole
    std::uint32_t steps_ = 0;
};

// The depth argument: the levels of dicts to convert.
result<Py_ssize_t> depth_arg(const call_args& a, std::size_t i) {
    PyObject* o = a[i];
    if (o == nullptr || o == Py_None) return unlimited;
    // Any integer, as operator.index takes it (True and False are 1 and 0).
    ref n = steal(PyNumber_Index(o));
    if (!n) return prefixed<Py_ssize_t>(a, i, error_value::fetch());
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(n.get(), &overflow);
    if (v == -1 && overflow == 0) {
        if (std::optional<error_value> e = error_value::take_pending()) return std::move(*e);
    }
    if (overflow > 0 || v >= unlimited) return unlimited;
    if (overflow < 0 || v < 0) {
        std::string text = "depth must be None or an integer >= 0, not ";
        if (status shown = append_display(text, n.get(), true); !shown) return std::move(shown.error());
        return error_value::owned_error(PyExc_ValueError, std::move(text));
    }
    return static_cast<Py_ssize_t>(v);
}

template <class Form, const function_description& D>
result<ref> keys_body(call_args& a) {
    result<Py_ssize_t> levels = depth_arg(a, param(D, "depth"));
    if (!levels) return std::move(levels.error());
    payload_walk<Form> walk;
    return walk.run(a[param(D, "data")], *levels);
}

}  // namespace

result<ref> keys_uncamel_body(call_args& a) {
    return keys_body<uncamel_keys, keys_uncamel_desc>(a);
}

result<ref> keys_underscore_to_camelcase_body(call_args& a) {
    return keys_body<camelcase_keys, keys_underscore_desc>(a);
}

}  // namespace tavo
