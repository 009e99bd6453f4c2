// A producer of Arrow string columns written in C, for the sweeps that make allocations fail
// inside a column call (tests/test_nomemory.py): arrow_kit's ctypes producer runs Python code
// (argument conversions, callbacks) in the middle of the call, and that code fails under the
// injected failures in ways of its own. Here nothing the consumer calls allocates through
// Python: the buffers are copied with malloc when the source is made, the callbacks only count
// and free, and the capsules are made by `__arrow_c_array__` / `__arrow_c_stream__`, whose own
// failures are plain MemoryErrors with every struct released.
//
//   arrow_source.source(format, chunks, stream, fail_at=-1)
//     chunks: a list of (length, offset, null_count, buffers), buffers a tuple of bytes or None
//     stream: an object with __arrow_c_stream__ only, else with __arrow_c_array__ only (the
//     first chunk); fail_at: get_next fails (EIO) when asked for that chunk.
//   src.unreleased()  structs handed over and not yet released (0 once the consumer is done)
//   src.handed()      structs handed over in all
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

// The structs as the Arrow format documents them, written out here rather than taken from
// the module's own header: a producer that shared the header would share any fault in it.
extern "C" {
struct ArrowSchema {
    const char* format;
    const char* name;
    const char* metadata;
    int64_t flags, n_children;
    ArrowSchema** children;
    ArrowSchema* dictionary;
    void (*release)(ArrowSchema*);
    void* private_data;
};
struct ArrowArray {
    int64_t length, null_count, offset, n_buffers, n_children;
    const void** buffers;
    ArrowArray** children;
    ArrowArray* dictionary;
    void (*release)(ArrowArray*);
    void* private_data;
};
struct ArrowArrayStream {
    int (*get_schema)(ArrowArrayStream*, ArrowSchema*);
    int (*get_next)(ArrowArrayStream*, ArrowArray*);
    const char* (*get_last_error)(ArrowArrayStream*);
    void (*release)(ArrowArrayStream*);
    void* private_data;
};
}

namespace {

struct chunk_data {
    int64_t length = 0, offset = 0, null_count = 0;
    std::vector<void*> buffers;  // malloc'd copies (nullptr for an absent buffer)
    std::vector<const void*> pointers;
};

// What every handed struct points to; freed when the source and the last struct are gone.
struct shared_data {
    std::atomic<long> refs{1};
    std::atomic<long> handed{0}, released{0};
    char* format = nullptr;
    std::vector<chunk_data> chunks;
    long fail_at = -1;

