// The parse kernel: each row read by the same lenient number reading as the
// per-element parse(), into int64 or float64 values; when the column's mark is
// being inferred, the kinds of evidence for it that the rows show gathered in
// the same walk.
//
// Inferred type: a chunk is written as int64 until its first row that only a
// float can hold (a decimal, or an int beyond 64 bits); the rows before it
// are then turned into doubles in place and the rest written as doubles. The
// column's type is settled once every chunk is in (column_of).
#include "columns/kernels/kernels.hpp"

#include "columns/bitmaps.hpp"
#include "numparse/number.hpp"

#include <cmath>
#include <cstring>

namespace tavo::columns {

namespace {

// A double that an int64 holds exactly: integral and within [-2^63, 2^63).
bool exact_int64(double r, std::int64_t& out) noexcept {
    if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0) || std::trunc(r) != r) return false;
    out = static_cast<std::int64_t>(r);
    return true;
}

class number_writer {
public:
    number_writer(chunk& c, bool floats) noexcept
        : values_(static_cast<char*>(c.values.get())),
          bits_(static_cast<std::uint8_t*>(c.validity.get())), floats_(floats) {}

    bool floats() const noexcept { return floats_; }

    void put_int(std::int64_t i, std::int64_t v) noexcept {
        if (floats_) {
            put_real(i, static_cast<double>(v));
            return;
        }
        std::memcpy(values_ + i * 8, &v, 8);
        mark(i);
    }
    void put_real(std::int64_t i, double v) noexcept {
        std::memcpy(values_ + i * 8, &v, 8);
        mark(i);
    }
    void put_null(std::int64_t i) noexcept {
        std::memset(values_ + i * 8, 0, 8);
        ++nulls_;
    }
    // Rows 0..i-1 become doubles; later rows are written as doubles.
    void switch_to_floats(std::int64_t i) noexcept {
        ints_to_doubles(values_, i);
        floats_ = true;
    }
    std::int64_t nulls() const noexcept { return nulls_; }

private:
    void mark(std::int64_t i) noexcept { bits_[i >> 3] = static_cast<std::uint8_t>(bits_[i >> 3] | (1u << (i & 7))); }

    char* values_;
    std::uint8_t* bits_;
    bool floats_;
    std::int64_t nulls_ = 0;
};

// The rows' evidence left ungathered.
struct no_evidence {
    [[gnu::always_inline]] void text_row(std::string_view, bool, const char*) noexcept {}
    [[gnu::always_inline]] void null_row() noexcept {}
};

// The kinds of evidence the rows show, kept in a register: no count and no
// example row, which only a column that does not decide needs (its rows' full
// evidence is then gathered again).
struct kinds_of_evidence {
    numparse::evidence_kinds_seen seen = 0;
    [[gnu::always_inline]] void text_row(std::string_view s, bool ascii, const char* end) noexcept {
        seen |= numparse::seen_bit(numparse::evidence_of_row(s, ascii, end));
    }
    [[gnu::always_inline]] void null_row() noexcept { seen |= numparse::seen_bit(numparse::mark_evidence::neither); }
};

