// The rows of an Arrow string array handed over by another library, checked
// as they are read.
//
// Nothing in a foreign array is trusted: the structure is checked once
// (`describe_strings`), and every row before any of its bytes is read:
// offsets that start below zero or decrease, a string_view that names a data
// buffer the array does not have or a span outside its buffer, text that is
// not UTF-8. For utf8 and large_utf8 the data buffer's size is not part of
// the interface: the span from the first to the last offset is its extent,
// and each row's span must lie inside it (a row that ends past the last
// offset is followed by a decrease, which is the fault reported). No byte
// outside that extent (or a view's span) is read.
//
// Nothing here touches a Python object: it runs without the interpreter lock.
#pragma once

#include "columns/arrow/arrow_abi.hpp"
#include "columns/bitmaps.hpp"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace tavo::columns {

enum class string_layout : std::uint8_t { utf8, large_utf8, string_view };

// One input array, its structure checked.
struct string_chunk {
    string_layout layout = string_layout::utf8;
    std::int64_t length = 0;
    std::int64_t offset = 0;
    const std::uint8_t* validity = nullptr;  // null: every row has a value
    const void* offsets = nullptr;           // int32 or int64 offsets, or 16-byte views
    const char* data = nullptr;              // utf8, large_utf8: the text bytes
    const char* const* view_buffers = nullptr;  // string_view: the variadic data buffers
    const std::int64_t* view_buffer_sizes = nullptr;
    std::int64_t view_buffer_count = 0;
    std::int64_t text_bytes_hint = 0;  // the size of the text, or a guess for views
    std::int64_t first_offset = 0;     // utf8, large_utf8 with rows: the extent's
    std::int64_t last_offset = 0;      // first and last offsets, as read (unchecked)

    bool has_value(std::int64_t i) const noexcept { return !validity || bit_is_set(validity, offset + i); }
};

// A fault of one row (numbered within its chunk), or of the whole array (row -1).
struct row_fault {
    std::int64_t row;
    std::string text;
};

// Checks the structure of `a`: sizes, buffer count, the buffers a non-empty
// array needs. Returns the fault, or nothing and fills `out`.
std::optional<row_fault> describe_strings(const arrow::ArrowArray& a, string_layout layout, string_chunk& out);

// --- UTF-8 ---------------------------------------------------------------------

// True when every byte is below 0x80.
[[gnu::always_inline]] inline bool ascii_only(const char* p, std::size_t n) noexcept {
    std::uint64_t acc = 0;
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        std::uint64_t w[4];
        std::memcpy(w, p + i, 32);
        acc |= w[0] | w[1] | w[2] | w[3];
    }
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        acc |= w;
    }
    // the rest by words that overlap what was read: no loop over single bytes
    if (i < n) {
        if (n >= 8) {
            std::uint64_t w;
            std::memcpy(&w, p + n - 8, 8);
            acc |= w;
        } else if (n >= 4) {
            std::uint32_t a, b;
            std::memcpy(&a, p, 4);
            std::memcpy(&b, p + n - 4, 4);
            acc |= a | b;
        } else {
            for (; i < n; ++i) acc |= static_cast<unsigned char>(p[i]);
        }
    }
    return (acc & 0x8080808080808080u) == 0;
}

// ascii_only over a long span, block by block: text that is not ASCII is
// usually found in its first block, and the rest is then not read.
inline bool span_ascii(const char* p, std::size_t n) noexcept {
    constexpr std::size_t step = 4096;
    for (std::size_t at = 0; at < n; at += step) {
        if (!ascii_only(p + at, n - at < step ? n - at : step)) return false;
    }
    return true;
}

enum class utf8_state : std::uint8_t { ascii, valid, invalid };

struct utf8_check {
    utf8_state state;
    std::size_t bad_at;  // invalid: the byte where the first bad sequence starts
};

// Well-formed UTF-8 as the Unicode Standard defines it (no overlong forms,
// no surrogates, nothing past U+10FFFF, no truncated sequence).
utf8_check check_utf8(std::string_view s) noexcept;