    ~shared_data() {
        std::free(format);
        for (auto& c : chunks)
            for (void* b : c.buffers) std::free(b);
    }
};

void drop(shared_data* d) {
    if (d->refs.fetch_sub(1) == 1) delete d;
}

shared_data* take(shared_data* d) {
    d->refs.fetch_add(1);
    d->handed.fetch_add(1);
    return d;
}

void given_back(shared_data* d) {
    d->released.fetch_add(1);
    drop(d);
}

void release_schema(ArrowSchema* s) {
    given_back(static_cast<shared_data*>(s->private_data));
    s->release = nullptr;
}

void release_array(ArrowArray* a) {
    given_back(static_cast<shared_data*>(a->private_data));
    a->release = nullptr;
}

void fill_schema(ArrowSchema* s, shared_data* d) {
    *s = ArrowSchema{d->format, "", nullptr, 2, 0, nullptr, nullptr, release_schema, take(d)};
}

void fill_array(ArrowArray* a, shared_data* d, size_t index) {
    chunk_data& c = d->chunks[index];
    *a = ArrowArray{c.length, c.null_count, c.offset, static_cast<int64_t>(c.pointers.size()), 0,
                    c.pointers.data(), nullptr, nullptr, release_array, take(d)};
}

struct stream_state {
    shared_data* data;
    size_t next = 0;
};

int stream_schema(ArrowArrayStream* s, ArrowSchema* out) {
    fill_schema(out, static_cast<stream_state*>(s->private_data)->data);
    return 0;
}

int stream_next(ArrowArrayStream* s, ArrowArray* out) {
    auto* st = static_cast<stream_state*>(s->private_data);
    if (st->data->fail_at >= 0 && st->next == static_cast<size_t>(st->data->fail_at)) return EIO;
    if (st->next == st->data->chunks.size()) {
        out->release = nullptr;
        return 0;
    }
    fill_array(out, st->data, st->next++);
    return 0;
}

const char* stream_error(ArrowArrayStream*) { return "the disk is on fire"; }

void release_stream(ArrowArrayStream* s) {
    auto* st = static_cast<stream_state*>(s->private_data);
    given_back(st->data);
    delete st;
    s->release = nullptr;
}

template <class T>
void capsule_free(PyObject* cap, const char* name) {
    auto* p = static_cast<T*>(PyCapsule_GetPointer(cap, name));
    if (p == nullptr) {
        PyErr_Clear();
        return;
    }
    if (p->release != nullptr) p->release(p);
    std::free(p);
}

void schema_capsule_free(PyObject* cap) { capsule_free<ArrowSchema>(cap, "arrow_schema"); }
void array_capsule_free(PyObject* cap) { capsule_free<ArrowArray>(cap, "arrow_array"); }
void stream_capsule_free(PyObject* cap) { capsule_free<ArrowArrayStream>(cap, "arrow_array_stream"); }

// A capsule over a malloc'd struct, or nullptr with the struct released and freed.
template <class T>
PyObject* capsule_of(T* p, const char* name, PyCapsule_Destructor free_it) {
    PyObject* cap = PyCapsule_New(p, name, free_it);
    if (cap == nullptr) {
        p->release(p);
        std::free(p);
    }
    return cap;
}

struct source_object {
    PyObject_HEAD
    shared_data* data;
};

void source_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    drop(reinterpret_cast<source_object*>(self)->data);
    type->tp_free(self);
    Py_DECREF(type);
}

shared_data* data_of(PyObject* self) { return reinterpret_cast<source_object*>(self)->data; }

PyObject* arrow_c_array(PyObject* self, PyObject*, PyObject*) {
    shared_data* d = data_of(self);
    auto* s = static_cast<ArrowSchema*>(std::malloc(sizeof(ArrowSchema)));
    auto* a = static_cast<ArrowArray*>(std::malloc(sizeof(ArrowArray)));
    if (s == nullptr || a == nullptr || d->chunks.empty()) {
        std::free(s);
        std::free(a);
        return d->chunks.empty() ? (PyErr_SetString(PyExc_ValueError, "no chunk"), nullptr) : PyErr_NoMemory();
    }
    fill_schema(s, d);
    fill_array(a, d, 0);
    PyObject* schema = capsule_of(s, "arrow_schema", schema_capsule_free);
    if (schema == nullptr) {
        a->release(a);
        std::free(a);
        return nullptr;
    }
    PyObject* array = capsule_of(a, "arrow_array", array_capsule_free);
    if (array == nullptr) {
        Py_DECREF(schema);
        return nullptr;
    }
    PyObject* pair = PyTuple_Pack(2, schema, array);
    Py_DECREF(schema);
    Py_DECREF(array);
    return pair;
}

PyObject* arrow_c_stream(PyObject* self, PyObject*, PyObject*) {
    shared_data* d = data_of(self);
    auto* s = static_cast<ArrowArrayStream*>(std::malloc(sizeof(ArrowArrayStream)));
    auto* st = new (std::nothrow) stream_state{d};
    if (s == nullptr || st == nullptr) {
        std::free(s);
        delete st;
        return PyErr_NoMemory();
    }
    take(d);
    *s = ArrowArrayStream{stream_schema, stream_next, stream_error, release_stream, st};
    return capsule_of(s, "arrow_array_stream", stream_capsule_free);
}

PyObject* unreleased(PyObject* self, PyObject*) {
    shared_data* d = data_of(self);
    return PyLong_FromLong(d->handed.load() - d->released.load());
}

PyObject* handed(PyObject* self, PyObject*) { return PyLong_FromLong(data_of(self)->handed.load()); }

