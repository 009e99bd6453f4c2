// The text kernel: one chunk of text in, one chunk of text out, each row
// converted by a text function's record (text_functions.hpp).
//
// A record is one type with static members:
//   name                      the function's name
//   capacity(text_bytes)      the room to take at the start for a chunk with
//                             that much text: the text plus what the
//                             conversion usually adds
//   ascii_unchanged           whether every ASCII text converts to itself
//   convert<P>(row, ascii, out, readable)
//                             appends the result of a row (valid UTF-8;
//                             `ascii`: every byte below 0x80) to `out`; the
//                             `readable` bytes from the row's start may be
//                             read (the text cores' short path reads past a
//                             short row, and keeps its writes within the
//                             sink's room); P is the vector path
//                             (shared/cpu_paths.hpp) the kernel runs
//   by_path                   whether convert differs by path: the row walk
//                             is then compiled once for each path, and the
//                             one of this CPU taken
//
// All rows write into one byte_sink, sized once from the input's text and
// grown geometrically when a conversion makes the text longer; the offsets
// are written as the rows are, and the validity bitmap is the input's,
// shifted to start at bit 0.
#pragma once

#include "columns/kernels/kernels.hpp"
#include "shared/cpu_paths.hpp"
#include "text/byte_sink.hpp"
#include "text/case_vectors.hpp"

#include <concepts>
#include <cstddef>
#include <limits>
#include <string_view>

namespace tavo::columns {

template <class R>
concept text_rows = requires(std::string_view s, bool ascii, byte_sink& out, std::size_t n) {
    { R::name } -> std::convertible_to<const char*>;
    { R::capacity(n) } -> std::same_as<std::size_t>;
    { R::template convert<cpu::path::baseline>(s, ascii, out, n) } -> std::same_as<void>;
    { R::ascii_unchanged } -> std::convertible_to<bool>;
    { R::by_path } -> std::convertible_to<bool>;
};

namespace text_kernel_detail {

// The output chunk: the text written with its offsets, or its views when they are given
// (and none of its rows was too long for one); the input's validity.
std::shared_ptr<chunk> text_chunk(const string_chunk& in, offsets_writer& offsets, byte_sink& text,
                                  views_writer* views);

// For a function that leaves ASCII text as it is: a utf8 or large_utf8 chunk
// without nulls whose whole text is ASCII, copied at once (its offsets are
// checked first, as the row walk checks them, and nothing outside them is
// read). Null for any other chunk, which the row walk then converts, or
// whose fault it names.
std::shared_ptr<chunk> copied_ascii_chunk(const string_chunk& in);

}  // namespace text_kernel_detail

// The rows of a chunk converted by path P, into a chunk as run_text_kernel says.
template <text_rows R, cpu::path P>
[[gnu::always_inline]] inline kernel_output text_rows_on(const string_chunk& in, bool large, bool views) {
    using namespace text_kernel_detail;
    const std::size_t capacity = R::capacity(static_cast<std::size_t>(in.text_bytes_hint));
    byte_sink sink(capacity);
    prefer_huge_pages(const_cast<char*>(sink.data()), capacity);
    offsets_writer offsets(in.length, large);
    // the views are written as each row is, while its bytes are at hand
    std::optional<views_writer> view_out;
    if (views) view_out.emplace(in.length);
    const auto put = [&](std::int64_t i, std::size_t before) __attribute__((always_inline)) {
        offsets.put(i + 1, sink.size());
        if (view_out) {
            view_out->put(i, sink.data(), static_cast<std::int64_t>(before),
                          static_cast<std::int64_t>(sink.size() - before), static_cast<std::int64_t>(sink.capacity()));
        }
    };
    std::optional<row_fault> fault = walk_rows(
        in,
        [&](std::int64_t i, std::string_view s, bool ascii, const char* end) __attribute__((always_inline)) {
            const std::size_t before = sink.size();
            R::template convert<P>(s, ascii, sink, end ? static_cast<std::size_t>(end - s.data()) : s.size());
            put(i, before);
        },
        [&](std::int64_t i) __attribute__((always_inline)) { put(i, sink.size()); });
    if (fault) return {nullptr, std::move(fault)};
    return {text_chunk(in, offsets, sink, view_out ? &*view_out : nullptr), std::nullopt};
}

#if defined(__x86_64__)
template <text_rows R>
[[gnu::target(TAVO_TARGET_SSSE3)]] kernel_output text_rows_ssse3(const string_chunk& in, bool large, bool views) {
    return text_rows_on<R, cpu::path::ssse3>(in, large, views);
}
template <text_rows R>
[[gnu::target(TAVO_TARGET_AVX512)]] kernel_output text_rows_avx512(const string_chunk& in, bool large, bool views) {
    return text_rows_on<R, cpu::path::avx512>(in, large, views);
}
#endif

// Text out: a utf8 chunk while its text fits int32 offsets (and `large` is
// false), else large_utf8; with `views`, string_view (large_utf8 for a chunk
// with a row of 2**31 bytes or more).
template <text_rows R>
kernel_output run_text_kernel(const string_chunk& in, bool large, bool views) {
    using namespace text_kernel_detail;
    if constexpr (R::ascii_unchanged) {
        if (!views) {
            if (std::shared_ptr<chunk> copied = copied_ascii_chunk(in)) return {std::move(copied), std::nullopt};
        }
    }
#if defined(__x86_64__)
    if constexpr (R::by_path) {
        switch (cpu::chosen()) {
            case cpu::path::avx512: return text_rows_avx512<R>(in, large, views);
            case cpu::path::avx2:  // the ssse3 code (text/case_vectors.hpp says why)
            case cpu::path::ssse3: return text_rows_ssse3<R>(in, large, views);
            case cpu::path::baseline: break;
        }
    }
#endif
    return text_rows_on<R, cpu::path::baseline>(in, large, views);
}

}  // namespace tavo::columns
