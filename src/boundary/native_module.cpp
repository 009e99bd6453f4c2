// tavo._native: the per-value functions of the package tavo beyond _tavo's
// nine, and PyInit__native. Each row of the table below gives a function its
// attribute name here, the module its users see it in (its __module__: the
// public tavo module that re-exports it), its description and its docstring;
// its body is defined in its subsystem's folder.
#include "boundary/bodies.hpp"
#include "boundary/call.hpp"
#include "boundary/entry.hpp"
#include "boundary/module_once.hpp"

namespace tavo {

// The function bodies, each defined in its subsystem's folder.
result<ref> parse_with_decimal_body(call_args& a);            // src/numparse
result<ref> number_format_body(call_args& a);                 // src/numparse
result<ref> price_body(call_args& a);                         // src/numparse
result<ref> keys_uncamel_body(call_args& a);                  // src/iter
result<ref> keys_underscore_to_camelcase_body(call_args& a);  // src/iter

namespace {

constexpr function_description parse_desc{"parse", {"s", "decimal"}, 2, 1, false, 1};
constexpr function_description number_format_desc{"number_format", {"texts"}, 1, 1, false};
constexpr function_description price_desc{"price", {"text", "decimal"}, 2, 1, false, 1};
constexpr function_description keys_uncamel_desc{"uncamel", {"data", "depth"}, 2, 1, false, 1};
constexpr function_description keys_underscore_desc{"underscore_to_camelcase", {"data", "depth"}, 2, 1, false, 1};

struct native_function {
    const char* attribute;  // the name in tavo._native
    const char* module;     // its __module__
    PyMethodDef def;        // its __name__, fast-call wrapper and docstring
};

template <const function_description& D, body_fn Body>
PyMethodDef method(const char* doc) {
    return PyMethodDef{D.name, package_wrapper_of<D, Body>(), METH_FASTCALL | METH_KEYWORDS, doc};
}

// The arguments and errors of the two payload-key functions.
#define TAVO_PAYLOAD_ARGS                                                                   \
    "Args:\n"                                                                               \
    "    data: The payload.\n"                                                              \
    "    depth: How many levels of dicts get their keys converted (lists and tuples\n"      \
    "        are no level); None for all. Below it, objects are returned as they are.\n\n" \
    "Raises:\n"                                                                             \
    "    ValueError: Two keys of one dict become the same key; a dict, list or tuple\n"     \
    "        contains itself; depth is negative.\n\n"

// The table, ended by a row without a name. The records are kept for the
// process: the function objects point at them.
native_function* functions() {
    static native_function table[] = {
        {"parse", "tavo",
         method<parse_desc, parse_with_decimal_body>(
             "parse(s, *, decimal='.')\n--\n\n"
             "Extract a number from a string, with '.' or ',' as the decimal mark.\n\n"
             "Args:\n    s: String to parse.\n"
             "    decimal: '.' (the default: _tavo.parse exactly, a ',' is dropped like any\n"
             "        separator) or ',' (the comma is the decimal mark and a '.' is dropped).\n"
             "        Anything else raises ValueError.\n\n"
             "Returns:\n    Parsed int or float, or None if parsing fails.\n\nExamples:\n"
             "    >>> parse('1,234.56')\n    1234.56\n"
             "    >>> parse('1.234,56', decimal=',')\n    1234.56\n"
             "    >>> parse('(1.234,50) EUR', decimal=',')\n    -1234.5\n"
             "    >>> parse('1,2,3', decimal=',') is None\n    True")},
        {"number_format", "tavo._native",
         method<number_format_desc, number_format_body>(
             "number_format(texts)\n--\n\n"
             "The evidence of each text for its decimal mark, and the mark decided from it all.\n\n"
             "Each text's first number (its first run of digits and the separators between\n"
             "them) shows '.' or ',' as the decimal point, reads either way (one mark once,\n"
             "before exactly three digits), or shows neither (no mark, no number, None).\n\n"
             "Args:\n    texts: An iterable of str or None; anything else raises TypeError.\n\n"
             "Returns:\n    (decimal, point_rows, comma_rows, either_rows, neither_rows, point_example,\n"
             "    comma_example, either_example), which tavo.number_format gives as a\n"
             "    tavo.NumberFormat; each example is (index, text) of the first row of its kind,\n"
             "    or None.")},
        {"price", "tavo",
         method<price_desc, price_body>(
             "price(text, *, decimal=None)\n--\n\n"
             "Read the amount and the currency of a price text.\n\n"
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
             "    >>> price('40% OFF') is None\n    True")},
        // tavo.keys
        {"keys_uncamel", "tavo.keys",
         method<keys_uncamel_desc, keys_uncamel_body>(
             "uncamel(data, *, depth=None)\n--\n\n"
             "Convert the camelCase keys of a nested payload to snake_case.\n\n"
             "A dict (or subclass) becomes a new dict whose str keys are what tavo.uncamel gives\n"
             "for them and whose values are converted in turn; a list or tuple (or subclass)\n"
             "becomes a new list or tuple of converted items; anything else is returned as it is.\n"
             "The input is never changed.\n\n"
             TAVO_PAYLOAD_ARGS
             "Examples:\n"
             "    >>> uncamel({'userId': 1, 'items': [{'unitPrice': 2}]})\n"
             "    {'user_id': 1, 'items': [{'unit_price': 2}]}")},
        {"keys_underscore_to_camelcase", "tavo.keys",
         method<keys_underscore_desc, keys_underscore_to_camelcase_body>(
             "underscore_to_camelcase(data, *, depth=None)\n--\n\n"
             "Convert the snake_case keys of a nested payload to camelCase.\n\n"
             "A dict (or subclass) becomes a new dict whose str keys are what\n"
             "tavo.underscore_to_camelcase gives for them (a key without an underscore, such as\n"
             "'lastUpdate' or 'userID', is kept as it is) and whose values are converted in\n"
             "turn; a list or tuple (or subclass) becomes a new list or tuple of converted items;\n"
             "anything else is returned as it is. The input is never changed.\n\n"
             TAVO_PAYLOAD_ARGS
             "Examples:\n"
             "    >>> underscore_to_camelcase({'user_id': 1, 'items': [{'unit_price': 2}]})\n"
             "    {'userId': 1, 'items': [{'unitPrice': 2}]}")},
        {nullptr, nullptr, {nullptr, nullptr, 0, nullptr}},
    };
    return table;
}

#undef TAVO_PAYLOAD_ARGS

PyModuleDef module_def =
    module_definition("tavo._native", "The per-value functions of the package tavo beyond those of _tavo.");

module_cell the_module;

result<ref> initialise() {
    return module_once(the_module,
                       "tavo._native keeps process-wide state and can be imported by the main interpreter only",
                       []() -> result<ref> {
                           ref module = steal(PyModule_Create2(&module_def, PYTHON_API_VERSION));
                           if (!module) return error_value::fetch();
                           for (native_function* f = functions(); f->attribute; ++f) {
                               ref modname = steal(PyUnicode_FromString(f->module));
                               if (!modname) return error_value::fetch();
                               ref fn = steal(PyCMethod_New(&f->def, module.get(), modname.get(), nullptr));
                               if (!fn) return error_value::fetch();
                               if (PyModule_AddObjectRef(module.get(), f->attribute, fn.get()) < 0) {
                                   return error_value::fetch();
                               }
                           }
                           return module;
                       });
}

}  // namespace
}  // namespace tavo

PyMODINIT_FUNC PyInit__native(void) {
    return tavo::run_call<tavo::call_rules::package>([] { return tavo::initialise(); });
}
