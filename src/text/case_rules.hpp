// The two identifier rules, each written once over a "word" of flags: a bool
// for one code point, a bit mask (bit i for byte i), a 64-bit word of byte
// flags (bit 7 of each byte), or a vector of lane flags (0xFF or 0x00 each).
// Each argument is a flag of the same position: of the character itself, of
// the one before it, or of the one after it. The conversions compute the
// flags their way and ask these for the answer.
#pragma once

namespace tavo::text {

// uncamel: an underscore goes in front of a capital that follows a small
// letter or an ASCII digit, or that follows a capital and is followed by a
// small letter (the last capital of a run, "HTTPResponse" -> "http_response").
template <class W>
constexpr W uncamel_starts_word(W upper, W before_lower_or_digit, W before_upper, W after_lower) noexcept {
    return static_cast<W>(upper & (before_lower_or_digit | (before_upper & after_lower)));
}

// underscore_to_camelcase: underscores are dropped; a character right after
// one becomes a capital once something has been written (leading underscores
// are dropped, and the first character kept is a small one), every other one
// a small one.
template <class W>
constexpr W camelcase_capital(W after_underscore, W written_before) noexcept {
    return static_cast<W>(after_underscore & written_before);
}

}  // namespace tavo::text
