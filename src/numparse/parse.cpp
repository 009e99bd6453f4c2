// parse(s): the lenient filter over the UTF-8 bytes of `s`, then the strict
// reading of what is left, and the Python result.
#include "boundary/bodies.hpp"
#include "numparse/number_text.hpp"

#include <array>
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

// Texts up to this many bytes are filtered on the stack.
constexpr std::size_t small_text = 128;

// The exact int for significant digits beyond 64 bits. A text longer than the
// interpreter's limit for integer text conversion gives None: the conversion
// refuses it with ValueError before doing any arithmetic.
ref exact_int(std::string_view digits, bool negative) {
    std::string text;
    text.reserve(digits.size() + 1);
    if (negative) text += '-';
    text += digits;
    PyObject* v = PyLong_FromString(text.c_str(), nullptr, 10);
    if (v) return steal(v);
    if (PyErr_ExceptionMatches(PyExc_ValueError)) {
        error_value discarded = error_value::fetch();
        return none_result();
    }
    failed_creation();
}

}  // namespace

result<ref> parse_body(call_args& a) {
    auto s = string_arg(a, 0);
    if (!s) return std::move(s.error());
    const std::string_view in = *s;

    char small[small_text];
    std::unique_ptr<char[]> large;
    char* buf = small;
    if (in.size() > small_text) {
        large.reset(new char[in.size()]);
        buf = large.get();
    }
    // Branch-free: every byte is written, only number characters advance.
    std::size_t n = 0;
    for (char c : in) {
        buf[n] = c;
        n += number_chars[static_cast<unsigned char>(c)];
    }
    if (n == 0) return none_result();

    const parsed_number number = parse_number_text(std::string_view(buf, n));
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
