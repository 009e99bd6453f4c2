#include "boundary/args.hpp"

#include "boundary/interned.hpp"

#include <cstring>
#include <string>

namespace tavo {
namespace {

PyObject* module_attr_name = nullptr;

std::string display_name(const function_description& d) {
    std::string f = d.name;
    f += "()";
    return f;
}

error_value binding_error(std::string text) {
    return error_value::owned_error(PyExc_TypeError, std::move(text));
}

error_value too_many(const function_description& d, Py_ssize_t n) {
    // _tavo's nine say "takes 1 positional arguments", as documented; the package's
    // functions say it in plain English and name their keyword-only parameters.
    const bool plain = rules_in_force::current() == call_rules::package;
    std::string m = display_name(d) + " takes ";
    if (d.required == d.positional()) {
        m += std::to_string(d.positional());
    } else {
        m += "from " + std::to_string(d.required) + " to " + std::to_string(d.positional());
    }
    m += plain && d.required == d.positional() && d.positional() == 1 ? " positional argument" : " positional arguments";
    m += " but " + std::to_string(n) + (n == 1 ? " was" : " were") + " given";
    if (plain && d.keyword_only > 0) {
        m += "; ";
        for (std::size_t j = d.positional(); j < d.count; ++j) {
            if (j > d.positional()) m += j + 1 == d.count ? " and " : ", ";
            m += d.params[j];
        }
        m += d.keyword_only == 1 ? " is keyword-only" : " are keyword-only";
    }
    return binding_error(std::move(m));
}

error_value unexpected_keyword(const function_description& d, PyObject* name) {
    std::string m = display_name(d) + " got an unexpected keyword argument '";
    status shown = append_display(m, name);
    if (!shown) return std::move(shown.error());
    m += "'";
    return binding_error(std::move(m));
}

error_value multiple_values(const function_description& d, std::size_t j) {
    std::string m = display_name(d) + " got multiple values for argument '";
    m += d.params[j];
    m += "'";
    return binding_error(std::move(m));
}

error_value missing(const function_description& d, const call_args& a) {
    std::size_t names[3];
    std::size_t k = 0;
    for (std::size_t j = 0; j < d.required; ++j) {
        if (!a.slots[j]) names[k++] = j;
    }
    std::string m = display_name(d) + " missing " + std::to_string(k) + " required positional " +
                    (k == 1 ? "argument" : "arguments") + ": ";
    for (std::size_t i = 0; i < k; ++i) {
        if (i > 0) {
            if (k > 2) m += ",";
            m += (i == k - 1) ? " and " : " ";
        }
        m += "'";
        m += d.params[names[i]];
        m += "'";
    }
    return binding_error(std::move(m));
}

}  // namespace

result<call_args> bind_arguments(const function_description& d, PyObject* const* args,
                                 Py_ssize_t nargs, PyObject* kwnames) {
    call_args a;
    a.desc = &d;
    if (d.gathers) {
        if (kwnames && PyTuple_GET_SIZE(kwnames) > 0) {
            return unexpected_keyword(d, PyTuple_GET_ITEM(kwnames, 0));
        }
        bind_gathered(a, d, args, nargs);
        return a;
    }
    const Py_ssize_t positional = d.positional();
    for (Py_ssize_t i = 0; i < nargs && i < positional; ++i) a.slots[i] = args[i];
    if (nargs > positional) return too_many(d, nargs);
    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < nkw; ++i) {
            PyObject* name = PyTuple_GET_ITEM(kwnames, i);
            Py_ssize_t len = 0;
            const char* text = PyUnicode_AsUTF8AndSize(name, &len);
            if (!text) {
                // A name with lone surrogates (UnicodeEncodeError) names no
                // parameter; a MemoryError ends the call.
                status cleared = discard_ordinary_error();
                if (!cleared) return std::move(cleared.error());
            }
            std::size_t j = 0;
            if (text) {
                const std::string_view key(text, static_cast<std::size_t>(len));
                while (j < d.count && d.params[j] != key) ++j;
            } else {
                j = d.count;
            }
            if (j == d.count) return unexpected_keyword(d, name);
            if (a.slots[j]) return multiple_values(d, j);
            a.slots[j] = args[nargs + i];
        }
    }
    if (nargs < d.required) {
        for (std::size_t j = static_cast<std::size_t>(nargs); j < d.required; ++j) {
            if (!a.slots[j]) return missing(d, a);
        }
    }
    return a;
}

error_value type_mismatch(PyObject* obj, const char* target) noexcept {
    return error_value::type_mismatch(Py_TYPE(obj), target);
}

result<bool> to_bool_flag(PyObject* obj) {
    if (Py_IS_TYPE(obj, &PyBool_Type)) return obj == Py_True;
    PyTypeObject* type = Py_TYPE(obj);
    ref module = steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type),
                                        interned(module_attr_name, "__module__")));
    bool numpy = false;
    if (module && PyUnicode_Check(module.get())) {
        Py_ssize_t n = 0;
        const char* u = PyUnicode_AsUTF8AndSize(module.get(), &n);
        numpy = u && std::string_view(u, static_cast<std::size_t>(n)) == "numpy";
    }
    // A type whose __module__ cannot be read or is no text is not NumPy's;
    // an interrupt or a MemoryError met on the way ends the call.
    if (status cleared = discard_ordinary_error(); !cleared) return std::move(cleared.error());
    if (numpy) {
        ref name = steal(PyType_GetName(type));
        Py_ssize_t n = 0;
        const char* u = name ? PyUnicode_AsUTF8AndSize(name.get(), &n) : nullptr;
        if (status cleared = discard_ordinary_error(); !cleared) return std::move(cleared.error());
        const std::string_view tname = u ? std::string_view(u, static_cast<std::size_t>(n)) : "";
        if (tname == "bool_" || tname == "bool") {
            if (!type->tp_as_number || !type->tp_as_number->nb_bool) {
                std::string m = "object of type '";
                status shown = append_display(m, reinterpret_cast<PyObject*>(type));
                if (!shown) return std::move(shown.error());
                m += "' does not define a '__bool__' conversion";
                return error_value::owned_error(PyExc_TypeError, std::move(m));
            }
            int truth = type->tp_as_number->nb_bool(obj);
            if (truth == 0) return false;
            if (truth == 1) return true;
            return error_value::fetch();
        }
    }
    return type_mismatch(obj, "PyBool");
}

error_value with_argument_prefix(std::string_view param, error_value e) {
    e.normalise();
    if (e.type() != PyExc_TypeError) return e;
    std::string m = "argument '";
    m += param;
    m += "': ";
    status shown = append_display(m, e.value());
    if (!shown) return std::move(shown.error());
    // Without memory for the new message, the MemoryError ends the call.
    ref text = steal(PyUnicode_DecodeUTF8(m.data(), static_cast<Py_ssize_t>(m.size()), "replace"));
    if (!text) return error_value::fetch();
    ref exc = steal(PyObject_CallOneArg(PyExc_TypeError, text.get()));
    if (!exc) return error_value::fetch();
    if (PyObject* cause = PyException_GetCause(e.value())) {
        PyException_SetCause(exc.get(), cause);
    }
    return error_value::from_instance(std::move(exc));
}

}  // namespace tavo
