// Named tuple classes whose instances the module makes and frees itself.
//
// A named tuple class defined in Python allocates and frees each instance
// through the interpreter's general path for Python classes (zeroed memory,
// the collector linked, a deallocator that looks for __del__, weak
// references, a __dict__ and the base's deallocator on every call), which
// costs as much as reading a short price text. tuple_class_like makes, from
// such a class (its model), a class with the same name, module and namespace
// (fields, methods, docstring: the model's own objects), a subclass of tuple
// whose instances new_pair_of_class makes directly and whose deallocator
// frees a tuple.
#pragma once

#include "boundary/error.hpp"
#include "boundary/ref.hpp"

namespace tavo {

// A class like `model`, which must be a class whose only base is tuple and
// which adds no storage to it (a named tuple: `__slots__ = ()`); TypeError
// otherwise. The new class can be subclassed and pickled as the model can
// (its module and qualified name are the model's).
result<ref> tuple_class_like(PyObject* model);

// Is `cls` a class that tuple_class_like made?
bool is_tuple_class(PyObject* cls) noexcept;

// A new instance of `cls` (a class that tuple_class_like made) holding
// `first` and `second`: filled before any Python code can see it. The
// failed-creation internal failure when it cannot be made.
ref new_pair_of_class(PyTypeObject* cls, ref first, ref second);

}  // namespace tavo
