// Sort columns: the columns argument read as names and directions, and the
// columns that some dict item of the list has as a key.
#pragma once

#include "boundary/error.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tavo::dictsort {

struct sort_column {
    std::string name;  // the dictionary key to read (UTF-8), may be empty
    bool descending = false;
    ref key;  // an exact str key with that name, from a dict item of the list
};

// Another list of the same columns (a sort made again starts from them).
std::vector<sort_column> copy_of(const std::vector<sort_column>& columns);

// "-x" is x descending; only the first "-" is taken off.
sort_column parse_column_text(std::string_view text);

// Reads the columns argument (anything but None). An unusable shape gives no
// columns and no error; only an exception that must end the call (an
// interrupt from a user sequence's iterator, MemoryError) comes back.
result<std::vector<sort_column>> parse_columns(PyObject* columns);

// Keeps the columns whose name is a str key of at least one dict item of the
// list `items`, in their order, each name once: a later column with an
// earlier one's name is dropped, whatever its direction, since it would only
// be asked about rows that the earlier one found equal. Each kept column gets
// the first exact str key found with its name. The scan of the dicts stops
// once every name has been seen.
status keep_known_columns(PyObject* items, std::vector<sort_column>& columns);

// The str looked up in every dict for a column: the key object of the first
// dict item that has the name, when it is an exact str, so that lookups in
// dicts sharing their key objects (rows made from one literal, or by one
// decoder) match it by identity instead of comparing texts; otherwise a new
// str. Never an interned one: on some versions interned strings live as long
// as the process, and column names made at run time would pile up.
ref lookup_key(const sort_column& column);

}  // namespace tavo::dictsort
