#include "columns/string_rows.hpp"

#include <array>
#include <cstdio>
#include <limits>

namespace tavo::columns {

std::optional<row_fault> describe_strings(const arrow::ArrowArray& a, string_layout layout, string_chunk& out) {
    const auto fault = [](std::string text) { return row_fault{-1, std::move(text)}; };
    if (a.length < 0) return fault("negative length " + std::to_string(a.length));
    if (a.offset < 0) return fault("negative offset " + std::to_string(a.offset));
    if (a.length > std::numeric_limits<std::int64_t>::max() / 16 - a.offset) {
        return fault("length " + std::to_string(a.length) + " and offset " + std::to_string(a.offset) + " out of range");
    }
    if (a.null_count < -1 || a.null_count > a.length) {
        return fault("null_count " + std::to_string(a.null_count) + " for " + std::to_string(a.length) + " rows");
    }
    const bool views = layout == string_layout::string_view;
    if (views ? a.n_buffers < 3 : a.n_buffers != 3) {
        return fault(std::string(views ? "a string_view array has at least 3 buffers, this one has "
                                       : "a string array has 3 buffers, this one has ") +
                     std::to_string(a.n_buffers));
    }
    if (!a.buffers) return fault("the array's buffer list is missing");
    out = string_chunk{};
    out.layout = layout;
    out.length = a.length;
    out.offset = a.offset;
    const auto* validity = static_cast<const std::uint8_t*>(a.buffers[0]);
    if (a.null_count != 0 && validity) out.validity = validity;
    if (a.null_count > 0 && !validity) {
        return fault("null_count is " + std::to_string(a.null_count) + " but the array has no validity buffer");
    }
    out.offsets = a.buffers[1];
    if (a.length == 0) return std::nullopt;  // nothing will be read
    if (!out.offsets) return fault(views ? "the array has no views buffer" : "the array has no offsets buffer");
    if (!views) {
        out.data = static_cast<const char*>(a.buffers[2]);
        std::int64_t first = 0, last = 0;
        if (layout == string_layout::utf8) {
            first = static_cast<const std::int32_t*>(out.offsets)[a.offset];
            last = static_cast<const std::int32_t*>(out.offsets)[a.offset + a.length];
        } else {
            first = static_cast<const std::int64_t*>(out.offsets)[a.offset];
            last = static_cast<const std::int64_t*>(out.offsets)[a.offset + a.length];
        }
        out.first_offset = first;
        out.last_offset = last;
        out.text_bytes_hint = last > first && first >= 0 ? last - first : 0;
        return std::nullopt;
    }
    out.view_buffer_count = a.n_buffers - 3;
    out.view_buffers = reinterpret_cast<const char* const*>(a.buffers + 2);
    out.view_buffer_sizes = static_cast<const std::int64_t*>(a.buffers[a.n_buffers - 1]);
    if (out.view_buffer_count > 0 && !out.view_buffer_sizes) {
        return fault("the array has no buffer of variadic buffer sizes");
    }
    std::int64_t hint = 0;
    for (std::int64_t b = 0; b < out.view_buffer_count; ++b) {
        const std::int64_t size = out.view_buffer_sizes[b];
        if (size < 0) return fault("variadic buffer " + std::to_string(b) + " has negative size " + std::to_string(size));
        if (size > 0 && !out.view_buffers[b]) return fault("variadic buffer " + std::to_string(b) + " is missing");
        hint = size > std::numeric_limits<std::int64_t>::max() - hint ? hint : hint + size;
    }
    // A slice may use a small part of large buffers: at most what the rows can name.
    const std::int64_t most = a.length * 16;
    out.text_bytes_hint = hint < most ? hint + a.length * 4 : most;
    return std::nullopt;
}

namespace {

// Where the first ill-formed sequence of s[i..) starts (i at a code point's
// start), or s.size(): the byte-by-byte reading of Table 3-7, used to name
// the fault once the automaton below has found one.
std::size_t first_bad_sequence(std::string_view s, std::size_t i) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    while (i < n) {
        const unsigned b0 = p[i];
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        // Table 3-7 of the Unicode Standard: the second byte's range depends
        // on the first, the others are 0x80..0xBF.
        std::size_t len;
        unsigned lo = 0x80, hi = 0xBF;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3;
            if (b0 == 0xE0) lo = 0xA0;
            if (b0 == 0xED) hi = 0x9F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4;
            if (b0 == 0xF0) lo = 0x90;
            if (b0 == 0xF4) hi = 0x8F;
        } else {
            return i;
        }
        if (n - i < len) return i;
        if (p[i + 1] < lo || p[i + 1] > hi) return i;
        for (std::size_t k = 2; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return i;
        }
        i += len;
    }
    return n;
}


