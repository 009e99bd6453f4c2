// The module tavo._native: every native function of the package tavo beyond
// _tavo's nine, per value and per column, and PyInit__native. Its table is made
// of the functions' declarations (bodies/bodies.hpp, columns/column_bodies.hpp,
// the text functions' records): each gives a function its description, body,
// docstring, its attribute name here and the module its users see it in (its
// __module__: the public tavo module that re-exports it; by default this one,
// as for the column functions, which tavo.columns wraps).
#include "bodies/bodies.hpp"
#include "columns/column_bodies.hpp"
#include "columns/kernels/text_functions.hpp"
#include "boundary/tuple_class.hpp"
#include "modules/module_builder.hpp"
#include "modules/signature.hpp"
#include "shared/cpu_paths.hpp"

#include <array>
#include <span>
#include <string_view>

namespace tavo {

namespace {

constexpr call_rules package = call_rules::package;

// What a column text function's docstring says of its source.
using columns::source_doc;

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

// The row of a declared function (boundary/declaration.hpp).
template <const auto& F>
function_row declared_row() {
    return row<F.desc, F.body, package>(kept<signature<F.desc>() + F.doc>, F.attribute, F.module);
}

// The table: the per-value functions (bodies/bodies.hpp), then the column ones:
// the text functions in their list's order (columns/kernels/text_functions.hpp),
// then parse, number_format and price (columns/column_bodies.hpp). Built when
// first imported and kept for the process: the function objects point at the rows.
template <const auto&... F, class... R, const auto&... C>
std::span<function_row> table_of(declared_list<F...>, columns::function_list<R...>, declared_list<C...>) {
    static function_row table[] = {declared_row<F>()..., text_row<R>()..., declared_row<C>()...};
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

// __all__: the functions that the package tavo exports as they are, by
// `from ._native import *`: those whose module is tavo. (The others are
// re-exported under other names by tavo.keys, or wrapped by tavo.columns and
// tavo.number_format.)
status list_exports(PyObject* module, std::span<const function_row> rows) {
    ref all = steal(PyList_New(0));
    if (!all) return error_value::fetch();
    for (const function_row& r : rows) {
        if (r.module == nullptr || std::string_view(r.module) != "tavo") continue;
        ref name = steal(PyUnicode_FromString(r.attribute ? r.attribute : r.def.ml_name));
        if (!name || PyList_Append(all.get(), name.get()) < 0) return error_value::fetch();
    }
    if (PyModule_AddObjectRef(module, "__all__", all.get()) < 0) return error_value::fetch();
    return ok();
}

// What the module holds beside its functions: its __all__, Column,
// _tuple_class, and the vector path of this CPU (shared/cpu_paths.hpp), decided
// now while the lock is held and named for the tests.
status prepare_native(PyObject* module, std::span<const function_row> rows) {
    if (status s = list_exports(module, rows); !s) return s;
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
        const std::span<tavo::function_row> rows =
            tavo::table_of(tavo::package_functions{}, tavo::columns::text_functions{}, tavo::columns::column_functions{});
        return tavo::made_module(tavo::the_module, tavo::module_def, rows,
                                 "tavo._native keeps process-wide state and can be imported by the main "
                                 "interpreter only",
                                 [rows](PyObject* module) { return tavo::prepare_native(module, rows); });
    });
}