std::string invalid_utf8_text(std::string_view s, std::size_t at);

// A whole span checked at once (utf8_span.cpp), by the vector check of this
// CPU's path: `unchecked` on a path without one (x86-64's baseline), whose
// rows are then checked one by one. In a valid span, a row is valid UTF-8
// when it starts and ends where code points do.
enum class span_utf8 : std::uint8_t { unchecked, valid, invalid };
span_utf8 check_span_utf8(const char* p, std::size_t n) noexcept;

// A byte that continues a code point (10xxxxxx).
inline bool continues(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// --- the row walk ----------------------------------------------------------------

// Calls text(i, bytes, ascii, end) for each row with a value and null(i) for
// each null row, in order; stops at the first bad row and returns its fault.
// `end` bounds the checked bytes that may be read from the row's start on (the
// row, then what follows it in its buffer): the last offset for utf8 and
// large_utf8, the end of the row's data buffer for a string_view, and the end
// of the views for a view whose text is inline; null for a chunk without data.
template <class Text, class Null>
std::optional<row_fault> walk_rows(const string_chunk& c, Text&& text, Null&& null);

namespace detail {

std::string decreasing_offsets_text(std::int64_t before, std::int64_t after);

// The fault of offsets that leave the extent at row i (off[i + 1] past the
// last offset, or below off[i]): the first decrease at or after row i, which
// must exist, since the offsets come back to the last one.
template <class Offset>
[[gnu::cold]] row_fault leaving_offsets(const Offset* off, std::int64_t i, std::int64_t length) {
    for (std::int64_t j = i; j < length; ++j) {
        if (off[j + 1] < off[j]) return row_fault{j, decreasing_offsets_text(off[j], off[j + 1])};
    }
    return row_fault{i, "offset " + std::to_string(off[i + 1]) + " past the last offset " + std::to_string(off[length])};
}
std::string view_fault_text(const arrow::string_view_row& v, std::int64_t buffer_count, const std::int64_t* sizes);

// The text of utf8 and large_utf8 rows checked a window at a time, ahead of
// the rows and while it stays in the cache, by check_span_utf8: a row that
// lies in a valid window needs only its two ends looked at. Where the window
// is not valid (or the path has no such check), its rows are checked one by
// one, for the fault's row and byte.
class checked_window {
public:
    // Whether the row data[a, b) (a <= b <= last) is known to be valid UTF-8,
    // a window from `a` on checked first when the row ends past the last one.
    [[gnu::always_inline]] bool holds(const char* data, std::int64_t a, std::int64_t b, std::int64_t last) noexcept {
        if (b > to_) open(data, a, b, last);
        return valid_ && a >= from_ && (a == b || !continues(data[a])) && (b == last || !continues(data[b]));
    }

private:
    static constexpr std::int64_t bytes = 64 * 1024;

    [[gnu::noinline]] void open(const char* data, std::int64_t a, std::int64_t b, std::int64_t last) noexcept {
        // to the end of the row, or a window's worth, and on to where a code point starts
        std::int64_t to = a + bytes < last ? a + bytes : last;
        if (to < b) to = b;
        for (int k = 0; k < 3 && to < last && continues(data[to]); ++k) ++to;
        from_ = a;
        to_ = to;
        valid_ = check_span_utf8(data + a, static_cast<std::size_t>(to - a)) == span_utf8::valid;
    }

    std::int64_t from_ = 0, to_ = -1;
    bool valid_ = false;
};

template <class Offset, class Text, class Null>
[[gnu::always_inline]] inline std::optional<row_fault> walk_offsets(const string_chunk& c, Text& text, Null& null) {
    if (c.length == 0) return std::nullopt;
    const Offset* off = static_cast<const Offset*>(c.offsets) + c.offset;
    Offset prev = static_cast<Offset>(c.first_offset);
    if (prev < 0) return row_fault{0, "negative offset " + std::to_string(prev)};
    const auto last = static_cast<Offset>(c.last_offset);
    // One scan of the whole span: when it is all ASCII, so is every row, and
    // no row needs a UTF-8 check of its own.
    const bool all_ascii = last >= prev && c.data && span_ascii(c.data + prev, static_cast<std::size_t>(last - prev));
    checked_window window;
    for (std::int64_t i = 0; i < c.length; ++i) {
        const Offset next = off[i + 1];
        // [prev, next] inside [first, last]: prev >= first holds by induction.
        if (next < prev || next > last) [[unlikely]] return leaving_offsets(off, i, c.length);
        if (c.has_value(i)) {
            // Without a data buffer only empty rows can be read.
            if (!c.data && next != prev) return row_fault{i, "the array has no data buffer"};
            // (an empty row of a chunk without data: empty text at a real
            // address, which memcpy and the like may be given)
            const std::string_view s = c.data ? std::string_view(c.data + prev, static_cast<std::size_t>(next - prev))
                                              : std::string_view("", 0);
            bool ascii = all_ascii;
            if (!ascii && c.data && window.holds(c.data, prev, next, last)) {
                ascii = ascii_only(s.data(), s.size());
            } else if (!ascii) {
                const utf8_check u = check_utf8(s);
                if (u.state == utf8_state::invalid) return row_fault{i, invalid_utf8_text(s, u.bad_at)};
                ascii = u.state == utf8_state::ascii;
            }
            text(i, s, ascii, c.data ? c.data + last : nullptr);
        } else {
            null(i);
        }
        prev = next;
    }
    return std::nullopt;
}

template <class Text, class Null>
[[gnu::always_inline]] inline std::optional<row_fault> walk_views(const string_chunk& c, Text& text, Null& null) {
    const auto* views = static_cast<const char*>(c.offsets) + c.offset * 16;
    const char* const views_end = views + c.length * 16;
    for (std::int64_t i = 0; i < c.length; ++i) {
        if (!c.has_value(i)) {
            null(i);
            continue;
        }
        const char* row = views + i * 16;
        arrow::string_view_row v;
        std::memcpy(&v, row, sizeof v);
        std::string_view s;
        const char* end;
        bool ascii;  // an inline check of the short rows; check_utf8 only for the others
        if (v.size >= 0 && v.size <= arrow::max_inline_view) {
            s = std::string_view(row + 4, static_cast<std::size_t>(v.size));
            end = views_end;
            ascii = ascii_only(s.data(), s.size());
        } else {
            const std::int64_t b = v.ref.buffer_index;
            if (v.size < 0 || b < 0 || b >= c.view_buffer_count || v.ref.offset < 0 ||
                std::int64_t{v.ref.offset} + v.size > c.view_buffer_sizes[b] || !c.view_buffers[b]) {
                return row_fault{i, view_fault_text(v, c.view_buffer_count, c.view_buffer_sizes)};
            }
            s = std::string_view(c.view_buffers[b] + v.ref.offset, static_cast<std::size_t>(v.size));
            end = c.view_buffers[b] + c.view_buffer_sizes[b];
            ascii = ascii_only(s.data(), s.size());
        }
        if (!ascii) {
            const utf8_check u = check_utf8(s);
            if (u.state == utf8_state::invalid) return row_fault{i, invalid_utf8_text(s, u.bad_at)};
            ascii = u.state == utf8_state::ascii;
        }
        text(i, s, ascii, end);
    }
    return std::nullopt;
}

}  // namespace detail

template <class Text, class Null>
[[gnu::always_inline]] inline std::optional<row_fault> walk_rows(const string_chunk& c, Text&& text, Null&& null) {
    switch (c.layout) {
        case string_layout::utf8: return detail::walk_offsets<std::int32_t>(c, text, null);
        case string_layout::large_utf8: return detail::walk_offsets<std::int64_t>(c, text, null);
        case string_layout::string_view: return detail::walk_views(c, text, null);
    }
    return std::nullopt;
}

}  // namespace tavo::columns
