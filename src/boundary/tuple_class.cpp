#include "boundary/tuple_class.hpp"

#include <string>

namespace tavo {
namespace {

#ifndef Py_GIL_DISABLED
// Pairs freed and kept for the next new_pair_of_class, as the interpreter
// keeps tuples: untracked, their items and class given back, their memory
// whole. Read and written only under the interpreter lock, by the one
// interpreter that may import the module (a free-threaded build keeps none).
struct pair_free_list {
    static constexpr int capacity = 64;
    PyObject* items[capacity];
    int size = 0;
} free_pairs;
#endif

// The deallocator of the classes made here and of their subclasses (whose own
// deallocator calls it last, with the object tracked again): the items given
// back, the memory freed, then the reference each instance holds on its class
// (a class made at run time is an object of its own). A tuple nested
// arbitrarily deep in another is freed through the interpreter's trash can,
// as tuples are, not by recursion on the C stack.
void tuple_class_dealloc(PyObject* self);

void free_tuple(PyObject* self, PyTypeObject* cls) {
    PyTupleObject* const tuple = reinterpret_cast<PyTupleObject*>(self);
    for (Py_ssize_t i = Py_SIZE(self); --i >= 0;) Py_XDECREF(tuple->ob_item[i]);
#ifndef Py_GIL_DISABLED
    // Only a tuple class's own pairs: a subclass's instances may be larger.
    if (Py_SIZE(self) == 2 && cls->tp_dealloc == &tuple_class_dealloc && free_pairs.size < pair_free_list::capacity) {
        free_pairs.items[free_pairs.size++] = self;
    } else {
        cls->tp_free(self);
    }
#else
    cls->tp_free(self);
#endif
    Py_DECREF(cls);
}

// An object of a type that refers to no other object.
inline bool holds_no_references(PyObject* o) noexcept {
    return o == Py_None || PyLong_CheckExact(o) || PyFloat_CheckExact(o) || PyUnicode_CheckExact(o);
}

void tuple_class_dealloc(PyObject* self) {
    PyTypeObject* const cls = Py_TYPE(self);
    // A pair of objects that refer to nothing frees nothing more: the common
    // case, without the trash can's bookkeeping.
    PyTupleObject* const tuple = reinterpret_cast<PyTupleObject*>(self);
    if (Py_SIZE(self) == 2 && holds_no_references(tuple->ob_item[0]) && holds_no_references(tuple->ob_item[1])) {
        PyObject_GC_UnTrack(self);
        free_tuple(self, cls);
        return;
    }
    PyObject_GC_UnTrack(self);
    Py_TRASHCAN_BEGIN(self, tuple_class_dealloc)
    free_tuple(self, cls);
    Py_TRASHCAN_END
}

status copy_attribute(PyObject* cls, PyObject* model, const char* name) {
    ref value = steal(PyObject_GetAttrString(model, name));
    if (!value || PyObject_SetAttrString(cls, name, value.get()) < 0) return error_value::fetch();
    return ok();
}

}  // namespace

result<ref> tuple_class_like(PyObject* model) {
    if (!PyType_Check(model)) return error_value::type_mismatch(Py_TYPE(model), "type");
    PyTypeObject* const m = reinterpret_cast<PyTypeObject*>(model);
    // No storage added: the same sizes, and no __dict__ or weak references
    // (which newer releases keep outside the sizes).
    if (m->tp_base != &PyTuple_Type || m->tp_basicsize != PyTuple_Type.tp_basicsize ||
        m->tp_itemsize != PyTuple_Type.tp_itemsize || m->tp_dictoffset != 0 || m->tp_weaklistoffset != 0) {
        return error_value::static_error(PyExc_TypeError,
                                         "the model must be a named tuple class: tuple its only base, no storage added");
    }
    ref module = steal(PyObject_GetAttrString(model, "__module__"));
    if (!module) return error_value::fetch();
    const char* const module_name = PyUnicode_Check(module.get()) ? PyUnicode_AsUTF8(module.get()) : "builtins";
    if (!module_name) return error_value::fetch();
    // The name is copied by the type: a local string will do.
    const std::string name = std::string(module_name) + "." + m->tp_name;
    PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(&tuple_class_dealloc)},
        {Py_tp_traverse, reinterpret_cast<void*>(PyTuple_Type.tp_traverse)},
        {0, nullptr},
    };
    PyType_Spec shape{name.c_str(), static_cast<int>(PyTuple_Type.tp_basicsize),
                     static_cast<int>(PyTuple_Type.tp_itemsize),
                     Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_BASETYPE, slots};
    ref cls = steal(PyType_FromSpecWithBases(&shape, reinterpret_cast<PyObject*>(&PyTuple_Type)));
    if (!cls) return error_value::fetch();
    // The model's namespace, as a list of (name, value) pairs: setting an
    // attribute of a class can run Python code (a descriptor's __set_name__
    // does not, but the class's cache updates may collect), so nothing of the
    // mapping is borrowed across it.
    ref namespace_proxy = steal(PyObject_GetAttrString(model, "__dict__"));
    if (!namespace_proxy) return error_value::fetch();
    ref items = steal(PyMapping_Items(namespace_proxy.get()));
    if (!items) return error_value::fetch();
    for (Py_ssize_t i = 0, n = PyList_Size(items.get()); i < n; ++i) {
        ref item = borrow(PyList_GetItem(items.get(), i));
        if (!item || !PyTuple_Check(item.get()) || PyTuple_Size(item.get()) != 2) return error_value::fetch();
        PyObject* const key = PyTuple_GetItem(item.get(), 0);
        if (PyUnicode_Check(key) && (PyUnicode_CompareWithASCIIString(key, "__dict__") == 0 ||
                                     PyUnicode_CompareWithASCIIString(key, "__weakref__") == 0)) {
            continue;
        }
        if (PyObject_SetAttr(cls.get(), key, PyTuple_GetItem(item.get(), 1)) < 0) return error_value::fetch();
    }
    for (const char* attribute : {"__name__", "__qualname__"}) {
        if (status s = copy_attribute(cls.get(), model, attribute); !s) return std::move(s.error());
    }
    return cls;
}

