// The column kernels: one input chunk in, one output chunk out, through the
// same byte-level conversions as the per-element functions.
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

enum class text_function : std::uint8_t { uncamel, underscore_to_camelcase, sanitize_vulgar };

struct kernel_output {
    std::shared_ptr<chunk> out;       // set when there is no fault
    std::optional<row_fault> fault;
};

// Text out: int32 offsets while the chunk's text fits them (and `large` is
// false), else int64 (`chunk::large`).
kernel_output run_text_kernel(text_function f, const string_chunk& in, bool large);

// Makes a text chunk's offsets int64.
void widen_offsets(chunk& c);

enum class number_target : std::uint8_t { inferred, int64, float64 };

struct number_limits {
    // sys.get_int_max_str_digits(), read while the lock was held; 0: none.
    std::int64_t max_int_digits = 0;
};

// Numbers out: int64 values, or float64 values when `is_float` is set on
// return (always for float64; for inferred when any row needed a float).
// Each row is read with the decimal mark `mark`.
kernel_output run_parse_kernel(const string_chunk& in, number_target target, number_limits limits,
                               numparse::decimal_mark mark, bool& is_float);

// Turns an inferred chunk's int64 values into the nearest doubles, in place.
void ints_to_doubles(chunk& c) noexcept;

}  // namespace tavo::columns
