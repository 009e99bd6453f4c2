// The column kernels: one input chunk in, one output chunk out, through the
// same byte-level conversions as the per-element functions. The text kernel
// is a template over the function's record (text_kernel.hpp).
//
// A kernel touches no Python object and may run without the interpreter
// lock. It reads the caller's buffers and never writes them; its failures are
// a row fault (bad input) or std::bad_alloc.
#pragma once

#include "columns/column_data.hpp"
#include "columns/string_rows.hpp"
#include "numparse/number.hpp"

#include <cstdint>
#include <memory>
#include <optional>

namespace tavo::columns {

struct kernel_output {
    std::shared_ptr<chunk> out;       // set when there is no fault
    std::optional<row_fault> fault;
};

enum class number_target : std::uint8_t { inferred, int64, float64 };

struct number_limits {
    // sys.get_int_max_str_digits(), read while the lock was held; 0: none.
    std::int64_t max_int_digits = 0;
};

// Numbers out: a float64 chunk for float64, and for inferred when any row
// needed a float; else int64. Each row is read with the decimal mark `mark`.
kernel_output run_parse_kernel(const string_chunk& in, number_target target, number_limits limits,
                               numparse::decimal_mark mark);

}  // namespace tavo::columns
