// Argument binding against a function's description, the conversion kinds of
// incoming values, and the result kinds of outgoing ones.
//
// Binding copies pointers only; conversions return error values that are
// formatted only when raised. Bodies read their bound, converted arguments
// through `call_args`, which adds the "argument '{param}': " prefix.
#pragma once

#include "boundary/error.hpp"
#include "boundary/views.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tavo {

struct function_description {
    const char* name;                        // e.g. "same_order"
    std::array<std::string_view, 3> params;  // parameter names, keyword-only ones last
    std::uint8_t count;                      // number of names in `params`
    std::uint8_t required;                   // the first `required` must be given
    bool gathers;                            // takes every positional argument as a tuple
    std::uint8_t keyword_only = 0;           // the last `keyword_only` of `params` (never required)
    // Each parameter's default as the signature writes it ("False", "None", "'.'"); empty
    // for a required one. The docstring's text signature is made from these and `params`.
    std::array<std::string_view, 3> defaults{};

    // How many arguments may be given by position.
    constexpr std::uint8_t positional() const noexcept { return static_cast<std::uint8_t>(count - keyword_only); }
};

// The index of the parameter `name` of `d`: a body reads each argument by its
// name, found when the body is compiled (a name its description lacks does not
// compile).
consteval std::size_t param(const function_description& d, std::string_view name) {
    for (std::size_t i = 0; i < d.count; ++i) {
        if (d.params[i] == name) return i;
    }
    throw "the description has no parameter of that name";
}

// The bound arguments of one call, borrowed from the caller's argument array,
// which holds them for the whole call: the slots of the named parameters, or
// (gathering functions only) every positional argument.
struct call_args {
    const function_description* desc;
    std::array<PyObject*, 3> slots{};
    PyObject* const* gathered = nullptr;
    Py_ssize_t gathered_count = 0;

    PyObject* operator[](std::size_t i) const noexcept { return slots[i]; }
    bool given(std::size_t i) const noexcept { return slots[i] != nullptr; }
};

// The varargs tuple of a gathering call: a new tuple holding every positional
// argument. Built only by a body that needs the arguments as one object; a
// body that just reads them reads the argument array, so a call that builds
// nothing else allocates nothing for its arguments.
inline ref varargs_tuple(const call_args& a) {
    ref tuple = created(PyTuple_New(a.gathered_count));
    for (Py_ssize_t i = 0; i < a.gathered_count; ++i) {
        PyTuple_SET_ITEM(tuple.get(), i, borrow(a.gathered[i]).release());
    }
    return tuple;
}

// The general binder: keywords, gathering, and every binding error.
result<call_args> bind_arguments(const function_description& desc, PyObject* const* args,
                                 Py_ssize_t nargs, PyObject* kwnames);

// The common call: positional arguments only, within the parameter count.
inline bool plain_positional(const function_description& desc, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return !kwnames && !desc.gathers && nargs >= desc.required && nargs <= desc.positional();
}

// Binds a plain positional call into `a` where it stands (the general binder
// returns a result<call_args>, a copy of the slots the common call does not
// need).
inline void bind_positional(call_args& a, const function_description& desc, PyObject* const* args,
                            Py_ssize_t nargs) noexcept {
    a.desc = &desc;
    for (Py_ssize_t i = 0; i < nargs; ++i) a.slots[i] = args[i];
}

// The common call of a function with keyword-only parameters: its
// positional parameters by position and keyword-only ones by keyword
// (`parse(s, decimal=",")`). Binds it into `a` (whose slots are empty) when
// every keyword is an ASCII str naming a keyword-only parameter not given
// yet; any other call, and every binding error, is left to the general
// binder (false).
inline bool bind_keyword_only(call_args& a, const function_description& desc, PyObject* const* args,
                              Py_ssize_t nargs, PyObject* kwnames) noexcept {
    if (desc.gathers || nargs < desc.required || nargs > desc.positional()) return false;
    a.desc = &desc;
    for (Py_ssize_t i = 0; i < nargs; ++i) a.slots[i] = args[i];
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        const auto name = ascii_text(PyTuple_GET_ITEM(kwnames, k));
        if (!name) return false;
        std::size_t j = desc.positional();
        while (j < desc.count && desc.params[j] != *name) ++j;
        if (j == desc.count || a.slots[j]) return false;
        a.slots[j] = args[nargs + k];
    }
    return true;
}

