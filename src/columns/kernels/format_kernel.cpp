// The number-format kernel: the evidence of every row of a chunk for its
// decimal mark (numparse/number_format.hpp), folded into the column's tally.
// One pass over the rows; the only allocation is the copy of the first row of
// each kind (at most four in a whole column).
#include "columns/kernels/kernels.hpp"

namespace tavo::columns {

namespace {

// The four counts of a run of rows as 16-bit fields of one word, kept in a
// register: a count in memory would make each row wait for the previous
// row's store when both are of one kind.
class packed_counts {
public:
    explicit packed_counts(numparse::format_tally& tally) noexcept : tally_(tally) {}
    ~packed_counts() { flush(); }
    packed_counts(const packed_counts&) = delete;
    packed_counts& operator=(const packed_counts&) = delete;

    [[gnu::always_inline]] void add(numparse::mark_evidence e) noexcept {
        packed_ += std::uint64_t{1} << (16 * static_cast<unsigned>(e));
        if (++pending_ == most) [[unlikely]] flush();
    }

    void flush() noexcept {
        for (std::size_t k = 0; k < numparse::evidence_kinds; ++k) {
            tally_.rows[k] += static_cast<std::int64_t>((packed_ >> (16 * k)) & 0xFFFF);
        }
        packed_ = 0;
        pending_ = 0;
    }

private:
    static constexpr unsigned most = 0xFFFF;  // a field never passes it
    numparse::format_tally& tally_;
    std::uint64_t packed_ = 0;
    unsigned pending_ = 0;
};

}  // namespace

std::optional<row_fault> run_format_kernel(const string_chunk& in, std::int64_t first_row, format_evidence& out) {
    numparse::format_tally& tally = out.tally;
    unsigned seen = 0;  // bit k: a row of kind k has been met
    for (std::size_t k = 0; k < numparse::evidence_kinds; ++k) seen |= (tally.first[k] >= 0 ? 1u : 0u) << k;
    packed_counts counts(tally);
    const auto first_of_kind = [&](std::int64_t i, numparse::mark_evidence e, std::string_view s) {
        const auto k = static_cast<std::size_t>(e);
        seen |= 1u << k;
        tally.first[k] = first_row + i;
        out.examples[k].assign(s);
    };
    return walk_rows(
        in,
        [&](std::int64_t i, std::string_view s, bool ascii, const char* end) __attribute__((always_inline)) {
            const numparse::mark_evidence e = numparse::evidence_of_row(s, ascii, end);
            counts.add(e);
            if (!(seen >> static_cast<unsigned>(e) & 1u)) [[unlikely]] first_of_kind(i, e, s);
        },
        [&](std::int64_t i) {
            counts.add(numparse::mark_evidence::neither);
            if (!(seen & 1u)) [[unlikely]] first_of_kind(i, numparse::mark_evidence::neither, {});
        });
}

}  // namespace tavo::columns
