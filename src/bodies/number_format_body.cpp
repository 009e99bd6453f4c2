// The body of number_format(texts) (tavo._native): every item of an iterable
// of str or None folded into the tally of number_format.hpp. The record it
// returns is a tuple that tavo wraps as tavo.NumberFormat:
//     (decimal, point_rows, comma_rows, either_rows, neither_rows,
//      point_example, comma_example, either_example)
// each example (index, text) of the first row of its kind, or None.
#include "bodies/bodies.hpp"
#include "numparse/number_format.hpp"
#include "bodies/number_format_record.hpp"

#include <string>

namespace tavo {
namespace {

// Interrupts are looked for once every this many items.
constexpr std::int64_t items_between_signal_checks = 4096;

error_value not_a_text(PyObject* item, std::int64_t index) {
    return error_value::owned_error(PyExc_TypeError, "number_format() takes str or None items, item " +
                                                         std::to_string(index) + " is '" + Py_TYPE(item)->tp_name +
                                                         "'");
}

}  // namespace

result<ref> number_format_body(call_args& a) {
    ref iterator = steal(PyObject_GetIter(a[param(number_format_desc, "texts")]));
    if (!iterator) return error_value::fetch();
    numparse::format_tally tally;
    std::array<ref, numparse::evidence_kinds> examples;  // the first str of each kind
    for (std::int64_t index = 0;; ++index) {
        if (index % items_between_signal_checks == items_between_signal_checks - 1 && PyErr_CheckSignals() < 0) {
            return error_value::fetch();
        }
        ref item = steal(PyIter_Next(iterator.get()));
        if (!item) {
            if (PyErr_Occurred()) return error_value::fetch();
            break;
        }
        numparse::mark_evidence e = numparse::mark_evidence::neither;
        if (item.get() != Py_None) {
            if (!PyUnicode_Check(item.get())) return not_a_text(item.get(), index);
            result<std::string_view> text = str_utf8(item.get());
            if (!text) return std::move(text.error());
            e = numparse::evidence_of(*text);
        }
        if (tally.add(index, e) && item.get() != Py_None) {
            examples[static_cast<std::size_t>(e)] = std::move(item);
        }
    }
    return format_record(tally, [&](numparse::mark_evidence e) -> ref {
        const ref& s = examples[static_cast<std::size_t>(e)];
        if (!s) return none_result();
        if (PyUnicode_CheckExact(s.get())) return borrow(s.get());
        return created(PyUnicode_FromObject(s.get()));  // a subclass of str: its text as an exact str
    });
}

}  // namespace tavo
