// The module _tavo: its function table and PyInit__tavo.
#include "bodies/bodies.hpp"
#include "modules/module_builder.hpp"
#include "modules/signature.hpp"
#include "shared/cpu_paths.hpp"
#include "text/short_ascii.hpp"

#include <cstddef>

namespace tavo {

namespace {

using short_text_fn = ref (*)(const char*, std::size_t);

// The entry wrapper of a function of one str with a short identifier path
// (bodies.hpp): a call with one positional str that takes the short path
// goes there directly, any other call through `entry`.
template <const function_description& D, body_fn Body, short_text_fn Short>
PyObject* text_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static_assert(D.count == 1 && D.required == 1 && !D.gathers);
    if (nargs == 1 && !kwnames) {
        PyObject* text = args[0];
        if (PyUnicode_Check(text)) {
            if (const auto ascii = ascii_text(text); ascii && text::takes_short_path(true, ascii->size())) {
                const char* s = ascii->data();
                const std::size_t n = ascii->size();
                return run_call([s, n] { return Short(s, n); });
            }
        }
    }
    return entry<D, Body>(self, args, nargs, kwnames);
}

template <const function_description& D, body_fn Body, short_text_fn Short>
function_row text_row(const char* doc) {
    return row_of<D>(as_method<&text_entry<D, Body, Short>>(), doc);
}

// The module's functions, in the order of __all__; built when first imported
// and kept for the process (an import that fails and is tried again reuses them).
std::span<function_row> functions() {
    static function_row table[] = {
        row<parse_desc, parse_body>(kept<signature<parse_desc>() + R"(Extract number from string.

Args:
    s: String to parse.

Returns:
    Parsed int or float, or None if parsing fails.

Examples:
    >>> parse('1,200m')
    1200
    >>> parse('100.0')
    100.0
    >>> parse('(1)')
    -1)">),
        row<multikeysort_desc, multikeysort_body>(kept<signature<multikeysort_desc>() + R"(Sort list of dictionaries by multiple keys.

Uses pre-extracted values for O(n) extraction instead of O(n log n).

Args:
    items: List of dictionaries to sort.
    columns: List of column names (prefix with '-' for descending).
    inplace: If True, sort in place; otherwise return new sorted list.

Returns:
    Sorted list if inplace=False, otherwise None.)">),
        row<sanitize_desc, sanitize_vulgar_string_body>(kept<signature<sanitize_desc>() + R"(Replace vulgar fractions with decimal equivalents.

Converts number and vulgar fraction combinations to number and decimal.

Args:
    s: String containing vulgar fractions.

Returns:
    String with fractions converted to decimals.

Examples:
    >>> sanitize_vulgar_string("Foo-Bar+Baz: 17s 4¾ 1 ⅛ 20 93¾ - 94⅛")
    'Foo-Bar+Baz: 17s 4.75 1.125 20 93.75 - 94.125'
    >>> sanitize_vulgar_string("⅓ cup")
    '0.333333 cup')">),
        text_row<uncamel_desc, uncamel_body, uncamel_short>(kept<signature<uncamel_desc>() + R"(Convert camelCase to snake_case.

Args:
    camel: CamelCase string.

Returns:
    snake_case string.

Examples:
    >>> uncamel('CamelCase')
    'camel_case'
    >>> uncamel('CamelCamelCase')
    'camel_camel_case'
    >>> uncamel('getHTTPResponseCode')
    'get_http_response_code')">),
        text_row<underscore_desc, underscore_to_camelcase_body, underscore_to_camelcase_short>(
            kept<signature<underscore_desc>() + R"(Convert underscore_delimited_text to camelCase.

Args:
    s: Underscore-delimited string.

Returns:
    camelCase string.

Examples:
    >>> underscore_to_camelcase('foo_bar_baz')
    'fooBarBaz'
    >>> underscore_to_camelcase('FOO_BAR')
    'fooBar'
    >>> underscore_to_camelcase('_foo_bar')
    'fooBar')">),
        row<collapse_desc, collapse_body>(kept<signature<collapse_desc>() + R"(Recursively flatten nested lists/tuples into a single list.

Args:
    args: Items to collapse (can be nested lists/tuples).

Returns:
    Flattened list of items.

Examples:
    >>> collapse([['a', ['b', ('c', 'd')]], -2, -1, [0, 1]])
    ['a', 'b', 'c', 'd', -2, -1, 0, 1])">),
        row<backfill_desc, backfill_body>(kept<signature<backfill_desc>() + R"(Back-fill a sorted array with the latest value.

Args:
    values: List of values (may contain None).

Returns:
    List with None values replaced by the most recent non-None value.

Examples:
    >>> backfill([None, None, 1, 2, 3, None, 4])
    [1, 1, 1, 2, 3, 3, 4])">),
        row<backfill_iterdict_desc, backfill_iterdict_body>(kept<signature<backfill_iterdict_desc>() + R"(Back-fill a sorted iterdict with the latest values.

Args:
    iterdict: List of dicts with possibly None values.

Returns:
    List of dicts with None values replaced by most recent non-None values per key.

Examples:
    >>> backfill_iterdict([{'a': 1, 'b': None}, {'a': 4, 'b': 2}, {'a': None, 'b': None}])
    [{'a': 1, 'b': 2}, {'a': 4, 'b': 2}, {'a': 4, 'b': 2}])">),
        row<same_order_desc, same_order_body>(kept<signature<same_order_desc>() + R"(Compare two lists and check if elements in ref appear in same order in comp.

Args:
    ref_list: Reference list of elements.
    comp: Comparison list to check order against.

Returns:
    True if all ref elements appear in comp in the same relative order.

Examples:
    >>> same_order(['x', 'y', 'z'], ['x', 'a', 'b', 'y', 'd', 'z'])
    True
    >>> same_order(['x', 'y', 'z'], ['x', 'z', 'y'])
    False)">),
    };
    return table;
}

PyModuleDef module_def = module_definition("_tavo", "Python module definition.");

module_cell the_module;

}  // namespace
}  // namespace tavo

PyMODINIT_FUNC PyInit__tavo(void) {
    return tavo::run_call([] {
        return tavo::made_module(
            tavo::the_module, tavo::module_def, tavo::functions(),
            "Lumo modules do not yet support subinterpreters, see the Limits section of README.md: "
            "_tavo keeps process-wide state and can be imported by the main interpreter only",
            [](PyObject*) {
                // the vector path is decided now, while the lock is held (shared/cpu_paths.hpp)
                (void)tavo::cpu::chosen();
                return tavo::ok();
            });
    });
}
