// How a module of this project is made, one way for both: a table of
// function rows, each made a function object of the module, listed in the
// module's __all__ and set as its attribute, in table order; then whatever
// else the module holds (`extra`). The module is made once per process
// (module_once.hpp).
#pragma once

#include "boundary/call.hpp"
#include "boundary/entry.hpp"
#include "boundary/interned.hpp"
#include "modules/module_once.hpp"

#include <span>

namespace tavo {

struct function_row {
    const char* attribute;  // its name in the module; nullptr: its __name__
    const char* module;     // its __module__; nullptr: the module's own name
    PyMethodDef def;        // its __name__, fast-call wrapper and docstring
};

// The row of a function with description D and body Body, whose calls keep
// `Rules`. `doc`: its docstring, text signature first. The rows are kept for
// the process: the function objects point at their PyMethodDef.
// `wrapper`: its fast-call wrapper (as_method).
template <const function_description& D>
function_row row_of(PyCFunction wrapper, const char* doc, const char* attribute = nullptr,
                    const char* module = nullptr) {
    return {attribute, module, PyMethodDef{D.name, wrapper, METH_FASTCALL | METH_KEYWORDS, doc}};
}

template <const function_description& D, body_fn Body, call_rules Rules = call_rules::nine>
function_row row(const char* doc, const char* attribute = nullptr, const char* module = nullptr) {
    return row_of<D>(as_method<&entry<D, Body, Rules>>(), doc, attribute, module);
}

namespace module_builder_detail {

inline PyObject* name_attr = nullptr;
inline PyObject* all_attr = nullptr;

inline result<ref> make_function(PyObject* module, function_row& r) {
    ref modname = r.module ? steal(PyUnicode_FromString(r.module)) : steal(PyModule_GetNameObject(module));
    if (!modname) return error_value::fetch();
    ref fn = steal(PyCMethod_New(&r.def, module, modname.get(), nullptr));
    if (!fn) return error_value::fetch();
    return fn;
}

// Lists `fn` in the module's __all__ (made when missing) under its attribute
// name, and sets it as that attribute.
inline status add_function(PyObject* module, PyObject* fn, const char* attribute) {
    ref name = attribute ? steal(PyUnicode_FromString(attribute))
                         : steal(PyObject_GetAttr(fn, interned(name_attr, "__name__")));
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

}  // namespace module_builder_detail

// The module of `def` with the functions of `rows` and what `extra(module)`
// adds, made once for the process (`refusal`: the ImportError text for
// another interpreter).
template <class Extra>
result<ref> made_module(module_cell& cell, PyModuleDef& def, std::span<function_row> rows, const char* refusal,
                        Extra extra) {
    return module_once(cell, refusal, [&]() -> result<ref> {
        using namespace module_builder_detail;
        ref module = steal(PyModule_Create2(&def, PYTHON_API_VERSION));
        if (!module) return error_value::fetch();
        for (function_row& r : rows) {
            result<ref> fn = make_function(module.get(), r);
            if (!fn) return std::move(fn.error());
            status added = add_function(module.get(), fn->get(), r.attribute);
            if (!added) return std::move(added.error());
        }
        status done = extra(module.get());
        if (!done) return std::move(done.error());
        return module;
    });
}

}  // namespace tavo
