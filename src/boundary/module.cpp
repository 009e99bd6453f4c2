// The module definition, its function table and PyInit__tavo.
#include "boundary/bodies.hpp"
#include "boundary/call.hpp"
#include "boundary/entry.hpp"
#include "boundary/module_once.hpp"
#include "boundary/interned.hpp"
#include "text/short_ascii.hpp"

#include <array>
#include <atomic>
#include <type_traits>
#include <cstddef>
#include <cstdint>

namespace tavo {

// The function bodies, each defined in its subsystem's folder; the function
// table below gives each its description and its docstring.
result<ref> parse_body(call_args& a);                    // src/numparse
result<ref> multikeysort_body(call_args& a);             // src/dictsort
result<ref> sanitize_vulgar_string_body(call_args& a);   // src/text
result<ref> uncamel_body(call_args& a);                  // src/text
result<ref> underscore_to_camelcase_body(call_args& a);  // src/text
result<ref> collapse_body(call_args& a);                 // src/iter
result<ref> backfill_body(call_args& a);                 // src/iter
result<ref> backfill_iterdict_body(call_args& a);        // src/iter
result<ref> same_order_body(call_args& a);               // src/iter

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

constexpr function_description parse_desc{"parse", {"s"}, 1, 1, false};
constexpr function_description multikeysort_desc{"multikeysort", {"items", "columns", "inplace"}, 3, 2, false};
constexpr function_description sanitize_desc{"sanitize_vulgar_string", {"s"}, 1, 1, false};
constexpr function_description uncamel_desc{"uncamel", {"camel"}, 1, 1, false};
constexpr function_description underscore_desc{"underscore_to_camelcase", {"s"}, 1, 1, false};
constexpr function_description collapse_desc{"collapse", {}, 0, 0, true};
constexpr function_description backfill_desc{"backfill", {"values"}, 1, 1, false};
constexpr function_description backfill_iterdict_desc{"backfill_iterdict", {"iterdict"}, 1, 1, false};
constexpr function_description same_order_desc{"same_order", {"ref_list", "comp"}, 2, 2, false};

struct table_entry {
    const char* name;
    PyCFunction wrapper;  // a fast-call wrapper, stored as CPython's generic pointer
    const char* doc;
};

template <const function_description& D, body_fn Body, short_text_fn Short>
PyCFunction text_wrapper_of() {
    return as_method<&text_entry<D, Body, Short>>();
}

// The module's functions, in the order of __all__ (set when the library is loaded).
const table_entry function_table[] = {
    {"parse", wrapper_of<parse_desc, parse_body>(),
     "parse(s)\n--\n\nExtract number from string.\n\nArgs:\n    s: String to parse.\n\n"
     "Returns:\n    Parsed int or float, or None if parsing fails.\n\nExamples:\n"
     "    >>> parse('1,200m')\n    1200\n    >>> parse('100.0')\n    100.0\n"
     "    >>> parse('(1)')\n    -1"},
    {"multikeysort", wrapper_of<multikeysort_desc, multikeysort_body>(),
     "multikeysort(items, columns, inplace=False)\n--\n\nSort list of dictionaries by multiple keys.\n\n"
     "Uses pre-extracted values for O(n) extraction instead of O(n log n).\n\nArgs:\n"
     "    items: List of dictionaries to sort.\n"
     "    columns: List of column names (prefix with '-' for descending).\n"
     "    inplace: If True, sort in place; otherwise return new sorted list.\n\n"
     "Returns:\n    Sorted list if inplace=False, otherwise None."},
    {"sanitize_vulgar_string", wrapper_of<sanitize_desc, sanitize_vulgar_string_body>(),
     "sanitize_vulgar_string(s)\n--\n\nReplace vulgar fractions with decimal equivalents.\n\n"
     "Converts number and vulgar fraction combinations to number and decimal.\n\nArgs:\n"
     "    s: String containing vulgar fractions.\n\nReturns:\n"
     "    String with fractions converted to decimals.\n\nExamples:\n"
     "    >>> sanitize_vulgar_string(\"Foo-Bar+Baz: 17s 4\u00be 1 \u215b 20 93\u00be - 94\u215b\")\n"
     "    'Foo-Bar+Baz: 17s 4.75 1.125 20 93.75 - 94.125'\n"
     "    >>> sanitize_vulgar_string(\"\u2153 cup\")\n    '0.333333 cup'"},
    {"uncamel", text_wrapper_of<uncamel_desc, uncamel_body, uncamel_short>(),
     "uncamel(camel)\n--\n\nConvert camelCase to snake_case.\n\nArgs:\n    camel: CamelCase string.\n\n"
     "Returns:\n    snake_case string.\n\nExamples:\n    >>> uncamel('CamelCase')\n    'camel_case'\n"
     "    >>> uncamel('CamelCamelCase')\n    'camel_camel_case'\n"
     "    >>> uncamel('getHTTPResponseCode')\n    'get_http_response_code'"},
    {"underscore_to_camelcase",
     text_wrapper_of<underscore_desc, underscore_to_camelcase_body, underscore_to_camelcase_short>(),
     "underscore_to_camelcase(s)\n--\n\nConvert underscore_delimited_text to camelCase.\n\nArgs:\n"
     "    s: Underscore-delimited string.\n\nReturns:\n    camelCase string.\n\nExamples:\n"
     "    >>> underscore_to_camelcase('foo_bar_baz')\n    'fooBarBaz'\n"
     "    >>> underscore_to_camelcase('FOO_BAR')\n    'fooBar'\n"
     "    >>> underscore_to_camelcase('_foo_bar')\n    'fooBar'"},
    {"collapse", wrapper_of<collapse_desc, collapse_body>(),
     "collapse(*args)\n--\n\nRecursively flatten nested lists/tuples into a single list.\n\nArgs:\n"
     "    args: Items to collapse (can be nested lists/tuples).\n\nReturns:\n"
     "    Flattened list of items.\n\nExamples:\n"
     "    >>> collapse([['a', ['b', ('c', 'd')]], -2, -1, [0, 1]])\n"
     "    ['a', 'b', 'c', 'd', -2, -1, 0, 1]"},
    {"backfill", wrapper_of<backfill_desc, backfill_body>(),
     "backfill(values)\n--\n\nBack-fill a sorted array with the latest value.\n\nArgs:\n"
     "    values: List of values (may contain None).\n\nReturns:\n"
     "    List with None values replaced by the most recent non-None value.\n\nExamples:\n"
     "    >>> backfill([None, None, 1, 2, 3, None, 4])\n    [1, 1, 1, 2, 3, 3, 4]"},
    {"backfill_iterdict", wrapper_of<backfill_iterdict_desc, backfill_iterdict_body>(),
     "backfill_iterdict(iterdict)\n--\n\nBack-fill a sorted iterdict with the latest values.\n\nArgs:\n"
     "    iterdict: List of dicts with possibly None values.\n\nReturns:\n"
     "    List of dicts with None values replaced by most recent non-None values per key.\n\n"
     "Examples:\n"
     "    >>> backfill_iterdict([{'a': 1, 'b': None}, {'a': 4, 'b': 2}, {'a': None, 'b': None}])\n"
     "    [{'a': 1, 'b': 2}, {'a': 4, 'b': 2}, {'a': 4, 'b': 2}]"},
    {"same_order", wrapper_of<same_order_desc, same_order_body>(),
     "same_order(ref_list, comp)\n--\n\n"
     "Compare two lists and check if elements in ref appear in same order in comp.\n\nArgs:\n"
     "    ref_list: Reference list of elements.\n"
     "    comp: Comparison list to check order against.\n\nReturns:\n"
     "    True if all ref elements appear in comp in the same relative order.\n\nExamples:\n"
     "    >>> same_order(['x', 'y', 'z'], ['x', 'a', 'b', 'y', 'd', 'z'])\n    True\n"
     "    >>> same_order(['x', 'y', 'z'], ['x', 'z', 'y'])\n    False"},
};
constexpr int function_count = static_cast<int>(std::extent_v<decltype(function_table)>);

PyModuleDef module_def = module_definition("_tavo", "Python module definition.");

module_cell the_module;
PyObject* name_attr = nullptr;
PyObject* all_attr = nullptr;

// The function objects' method records, built once and kept for the process
// (an import that fails and is tried again reuses them).
PyMethodDef* method_def(int i) {
    static std::array<PyMethodDef, function_count> defs = [] {
        std::array<PyMethodDef, function_count> d{};
        for (int j = 0; j < function_count; ++j) {
            const table_entry& e = function_table[j];
            d[static_cast<std::size_t>(j)] = PyMethodDef{e.name, e.wrapper, METH_FASTCALL | METH_KEYWORDS, e.doc};
        }
        return d;
    }();
    return &defs[static_cast<std::size_t>(i)];
}

result<ref> make_function(PyObject* module, int i) {
    ref modname = steal(PyModule_GetNameObject(module));
    if (!modname) return error_value::fetch();
    ref fn = steal(PyCMethod_New(method_def(i), module, modname.get(), nullptr));
    if (!fn) return error_value::fetch();
    return fn;
}

status add_function(PyObject* module, PyObject* fn) {
    ref name = steal(PyObject_GetAttr(fn, interned(name_attr, "__name__")));
    if (!name) return error_value::fetch();
    if (!PyUnicode_Check(name.get())) return type_mismatch(name.get(), "PyString");
    PyObject* all_name = interned(all_attr, "__all__");
    ref all = steal(PyObject_GetAttr(module, all_name));
    if (!all) {
        error_value e = error_value::fetch();
        e.normalise();
        if (!PyErr_GivenExceptionMatches(e.type(), PyExc_AttributeError)) return e;
        all = created(PyList_New(0));
        if (PyObject_SetAttr(module, all_name, all.get()) < 0) return error_value::fetch();
    } else if (!PyList_Check(all.get())) {
        return type_mismatch(all.get(), "PyList");
    }
    if (PyList_Append(all.get(), name.get()) < 0) {
        fail("could not append __name__ to __all__: " + error_value::fetch().render());
    }
    if (PyObject_SetAttr(module, name.get(), fn) < 0) return error_value::fetch();
    return ok();
}

status init_module(PyObject* module) {
    for (int i = 0; i < function_count; ++i) {
        result<ref> fn = make_function(module, i);
        if (!fn) return std::move(fn.error());
        status added = add_function(module, fn->get());
        if (!added) return std::move(added.error());
    }
    return ok();
}

result<ref> initialise() {
    return module_once(
        the_module,
        "Lumo modules do not yet support subinterpreters, see the Limits section of README.md: "
        "_tavo keeps process-wide state and can be imported by the main interpreter only",
        []() -> result<ref> {
            ref module = steal(PyModule_Create2(&module_def, 1013));
            if (!module) return error_value::fetch();
            status done = init_module(module.get());
            if (!done) return std::move(done.error());
            return module;
        });
}

}  // namespace
}  // namespace tavo

PyMODINIT_FUNC PyInit__tavo(void) {
    return tavo::run_call([] { return tavo::initialise(); });
}
