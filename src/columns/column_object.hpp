// tavo.columns.Column: the Python face of a built column. It holds no
// Python object (only the shared chunks), so it needs no garbage-collector
// support, and it is immutable: any thread may export it at any time.
#pragma once

#include "boundary/error.hpp"
#include "columns/column_data.hpp"

#include <memory>

namespace tavo::columns {

// Creates the Column type (once per process; a new reference each call).
result<ref> column_type();

// A new Column over `data`.
ref make_column(std::shared_ptr<const column_data> data);

}  // namespace tavo::columns
