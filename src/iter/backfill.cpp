// backfill(values): every None replaced by the latest earlier real value; the
// Nones before the first real value take that first real value.
//
// The result is always a new list holding the input's own objects, the
// all-None case included (a caller who changes the result never changes the
// input).
#include "bodies/bodies.hpp"
#include "boundary/views.hpp"

namespace tavo {

result<ref> backfill_body(call_args& a) {
    auto values = list_arg(a, param(backfill_desc, "values"));
    if (!values) return std::move(values.error());
    const list_view in(*values);

    // The input is read under its lock (free-threaded builds): length and
    // items at one moment, between other threads' operations on it.
    object_lock hold(in.object());
    const Py_ssize_t n = in.size();
    list_builder out(n);
    // Creating the result may run a garbage collection and with it interpreter
    // code that shortens the input. Nothing below runs interpreter code, so
    // one check covers every read.
    if (in.size() < n) return index_out_of_range();  // no slot filled yet

    PyObject* const* src = in.items();
    PyObject** dst = out.empty_slots();

    Py_ssize_t first = 0;
    while (first < n && src[first] == Py_None) ++first;
    // With no real value at all, `last` stays None and the Nones are kept.
    PyObject* last = first < n ? src[first] : Py_None;
    for (Py_ssize_t i = 0; i < first; ++i) dst[i] = Py_NewRef(last);
    for (Py_ssize_t i = first; i < n; ++i) {
        PyObject* o = src[i];
        if (o == Py_None) {
            o = last;
        } else {
            last = o;
        }
        dst[i] = Py_NewRef(o);
    }
    out.add_filled(n);
    return out.finish();
}

}  // namespace tavo
