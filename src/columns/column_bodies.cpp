// The bodies of the column functions: the text functions (text_functions.hpp),
// parse, number_format and price, over Arrow data from any producer. The
// module table (src/modules/native_module.cpp) lists them.
//
// A call reads the input chunk by chunk (arrow_input), checks each array's
// structure, and runs the kernel on it, without the interpreter lock when the
// chunk is of any real size; the input array is given back before the next
// one is asked for. The chunks built become one Column.
#include "columns/column_bodies.hpp"

#include "boundary/call.hpp"
#include "columns/arrow/arrow_import.hpp"
#include "columns/column_object.hpp"
#include "columns/kernels/kernels.hpp"
#include "bodies/decimal_arg.hpp"
#include "bodies/number_format_record.hpp"
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

// One input array with its rows described, held until it is dropped.
struct input_chunk {
    owned<arrow::ArrowArray> array;
    string_chunk rows;
};

// The next array of `in` (nothing at the end), its structure checked.
result<std::optional<input_chunk>> next_chunk(arrow_input& in, std::int64_t first_row, std::size_t index) {
    result<owned<arrow::ArrowArray>> a = in.next();
    if (!a) return std::move(a.error());
    if (!*a) return std::optional<input_chunk>();
    std::optional<input_chunk> c(std::in_place, input_chunk{std::move(*a), string_chunk{}});
    if (std::optional<row_fault> f = describe_strings(*c->array, in.layout(), c->rows)) {
        return malformed(*f, first_row, index);
    }
    return c;
}

// The chunk `kernel(rows)` -> kernel_output builds, without the lock for a large one.
template <class Kernel>
result<std::shared_ptr<chunk>> built_chunk(const string_chunk& rows, std::int64_t first_row, std::size_t index,
                                           Kernel& kernel) {
    kernel_output k;
    {
        without_interpreter_lock released(worth_releasing_the_lock(rows));
        k = kernel(rows);
    }
    if (k.fault) return malformed(*k.fault, first_row, index);
    return std::move(k.out);
}

// The chunks `kernel(chunk)` -> kernel_output builds from every input chunk.
template <class Kernel>
result<std::vector<std::shared_ptr<chunk>>> each_chunk(arrow_input& in, Kernel&& kernel) {
    std::vector<std::shared_ptr<chunk>> built;
    std::int64_t first_row = 0;
    for (std::size_t index = 0;; ++index) {
        result<std::optional<input_chunk>> c = next_chunk(in, first_row, index);
        if (!c) return std::move(c.error());
        if (!*c) return built;
        result<std::shared_ptr<chunk>> out = built_chunk((*c)->rows, first_row, index, kernel);
        if (!out) return std::move(out.error());
        (*c)->array.reset();  // the producer's buffers are given back before the next chunk is asked for
        built.push_back(std::move(*out));
        first_row += (*c)->rows.length;
        // A column of many chunks stops promptly on Ctrl-C (a kernel that gave the
        // lock up hears no signal while it runs).
        if (PyErr_CheckSignals() < 0) return error_value::fetch();
    }
}

// Adds the rows of chunk `index` to `evidence`, without the lock for a large chunk.
status add_evidence(const string_chunk& rows, std::int64_t first_row, std::size_t index, format_evidence& evidence) {
    std::optional<row_fault> fault;
    {
        without_interpreter_lock released(worth_releasing_the_lock(rows));
        fault = run_format_kernel(rows, first_row, evidence);
    }
    if (fault) return malformed(*fault, first_row, index);
    return ok();
}

