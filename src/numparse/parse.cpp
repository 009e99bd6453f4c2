// parse(s): the lenient filter over the UTF-8 bytes of `s`, then the strict
// reading of what is left, and the Python result.
#include "boundary/bodies.hpp"
#include "numparse/number_text.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>

namespace tavo {
namespace {

// 1 for the characters a number text keeps: ASCII digits and "(", ")", "-",
// ".". Every byte of a multi-byte UTF-8 sequence is 0x80 or above, so a
// byte-wise filter drops exactly the non-ASCII characters.
constexpr std::array<unsigned char, 256> number_chars = [] {
    std::array<unsigned char, 256> t{};
    for (unsigned char c = '0'; c <= '9'; ++c) t[c] = 1;
    for (unsigned char c : {'(', ')', '-', '.'}) t[c] = 1;
    return t;
}();

// Filtered texts up to this many bytes stay on the stack.
constexpr std::size_t small_text = 128;
// Below this much free room a long input moves to a heap buffer instead of
// being filtered in ever smaller steps.
constexpr std::size_t min_room = 16;

// Keeps the number characters of `in`, in order. The buffer starts on the
// stack and moves to the heap (once, sized for the rest of the input) only
// when the kept characters outgrow it, so a long text with a short number in
// it allocates nothing.
class number_filter {
public:
    explicit number_filter(std::string_view in) {
        if (in.size() <= small_text) {
            // Short texts, the common case: a branch per byte measured
            // faster here than the branch-free loop below, whose overlapping
            // stores the reading that follows has to wait for.
            char* const out = small_;
            std::size_t n = 0;
            for (char c : in) {
                if (number_chars[static_cast<unsigned char>(c)]) out[n++] = c;
            }
            n_ = n;
            return;
        }
        const char* p = in.data();
        std::size_t left = in.size();
        while (left != 0) {
            if (cap_ - n_ < min_room && left > cap_ - n_) grow(n_ + left);
            // Branch-free: every byte is written, only number characters
            // advance; a step never writes past the buffer. Locals, since
            // stores through a char pointer could alias the members.
            const std::size_t step = std::min(cap_ - n_, left);
            char* const out = buf_;
            std::size_t n = n_;
            for (std::size_t i = 0; i < step; ++i) {
                out[n] = p[i];
                n += number_chars[static_cast<unsigned char>(p[i])];
            }
            n_ = n;
            p += step;
            left -= step;
        }
    }
    number_filter(const number_filter&) = delete;
    number_filter& operator=(const number_filter&) = delete;

    std::string_view text() const noexcept { return {buf_, n_}; }

private:
    void grow(std::size_t cap) {
        std::unique_ptr<char[]> bigger(new char[cap]);
        std::memcpy(bigger.get(), buf_, n_);
        large_ = std::move(bigger);
        buf_ = large_.get();
        cap_ = cap;
    }

    char small_[small_text];
    std::unique_ptr<char[]> large_;
    char* buf_ = small_;
    std::size_t cap_ = small_text;
    std::size_t n_ = 0;
};

// The exact int for significant digits beyond 64 bits. A text longer than the
// interpreter's limit for integer text conversion gives None: the conversion
// refuses it with ValueError before doing any arithmetic.
result<ref> exact_int(std::string_view digits, bool negative) {
    std::string text;
    text.reserve(digits.size() + 1);
    if (negative) text += '-';
    text += digits;
    PyObject* v = PyLong_FromString(text.c_str(), nullptr, 10);
    if (v) return steal(v);
    if (PyErr_ExceptionMatches(PyExc_ValueError)) {
        if (status s = discard_ordinary_error(); !s) return std::move(s.error());
        return none_result();
    }
    failed_creation();
}

}  // namespace

result<ref> parse_body(call_args& a) {
    auto s = text_arg(a, 0);
    if (!s) return std::move(s.error());
    const std::string_view in = s->utf8();

    const number_filter filtered(in);
    if (filtered.text().empty()) return none_result();

    const parsed_number number = parse_number_text(filtered.text());
    switch (number.what) {
        case parsed_number::kind::int_number:
            return int_result(number.integer);
        case parsed_number::kind::float_number:
            return float_result(number.real);
        case parsed_number::kind::big_int:
            return exact_int(number.digits, number.negative);
        case parsed_number::kind::no_number:
            break;
    }
    return none_result();
}

}  // namespace tavo