template <numparse::decimal_mark M, cpu::path P, class Evidence>
[[gnu::always_inline]] inline kernel_output parse_rows(const string_chunk& in, number_target target, number_limits limits,
                                                       Evidence& evidence) {
    auto out = std::make_shared<chunk>();
    out->length = in.length;
    out->values = allocate_block(static_cast<std::size_t>(in.length) * 8);
    out->validity = allocate_block(bitmap_bytes(in.length));
    std::memset(out->validity.get(), 0, bitmap_bytes(in.length));

    number_writer w(*out, target == number_target::float64);
    numparse::number_scratch scratch;
    const auto too_many_digits = [&](std::string_view digits) {
        return limits.max_int_digits > 0 && static_cast<std::int64_t>(digits.size()) > limits.max_int_digits;
    };
    // The row's reading inlined into the walk: as a call of its own per row
    // it cost about a tenth of the kernel's time.
    std::optional<row_fault> fault = walk_rows(
        in,
        [&](std::int64_t i, std::string_view s, bool ascii, const char* end) __attribute__((always_inline)) {
            evidence.text_row(s, ascii, end);
            const numparse::number n = numparse::parse_row<M, P>(s, end, scratch);
            switch (n.what) {
                case numparse::number::kind::int64:
                    w.put_int(i, n.integer);
                    return;
                case numparse::number::kind::big_int:
                    // The per-element parse gives None past the interpreter's
                    // limit on int text, and int64 cannot hold the value.
                    if (too_many_digits(n.digits) || target == number_target::int64) break;
                    if (!w.floats()) w.switch_to_floats(i);
                    w.put_real(i, numparse::to_double(n.digits, n.negative));
                    return;
                case numparse::number::kind::real:
                    if (target == number_target::int64) {
                        std::int64_t v;
                        if (!exact_int64(n.real, v)) break;
                        w.put_int(i, v);
                        return;
                    }
                    if (!w.floats()) w.switch_to_floats(i);
                    w.put_real(i, n.real);
                    return;
                case numparse::number::kind::none:
                    break;
            }
            w.put_null(i);
        },
        [&](std::int64_t i) {
            evidence.null_row();
            w.put_null(i);
        });
    if (fault) return {nullptr, std::move(fault)};
    out->null_count = w.nulls();
    if (out->null_count == 0) out->validity.reset();
    out->type = w.floats() ? value_type::float64 : value_type::int64;
    return {std::move(out), std::nullopt};
}

#if defined(__x86_64__)
template <numparse::decimal_mark M, class Evidence>
[[gnu::target(TAVO_TARGET_SSSE3)]] kernel_output parse_rows_ssse3(const string_chunk& in, number_target target,
                                                                  number_limits limits, Evidence& evidence) {
    return parse_rows<M, cpu::path::ssse3>(in, target, limits, evidence);
}

template <numparse::decimal_mark M, class Evidence>
[[gnu::target(TAVO_TARGET_AVX512)]] kernel_output parse_rows_avx512(const string_chunk& in, number_target target,
                                                                    number_limits limits, Evidence& evidence) {
    return parse_rows<M, cpu::path::avx512>(in, target, limits, evidence);
}
#endif

// The row walk compiled once per path; the widest this CPU has is taken.
template <numparse::decimal_mark M, class Evidence>
kernel_output parse_rows_chosen(const string_chunk& in, number_target target, number_limits limits,
                                Evidence& evidence) {
#if defined(__x86_64__)
    switch (cpu::chosen()) {
        case cpu::path::avx512: return parse_rows_avx512<M>(in, target, limits, evidence);
        case cpu::path::avx2:  // the ssse3 code (numparse/number_read.hpp says why)
        case cpu::path::ssse3: return parse_rows_ssse3<M>(in, target, limits, evidence);
        case cpu::path::baseline: break;
    }
#endif
    return parse_rows<M, cpu::path::baseline>(in, target, limits, evidence);
}

template <class Evidence>
kernel_output parse_rows_marked(const string_chunk& in, number_target target, number_limits limits,
                                numparse::decimal_mark mark, Evidence& evidence) {
    if (mark == numparse::decimal_mark::comma) {
        return parse_rows_chosen<numparse::decimal_mark::comma>(in, target, limits, evidence);
    }
    return parse_rows_chosen<numparse::decimal_mark::point>(in, target, limits, evidence);
}

}  // namespace

kernel_output run_parse_kernel(const string_chunk& in, number_target target, number_limits limits,
                               numparse::decimal_mark mark) {
    no_evidence none;
    return parse_rows_marked(in, target, limits, mark, none);
}

kernel_output run_parse_kernel(const string_chunk& in, number_target target, number_limits limits,
                               numparse::decimal_mark mark, numparse::evidence_kinds_seen& seen) {
    kinds_of_evidence kinds;
    kernel_output k = parse_rows_marked(in, target, limits, mark, kinds);
    seen |= kinds.seen;
    return k;
}

}  // namespace tavo::columns
