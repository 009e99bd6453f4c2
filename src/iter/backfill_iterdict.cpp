// backfill_iterdict(iterdict): back-filling key by key over a list of rows.
//
// Keys are told apart by their UTF-8 text, never by interpreter equality or
// hashing: each distinct text has one slot per call, holding the key object
// the outputs use (shared by every row, so its hash is computed once), the
// latest real value and the rows still waiting for one.
//
// A release or an allocation may run interpreter code (finalizers, gc
// callbacks), so nothing borrowed is kept across one, and a row that changes
// under its walk ends the call with an internal failure. The outputs are out
// of the collector's reach until the result list holds them all
// (unfinished_set in boundary/views.hpp): that code cannot change them.
//
// An exact dict whose keys are all exact str is copied with PyDict_Copy (one
// block copy in the row's order) and the copy is edited into the output: a
// None is replaced in place or, with no value known yet, removed, so that a
// later fill adds the key last, as building the output entry by entry would.
// Its items are taken, borrowed, in the same stretch without interpreter
// code as the copy, which then holds them. Any other row (a dict subclass, a
// key of a str subclass) is walked and its output built entry by entry. When
// a row has the very key objects of the row before at the same positions,
// the slots are found by pointer and a real value only marks the row whose
// output holds it, read back from there when a None needs it.
#include "bodies/bodies.hpp"
#include "boundary/views.hpp"

#include <cassert>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tavo {
namespace {

struct key_slot {
    ref key;                          // a plain str with the text
    std::string_view text;            // UTF-8 bytes of `key`, kept alive by it
    ref seen;                         // the input key object last found here
    ref latest;                       // latest real value, or empty
    // When not negative, the latest real value is newer than `latest`: it is
    // the value under this text in the output of that row (a copy, which
    // holds it), read back only when a None needs it.
    Py_ssize_t latest_row = -1;
    std::vector<Py_ssize_t> waiting;  // rows that held None while there was no real value
};

// The per-call slots, found by key text. Rows usually list their keys in the
// same order, often with the very same key objects, so the slot used at the
// same item position in the previous row is tried first: the same object as
// the one last found there (held, so its address cannot be reused), else the
// same text (one length check and one memcmp); only then the hash map.
class key_table {
public:
    static constexpr std::uint32_t no_slot = UINT32_MAX;

    key_table() {
        // Room for the keys of a typical row, allocated once.
        slots_.reserve(scanned_slots);
        by_position_.reserve(scanned_slots);
    }

    // The slot last used at item `position` if `k` is the very key object
    // found there, else `no_slot`.
    std::uint32_t guess(std::size_t position, PyObject* k) const noexcept {
        if (position >= by_position_.size()) return no_slot;
        std::uint32_t g = by_position_[position];
        return slots_[g].seen.get() == k ? g : no_slot;
    }

    // The slot for key object `k` at item `position`, found by its text (a
    // new slot for a new text).
    [[gnu::noinline]] result<std::uint32_t> find(std::size_t position, PyObject* k) {
        if (position >= by_position_.size()) by_position_.resize(position + 1, no_slot);
        std::uint32_t g = by_position_[position];
        if (!PyUnicode_Check(k)) return type_mismatch(k, "PyString");
        Py_ssize_t len = 0;
        const char* u = PyUnicode_AsUTF8AndSize(k, &len);
        if (u == nullptr) return error_value::fetch();
        std::string_view text(u, static_cast<std::size_t>(len));
        std::uint32_t found = (g != no_slot && same_text(slots_[g].text, text)) ? g : lookup(text, k);
        slots_[found].seen = borrow(k);
        by_position_[position] = found;
        return found;
    }

    key_slot& operator[](std::uint32_t i) noexcept { return slots_[i]; }

private:
    static bool same_text(std::string_view a, std::string_view b) noexcept {
        return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0;
    }

    std::uint32_t lookup(std::string_view text, PyObject* k) {
        if (index_.empty()) {
            for (std::uint32_t i = 0; i < slots_.size(); ++i) {
                if (same_text(slots_[i].text, text)) return i;
            }
        } else if (auto it = index_.find(text); it != index_.end()) {
            return it->second;
        }
        // An exact str is its own plain key (`text` is its UTF-8); a
        // subclass gets a new str.
        ref key;
        std::string_view own_text = text;
        if (PyUnicode_CheckExact(k)) {
            key = borrow(k);
        } else {
            key = string_result(text);
            Py_ssize_t len = 0;
            const char* own = PyUnicode_AsUTF8AndSize(key.get(), &len);
            if (own == nullptr) failed_creation();
            own_text = std::string_view(own, static_cast<std::size_t>(len));
        }
        auto index = static_cast<std::uint32_t>(slots_.size());
        slots_.push_back(key_slot{std::move(key), own_text, ref(), ref(), -1, {}});
        if (!index_.empty()) {
            index_.emplace(own_text, index);
        } else if (slots_.size() == scanned_slots) {
            for (std::uint32_t i = 0; i < slots_.size(); ++i) index_.emplace(slots_[i].text, i);
        }
        return index;
    }

