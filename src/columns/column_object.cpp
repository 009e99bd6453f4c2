#include "columns/column_object.hpp"

#include "boundary/args.hpp"
#include "boundary/call.hpp"
#include "columns/arrow/arrow_export.hpp"
#include "shared/first_store.hpp"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

namespace tavo::columns {
namespace {

using arrow::ArrowArray;
using arrow::ArrowArrayStream;
using arrow::ArrowSchema;

struct column_object {
    PyObject_HEAD
    std::shared_ptr<const column_data> data;
};

const column_data& data_of(PyObject* self) { return *reinterpret_cast<column_object*>(self)->data; }

// One strong reference for the life of the process, stored once.
std::atomic<PyObject*> type_cell{nullptr};

// --- capsules ---------------------------------------------------------------------

// A capsule owns the malloc'd struct; its destructor releases a struct that
// no consumer took, then frees the memory.
template <class S>
void capsule_destructor(PyObject* capsule, const char* name) noexcept {
    // Checked first: a destructor may run while an exception is pending,
    // which a failed PyCapsule_GetPointer would replace.
    if (!PyCapsule_IsValid(capsule, name)) return;
    auto* s = static_cast<S*>(PyCapsule_GetPointer(capsule, name));
    if (s->release) s->release(s);
    std::free(s);
}

void schema_capsule_destructor(PyObject* c) { capsule_destructor<ArrowSchema>(c, arrow::schema_capsule_name); }
void array_capsule_destructor(PyObject* c) { capsule_destructor<ArrowArray>(c, arrow::array_capsule_name); }
void stream_capsule_destructor(PyObject* c) { capsule_destructor<ArrowArrayStream>(c, arrow::stream_capsule_name); }

// A capsule over a new, released struct, which the caller then fills.
template <class S>
ref empty_capsule(const char* name, PyCapsule_Destructor destructor, S*& out) {
    auto* s = static_cast<S*>(std::calloc(1, sizeof(S)));
    if (!s) throw std::bad_alloc();
    PyObject* capsule = PyCapsule_New(s, name, destructor);
    if (!capsule) {
        std::free(s);
        failed_creation();
    }
    out = s;
    return steal(capsule);
}

ref schema_capsule(value_type t) {
    ArrowSchema* s = nullptr;
    ref capsule = empty_capsule(arrow::schema_capsule_name, &schema_capsule_destructor, s);
    export_schema(t, s);
    return capsule;
}

// --- methods ------------------------------------------------------------------------

constexpr function_description stream_desc{"__arrow_c_stream__", {"requested_schema"}, 1, 0, false};
constexpr function_description array_desc{"__arrow_c_array__", {"requested_schema"}, 1, 0, false};

// The requested schema is accepted and not applied: the protocol lets a
// producer keep its own type, which the consumer then checks.
template <const function_description& D, result<ref> (*Body)(PyObject*)>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return run_call<call_rules::package>([&]() -> result<ref> {
        if (!plain_positional(D, nargs, kwnames)) {
            result<call_args> bound = bind_arguments(D, args, nargs, kwnames);
            if (!bound) return std::move(bound.error());
        }
        return Body(self);
    });
}

result<ref> arrow_c_stream(PyObject* self) {
    ArrowArrayStream* s = nullptr;
    ref capsule = empty_capsule(arrow::stream_capsule_name, &stream_capsule_destructor, s);
    export_stream(reinterpret_cast<column_object*>(self)->data, s);
    return capsule;
}

result<ref> arrow_c_array(PyObject* self) {
    const column_data& column = data_of(self);
    std::shared_ptr<const chunk> one = joined(column);
    if (!one) {
        return error_value::static_error(PyExc_ValueError,
                                         "the column's text is too large for one utf8 array "
                                         "(more than 2**31 - 1 bytes): read it through __arrow_c_stream__");
    }
    ref schema = schema_capsule(column.type);
    ArrowArray* a = nullptr;
    ref array = empty_capsule(arrow::array_capsule_name, &array_capsule_destructor, a);
    export_array(std::move(one), a);
    return created(PyTuple_Pack(2, schema.get(), array.get()));
}

PyObject* get_type(PyObject* self, void*) noexcept {
    return run_call<call_rules::package>([&] { return string_result(type_name(data_of(self).type)); });
}

PyObject* get_num_chunks(PyObject* self, void*) noexcept {
    return run_call<call_rules::package>([&] { return int_result(static_cast<std::int64_t>(data_of(self).chunks.size())); });
}

Py_ssize_t length(PyObject* self) noexcept { return static_cast<Py_ssize_t>(data_of(self).length); }

PyObject* repr(PyObject* self) noexcept {
    return run_call<call_rules::package>([&] {
        const column_data& c = data_of(self);
        const std::string text = "<tavo.columns.Column " + std::string(type_name(c.type)) + ", " +
                                 std::to_string(c.length) + (c.length == 1 ? " row in " : " rows in ") +
                                 std::to_string(c.chunks.size()) + (c.chunks.size() == 1 ? " chunk>" : " chunks>");
        return string_result(text);
    });
}

void dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<column_object*>(self)->data.~shared_ptr();
    PyObject_Free(self);
    Py_DECREF(type);
}