result<ref> text_column(PyObject* source, text_kernel_fn kernel) {
    result<arrow_input> in = arrow_input::open(source);
    if (!in) return std::move(in.error());
    const bool large = in->layout() == string_layout::large_utf8;
    const bool views = in->layout() == string_layout::string_view;
    result<std::vector<std::shared_ptr<chunk>>> chunks =
        each_chunk(*in, [&](const string_chunk& c) { return kernel(c, large, views); });
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

result<ref> take_digits_getter_once() {
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

// The text of an example row (checked UTF-8) as a str.
ref example_text(const format_evidence& evidence, numparse::mark_evidence e) {
    const std::string& s = evidence.examples[static_cast<std::size_t>(e)];
    return created(PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "strict"));
}

// " (row 12: '1,250')": an example row, its text cut after 40 characters.
status append_example(std::string& out, const format_evidence& evidence, numparse::mark_evidence e) {
    const std::int64_t row = evidence.tally.first_row(e);
    if (row < 0) return ok();
    ref text = example_text(evidence, e);
    constexpr Py_ssize_t longest = 40;
    if (PyUnicode_GetLength(text.get()) > longest) {
        ref head = created(PyUnicode_Substring(text.get(), 0, longest - 3));
        ref dots = created(PyUnicode_FromString("..."));
        text = created(PyUnicode_Concat(head.get(), dots.get()));
    }
    out += " (row " + std::to_string(row) + ": ";
    if (status shown = append_display(out, text.get(), true); !shown) return shown;
    out += ")";
    return ok();
}

// The ValueError of a column whose rows do not decide its decimal mark.
error_value undecided_mark(const format_evidence& evidence) {
    using numparse::mark_evidence;
    const numparse::format_tally& t = evidence.tally;
    std::string text = "cannot infer the decimal mark: ";
    status shown = ok();
    if (t.count(mark_evidence::point) > 0 && t.count(mark_evidence::comma) > 0) {
        text += "the rows show both marks: " + std::to_string(t.count(mark_evidence::point)) + " show '.'";
        shown = append_example(text, evidence, mark_evidence::point);
        if (shown) {
            text += ", " + std::to_string(t.count(mark_evidence::comma)) + " show ','";
            shown = append_example(text, evidence, mark_evidence::comma);
        }
    } else {
        text += "no row shows '.' or ',' as the decimal point, and " +
                std::to_string(t.count(mark_evidence::either)) + " read either way";
        shown = append_example(text, evidence, mark_evidence::either);
    }
    if (!shown) return std::move(shown.error());
    text += "; pass decimal='.' or decimal=','";
    return error_value::owned_error(PyExc_ValueError, std::move(text));
}

// The evidence of every row of the column into `evidence`.
status gather_evidence(arrow_input& in, format_evidence& evidence) {
    std::int64_t first_row = 0;
    for (std::size_t index = 0;; ++index) {
        result<std::optional<input_chunk>> c = next_chunk(in, first_row, index);
        if (!c) return std::move(c.error());
        if (!*c) return ok();
        if (status added = add_evidence((*c)->rows, first_row, index, evidence); !added) return added;
        first_row += (*c)->rows.length;
    }
}

// The mark that the first rows of a chunk decide ('.' when they do not): the
// rows of a column whose mark is inferred are read with it while their
// evidence is gathered, and read again only when the column decides the other.
numparse::decimal_mark first_rows_mark(const string_chunk& rows) {
    constexpr std::int64_t most = 1024;
    string_chunk head = rows;
    if (rows.length > most) {
        head.length = most;
        // utf8 and large_utf8: the head's extent ends where its last row does
        // when that lies within the chunk's (the walk checks each row against it)
        std::int64_t end = -1;
        if (rows.layout == string_layout::utf8) {
            end = static_cast<const std::int32_t*>(rows.offsets)[rows.offset + most];
        } else if (rows.layout == string_layout::large_utf8) {
            end = static_cast<const std::int64_t*>(rows.offsets)[rows.offset + most];
        }
        if (end >= rows.first_offset && end <= rows.last_offset) head.last_offset = end;
    }
    format_evidence evidence;
    (void)run_format_kernel(head, 0, evidence);  // a fault is met again, and reported, by the full walks
    return evidence.tally.decision() == numparse::decided_mark::comma ? numparse::decimal_mark::comma
                                                                     : numparse::decimal_mark::point;
}

result<ref> format_column(PyObject* source) {
    result<arrow_input> in = arrow_input::open(source);
    if (!in) return std::move(in.error());
    format_evidence evidence;
    if (status gathered = gather_evidence(*in, evidence); !gathered) return std::move(gathered.error());
    return format_record(evidence.tally, [&](numparse::mark_evidence e) { return example_text(evidence, e); });
}

result<ref> number_column(const call_args& a) {
    constexpr const function_description& d = column_parse_desc;
    PyObject* const source = a[param(d, "source")];
    result<number_target> target = target_of(a[param(d, "type")]);
    if (!target) return std::move(target.error());
    result<column_decimal> decimal = column_decimal_arg(a, param(d, "decimal"));
    if (!decimal) return std::move(decimal.error());
    result<std::int64_t> digits = max_int_digits();
    if (!digits) return std::move(digits.error());
    const number_limits limits{*digits};
    result<arrow_input> in = arrow_input::open(source);
    if (!in) return std::move(in.error());
    numparse::decimal_mark mark = decimal->mark;
    const auto kernel = [&](const string_chunk& c) { return run_parse_kernel(c, *target, limits, mark); };
    std::vector<std::shared_ptr<chunk>> built;
    if (!decimal->infer) {
        result<std::vector<std::shared_ptr<chunk>>> chunks = each_chunk(*in, kernel);
        if (!chunks) return std::move(chunks.error());
        built = std::move(*chunks);
    } else {
        // The mark is decided from the whole column before a column is
        // returned: each chunk is read with the mark the column's first rows
        // show, the kinds of evidence its rows show gathered in the same walk,
        // and every input chunk is held, to be read again should the whole
        // column decide the other mark, or have its evidence counted for the
        // message should it not decide.
        std::vector<input_chunk> held;
        numparse::evidence_kinds_seen seen = 0;
        std::int64_t first_row = 0;
        for (std::size_t index = 0;; ++index) {
            result<std::optional<input_chunk>> c = next_chunk(*in, first_row, index);
            if (!c) return std::move(c.error());
            if (!*c) break;
            if (index == 0) mark = first_rows_mark((*c)->rows);
            const auto with_evidence = [&](const string_chunk& rows) {
                return run_parse_kernel(rows, *target, limits, mark, seen);
            };
            result<std::shared_ptr<chunk>> out = built_chunk((*c)->rows, first_row, index, with_evidence);
            if (!out) return std::move(out.error());
            built.push_back(std::move(*out));
            first_row += (*c)->rows.length;
            held.push_back(std::move(**c));
            if (PyErr_CheckSignals() < 0) return error_value::fetch();
        }
        numparse::decimal_mark decided = mark;
        switch (numparse::decision_of(seen)) {
            case numparse::decided_mark::point: decided = numparse::decimal_mark::point; break;
            case numparse::decided_mark::comma: decided = numparse::decimal_mark::comma; break;
            case numparse::decided_mark::undecided: {
                built.clear();
                format_evidence evidence;
                first_row = 0;
                for (std::size_t index = 0; index < held.size(); ++index) {
                    if (status added = add_evidence(held[index].rows, first_row, index, evidence); !added) {
                        return std::move(added.error());
                    }
                    first_row += held[index].rows.length;
                    if (PyErr_CheckSignals() < 0) return error_value::fetch();
                }
                return undecided_mark(evidence);
            }
        }
        if (decided != mark) {
            mark = decided;
            built.clear();
            first_row = 0;
            for (std::size_t index = 0; index < held.size(); ++index) {
                result<std::shared_ptr<chunk>> out = built_chunk(held[index].rows, first_row, index, kernel);
                if (!out) return std::move(out.error());
                built.push_back(std::move(*out));
                first_row += held[index].rows.length;
                if (PyErr_CheckSignals() < 0) return error_value::fetch();
            }
        }
    }
    // float64 when it is asked for, and when any chunk needed it.
    return make_column(
        column_of(std::move(built), *target == number_target::float64 ? value_type::float64 : value_type::int64));
}

result<ref> price_column(const call_args& a) {
    result<numparse::price_mark> mark = price_mark_arg(a, param(column_price_desc, "decimal"));
    if (!mark) return std::move(mark.error());
    result<std::int64_t> digits = max_int_digits();
    if (!digits) return std::move(digits.error());
    const number_limits limits{*digits};
    result<arrow_input> in = arrow_input::open(a[param(column_price_desc, "source")]);
    if (!in) return std::move(in.error());
    result<std::vector<std::shared_ptr<chunk>>> chunks =
        each_chunk(*in, [&](const string_chunk& c) { return run_price_kernel(c, *mark, limits); });
    if (!chunks) return std::move(chunks.error());
    return make_column(column_of(std::move(*chunks), value_type::price));
}

constexpr const char* out_of_memory = "out of memory while building the column";

}  // namespace

result<ref> text_body_with(PyObject* source, text_kernel_fn kernel) {
    return memory_error_on_bad_alloc(out_of_memory, [&] { return text_column(source, kernel); });
}

result<ref> parse_body(call_args& a) {
    return memory_error_on_bad_alloc(out_of_memory, [&] { return number_column(a); });
}

result<ref> price_body(call_args& a) {
    return memory_error_on_bad_alloc(out_of_memory, [&] { return price_column(a); });
}

result<ref> format_body(call_args& a) {
    PyObject* const source = a[param(column_format_desc, "source")];
    return memory_error_on_bad_alloc(out_of_memory, [&] { return format_column(source); });
}

status prepare_columns(PyObject* module) {
    result<ref> type = column_type();
    if (!type) return std::move(type.error());
    result<ref> getter = take_digits_getter_once();
    if (!getter) return std::move(getter.error());
    if (PyModule_AddObjectRef(module, "Column", type->get()) < 0) return error_value::fetch();
    return ok();
}

}  // namespace tavo::columns
