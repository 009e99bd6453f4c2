// The number conversions over UTF-8 bytes, shared by the per-element parse()
// and the column kernels. They know nothing of Python objects: they run with
// or without the interpreter lock, on any number of threads at once; the only
// failure is std::bad_alloc.
#pragma once

#include "shared/cpu_paths.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace tavo::numparse {

// Which character separates the whole part of a number from its fraction.
// The other one of the two is dropped like any separator: with `point`,
// '1,234.56' reads as 1234.56; with `comma`, '1.234,56' does. The whole
// reading is one piece of code for both: the filter keeps the mark and writes
// it as "." (the comma and the point swap roles), so what follows the filter
// never sees a comma.
enum class decimal_mark : char { point = '.', comma = ',' };

class number_scratch;

// What parse() read from a text.
struct number {
    enum class kind : std::uint8_t {
        none,     // nothing could be read
        int64,    // `integer` holds the value
        big_int,  // `digits` (no leading zero, at least 19 of them) with `negative`: outside 64 bits
        real      // `real` holds the value
    };
    kind what = kind::none;
    bool negative = false;
    std::int64_t integer = 0;
    double real = 0.0;
    std::string_view digits;
};

// The whole lenient reading of parse(): the number characters of `in` are
// kept, then read by the strict grammar (an integer, or a float when there is
// a decimal mark; "(x)" is -x) and converted. A big_int's digit count is for
// the caller to compare with the interpreter's limit on integer text.
template <decimal_mark M = decimal_mark::point>
inline number parse(std::string_view in, number_scratch& scratch);

// The same reading, for the column kernels: the text is filtered without a
// branch per byte, which pays off over many rows of mixed texts, where the
// branch of each byte is hard to foresee.
template <decimal_mark M = decimal_mark::point>
inline number parse_row(std::string_view in, number_scratch& scratch);

// The same, for a row whose bytes up to `readable_end` (null: none past the
// row) may be read: a row of at most 16 bytes with 16 readable from its start
// is read over all 16, the bytes past the row counting for nothing, so that
// its length costs no branch either; in the common shapes it is read from the
// masks of its bytes' kinds, without being filtered at all. On the paths that
// compact bytes (the shuffled ones and avx512), a row of up to
// number_scratch::vector_text bytes is filtered a vector at a time.
// P: the vector path it is compiled for (the caller's function has its target).
template <decimal_mark M = decimal_mark::point, cpu::path P = cpu::path::baseline>
inline number parse_row(std::string_view in, const char* readable_end, number_scratch& scratch);

// Where parse() keeps the number characters of a text, which a big_int's
// `digits` points into: valid until the next parse() with the same scratch.
// Short filtered texts stay in the inline storage; a longer one takes a heap
// block, kept for the next texts.
class number_scratch {
public:
    number_scratch() = default;
    number_scratch(const number_scratch&) = delete;
    number_scratch& operator=(const number_scratch&) = delete;

private:
    template <decimal_mark>
    friend number parse(std::string_view in, number_scratch& scratch);
    template <decimal_mark>
    friend number parse_row(std::string_view in, number_scratch& scratch);
    // Keeps the number characters of `in` (ASCII digits, "(", ")", "-" and
    // the decimal mark, written as "."), in order.
    template <decimal_mark M>
    std::string_view filter(std::string_view in);  // inline
    template <decimal_mark M>
    std::string_view filter_branch_free(std::string_view in);  // inline
    template <decimal_mark, cpu::path>
    friend number parse_row(std::string_view in, const char* readable_end, number_scratch& scratch);
    template <decimal_mark M>
    std::string_view filter_long(std::string_view in);
    // The same as filter, by vector compaction on the paths that have one, for
    // texts of 17 to vector_text bytes, whose bytes are read 16 or 32 at a time
    // without reading past the text; up to 32 bytes past the kept ones are written.
    template <decimal_mark M, cpu::path P>
    std::string_view filter_vector(std::string_view in) noexcept;
    void grow(std::size_t used, std::size_t cap);

    static constexpr std::size_t small_text = 128;
    static constexpr std::size_t vector_text = small_text - 32;

    char small_[small_text];
    std::unique_ptr<char[]> large_;
    char* buf_ = small_;
    std::size_t cap_ = small_text;
};

// The nearest double to the decimal text `digits` (ASCII digits with at most
// one ".", at least one digit; any length), ties to even, negated when
// `negative`; too large gives an infinity, too small a zero. A text outside
// that form throws std::invalid_argument.
double to_double(std::string_view digits, bool negative);

}  // namespace tavo::numparse

#include "numparse/number_read.hpp"  // the inline definitions
