// The number-format kernel: the evidence of every row of a chunk for its
// decimal mark (numparse/number_format.hpp), folded into the column's tally.
// One pass over the rows; the only allocation is the copy of the first row of
// each kind (at most four in a whole column).
#include "columns/kernels.hpp"

namespace tavo::columns {

std::optional<row_fault> run_format_kernel(const string_chunk& in, std::int64_t first_row, format_evidence& out) {
    numparse::format_tally& tally = out.tally;
    return walk_rows(
        in,
        [&](std::int64_t i, std::string_view s, bool, const char*) __attribute__((always_inline)) {
            const numparse::mark_evidence e = numparse::evidence_of(s);
            if (tally.add(first_row + i, e)) [[unlikely]] {
                out.examples[static_cast<std::size_t>(e)].assign(s);
            }
        },
        [&](std::int64_t i) { tally.add(first_row + i, numparse::mark_evidence::neither); });
}

}  // namespace tavo::columns
