// backfill_iterdict(iterdict): back-filling key by key over a list of rows.
//
// Each row gives a new plain dict. A None value takes the latest real value
// seen for its key; a None met before any real value for its key leaves the
// key out of that row's output for now, and the row is remembered. When the
// first real value for the key arrives, exactly the remembered rows get it
// (the key then comes last in those outputs). A key that never gets a real
// value stays absent where it was None.
//
// Keys are told apart by their UTF-8 text, never by interpreter equality or
// hashing. Every distinct text gets one slot per call holding the key object
// that the outputs use (a new plain str made from the text, shared by every
// row, so its hash is computed once), the latest real value and the rows
// waiting for one.
//
// Interpreter code can run in the middle of a row's walk only when a release
// drops the last count of some object with a finalizer. The walk therefore
// owns the row, writes every real value through the slot's own reference to
// it, uses the item's borrowed key and value only before it releases
// anything, and checks the row's length before taking each next item: a row
// that changed under the walk ends the call with an internal failure.
#include "boundary/bodies.hpp"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tavo {
namespace {

struct key_slot {
    ref key;                          // new plain str made from the text
    std::string_view text;            // UTF-8 bytes of `key`, kept alive by it
    ref seen;                         // the input key object last found here
    ref latest;                       // latest real value, or empty
    std::vector<Py_ssize_t> waiting;  // rows that held None while `latest` was empty
};

// The per-call slots, found by key text. Rows usually list their keys in the
// same order, often with the very same key objects, so the slot used at the
// same item position in the previous row is tried first: the same object as
// the one last found there (held, so its address cannot be reused), else the
// same text (one length check and one memcmp); only then the hash map.
class key_table {
public:
    static constexpr std::uint32_t no_slot = UINT32_MAX;

    // The slot last used at item `position` if `k` is the very key object
    // found there, else `no_slot`.
    std::uint32_t guess(std::size_t position, PyObject* k) const noexcept {
        if (position >= by_position_.size()) return no_slot;
        std::uint32_t g = by_position_[position];
        return slots_[g].seen.get() == k ? g : no_slot;
    }

    // The slot for key object `k` at item `position`, found by its text (a
    // new slot for a new text).
    result<std::uint32_t> find(std::size_t position, PyObject* k) {
        if (position >= by_position_.size()) by_position_.resize(position + 1, no_slot);
        std::uint32_t g = by_position_[position];
        if (!PyUnicode_Check(k)) return type_mismatch(k, "PyString");
        Py_ssize_t len = 0;
        const char* u = PyUnicode_AsUTF8AndSize(k, &len);
        if (u == nullptr) return error_value::fetch();
        std::string_view text(u, static_cast<std::size_t>(len));
        std::uint32_t found = (g != no_slot && same_text(slots_[g].text, text)) ? g : lookup(text);
        slots_[found].seen = borrow(k);
        by_position_[position] = found;
        return found;
    }

    key_slot& operator[](std::uint32_t i) noexcept { return slots_[i]; }

private:
    static bool same_text(std::string_view a, std::string_view b) noexcept {
        return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0;
    }

    std::uint32_t lookup(std::string_view text) {
        if (auto it = index_.find(text); it != index_.end()) return it->second;
        ref key = string_result(text);
        Py_ssize_t len = 0;
        const char* own = PyUnicode_AsUTF8AndSize(key.get(), &len);
        if (own == nullptr) failed_creation();
        std::string_view own_text(own, static_cast<std::size_t>(len));
        auto index = static_cast<std::uint32_t>(slots_.size());
        slots_.push_back(key_slot{std::move(key), own_text, ref(), ref(), {}});
        index_.emplace(own_text, index);
        return index;
    }

    std::vector<key_slot> slots_;
    std::unordered_map<std::string_view, std::uint32_t> index_;  // views into slots_[i].key
    std::vector<std::uint32_t> by_position_;
};

// A new dict with room for `expected` entries without resizing.
ref new_output(Py_ssize_t expected) {
#if PY_VERSION_HEX < 0x030E0000
    return created(_PyDict_NewPresized(expected));
#else
    (void)expected;
    return created(PyDict_New());
#endif
}

// Gives the slot's first real value to the earlier rows that waited for it.
// False when setting an item failed (the error is pending).
bool fill_waiting(key_slot& slot, std::vector<ref>& outputs, Py_ssize_t current) {
    std::vector<Py_ssize_t> waiting;
    waiting.swap(slot.waiting);
    for (Py_ssize_t p : waiting) {
        // The row being walked gets the value right after.
        if (p == current) continue;
        if (PyDict_SetItem(outputs[static_cast<std::size_t>(p)].get(), slot.key.get(), slot.latest.get()) < 0) {
            return false;
        }
    }
    return true;
}

error_value index_error(PyObject* list) {
    PyList_GetItem(list, PyList_GET_SIZE(list));
    return error_value::fetch();
}

}  // namespace

result<ref> backfill_iterdict_body(call_args& a) {
    auto rows_arg = list_arg(a, 0);
    if (!rows_arg) return std::move(rows_arg.error());
    PyObject* rows = *rows_arg;

    const Py_ssize_t n = PyList_GET_SIZE(rows);
    key_table keys;
    std::vector<ref> outputs;
    outputs.reserve(static_cast<std::size_t>(n));

    for (Py_ssize_t r = 0; r < n; ++r) {
        if (r >= PyList_GET_SIZE(rows)) return index_error(rows);
        ref row = borrow(PyList_GET_ITEM(rows, r));
        if (!PyDict_Check(row.get())) return type_mismatch(row.get(), "PyDict");
        ref out = new_output(PyDict_GET_SIZE(row.get()));
        // The walk starts here: creating the output may have run a collection.
        const Py_ssize_t len = PyDict_GET_SIZE(row.get());

        Py_ssize_t pos = 0;
        Py_ssize_t taken = 0;
        PyObject* k = nullptr;
        PyObject* v = nullptr;
        for (std::size_t item = 0;; ++item) {
            if (PyDict_GET_SIZE(row.get()) != len) fail("dictionary changed size during iteration");
            if (!PyDict_Next(row.get(), &pos, &k, &v)) break;
            if (++taken > len) fail("dictionary keys changed during iteration");

            std::uint32_t index = keys.guess(item, k);
            if (index == key_table::no_slot) {
                result<std::uint32_t> found = keys.find(item, k);
                if (!found) return std::move(found.error());
                index = *found;
            }
            key_slot& slot = keys[index];

            if (v == Py_None) {
                if (!slot.latest) {
                    slot.waiting.push_back(r);
                } else if (PyDict_SetItem(out.get(), slot.key.get(), slot.latest.get()) < 0) {
                    return error_value::fetch();
                }
                continue;
            }
            // `latest` owns the value from here on, for as long as it is used.
            if (slot.latest.get() != v) slot.latest = borrow(v);
            if (!slot.waiting.empty() && !fill_waiting(slot, outputs, r)) return error_value::fetch();
            if (PyDict_SetItem(out.get(), slot.key.get(), slot.latest.get()) < 0) return error_value::fetch();
        }
        outputs.push_back(std::move(out));
    }

    ref result_list = created(PyList_New(n));
    for (Py_ssize_t r = 0; r < n; ++r) {
        PyList_SET_ITEM(result_list.get(), r, outputs[static_cast<std::size_t>(r)].release());
    }
    return result_list;
}

}  // namespace tavo