// A gathering function called without keywords (the only case that binds).
inline bool plain_gathered(const function_description& desc, PyObject* kwnames) noexcept {
    return desc.gathers && (!kwnames || PyTuple_GET_SIZE(kwnames) == 0);
}

// Binds such a call into `a` where it stands, as bind_positional does.
inline void bind_gathered(call_args& a, const function_description& desc, PyObject* const* args,
                          Py_ssize_t nargs) noexcept {
    a.desc = &desc;
    a.gathered = args;
    a.gathered_count = nargs;
}

// --- conversions (no prefix) -------------------------------------------------

error_value type_mismatch(PyObject* obj, const char* target) noexcept;

inline result<PyObject*> to_list(PyObject* obj) {
    if (!PyList_Check(obj)) return type_mismatch(obj, "PyList");
    return obj;
}

// True and False, and NumPy's boolean scalars through their truth slot.
result<bool> to_bool_flag(PyObject* obj);

// "argument '{param}': ..." for an exact TypeError; other errors unchanged.
error_value with_argument_prefix(std::string_view param, error_value e);

// --- conversions of bound parameters (with prefix) -----------------------------

template <class T>
inline result<T> prefixed(const call_args& a, std::size_t i, result<T> r) {
    if (r) return r;
    return with_argument_prefix(a.desc->params[i], std::move(r.error()));
}

// A str argument as a body reads it: its text as UTF-8, whether that text is
// all ASCII, and the str that owns the bytes. The caller's argument array
// holds the owner for the whole call, and the bytes live as long as the
// owner: the view is valid until the body returns, and no longer.
class str_text {
public:
    str_text(const char* data, Py_ssize_t size, PyObject* owner) noexcept
        : data_(data), size_(static_cast<std::size_t>(size)), owner_(owner) {}

    std::string_view utf8() const noexcept { return std::string_view(data_, size_); }
    // All ASCII: each character is one byte, and the bytes are the str's own
    // storage. Read from the owner's flag, which the conversion has just
    // read: no copy of it is kept.
    bool ascii() const noexcept { return PyUnicode_IS_ASCII(owner_); }
    PyObject* owner() const noexcept { return owner_; }

    // The text as an exact str: the owner itself when it is one; for a
    // subclass of str, a new str with the same characters.
    ref exact_str() const {
        if (PyUnicode_CheckExact(owner_)) return borrow(owner_);
        return created(PyUnicode_FromKindAndData(PyUnicode_KIND(owner_), PyUnicode_DATA(owner_),
                                                 PyUnicode_GET_LENGTH(owner_)));
    }

private:
    const char* data_;
    std::size_t size_;
    PyObject* owner_;
};

// A str argument. The accepted case builds its result in place rather than
// through prefixed(), which would copy it once more.
inline result<str_text> text_arg(const call_args& a, std::size_t i) {
    PyObject* obj = a[i];
    if (!PyUnicode_Check(obj)) return prefixed<str_text>(a, i, type_mismatch(obj, "PyString"));
    // ASCII text is its own UTF-8 form: the bytes are read in place, without
    // the call that would hand back the same pointer.
    if (const auto ascii = ascii_text(obj)) {
        return str_text(ascii->data(), static_cast<Py_ssize_t>(ascii->size()), obj);
    }
    Py_ssize_t n = 0;
    const char* u = PyUnicode_AsUTF8AndSize(obj, &n);
    if (!u) return prefixed<str_text>(a, i, error_value::fetch());
    return str_text(u, n, obj);
}
inline result<PyObject*> list_arg(const call_args& a, std::size_t i) {
    return prefixed(a, i, to_list(a[i]));
}
inline result<bool> bool_arg(const call_args& a, std::size_t i) {
    return prefixed(a, i, to_bool_flag(a[i]));
}

// --- results --------------------------------------------------------------------

inline ref string_result(std::string_view text) {
    return created(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}
// A str of ASCII text, copied without decoding.
inline ref ascii_result(std::string_view text) {
    new_ascii s = new_ascii_str(text.size());
    std::memcpy(s.bytes, text.data(), text.size());
    return std::move(s.str);
}
inline ref int_result(std::int64_t v) { return created(PyLong_FromLongLong(v)); }
inline ref float_result(double v) { return created(PyFloat_FromDouble(v)); }
inline ref bool_result(bool v) { return borrow(v ? Py_True : Py_False); }
inline ref none_result() { return borrow(Py_None); }

}  // namespace tavo