bool is_tuple_class(PyObject* cls) noexcept {
    return PyType_Check(cls) && reinterpret_cast<PyTypeObject*>(cls)->tp_dealloc == &tuple_class_dealloc;
}

ref new_pair_of_class(PyTypeObject* cls, ref first, ref second) {
#ifndef Py_GIL_DISABLED
    PyTupleObject* tuple;
    if (free_pairs.size > 0) {
        PyObject* const kept = free_pairs.items[--free_pairs.size];
        // A new reference to the memory: the class set and held, the count one.
        tuple = reinterpret_cast<PyTupleObject*>(PyObject_InitVar(reinterpret_cast<PyVarObject*>(kept), cls, 2));
    } else {
        tuple = PyObject_GC_NewVar(PyTupleObject, cls, 2);
    }
#else
    PyTupleObject* const tuple = PyObject_GC_NewVar(PyTupleObject, cls, 2);
#endif
    ref out = created(reinterpret_cast<PyObject*>(tuple));
#if PY_VERSION_HEX >= 0x030E0000
    // From 3.14 a tuple caches its hash, -1 until computed.
    tuple->ob_hash = -1;
#endif
    // A pair of ints, floats, strs and None can be in no reference cycle
    // (a tuple's items never change): the collector is not told of it, as it
    // leaves such tuples alone after its first look at them.
    const bool atomic = holds_no_references(first.get()) && holds_no_references(second.get());
    tuple->ob_item[0] = first.release();
    tuple->ob_item[1] = second.release();
    if (!atomic) PyObject_GC_Track(tuple);
    return out;
}

}  // namespace tavo
