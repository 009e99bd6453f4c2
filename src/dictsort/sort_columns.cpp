// Reading the columns argument and keeping the columns that the rows have.
#include "dictsort/sort_columns.hpp"

#include "boundary/views.hpp"
#include "dictsort/fallback.hpp"
#include "dictsort/small_buffer.hpp"

#include <optional>
#include <unordered_map>

namespace tavo::dictsort {
namespace {

// Adds the column of a str element to `out`; false when it is not a str
// with UTF-8 text. The caller holds a reference to `element`.
result<bool> add_column(PyObject* element, std::vector<sort_column>& out) {
    if (!PyUnicode_Check(element)) return false;
    result<std::string_view> text = str_utf8(element);
    if (!text) {
        status ordinary = unless_ordinary(std::move(text.error()));
        if (!ordinary) return std::move(ordinary.error());
        return false;
    }
    out.push_back(parse_column_text(*text));
    return true;
}

// The columns of a sequence other than a list: all of its elements, or no
// columns when one is not a str with UTF-8 text or the iteration raises.
result<std::vector<sort_column>> columns_of_sequence(PyObject* columns) {
    std::vector<sort_column> out;
    Py_ssize_t hint = PySequence_Size(columns);
    if (hint < 0) {
        status cleared = discard_ordinary_error();
        if (!cleared) return std::move(cleared.error());
    } else {
        out.reserve(static_cast<std::size_t>(hint < 1024 ? hint : 1024));
    }
    ref it = steal(PyObject_GetIter(columns));
    if (!it) {
        status cleared = discard_ordinary_error();
        if (!cleared) return std::move(cleared.error());
        return std::vector<sort_column>();
    }
    while (ref element = steal(PyIter_Next(it.get()))) {
        result<bool> added = add_column(element.get(), out);
        if (!added) return std::move(added.error());
        if (!*added) return std::vector<sort_column>();
    }
    if (PyErr_Occurred()) {
        status cleared = discard_ordinary_error();
        if (!cleared) return std::move(cleared.error());
        return std::vector<sort_column>();
    }
    return out;
}

// Calls `seen(text, key)` with every str key of every dict item of the list
// `items` and its UTF-8 text, in order, for as long as `more()` is true; a key
// without UTF-8 text is passed over. The list and its dicts are read again
// after every step: getting a key's text may allocate, a collection may then
// run finalizers that change them, and a dict's lock (free-threaded builds)
// is given up while one runs. So the item being read and the key are held.
template <class More, class Seen>
status for_each_key_text(PyObject* items, More more, Seen seen) {
    for (Py_ssize_t i = 0; more(); ++i) {
        ref item = list_view(items).item(i);
        if (!item) break;
        if (!PyDict_Check(item.get())) continue;
        object_lock hold(item.get());
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (more() && PyDict_Next(item.get(), &pos, &key, &value)) {
            if (!PyUnicode_Check(key)) continue;
            ref held_key = borrow(key);
            result<std::string_view> text = str_utf8(key);
            if (text) {
                seen(*text, key);
            } else {
                status ordinary = unless_ordinary(std::move(text.error()));
                if (!ordinary) return ordinary;
            }
        }
    }
    return ok();
}

// Up to this many columns, a key's text is compared with each name in turn;
// more are found through a hash table (a scan per key would make many columns
// quadratic).
constexpr std::size_t scanned_names = 8;

}  // namespace

std::vector<sort_column> copy_of(const std::vector<sort_column>& columns) {
    std::vector<sort_column> out;
    out.reserve(columns.size());
    for (const sort_column& c : columns) out.push_back({c.name, c.descending, borrow(c.key.get())});
    return out;
}

sort_column parse_column_text(std::string_view text) {
    if (!text.empty() && text.front() == '-') return {std::string(text.substr(1)), true, ref()};
    return {std::string(text), false, ref()};
}

result<std::vector<sort_column>> parse_columns(PyObject* columns) {
    std::vector<sort_column> out;
    if (PyUnicode_Check(columns)) {
        result<bool> added = add_column(columns, out);  // none without UTF-8 text
        if (!added) return std::move(added.error());
        return out;
    }
    if (PyList_Check(columns)) {
        // Getting the UTF-8 text of an element may allocate, and a collection
        // then may run finalizers that change the list: each element is held
        // while it is read, and the size is read again for every element.
        for (Py_ssize_t i = 0;; ++i) {
            ref element = list_view(columns).item(i);
            if (!element) break;
            result<bool> added = add_column(element.get(), out);
            if (!added) return std::move(added.error());
        }
        return out;
    }
    if (!PySequence_Check(columns)) return out;
    return columns_of_sequence(columns);
}

status keep_known_columns(PyObject* items, std::vector<sort_column>& columns) {
    const std::size_t width = columns.size();
    // Per column: 0 while its name is looked for, 1 once found, 2 when an
    // earlier column has the name (never looked for, never kept).
    small_buffer<char, 16> state(width);
    std::unordered_map<std::string_view, std::size_t> index;  // name -> first column, past scanned_names
    std::size_t missing = 0;
    for (std::size_t c = 0; c < width; ++c) {
        bool repeated;
        if (width <= scanned_names) {
            repeated = false;
            for (std::size_t e = 0; e < c && !repeated; ++e) repeated = columns[e].name == columns[c].name;
        } else {
            repeated = !index.try_emplace(columns[c].name, c).second;
        }
        state[c] = repeated ? 2 : 0;
        missing += !repeated;
    }
    auto found = [&](std::size_t c, PyObject* key) {
        state[c] = 1;
        --missing;
        if (PyUnicode_CheckExact(key)) columns[c].key = borrow(key);
    };
    status read = for_each_key_text(
        items, [&] { return missing > 0; },
        [&](std::string_view text, PyObject* key) {
            if (width <= scanned_names) {
                for (std::size_t c = 0; c < width; ++c) {
                    if (state[c] == 0 && columns[c].name == text) found(c, key);
                }
                return;
            }
            auto at = index.find(text);
            if (at != index.end() && state[at->second] == 0) found(at->second, key);
        });
    if (!read) return read;
    std::size_t kept = 0;
    for (std::size_t c = 0; c < width; ++c) {
        if (state[c] == 1) {
            if (kept != c) columns[kept] = std::move(columns[c]);
            ++kept;
        }
    }
    columns.resize(kept);
    return ok();
}

ref lookup_key(const sort_column& column) {
    if (column.key) return borrow(column.key.get());
    const std::string& name = column.name;
    return created(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
}

}  // namespace tavo::dictsort
