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
result<ref> parse_with_decimal_body(call_args& a);  // src/numparse

namespace {

struct native_function {
    const char* attribute;  // the name in tavo._native
    const char* module;     // its __module__
    PyMethodDef def;        // its __name__, fast-call wrapper and docstring
};

constexpr function_description parse_desc{"parse", {"s", "decimal"}, 2, 1, false, 1};

template <const function_description& D, body_fn Body>
PyMethodDef method(const char* doc) {
    return PyMethodDef{D.name, wrapper_of<D, Body>(), METH_FASTCALL | METH_KEYWORDS, doc};
}

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
        {nullptr, nullptr, {nullptr, nullptr, 0, nullptr}},
    };
    return table;
}

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "tavo._native",
    "The per-value functions of the package tavo beyond those of _tavo.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

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
    return tavo::run_call([] { return tavo::initialise(); });
}
