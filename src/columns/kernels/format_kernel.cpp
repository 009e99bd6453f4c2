// The number-format kernel: the evidence of every row of a chunk for its
// decimal mark (numparse/number_format.hpp), folded into the column's tally.
// One pass over the rows; the only allocation is the copy of the first row of
// each kind (at most four in a whole column).
#include "columns/kernels/kernels.hpp"

namespace tavo::columns {

namespace {

class evidence_sink {
public:
    // Rows are numbered from `first_row` in the column.
    evidence_sink(format_evidence& out, std::int64_t first_row) noexcept : out_(out), first_row_(first_row) {
        for (std::size_t k = 0; k < numparse::evidence_kinds; ++k) {
            seen_ |= (out.tally.first[k] >= 0 ? 1u : 0u) << k;
        }
    }
    ~evidence_sink() { flush(); }
    evidence_sink(const evidence_sink&) = delete;
    evidence_sink& operator=(const evidence_sink&) = delete;

    [[gnu::always_inline]] void text_row(std::int64_t i, std::string_view s, bool ascii, const char* end) {
        add(i, numparse::evidence_of_row(s, ascii, end), s);
    }
    [[gnu::always_inline]] void null_row(std::int64_t i) { add(i, numparse::mark_evidence::neither, {}); }

private:
    // The four counts of a run of rows are 16-bit fields of one word, kept in
    // a register: a count in memory would make each row wait for the previous
    // row's store when both are of one kind.
    [[gnu::always_inline]] void add(std::int64_t i, numparse::mark_evidence e, std::string_view s) {
        packed_ += std::uint64_t{1} << (16 * static_cast<unsigned>(e));
        if (++pending_ == most) [[unlikely]] flush();
        if (!(seen_ >> static_cast<unsigned>(e) & 1u)) [[unlikely]] {
            seen_ |= 1u << static_cast<unsigned>(e);
            first_of_kind(out_, first_row_ + i, e, s);
        }
    }

    // (given no `this`, so that the counts can stay in registers)
    [[gnu::cold, gnu::noinline]] static void first_of_kind(format_evidence& out, std::int64_t row,
                                                           numparse::mark_evidence e, std::string_view s) {
        const auto k = static_cast<std::size_t>(e);
        out.tally.first[k] = row;
        out.examples[k].assign(s);
    }

    void flush() noexcept {
        for (std::size_t k = 0; k < numparse::evidence_kinds; ++k) {
            out_.tally.rows[k] += static_cast<std::int64_t>((packed_ >> (16 * k)) & 0xFFFF);
        }
        packed_ = 0;
        pending_ = 0;
    }

    static constexpr unsigned most = 0xFFFF;  // a field never passes it
    format_evidence& out_;
    std::int64_t first_row_;
    std::uint64_t packed_ = 0;
    unsigned pending_ = 0;
    unsigned seen_ = 0;  // bit k: a row of kind k has been met
};

}  // namespace

std::optional<row_fault> run_format_kernel(const string_chunk& in, std::int64_t first_row, format_evidence& out) {
    evidence_sink evidence(out, first_row);
    return walk_rows(
        in,
        [&](std::int64_t i, std::string_view s, bool ascii, const char* end)
            __attribute__((always_inline)) { evidence.text_row(i, s, ascii, end); },
        [&](std::int64_t i) { evidence.null_row(i); });
}

}  // namespace tavo::columns