// Well-formedness as a shift automaton: the state is a multiple of 6, and
// each byte's row holds, at bit `state`, the state after it (Table 3-7:
// which bytes may follow which). One load, one shift and one mask a byte.
enum : unsigned {
    accept = 0,
    reject = 6,
    one_more = 12,        // one continuation byte to go
    two_more = 18,        // two to go
    after_e0 = 24,        // A0..BF, then one more
    after_ed = 30,        // 80..9F, then one more
    three_more = 36,      // three to go
    after_f0 = 42,        // 90..BF, then two more
    after_f4 = 48,        // 80..8F, then two more
};

constexpr std::uint64_t transition_row(unsigned b) {
    unsigned next[9] = {reject, reject, reject, reject, reject, reject, reject, reject, reject};
    const auto set = [&next](unsigned from, unsigned to) { next[from / 6] = to; };
    if (b < 0x80) set(accept, accept);
    if (b >= 0x80 && b <= 0xBF) {
        set(one_more, accept);
        set(two_more, one_more);
        set(three_more, two_more);
        if (b >= 0xA0) set(after_e0, one_more);
        if (b <= 0x9F) set(after_ed, one_more);
        if (b >= 0x90) set(after_f0, two_more);
        if (b <= 0x8F) set(after_f4, two_more);
    }
    if (b >= 0xC2 && b <= 0xDF) set(accept, one_more);
    if (b == 0xE0) set(accept, after_e0);
    if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) set(accept, two_more);
    if (b == 0xED) set(accept, after_ed);
    if (b == 0xF0) set(accept, after_f0);
    if (b >= 0xF1 && b <= 0xF3) set(accept, three_more);
    if (b == 0xF4) set(accept, after_f4);
    std::uint64_t row = 0;
    for (unsigned s = 0; s < 9; ++s) row |= std::uint64_t{next[s]} << (6 * s);
    return row;
}

constexpr auto transitions = [] {
    std::array<std::uint64_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) t[b] = transition_row(b);
    return t;
}();
static_assert((transitions[0x80] >> reject & 63) == reject && (transitions[0x41] >> reject & 63) == reject);

}  // namespace

utf8_check check_utf8(std::string_view s) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    // ASCII words first: most rows are ASCII, and the rest mostly begin so.
    while (i + 8 <= n) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (w & 0x8080808080808080u) break;
        i += 8;
    }
    while (i < n && p[i] < 0x80) ++i;
    if (i == n) return {utf8_state::ascii, 0};
    const std::size_t first = i;
    std::uint64_t state = accept;
    for (; i < n; ++i) state = (transitions[p[i]] >> state) & 63;
    if (state == accept) return {utf8_state::valid, 0};
    return {utf8_state::invalid, first_bad_sequence(s, first)};
}

std::string invalid_utf8_text(std::string_view s, std::size_t at) {
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02x", static_cast<unsigned>(static_cast<unsigned char>(s[at])));
    return "invalid UTF-8 (byte " + std::string(byte) + " at position " + std::to_string(at) + ")";
}

namespace detail {

std::string decreasing_offsets_text(std::int64_t before, std::int64_t after) {
    return "offsets decrease (" + std::to_string(after) + " after " + std::to_string(before) + ")";
}

std::string view_fault_text(const arrow::string_view_row& v, std::int64_t buffer_count, const std::int64_t* sizes) {
    if (v.size < 0) return "string_view of negative size " + std::to_string(v.size);
    const std::int64_t b = v.ref.buffer_index;
    if (b < 0 || b >= buffer_count) {
        return "string_view names data buffer " + std::to_string(b) + ", the array has " + std::to_string(buffer_count);
    }
    return "string_view span of " + std::to_string(v.size) + " bytes at offset " + std::to_string(v.ref.offset) +
           " lies outside data buffer " + std::to_string(b) + " (" + std::to_string(sizes[b]) + " bytes)";
}

}  // namespace detail
}  // namespace tavo::columns