template <const function_description& D, result<ref> (*Body)(PyObject*)>
PyCFunction method_of() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(&method_entry<D, Body>));
}

PyMethodDef methods[] = {
    {"__arrow_c_stream__", method_of<stream_desc, arrow_c_stream>(), METH_FASTCALL | METH_KEYWORDS,
     "__arrow_c_stream__($self, /, requested_schema=None)\n--\n\n"
     "Export the column as an Arrow C stream (a PyCapsule named 'arrow_array_stream'), one array\n"
     "per chunk. Each call gives a new stream over the same buffers. The column keeps its own\n"
     "type: requested_schema is accepted and not applied."},
    {"__arrow_c_array__", method_of<array_desc, arrow_c_array>(), METH_FASTCALL | METH_KEYWORDS,
     "__arrow_c_array__($self, /, requested_schema=None)\n--\n\n"
     "Export the column as one Arrow array: a pair of PyCapsules ('arrow_schema', 'arrow_array').\n"
     "Several chunks are joined into one array. The column keeps its own type: requested_schema\n"
     "is accepted and not applied."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"type", &get_type, nullptr,
     "The Arrow type of the values: 'utf8', 'large_utf8', 'string_view', 'int64', 'float64',\n"
     "or price's 'struct<amount: float64, currency: utf8>' ('large_utf8' for a currency text\n"
     "past 2**31 - 1 bytes).", nullptr},
    {"num_chunks", &get_num_chunks, nullptr, "The number of arrays the stream export gives.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&repr)},
    {Py_sq_length, reinterpret_cast<void*>(&length)},
    {Py_tp_methods, methods},
    {Py_tp_getset, getset},
    {Py_tp_doc, const_cast<char*>(
                    "The result of a tavo column function: Arrow buffers that any Arrow consumer reads\n"
                    "through __arrow_c_stream__ or __arrow_c_array__ (pyarrow.chunked_array(col),\n"
                    "pyarrow.array(col), polars.Series(col), ...). len() is the row count.")},
    {0, nullptr},
};

PyType_Spec column_type_desc = {
    "tavo.columns.Column",
    static_cast<int>(sizeof(column_object)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    slots,
};

}  // namespace

result<ref> column_type() {
    if (PyObject* stored = type_cell.load(std::memory_order_acquire)) return borrow(stored);
    PyObject* t = PyType_FromSpec(&column_type_desc);
    if (!t) return error_value::fetch();
    return borrow(keep_first_owned(type_cell, t));  // made meanwhile by another thread?
}

ref make_column(std::shared_ptr<const column_data> data) {
    PyObject* type = type_cell.load(std::memory_order_acquire);
    if (!type) fail("the Column type is made when the module is");
    column_object* self = PyObject_New(column_object, reinterpret_cast<PyTypeObject*>(type));
    if (!self) failed_creation();
    new (&self->data) std::shared_ptr<const column_data>(std::move(data));
    return steal(reinterpret_cast<PyObject*>(self));
}

}  // namespace tavo::columns