    // Up to this many slots are found by a scan, without the hash map.
    static constexpr std::size_t scanned_slots = 16;

    std::vector<key_slot> slots_;
    std::unordered_map<std::string_view, std::uint32_t> index_;  // views into slots_[i].key; empty while few
    std::vector<std::uint32_t> by_position_;
};

// A copy of an exact dict, made while no interpreter code can run. Before
// 3.12 the interpreter collects garbage inside allocations, and the copy's own
// allocation may start a collection whose finalizers and gc callbacks change
// the row half way through the copy (the copy then counts the row's new size
// over its old entries, or reads a value table the row no longer has); the
// collector is held off for the copy there. From 3.12 on an allocation only
// schedules a collection.
[[maybe_unused]] ref copy_row(PyObject* row) {
#if PY_VERSION_HEX < 0x030C0000
    const int was_enabled = PyGC_Disable();
    PyObject* copy = PyDict_Copy(row);
    if (was_enabled) PyGC_Enable();
    return created(copy);
#else
    return created(PyDict_Copy(row));
#endif
}

// Gives the slot's first real value to the earlier rows that waited for it.
// Output p is number p of `unfinished`.
status fill_waiting(key_slot& slot, std::vector<ref>& outputs, unfinished_set& unfinished, Py_ssize_t current) {
    std::vector<Py_ssize_t> waiting;
    waiting.swap(slot.waiting);
    for (Py_ssize_t p : waiting) {
        // The row being walked gets the value right after.
        if (p == current) continue;
        const auto row = static_cast<std::size_t>(p);
        if (PyDict_SetItem(outputs[row].get(), slot.key.get(), slot.latest.get()) < 0) return error_value::fetch();
        unfinished.hide_again(row);
    }
    return ok();
}

// Takes a key with a None and no real value yet out of a row's copy. A copy
// that interpreter code already took it out of has nothing to remove.
status remove_key(PyObject* out, PyObject* key) {
    if (PyDict_DelItem(out, key) == 0) return ok();
    if (!PyErr_ExceptionMatches(PyExc_KeyError)) return error_value::fetch();
    return discard_ordinary_error();
}

// How many rows go by between two checks for a pending signal, so that a
// long call stops promptly on Ctrl-C.
constexpr Py_ssize_t signal_check_rows = 256;

constexpr const char* changed_size = "dictionary changed size during iteration";

class backfill_run {
public:
    explicit backfill_run(Py_ssize_t rows) { outputs_.reserve(static_cast<std::size_t>(rows)); }

    // The output of row `r`: an exact dict whose keys are all exact str is
    // copied and edited; any other row is read item by item.
    status add_row(Py_ssize_t r, PyObject* row) {
#ifndef Py_GIL_DISABLED
        // (On free-threaded builds the row is walked under its lock instead:
        // the copy would be made under a lock of its own, and the row checked
        // against it could then change in between.)
        if (PyDict_CheckExact(row)) {
            switch (take_items(row)) {
                case taken::known_keys: return fill_copy(r, copy_row(row));
                case taken::new_keys: return edit_copy(r, row, copy_row(row));
                case taken::not_str: break;
            }
        }
#endif
        return build_output(r, row);
    }

    std::vector<ref>& outputs() noexcept { return outputs_; }
    // Once the result list holds every output: back to the collector.
    void reveal_outputs() noexcept { unfinished_.reveal_all(); }

private:
    // The slot of the key at item position `item`.
    result<std::uint32_t> slot_of(std::size_t item, PyObject* k) {
        std::uint32_t index = keys_.guess(item, k);
        if (index != key_table::no_slot) return index;
        return keys_.find(item, k);
    }

    // A real value for the slot: it becomes the latest, and the rows that
    // waited for one get it.
    status take_real(key_slot& slot, ref value, Py_ssize_t r) {
        slot.latest_row = -1;
        // Replacing the latest value may run a finalizer; `value` is owned.
        if (slot.latest.get() != value.get()) slot.latest = std::move(value);
        if (slot.waiting.empty()) return ok();
        return fill_waiting(slot, outputs_, unfinished_, r);
    }

