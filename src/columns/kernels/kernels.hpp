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
#include "numparse/number_format.hpp"
#include "numparse/price.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

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

// Prices out: a price chunk (column_data.hpp; large_price when the currencies'
// text passes 2**31 - 1 bytes) whose row i is read_price of input row i with the
// mark `mark`: the amount as the nearest double, the currency's text; null where
// there is no price, or its amount is an int of more digits than
// limits.max_int_digits.
kernel_output run_price_kernel(const string_chunk& in, numparse::price_mark mark, number_limits limits);

// The evidence of a column's rows for its decimal mark: the tally over every
// chunk read so far, and the text of the first row of each kind (a null row
// is `neither`, with an empty text).
struct format_evidence {
    numparse::format_tally tally;
    std::array<std::string, numparse::evidence_kinds> examples;
};

// Adds the rows of `in`, numbered from `first_row` in the column, to `out`.
std::optional<row_fault> run_format_kernel(const string_chunk& in, std::int64_t first_row, format_evidence& out);

// run_parse_kernel, adding to `seen` in the same walk the kinds of evidence
// for the decimal mark that the rows show (those run_format_kernel counts).
kernel_output run_parse_kernel(const string_chunk& in, number_target target, number_limits limits,
                               numparse::decimal_mark mark, numparse::evidence_kinds_seen& seen);

}  // namespace tavo::columns
