// tavo._columns: the column versions of the text functions (text_functions.hpp)
// and of parse, over Arrow data from any producer.
//
// A call reads the input chunk by chunk (arrow_input), checks each array's
// structure, and runs the kernel on it, without the interpreter lock when the
// chunk is of any real size; the input array is given back before the next
// one is asked for. The chunks built become one Column.
#include "boundary/args.hpp"
#include "boundary/call.hpp"
#include "boundary/entry.hpp"
#include "boundary/module_once.hpp"
#include "columns/arrow_import.hpp"
#include "columns/column_object.hpp"
#include "columns/kernels.hpp"
#include "columns/text_functions.hpp"
#include "numparse/decimal_arg.hpp"
#include "shared/first_store.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <string>
#include <vector>

namespace tavo::columns {
namespace {

// Chunks smaller than this keep the lock: giving it up and taking it back
// costs more than the work.
constexpr std::int64_t rows_worth_releasing = 2048;
constexpr std::int64_t bytes_worth_releasing = 32 * 1024;

// Gives up the interpreter lock for its scope when asked to; it is taken
// back also when the scope is left by an exception.
class without_interpreter_lock {
public:
    explicit without_interpreter_lock(bool release) noexcept {
        if (release) {
            saved_ = PyEval_SaveThread();
        }
    }
    ~without_interpreter_lock() {
        if (saved_) {
            PyEval_RestoreThread(saved_);
        }
    }
    without_interpreter_lock(const without_interpreter_lock&) = delete;
    without_interpreter_lock& operator=(const without_interpreter_lock&) = delete;

private:
    PyThreadState* saved_ = nullptr;
};

bool worth_releasing_the_lock(const string_chunk& c) noexcept {
    return c.length >= rows_worth_releasing || c.text_bytes_hint >= bytes_worth_releasing;
}

error_value malformed(const row_fault& f, std::int64_t first_row, std::size_t chunk_index) {
    std::string text = "malformed Arrow data: ";
    if (f.row >= 0) {
        text += "row " + std::to_string(first_row + f.row) + ": ";
    } else {
        text += "chunk " + std::to_string(chunk_index) + ": ";
    }
    text += f.text;
    return error_value::owned_error(PyExc_ValueError, std::move(text));
}

// The chunks `kernel(chunk)` -> kernel_output builds from every input chunk.
template <class Kernel>
result<std::vector<std::shared_ptr<chunk>>> each_chunk(arrow_input& in, Kernel&& kernel) {
    std::vector<std::shared_ptr<chunk>> built;
    std::int64_t first_row = 0;
    for (std::size_t index = 0;; ++index) {
        result<owned<arrow::ArrowArray>> a = in.next();
        if (!a) return std::move(a.error());
        if (!*a) return built;
        string_chunk c;
        if (std::optional<row_fault> f = describe_strings(**a, in.layout(), c)) return malformed(*f, first_row, index);
        kernel_output k;
        {
            without_interpreter_lock released(worth_releasing_the_lock(c));
            k = kernel(c);
        }
        if (k.fault) return malformed(*k.fault, first_row, index);
        a->reset();  // the producer's buffers are given back before the next chunk is asked for
        built.push_back(std::move(k.out));
        first_row += c.length;
        // A column of many chunks stops promptly on Ctrl-C (a kernel that gave the
        // lock up hears no signal while it runs).
        if (PyErr_CheckSignals() < 0) return error_value::fetch();
    }
}

template <text_rows R>
result<ref> text_column(PyObject* source) {
    result<arrow_input> in = arrow_input::open(source);
    if (!in) return std::move(in.error());
    const bool large = in->layout() == string_layout::large_utf8;
    const bool views = in->layout() == string_layout::string_view;
    result<std::vector<std::shared_ptr<chunk>>> chunks =
        each_chunk(*in, [&](const string_chunk& c) { return run_text_kernel<R>(c, large, views); });
    if (!chunks) return std::move(chunks.error());
    // The input's layout; large_utf8 when any chunk's text needed 64-bit offsets (or, from
    // string_view, held a row too long for a view).
    return make_column(column_of(std::move(*chunks), large   ? value_type::large_utf8
                                                     : views ? value_type::string_view
                                                             : value_type::utf8));
}

// sys.get_int_max_str_digits itself, taken when the module is made (the limit lives
// in the interpreter): a parse calls it, without an import or a lookup by name.
std::atomic<PyObject*> digits_getter{nullptr};

result<ref> take_digits_getter() {
    ref sys = steal(PyImport_ImportModule("sys"));
    if (!sys) return error_value::fetch();
    PyObject* getter = PyObject_GetAttrString(sys.get(), "get_int_max_str_digits");
    if (!getter) return error_value::fetch();
    return borrow(keep_first_owned(digits_getter, getter));
}

// sys.get_int_max_str_digits(): the longest int text the interpreter converts
// (0: no limit).
result<std::int64_t> max_int_digits() {
    PyObject* getter = digits_getter.load(std::memory_order_acquire);
    if (!getter) fail("sys.get_int_max_str_digits is taken when the module is made");
    ref limit = steal(PyObject_CallNoArgs(getter));
    if (!limit) return error_value::fetch();
    const long long n = PyLong_AsLongLong(limit.get());
    if (n == -1 && PyErr_Occurred()) return error_value::fetch();
    return static_cast<std::int64_t>(n);
}

constexpr const char* type_choices = "type must be None, 'int64' or 'float64'";

result<number_target> target_of(PyObject* type) {
    if (!type || type == Py_None) return number_target::inferred;
    if (!PyUnicode_Check(type)) {
        return error_value::owned_error(PyExc_TypeError,
                                        std::string(type_choices) + ", not '" + Py_TYPE(type)->tp_name + "'");
    }
    Py_ssize_t n = 0;
    const char* u = PyUnicode_AsUTF8AndSize(type, &n);
    if (!u) return error_value::fetch();
    const std::string_view name(u, static_cast<std::size_t>(n));
    if (name == "int64") return number_target::int64;
    if (name == "float64") return number_target::float64;
    std::string text = type_choices;
    text += ", not '";
    text += name;
    text += "'";
    return error_value::owned_error(PyExc_ValueError, std::move(text));
}

result<ref> number_column(const call_args& a) {
    PyObject* const source = a[0];
    result<number_target> target = target_of(a.given(1) ? a[1] : nullptr);
    if (!target) return std::move(target.error());
    result<numparse::decimal_mark> mark = decimal_mark_arg(a, 2);
    if (!mark) return std::move(mark.error());
    result<std::int64_t> digits = max_int_digits();
    if (!digits) return std::move(digits.error());
    const number_limits limits{*digits};
    result<arrow_input> in = arrow_input::open(source);
    if (!in) return std::move(in.error());
    result<std::vector<std::shared_ptr<chunk>>> chunks =
        each_chunk(*in, [&](const string_chunk& c) { return run_parse_kernel(c, *target, limits, *mark); });
    if (!chunks) return std::move(chunks.error());
    // float64 when it is asked for, and when any chunk needed it.
    return make_column(
        column_of(std::move(*chunks), *target == number_target::float64 ? value_type::float64 : value_type::int64));
}

constexpr const char* out_of_memory = "out of memory while building the column";

template <text_rows R>
result<ref> text_body(call_args& a) {
    return memory_error_on_bad_alloc(out_of_memory, [&] { return text_column<R>(a[0]); });
}

result<ref> parse_body(call_args& a) {
    return memory_error_on_bad_alloc(out_of_memory, [&] { return number_column(a); });
}

// --- the table ------------------------------------------------------------------------

// Docstrings joined from shared parts at compile time: `"text" + part + "text"`.
template <std::size_t N>
struct doc_text {
    std::array<char, N + 1> chars{};  // N characters and a NUL
};

template <std::size_t N>
consteval doc_text<N - 1> doc(const char (&s)[N]) {
    doc_text<N - 1> out;
    std::copy_n(s, N, out.chars.begin());
    return out;
}

template <std::size_t A, std::size_t B>
consteval doc_text<A + B> operator+(const doc_text<A>& a, const doc_text<B>& b) {
    doc_text<A + B> out;
    std::copy_n(a.chars.begin(), A, out.chars.begin());
    std::copy_n(b.chars.begin(), B, out.chars.begin() + A);
    return out;
}

template <std::size_t A, std::size_t B>
consteval doc_text<A + B - 1> operator+(const doc_text<A>& a, const char (&b)[B]) {
    return a + doc(b);
}

template <std::size_t A, std::size_t B>
consteval doc_text<A - 1 + B> operator+(const char (&a)[A], const doc_text<B>& b) {
    return doc(a) + b;
}

// A joined docstring's characters, kept for the process.
template <doc_text T>
constexpr const char* kept = T.chars.data();

constexpr auto source_doc = doc("Args:\n    source: ") + accepted_columns +
                            ":\n    a pyarrow Array or ChunkedArray, a polars or pandas Series, ... Anything else\n"
                            "    raises TypeError; malformed Arrow data (bad offsets or views, text that is not\n"
                            "    UTF-8) raises ValueError naming the row.\n";

template <text_rows R>
constexpr function_description source_only{R::name, {"source"}, 1, 1, false};

// What a text function's docstring says it returns: its record's words, else the
// per-element function's result row by row, typed as uncamel's.
template <text_function R>
consteval auto returns_doc() {
    if constexpr (requires { R::returns; }) {
        return doc(R::returns);
    } else {
        return doc("each row is ") + R::name + "() of the input row, null for null;\n    types as for uncamel().";
    }
}

// A text function's docstring, from its record's parts.
template <text_function R>
constexpr const char* text_doc =
    kept<doc(R::name) + "(source)\n--\n\n" + R::summary + "\n\n" + source_doc + "\nReturns:\n    Column: " +
         returns_doc<R>()>;

// The row of a text function: its name and docstring are its record's.
template <text_function R>
PyMethodDef text_function_row() {
    return {R::name, package_wrapper_of<source_only<R>, text_body<R>>(), METH_FASTCALL | METH_KEYWORDS, text_doc<R>};
}

constexpr function_description parse_desc{"parse", {"source", "type", "decimal"}, 3, 1, false, 1};

PyMethodDef parse_row() {
    return {"parse", package_wrapper_of<parse_desc, parse_body>(), METH_FASTCALL | METH_KEYWORDS, kept<
        "parse(source, type=None, *, decimal='.')\n--\n\n"
        "Extract a number from every string of an Arrow string column.\n\n" +
        source_doc +
        "    type: None (inferred: 'int64' when every number read is an int within 64 bits, else\n"
        "        'float64'), 'int64' or 'float64'.\n"
        "    decimal: the decimal mark, '.' or ',' (the other one is dropped like any separator),\n"
        "        as for tavo.parse(); anything else raises ValueError.\n\n"
        "Returns:\n    Column of int64 or float64: each row is parse() of the input row, null where\n"
        "    parse() gives None (and for null rows). float64 holds each int as the nearest double,\n"
        "    as float() gives it; an int beyond the float range is inf or -inf. A forced 'int64'\n"
        "    never wraps: a value that int64 cannot hold exactly (a fraction, a number outside\n"
        "    64 bits) is null. A digit string longer than sys.get_int_max_str_digits() is null,\n"
        "    as parse() gives None for it.">};
}

// The table: the text functions in their list's order, then parse.
template <class... R>
std::array<PyMethodDef, sizeof...(R) + 2> table_of(function_list<R...>) {
    return {text_function_row<R>()..., parse_row(), PyMethodDef{nullptr, nullptr, 0, nullptr}};
}

auto functions = table_of(text_functions{});

// "uncamel, underscore_to_camelcase, ...": the text functions' names, in order.
template <class First, class... Rest>
consteval auto names_of(function_list<First, Rest...>) {
    return (doc(First::name) + ... + (doc(", ") + Rest::name));
}

PyModuleDef module_def = module_definition(
    "tavo._columns",
    kept<"The column versions of " + names_of(text_functions{}) +
         " and parse,\n"
         "over Arrow string columns from any producer (the Arrow PyCapsule interface).">,
    functions.data());

module_cell the_module;

result<ref> initialise() {
    return module_once(the_module,
                       "tavo._columns keeps process-wide state and can be imported by the main interpreter only",
                       []() -> result<ref> {
                           result<ref> type = column_type();
                           if (!type) return std::move(type.error());
                           result<ref> getter = take_digits_getter();
                           if (!getter) return std::move(getter.error());
                           ref module = steal(PyModule_Create2(&module_def, PYTHON_API_VERSION));
                           if (!module) return error_value::fetch();
                           if (PyModule_AddObjectRef(module.get(), "Column", type->get()) < 0) {
                               return error_value::fetch();
                           }
                           return module;
                       });
}

}  // namespace
}  // namespace tavo::columns

PyMODINIT_FUNC PyInit__columns(void) {
    return tavo::run_call<tavo::allocation_failure::memory_error>([] { return tavo::columns::initialise(); });
}