    // The slot's latest real value, read back from the output that holds it
    // when it is newer than `latest`. Empty when the slot has none yet; an
    // internal failure when interpreter code took it out of that output.
    const ref& latest(key_slot& slot) {
        if (slot.latest_row >= 0) {
            PyObject* out = outputs_[static_cast<std::size_t>(slot.latest_row)].get();
            // An exact str key in a plain dict: the lookup runs no interpreter
            // code and cannot raise.
            result<ref> found = dict_item(out, slot.key.get());
            if (!found || !*found) fail(changed_size);
            ref value = std::move(*found);
            slot.latest_row = -1;
            // Replacing the older value may run a finalizer; `value` is owned.
            slot.latest = std::move(value);
        }
        return slot.latest;
    }

    enum class taken { known_keys, new_keys, not_str };

    // The row's items, borrowed, into `taken_`: its keys when one is not a
    // key object met at the same position in the row before (`new_keys`),
    // else the slots (`known_keys`); `not_str` when a key is not an exact
    // str. Runs no interpreter code, and nothing that could may come between
    // it and the copy.
    taken take_items(PyObject* row) {
        taken_.clear();
        taken_.reserve(static_cast<std::size_t>(dict_size(row)));
        Py_ssize_t pos = 0;
        PyObject* k = nullptr;
        PyObject* v = nullptr;
        bool known = true;
        for (std::size_t item = 0; PyDict_Next(row, &pos, &k, &v); ++item) {
            if (!PyUnicode_CheckExact(k)) return taken::not_str;
            if (known) {
                std::uint32_t index = keys_.guess(item, k);
                if (index != key_table::no_slot) {
                    taken_.push_back({nullptr, v, index});
                    continue;
                }
                // Keys not seen here before: the slower walk finds them by
                // text, which needs the key objects.
                known = false;
                for (std::size_t i = 0; i < item; ++i) taken_[i].key = keys_[taken_[i].slot].seen.get();
            }
            taken_.push_back({k, v, key_table::no_slot});
        }
        return known ? taken::known_keys : taken::new_keys;
    }

    // `out` is the copy of a row whose keys are all known slots, made right
    // after take_items. The real values only mark their row as the latest
    // (`out` holds them); the Nones are then replaced or removed.
    status fill_copy(Py_ssize_t r, ref out) {
        const std::size_t made = unfinished_.hide(out.get());
        assert(made == static_cast<std::size_t>(r));  // one output a row, in order
        // First what runs no interpreter code, while the borrowed values are
        // certainly held by the copy: marks, and references to the values
        // that earlier rows wait for.
        nones_.clear();
        nones_.reserve(taken_.size());
        fills_.clear();
        for (const auto& item : taken_) {
            key_slot& slot = keys_[item.slot];
            if (item.value == Py_None) {
                nones_.push_back(item.slot);
            } else {
                slot.latest_row = r;
                if (!slot.waiting.empty()) fills_.emplace_back(item.slot, borrow(item.value));
            }
        }
        taken_.clear();
        for (auto& [index, value] : fills_) {
            if (status s = take_real(keys_[index], std::move(value), r); !s) return s;
        }
        fills_.clear();
        for (std::uint32_t index : nones_) {
            key_slot& slot = keys_[index];
            const ref& value = latest(slot);
            if (value) {
                // An existing key: the value is replaced in place.
                if (PyDict_SetItem(out.get(), slot.key.get(), value.get()) < 0) return error_value::fetch();
                unfinished_.hide_again(made);
                continue;
            }
            slot.waiting.push_back(r);
            if (status s = remove_key(out.get(), slot.key.get()); !s) return s;
        }
        outputs_.push_back(std::move(out));
        return ok();
    }

    // `out` is the copy of `row`, made right after take_items: it has the
    // items taken, in their order.
    status edit_copy(Py_ssize_t r, PyObject* row, ref out) {
        const std::size_t made = unfinished_.hide(out.get());
        assert(made == static_cast<std::size_t>(r));  // one output a row, in order
        // The copy holds every item taken: owned now, before any release or
        // lookup can run interpreter code.
        items_.clear();
        items_.reserve(taken_.size());
        for (const auto& item : taken_) items_.emplace_back(borrow(item.key), borrow(item.value));
        taken_.clear();
        std::vector<ref>& absent = absent_;  // keys with None and no latest value yet
        absent.clear();
        const Py_ssize_t len = dict_size(row);
        const std::size_t count = items_.size();
        for (std::size_t item = 0; item < count; ++item) {
            // The row itself changing under the walk ends the call, as it
            // does when the row is walked directly.
            if (dict_size(row) != len) fail(changed_size);
            auto& [key, value] = items_[item];
            // Most rows repeat the key objects of the row before.
            std::uint32_t index = keys_.guess(item, key.get());
            if (index == key_table::no_slot) {
                auto found = keys_.find(item, key.get());
                if (!found) return std::move(found.error());
                index = *found;
            }
            key_slot& slot = keys_[index];
            if (value.get() == Py_None) {
                const ref& known = latest(slot);
                if (!known) {
                    slot.waiting.push_back(r);
                    absent.push_back(std::move(key));
                } else if (PyDict_SetItem(out.get(), key.get(), known.get()) < 0) {
                    // An existing key: the value is replaced in place.
                    return error_value::fetch();
                } else {
                    unfinished_.hide_again(made);
                }
                continue;
            }
            if (status s = take_real(slot, std::move(value), r); !s) return s;
        }
        items_.clear();
        for (ref& key : absent) {
            if (status s = remove_key(out.get(), key.get()); !s) return s;
        }
        absent.clear();
        outputs_.push_back(std::move(out));
        return ok();
    }

