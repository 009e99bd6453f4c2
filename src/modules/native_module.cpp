// The module tavo._native: every native function of the package tavo beyond
// _tavo's nine, per value and per column, and PyInit__native. Each row of a
// table below gives a function its attribute name here, the module its users
// see it in (its __module__: the public tavo module that re-exports it; by
// default this one, as for the column functions, which tavo.columns wraps), its
// description and its docstring; its body is defined in its subsystem's
// folder.
#include "bodies/bodies.hpp"
#include "columns/arrow/arrow_import.hpp"
#include "columns/column_bodies.hpp"
#include "columns/kernels/text_functions.hpp"
#include "boundary/tuple_class.hpp"
#include "modules/module_builder.hpp"
#include "modules/signature.hpp"
#include "shared/cpu_paths.hpp"

#include <array>

namespace tavo {

namespace {

constexpr call_rules package = call_rules::package;

// --- per value --------------------------------------------------------------------------

// The arguments and errors of the two payload-key functions.
constexpr auto payload_args = doc(
    "Args:\n"
    "    data: The payload.\n"
    "    depth: How many levels of dicts get their keys converted (lists and tuples\n"
    "        are no level); None for all. Below it, objects are returned as they are.\n\n");
constexpr auto payload_raises = doc(
    "Raises:\n"
    "    ValueError: Two keys of one dict become the same key; a dict, list or tuple\n"
    "        contains itself; depth is negative.\n\n");

// --- per column -------------------------------------------------------------------------

constexpr auto source_doc = doc("Args:\n    source: ") + columns::accepted_columns +
                            ":\n    a pyarrow Array or ChunkedArray, a polars or pandas Series, ... Anything else\n"
                            "    raises TypeError; malformed Arrow data (bad offsets or views, text that is not\n"
                            "    UTF-8) raises ValueError naming the row.\n";

// What a text function's docstring says it returns: its record's words, else the
// per-element function's result row by row, typed as uncamel's.
template <columns::text_function R>
consteval auto returns_doc() {
    if constexpr (requires { R::returns; }) {
        return doc(R::returns);
    } else {
        return doc("each row is ") + R::name + "() of the input row, null for null;\n    types as for uncamel().";
    }
}

// The row of a text function, "columns_" and its record's name: its docstring
// is made from its record's parts.
template <columns::text_function R>
function_row text_row() {
    static constexpr auto attribute = doc("columns_") + R::name;
    constexpr const function_description& desc = columns::text_function_desc<R>;
    return row<desc, columns::text_body<R>, package>(
        kept<signature<desc>() + R::summary + "\n\n" + source_doc + "\nReturns:\n    Column: " + returns_doc<R>()>,
        attribute.chars.data());
}

using columns::column_format_desc;
using columns::column_parse_desc;
using columns::column_price_desc;

// The table: the per-value functions, then the column ones (the text functions
// in their list's order, parse, number_format and price). Built when first
// imported and kept for the process: the function objects point at the rows.
template <class... R>
std::span<function_row> table_of(columns::function_list<R...>) {
    static function_row table[] = {
        row<parse_with_decimal_desc, parse_with_decimal_body, package>(kept<signature<parse_with_decimal_desc>() +
            "Extract a number from a string, with '.' or ',' as the decimal mark.\n\n"
            "Args:\n    s: String to parse.\n"
            "    decimal: '.' (the default: _tavo.parse exactly, a ',' is dropped like any\n"
            "        separator) or ',' (the comma is the decimal mark and a '.' is dropped).\n"
            "        Anything else raises ValueError.\n\n"
            "Returns:\n    Parsed int or float, or None if parsing fails.\n\nExamples:\n"
            "    >>> parse('1,234.56')\n    1234.56\n"
            "    >>> parse('1.234,56', decimal=',')\n    1234.56\n"
            "    >>> parse('(1.234,50) EUR', decimal=',')\n    -1234.5\n"
            "    >>> parse('1,2,3', decimal=',') is None\n    True">,
            "parse", "tavo"),
        row<number_format_desc, number_format_body, package>(kept<signature<number_format_desc>() +
            "The evidence of each text for its decimal mark, and the mark decided from it all.\n\n"
            "Each text's first number (its first run of digits and the separators between\n"
            "them) shows '.' or ',' as the decimal point, reads either way (one mark once,\n"
            "before exactly three digits), or shows neither (no mark, no number, None).\n\n"
            "Args:\n    texts: An iterable of str or None; anything else raises TypeError.\n\n"
            "Returns:\n    (decimal, point_rows, comma_rows, either_rows, neither_rows, point_example,\n"
            "    comma_example, either_example), which tavo.number_format gives as a\n"
            "    tavo.NumberFormat; each example is (index, text) of the first row of its kind,\n"
            "    or None.">,
            "number_format"),
        row<price_desc, price_body, package>(kept<signature<price_desc>() +
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
            "    >>> price('40% OFF') is None\n    True">,
            "price", "tavo"),
        row<keys_uncamel_desc, keys_uncamel_body, package>(kept<signature<keys_uncamel_desc>() +
            "Convert the camelCase keys of a nested payload to snake_case.\n\n"
            "A dict (or subclass) becomes a new dict whose str keys are what tavo.uncamel gives\n"
            "for them and whose values are converted in turn; a list or tuple (or subclass)\n"
            "becomes a new list or tuple of converted items; anything else is returned as it is.\n"
            "The input is never changed.\n\n" + payload_args +
            "Returns:\n    The payload with snake_case keys.\n\n" + payload_raises +
            "Examples:\n"
            "    >>> uncamel([{'userId': 1, 'rawData': {'fieldName': 2}}], depth=1)\n"
            "    [{'user_id': 1, 'raw_data': {'fieldName': 2}}]\n"
            "    >>> uncamel({'userId': 1, 'items': [{'unitPrice': 2}]})\n"
            "    {'user_id': 1, 'items': [{'unit_price': 2}]}">,
            "keys_uncamel", "tavo.keys"),
        row<keys_underscore_desc, keys_underscore_to_camelcase_body, package>(kept<signature<keys_underscore_desc>() +
            "Convert the snake_case keys of a nested payload to camelCase.\n\n"
            "A dict (or subclass) becomes a new dict whose str keys are what\n"
            "tavo.underscore_to_camelcase gives for them (a key without an underscore, such as\n"
            "'lastUpdate' or 'userID', is kept as it is) and whose values are converted in\n"
            "turn; a list or tuple (or subclass) becomes a new list or tuple of converted items;\n"
            "anything else is returned as it is. The input is never changed.\n\n" + payload_args +
            "Returns:\n    The payload with camelCase keys (where they have underscores).\n\n" +
            payload_raises +
            "Examples:\n"
            "    >>> underscore_to_camelcase({'user_id': 1, 'items': [{'unit_price': 2}]})\n"
            "    {'userId': 1, 'items': [{'unitPrice': 2}]}\n"
            "    >>> underscore_to_camelcase({'user_id': 1, 'extra': {'raw_value': 2}}, depth=1)\n"
            "    {'userId': 1, 'extra': {'raw_value': 2}}">,
            "keys_underscore_to_camelcase", "tavo.keys"),
        // tavo.columns
        text_row<R>()...,
        row<column_parse_desc, columns::parse_body, package>(kept<signature<column_parse_desc>() +
            "Extract a number from every string of an Arrow string column.\n\n" + source_doc +
            "    type: None (inferred: 'int64' when every number read is an int within 64 bits, else\n"
            "        'float64'), 'int64' or 'float64'.\n"
            "    decimal: the decimal mark, '.' or ',' (the other one is dropped like any separator),\n"
            "        as for tavo.parse(); or 'infer' (the default): the mark that number_format()\n"
            "        decides from the whole column, and ValueError, with the rows' evidence, when it\n"
            "        decides none. Anything else raises ValueError.\n\n"
            "Returns:\n    Column of int64 or float64: each row is parse() of the input row, null where\n"
            "    parse() gives None (and for null rows). float64 holds each int as the nearest double,\n"
            "    as float() gives it; an int beyond the float range is inf or -inf. A forced 'int64'\n"
            "    never wraps: a value that int64 cannot hold exactly (a fraction, a number outside\n"
            "    64 bits) is null. A digit string longer than sys.get_int_max_str_digits() is null,\n"
            "    as parse() gives None for it.">,
            "columns_parse"),
        row<column_format_desc, columns::format_body, package>(kept<signature<column_format_desc>() +
            "The evidence of every row of an Arrow string column for its decimal mark, and the mark\n"
            "decided from it all (as tavo.number_format() reads a list of texts; a null row shows\n"
            "neither mark).\n\n" + source_doc +
            "\nReturns:\n    (decimal, point_rows, comma_rows, either_rows, neither_rows, point_example,\n"
            "    comma_example, either_example), which tavo.columns.number_format gives as a\n"
            "    tavo.NumberFormat.">,
            "columns_number_format"),
        row<column_price_desc, columns::price_body, package>(kept<signature<column_price_desc>() +
            "Read the amount and the currency of every price text of an Arrow string column.\n\n" + source_doc +
            "    decimal: None (the default: each text decides its own decimal mark), '.' or ',', as\n"
            "        for tavo.price(). Anything else raises ValueError.\n\n"
            "Returns:\n    Column of struct<amount: float64, currency: utf8>: each row is tavo.price() of the\n"
            "    input row, its amount as the nearest double (as float() gives an int; an int beyond\n"
            "    the float range is inf or -inf), its currency the text price() gives, null where it\n"
            "    has none; the row is null where price() gives None (and for null rows).">,
            "columns_price"),
    };
    return table;
}

// _tuple_class(model), not a function of the package's users: the class of
// tavo.Price is made with it from its model (tavo/_price.py).
PyMethodDef tuple_class_def{
    "_tuple_class",
    [](PyObject*, PyObject* model) {
        return run_call<package>([&] { return tuple_class_like(model); });
    },
    METH_O,
    "_tuple_class(model, /)\n--\n\n"
    "A class like the named tuple class `model` (its name, module and namespace),\n"
    "whose instances this module makes and frees directly."};

// What the module holds beside its functions: Column, _tuple_class, and the
// vector path of this CPU (shared/cpu_paths.hpp), decided now while the lock
// is held and named for the tests.
status prepare_native(PyObject* module) {
    if (status s = columns::prepare_columns(module); !s) return s;
    if (PyModule_AddStringConstant(module, "_cpu_path", cpu::name(cpu::chosen())) < 0) return error_value::fetch();
    ref modname = steal(PyModule_GetNameObject(module));
    if (!modname) return error_value::fetch();
    ref fn = steal(PyCMethod_New(&tuple_class_def, nullptr, modname.get(), nullptr));
    if (!fn || PyModule_AddObjectRef(module, tuple_class_def.ml_name, fn.get()) < 0) return error_value::fetch();
    return ok();
}

PyModuleDef module_def = module_definition(
    "tavo._native",
    "The native functions of the package tavo beyond those of _tavo: per value (parse, price,\n"
    "number_format, the payload keys) and per column (the columns_ functions and Column, over\n"
    "Arrow string columns from any producer: the Arrow PyCapsule interface).");

module_cell the_module;

}  // namespace
}  // namespace tavo

PyMODINIT_FUNC PyInit__native(void) {
    return tavo::run_call<tavo::call_rules::package>([] {
        return tavo::made_module(tavo::the_module, tavo::module_def, tavo::table_of(tavo::columns::text_functions{}),
                                 "tavo._native keeps process-wide state and can be imported by the main "
                                 "interpreter only",
                                 [](PyObject* module) { return tavo::prepare_native(module); });
    });
}