PyMethodDef array_methods[] = {
    {"__arrow_c_array__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(arrow_c_array)),
     METH_VARARGS | METH_KEYWORDS, nullptr},
    {"unreleased", unreleased, METH_NOARGS, nullptr},
    {"handed", handed, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};
PyMethodDef stream_methods[] = {
    {"__arrow_c_stream__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(arrow_c_stream)),
     METH_VARARGS | METH_KEYWORDS, nullptr},
    {"unreleased", unreleased, METH_NOARGS, nullptr},
    {"handed", handed, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot array_slots[] = {{Py_tp_dealloc, reinterpret_cast<void*>(source_dealloc)},
                             {Py_tp_methods, array_methods}, {0, nullptr}};
PyType_Slot stream_slots[] = {{Py_tp_dealloc, reinterpret_cast<void*>(source_dealloc)},
                              {Py_tp_methods, stream_methods}, {0, nullptr}};
PyType_Spec array_spec = {"arrow_source.ArraySource", sizeof(source_object), 0, Py_TPFLAGS_DEFAULT, array_slots};
PyType_Spec stream_spec = {"arrow_source.StreamSource", sizeof(source_object), 0, Py_TPFLAGS_DEFAULT,
                           stream_slots};

PyObject* array_type;
PyObject* stream_type;

bool read_chunk(PyObject* item, chunk_data& c) {
    PyObject* buffers = nullptr;
    if (!PyArg_ParseTuple(item, "LLLO!", &c.length, &c.offset, &c.null_count, &PyTuple_Type, &buffers))
        return false;
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(buffers); ++k) {
        PyObject* b = PyTuple_GET_ITEM(buffers, k);
        void* copy = nullptr;
        if (b != Py_None) {
            if (!PyBytes_Check(b)) {
                PyErr_SetString(PyExc_TypeError, "a buffer is bytes or None");
                return false;
            }
            // at least one byte, so that an empty buffer is still a valid pointer
            copy = std::malloc(static_cast<size_t>(PyBytes_GET_SIZE(b)) + 1);
            if (copy == nullptr) {
                PyErr_NoMemory();
                return false;
            }
            std::memcpy(copy, PyBytes_AS_STRING(b), static_cast<size_t>(PyBytes_GET_SIZE(b)));
        }
        c.buffers.push_back(copy);
        c.pointers.push_back(copy);
    }
    return true;
}

PyObject* make_source(PyObject*, PyObject* args) {
    const char* format;
    PyObject* chunks;
    int stream;
    long fail_at = -1;
    if (!PyArg_ParseTuple(args, "sO!p|l", &format, &PyList_Type, &chunks, &stream, &fail_at)) return nullptr;
    auto* d = new (std::nothrow) shared_data;
    if (d == nullptr) return PyErr_NoMemory();
    d->fail_at = fail_at;
    d->format = strdup(format);
    bool ok = d->format != nullptr;
    if (!ok) PyErr_NoMemory();
    try {
        for (Py_ssize_t i = 0; ok && i < PyList_GET_SIZE(chunks); ++i) {
            d->chunks.emplace_back();
            ok = read_chunk(PyList_GET_ITEM(chunks, i), d->chunks.back());
        }
    } catch (const std::bad_alloc&) {
        ok = false;
        PyErr_NoMemory();
    }
    if (!ok) {
        drop(d);
        return nullptr;
    }
    auto* type = reinterpret_cast<PyTypeObject*>(stream ? stream_type : array_type);
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) {
        drop(d);
        return nullptr;
    }
    reinterpret_cast<source_object*>(self)->data = d;
    return self;
}

PyMethodDef module_methods[] = {
    {"source", make_source, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

int module_exec(PyObject* m) {
    array_type = PyType_FromSpec(&array_spec);
    stream_type = PyType_FromSpec(&stream_spec);
    if (array_type == nullptr || stream_type == nullptr) return -1;
    return PyModule_AddObjectRef(m, "ArraySource", array_type) < 0 ||
                   PyModule_AddObjectRef(m, "StreamSource", stream_type) < 0
               ? -1
               : 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
#ifdef Py_GIL_DISABLED
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "arrow_source", nullptr, 0, module_methods, module_slots,
                          nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_arrow_source() { return PyModuleDef_Init(&module_def); }