    status build_output(Py_ssize_t r, PyObject* row) {
        ref out = created(PyDict_New());
        const std::size_t made = unfinished_.hide(out.get());
        assert(made == static_cast<std::size_t>(r));  // one output a row, in order
        // The row's lock (free-threaded builds) is held for the walk: the row
        // can change during it only where Python code runs (a finalizer) or
        // the thread waits, as with the interpreter lock.
        object_lock hold(row);
        // The walk starts here: creating the output may have run a collection.
        const Py_ssize_t len = dict_size(row);
        Py_ssize_t pos = 0;
        Py_ssize_t walked = 0;
        PyObject* k = nullptr;
        PyObject* v = nullptr;
        for (std::size_t item = 0;; ++item) {
            if (dict_size(row) != len) fail(changed_size);
            if (!PyDict_Next(row, &pos, &k, &v)) break;
            ref key = borrow(k);
            ref value = borrow(v);
            if (++walked > len) fail("dictionary keys changed during iteration");
            auto index = slot_of(item, key.get());
            if (!index) return std::move(index.error());
            key_slot& slot = keys_[*index];
            if (value.get() == Py_None) {
                const ref& known = latest(slot);
                if (!known) {
                    slot.waiting.push_back(r);
                } else if (PyDict_SetItem(out.get(), slot.key.get(), known.get()) < 0) {
                    return error_value::fetch();
                } else {
                    unfinished_.hide_again(made);
                }
                continue;
            }
            if (status s = take_real(slot, std::move(value), r); !s) return s;
            if (PyDict_SetItem(out.get(), slot.key.get(), slot.latest.get()) < 0) return error_value::fetch();
            unfinished_.hide_again(made);
        }
        outputs_.push_back(std::move(out));
        return ok();
    }

    key_table keys_;
    std::vector<ref> outputs_;
    unfinished_set unfinished_;  // the outputs, by row
    // The items of the row being copied, borrowed (`taken_`) until the copy,
    // then owned (`items_`, when the row has keys not known at their
    // position). Kept between rows so that their room is allocated once, as
    // are the Nones and the first values of a copied row of known keys.
    struct taken_item {
        PyObject* key;        // set when the row has new keys
        PyObject* value;
        std::uint32_t slot;   // set when all its keys are known
    };
    std::vector<taken_item> taken_;
    std::vector<std::pair<ref, ref>> items_;
    std::vector<ref> absent_;  // edit_copy's keys with None and no latest value yet
    std::vector<std::uint32_t> nones_;
    std::vector<std::pair<std::uint32_t, ref>> fills_;
};

}  // namespace

result<ref> backfill_iterdict_body(call_args& a) {
    auto rows_arg = list_arg(a, param(backfill_iterdict_desc, "iterdict"));
    if (!rows_arg) return std::move(rows_arg.error());
    const ref steady = steady_list(*rows_arg);
    const list_view rows(steady.get());

    const Py_ssize_t n = rows.size();
    backfill_run run(n);
    for (Py_ssize_t r = 0; r < n; ++r) {
        if (r % signal_check_rows == signal_check_rows - 1 && PyErr_CheckSignals() < 0) {
            return error_value::fetch();
        }
        ref row = rows.item(r);
        if (!row) return index_out_of_range();
        if (!PyDict_Check(row.get())) return type_mismatch(row.get(), "PyDict");
        if (status s = run.add_row(r, row.get()); !s) return std::move(s.error());
    }

    std::vector<ref>& outputs = run.outputs();
    list_builder result_list(n);
    PyObject** slots = result_list.empty_slots();
    for (Py_ssize_t r = 0; r < n; ++r) slots[r] = outputs[static_cast<std::size_t>(r)].release();
    result_list.add_filled(n);
    run.reveal_outputs();
    return result_list.finish();
}

}  // namespace tavo
