// The price reader over UTF-8 bytes: the amount of a price text and the
// currency written next to it. It knows nothing of Python objects: it runs
// with or without the interpreter lock, on any number of threads at once; the
// only failure is std::bad_alloc.
#pragma once

#include "numparse/number.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace tavo::numparse {

// The decimal mark of a price: decided by each text (see read_price), or given.
enum class price_mark : char { infer = 0, point = '.', comma = ',' };

// What one side of a short text of one number holds, by its bytes (at most
// eight), as read_price found it (price.cpp): a currency entry of `size`
// bytes (none: 0) `offset` bytes away from the number, and a parenthesis.
struct price_context {
    std::uint64_t bytes;
    std::uint8_t length, size, offset;
    bool parenthesis;
    bool outside;  // a currency outside the parenthesis
    std::uint16_t entry;
};

// The contexts read_price found last for one caller, a few of each side (a
// column's prices are mostly written the same few ways); only those filled
// are read.
struct price_contexts {
    static constexpr unsigned slots = 4;
    price_context before[slots], after[slots];
    unsigned before_filled = 0, after_filled = 0;  // past `slots`: the next to replace, round robin
};

// Where read_price writes the digits of the amount it reads (which a big_int's
// `digits` points into): valid until the next read_price with the same scratch.
class price_scratch {
public:
    price_scratch() = default;
    price_scratch(const price_scratch&) = delete;
    price_scratch& operator=(const price_scratch&) = delete;

    // Room for n bytes, the inline buffer when they fit.
    char* room(std::size_t n);

private:
    static constexpr std::size_t small_text = 64;
    char small_[small_text];
    std::unique_ptr<char[]> large_;
    std::size_t large_cap_ = 0;
};

// What read_price found. `amount.what` is none when the text holds no price;
// the currency, when there is one (`currency_size` is not 0), is
// currency_entries[currency_entry] (currency_table.hpp), as written in the text.
struct price {
    number amount;
    std::size_t currency_size = 0;
    std::size_t currency_entry = 0;
};

// The price of `text`:
// - a number is a run of ASCII digits joined by '.' or ',' before a digit, or
//   by a space (U+0020, U+00A0, U+2009, U+202F) or an apostrophe (', U+2019)
//   before a group of exactly three digits after groups of at most three;
//   one followed by '%' is a percentage and no price;
// - the first number with a currency next to it (signs, codes and names of
//   currency_table.hpp, before it or after it, spaces between) is the price;
//   when it ends a range ('X - Y', 'X to Y', 'from X to Y') of numbers with as
//   many fraction digits that runs upward, the range's first number is (a
//   count or a model before a dash is none: 'Modell 2024 – 899 €', nor a
//   number glued to letters or after a word that opens no range: 'EOS R50 –
//   799 €', 'iPhone 15 – 899 €'); with no currency next
//   to any number, the first number with a fraction, else the first number;
// - the decimal mark of the number: the given one, or the later one when both
//   stand in it; one mark used once with exactly three digits after it (and
//   not after a lone 0, nor after more than three digits with no space among
//   them: '1250.000') is a thousands separator, used twice or more always;
//   otherwise the one mark is the decimal point; ",-", ".-" or ":-" after a
//   number without a decimal point means no cents ('50,-', '1.899,-',
//   '1 299:- kr');
// - a mark before its digits, after neither a digit, a letter, a mark nor a
//   currency ('S/.49.90'), is its decimal point ('$.99'); two digits right
//   after a currency that follows a whole number with no space are its cents
//   ('12€50'), and so are two digits after a colon before a currency
//   ('12:95 kr', Swedish); a currency apart
//   from a number and against the next one is the next one's ('5 $10'),
//   unless that one has its own after it ('19,99 €29,99 €') or, after a number
//   with a separator in it, a word or a dash ('19,99 €4 Stück');
// - '-' (U+2212, U+2013, U+2014) before it (or before its currency), not
//   after another number, or parentheses around it and its currency (not
//   after a word: 'Versandkosten (4,95 €)' is a note) make it negative; set
//   apart from them by a space, the sign stands at the start or after '(',
//   ':' or '=' (else it is a dash after a label: 'Price - $19.99'); a
//   currency against the parentheses from outside is the amount's, and is no
//   word ('$(1,234.00)', 'USD (12.50)', '(12,50) €');
// - 'k' after it, with its currency before it ('£1.5k') or after the letter
//   ('150k ₫'), multiplies by 1000, 'M' by a million ('$1.2M');
// - a currency of thousandths (BHD, JOD, KWD, LYD, OMR, TND) makes one mark
//   with three digits after it the decimal point ('KD 12.500');
// - two superscript digits right after a whole number are its cents ('19⁹⁹');
// - a currency that is a single ASCII letter ('R', 'L') is the price's only
//   when no later number has another currency ('1.5L 2,49 €');
// - "&nbsp;" and the other named references to a space ("&thinsp;") left over
//   from a web page are spaces, as is a numeric reference to a space
//   ("&#160;"); a reference to a currency sign ("&euro;", "&#8364;") is that
//   sign's entry; the digits of any other numeric reference are no number; a
//   character that shows nothing (U+200B..U+200F, U+2060, U+FEFF) is a space
//   too, as are U+2000..U+200A;
// - '%' right before a number, not after a digit, makes it a percentage
//   ('%20 İndirim'); a currency on the line after a number, before a number
//   there, is that one's ('Taglia 44\n€ 39,90'); a dash against a leading
//   mark before two digits is no sign but no whole units ('CHF –.95' is
//   0.95); '*' and superscript digits between a number and the currency after
//   it are a footnote's ('12,99* €');
// - a text with no price with a currency by these rules is read again with its
//   decimal digits of other scripts (Unicode Nd) as ASCII ones, U+066B as the
//   decimal mark and U+066C as the other one, U+FF0C and U+FF0E as ',' and
//   '.' ('１，２８０円', '۱۲۹٬۰۰۰ تومان'), and that reading is the price when it
//   finds one.
price read_price(std::string_view text, price_mark mark, price_scratch& scratch);
// The same, where `readable` bytes from text.data() (at least text.size()) may
// be read: a short text of one number is then read from bit masks of its bytes,
// and what stands around it kept in `contexts` for the caller's next texts.
price read_price(std::string_view text, std::size_t readable, price_mark mark, price_scratch& scratch,
                 price_contexts& contexts);

}  // namespace tavo::numparse
