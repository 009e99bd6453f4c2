// Export of built chunks through the Arrow C Data and C Stream Interfaces.
//
// Every struct handed out owns what it points to through its private data:
// an array keeps its chunk alive (a shared count, so any number of arrays and
// streams share one chunk), a stream keeps the whole column. The release
// callbacks free only what their own struct holds, run no Python code, and
// may be called from any thread.
#pragma once

#include "columns/arrow/arrow_abi.hpp"
#include "columns/column_data.hpp"

#include <memory>

namespace tavo::columns {

// Fill `out` (which the caller then owns and releases). None of them runs
// Python code; std::bad_alloc is the only failure.
void export_schema(value_type t, arrow::ArrowSchema* out);
void export_array(std::shared_ptr<const chunk> c, arrow::ArrowArray* out);
void export_stream(std::shared_ptr<const column_data> column, arrow::ArrowArrayStream* out);

}  // namespace tavo::columns
