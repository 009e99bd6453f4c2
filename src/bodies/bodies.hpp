// What a function body sees: its bound arguments (call_args), their
// conversions and the result kinds (args.hpp), error values (error.hpp) and
// the typed views (views.hpp). Each function is declared here once: its
// description (name, parameters, how many are required, the keyword-only ones
// and the defaults), which its module's table (src/modules/) makes its
// signature and argument binding of, and its body
//     result<ref> name_body(call_args& a);
// defined in its subsystem's folder, which reads each argument by name:
// a[param(name_desc, "s")]. The package's functions are declared whole
// (boundary/declaration.hpp: description, body, docstring, where its users
// see it), and tavo._native's table is made of the list package_functions;
// _tavo's nine have their docstrings in their own table (modules/tavo_module.cpp).
#pragma once

#include "boundary/args.hpp"
#include "boundary/declaration.hpp"

namespace tavo {

// --- _tavo's nine -------------------------------------------------------------------------

inline constexpr function_description parse_desc{"parse", {"s"}, 1, 1, false};
result<ref> parse_body(call_args& a);  // bodies/parse.cpp

inline constexpr function_description multikeysort_desc{
    "multikeysort", {"items", "columns", "inplace"}, 3, 2, false, 0, {"", "", "False"}};
result<ref> multikeysort_body(call_args& a);  // dictsort/multikeysort.cpp

inline constexpr function_description sanitize_desc{"sanitize_vulgar_string", {"s"}, 1, 1, false};
result<ref> sanitize_vulgar_string_body(call_args& a);  // bodies/vulgar_fractions.cpp

inline constexpr function_description uncamel_desc{"uncamel", {"camel"}, 1, 1, false};
result<ref> uncamel_body(call_args& a);  // bodies/case_conversion.cpp

inline constexpr function_description underscore_desc{"underscore_to_camelcase", {"s"}, 1, 1, false};
result<ref> underscore_to_camelcase_body(call_args& a);  // bodies/case_conversion.cpp

inline constexpr function_description collapse_desc{"collapse", {}, 0, 0, true};
result<ref> collapse_body(call_args& a);  // iter/collapse.cpp

inline constexpr function_description backfill_desc{"backfill", {"values"}, 1, 1, false};
result<ref> backfill_body(call_args& a);  // iter/backfill.cpp

inline constexpr function_description backfill_iterdict_desc{"backfill_iterdict", {"iterdict"}, 1, 1, false};
result<ref> backfill_iterdict_body(call_args& a);  // iter/backfill_iterdict.cpp

inline constexpr function_description same_order_desc{"same_order", {"ref_list", "comp"}, 2, 2, false};
result<ref> same_order_body(call_args& a);  // iter/same_order.cpp

// --- tavo's, per value (the column functions' are in columns/column_bodies.hpp) -----------

inline constexpr function_description parse_with_decimal_desc{
    "parse", {"s", "decimal"}, 2, 1, false, 1, {"", "'.'"}};
result<ref> parse_with_decimal_body(call_args& a);  // bodies/parse_decimal.cpp
inline constexpr declared_function parse_with_decimal_function{
    parse_with_decimal_desc, parse_with_decimal_body,
    doc("Extract a number from a string, with '.' or ',' as the decimal mark.\n\n"
        "Args:\n    s: String to parse.\n"
        "    decimal: '.' (the default: _tavo.parse exactly, a ',' is dropped like any\n"
        "        separator) or ',' (the comma is the decimal mark and a '.' is dropped).\n"
        "        Anything else raises ValueError.\n\n"
        "Returns:\n    Parsed int or float, or None if parsing fails.\n\nExamples:\n"
        "    >>> parse('1,234.56')\n    1234.56\n"
        "    >>> parse('1.234,56', decimal=',')\n    1234.56\n"
        "    >>> parse('(1.234,50) EUR', decimal=',')\n    -1234.5\n"
        "    >>> parse('1,2,3', decimal=',') is None\n    True"),
    "parse", "tavo"};

inline constexpr function_description number_format_desc{"number_format", {"texts"}, 1, 1, false};
result<ref> number_format_body(call_args& a);  // bodies/number_format_body.cpp
inline constexpr declared_function number_format_function{
    number_format_desc, number_format_body,
    doc("The evidence of each text for its decimal mark, and the mark decided from it all.\n\n"
        "Each text's first number (its first run of digits and the separators between\n"
        "them) shows '.' or ',' as the decimal point, reads either way (one mark once,\n"
        "before exactly three digits), or shows neither (no mark, no number, None).\n\n"
        "Args:\n    texts: An iterable of str or None; anything else raises TypeError.\n\n"
        "Returns:\n    (decimal, point_rows, comma_rows, either_rows, neither_rows, point_example,\n"
        "    comma_example, either_example), which tavo.number_format gives as a\n"
        "    tavo.NumberFormat; each example is (index, text) of the first row of its kind,\n"
        "    or None."),
    "number_format"};

inline constexpr function_description price_desc{"price", {"text", "decimal"}, 2, 1, false, 1, {"", "None"}};
result<ref> price_body(call_args& a);  // bodies/price_body.cpp
inline constexpr declared_function price_function{
    price_desc, price_body,
    doc("Read the amount and the currency of a price text.\n\n"
        "The price is the first number with a currency sign, code or name next to it (the\n"
        "first number of a range 'X - Y'), or else the first number with a fraction, or the\n"
        "first number; a percentage is no price. Digit groups may be split by '.', ',',\n"
        "spaces or apostrophes.\n\n"
        "Args:\n    text: The price text.\n"
        "    decimal: None (the default: each number decides; with both marks the later one,\n"
        "        and one mark with exactly three digits after it is a thousands separator),\n"
        "        '.' or ','. Anything else raises ValueError.\n\n"
        "Returns:\n    tavo.Price(amount, currency): the amount an int or a float as parse gives,\n"
        "    the currency as written or None; None when the text holds no price.\n\nExamples:\n"
        "    >>> price('Price: 1 299,00 EUR')\n    Price(amount=1299.0, currency='EUR')\n"
        "    >>> price(\"CHF 1'049.95\")\n    Price(amount=1049.95, currency='CHF')\n"
        "    >>> price('40% OFF') is None\n    True"),
    "price", "tavo"};

// The two payload-key functions: the same parameters, and the same arguments
// and errors in their docstrings, between what each does and returns and
// their examples.
consteval function_description payload_keys_desc(const char* name) {
    return {name, {"data", "depth"}, 2, 1, false, 1, {"", "None"}};
}
template <std::size_t A, std::size_t R, std::size_t E>
consteval auto payload_keys_doc(const doc_text<A>& about, const doc_text<R>& returns, const doc_text<E>& examples) {
    return about +
           "\n\nArgs:\n"
           "    data: The payload.\n"
           "    depth: How many levels of dicts get their keys converted (lists and tuples\n"
           "        are no level); None for all. Below it, objects are returned as they are.\n\n"
           "Returns:\n    " +
           returns +
           "\n\nRaises:\n"
           "    ValueError: Two keys of one dict become the same key; a dict, list or tuple\n"
           "        contains itself; depth is negative.\n\n"
           "Examples:\n" +
           examples;
}

result<ref> keys_uncamel_body(call_args& a);                  // keys/payload_keys.cpp
result<ref> keys_underscore_to_camelcase_body(call_args& a);  // keys/payload_keys.cpp
inline constexpr function_description keys_uncamel_desc = payload_keys_desc("uncamel");
inline constexpr function_description keys_underscore_desc = payload_keys_desc("underscore_to_camelcase");

inline constexpr declared_function keys_uncamel_function{keys_uncamel_desc, keys_uncamel_body,
    payload_keys_doc(doc("Convert the camelCase keys of a nested payload to snake_case.\n\n"
                         "A dict (or subclass) becomes a new dict whose str keys are what tavo.uncamel gives\n"
                         "for them and whose values are converted in turn; a list or tuple (or subclass)\n"
                         "becomes a new list or tuple of converted items; anything else is returned as it is.\n"
                         "The input is never changed."), doc("The payload with snake_case keys."),
                     doc("    >>> uncamel([{'userId': 1, 'rawData': {'fieldName': 2}}], depth=1)\n"
                         "    [{'user_id': 1, 'raw_data': {'fieldName': 2}}]\n"
                         "    >>> uncamel({'userId': 1, 'items': [{'unitPrice': 2}]})\n"
                         "    {'user_id': 1, 'items': [{'unit_price': 2}]}")),
    "keys_uncamel", "tavo.keys"};

// (a key without an underscore is kept: 'userID' is no 'user_i_d' to convert back)
inline constexpr declared_function keys_underscore_function{keys_underscore_desc, keys_underscore_to_camelcase_body,
    payload_keys_doc(doc("Convert the snake_case keys of a nested payload to camelCase.\n\n"
                         "A dict (or subclass) becomes a new dict whose str keys are what\n"
                         "tavo.underscore_to_camelcase gives for them (a key without an underscore, such as\n"
                         "'lastUpdate' or 'userID', is kept as it is) and whose values are converted in\n"
                         "turn; a list or tuple (or subclass) becomes a new list or tuple of converted items;\n"
                         "anything else is returned as it is. The input is never changed."),
                     doc("The payload with camelCase keys (where they have underscores)."),
                     doc("    >>> underscore_to_camelcase({'user_id': 1, 'items': [{'unit_price': 2}]})\n"
                         "    {'userId': 1, 'items': [{'unitPrice': 2}]}\n"
                         "    >>> underscore_to_camelcase({'user_id': 1, 'extra': {'raw_value': 2}}, depth=1)\n"
                         "    {'userId': 1, 'extra': {'raw_value': 2}}")),
    "keys_underscore_to_camelcase", "tavo.keys"};

// The per-value functions of tavo._native, in its table's order.
using package_functions = declared_list<parse_with_decimal_function, number_format_function, price_function,
                                        keys_uncamel_function, keys_underscore_function>;

// --- shortcuts and shared conversions -------------------------------------------------------

// The common call of the two identifier functions, one positional str that
// takes the short path (text::takes_short_path), skips binding and
// conversion: the entry wrapper passes the text straight to these, which
// return what the body would. s[n] must be readable (a str's bytes end with a
// NUL).
ref uncamel_short(const char* s, std::size_t n);  // bodies/case_conversion.cpp
ref underscore_to_camelcase_short(const char* s, std::size_t n);  // bodies/case_conversion.cpp

// What uncamel or underscore_to_camelcase gives for a str (or subclass), as an
// exact str: the conversion of its characters, for the walks that convert
// many strs (the keys of a payload). bodies/case_conversion.cpp
result<ref> uncamel_str(PyObject* s);
result<ref> underscore_to_camelcase_str(PyObject* s);

}  // namespace tavo
