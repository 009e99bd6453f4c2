#include "boundary/error.hpp"

#include "boundary/call.hpp"

#include <pthread.h>

#include <cstdio>

namespace tavo {
namespace {

constexpr const char* panic_doc =
    "\n"
    "The exception raised when Vell code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

constexpr const char* none_pending = "attempted to fetch exception but none was set";

PyObject* panic_type_cell = nullptr;  // one strong reference for the life of the process

// Appends UTF-8 bytes that may hold encoded surrogates (from "surrogatepass"):
// each such three-byte sequence becomes three U+FFFD, as a decoder that
// replaces maximal invalid subparts would produce.
void append_replacing_surrogates(std::string& out, const char* s, Py_ssize_t n) {
    for (Py_ssize_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c == 0xED && i + 2 < n && (static_cast<unsigned char>(s[i + 1]) & 0xE0) == 0xA0) {
            out += "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD";
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
}

// Appends the UTF-8 text of a str, substituting U+FFFD for lone surrogates.
void append_str_text(std::string& out, PyObject* s) {
    Py_ssize_t n = 0;
    if (const char* u = PyUnicode_AsUTF8AndSize(s, &n)) {
        out.append(u, static_cast<size_t>(n));
        return;
    }
    PyErr_Clear();
    ref bytes = created(PyUnicode_AsEncodedString(s, "utf-8", "surrogatepass"));
    append_replacing_surrogates(out, PyBytes_AS_STRING(bytes.get()), PyBytes_GET_SIZE(bytes.get()));
}

void write_diagnostic(const std::string& text, const std::source_location& where) {
    char name[64] = "<unnamed>";
    pthread_getname_np(pthread_self(), name, sizeof name);
    std::fprintf(stderr,
                 "thread '%s' failed at %s:%u:\n%s\n"
                 "note: run the process under gdb with `catch throw` to see a backtrace\n",
                 name, where.file_name(), static_cast<unsigned>(where.line()), text.c_str());
    std::fflush(stderr);
}

}  // namespace

void fail(std::string text, std::source_location where) {
    write_diagnostic(text, where);
    throw internal_failure{std::move(text)};
}

void failed_creation(std::source_location where) {
    PyErr_Print();
    fail("Python API call failed", where);
}

void append_display(std::string& out, PyObject* obj, bool use_repr) {
    ref s = steal(use_repr ? PyObject_Repr(obj) : PyObject_Str(obj));
    if (s) {
        append_str_text(out, s.get());
        return;
    }
    PyErr_WriteUnraisable(obj);
    ref name = steal(PyType_GetName(Py_TYPE(obj)));
    if (!name) {
        PyErr_Clear();
        out += "<unprintable object>";
        return;
    }
    out += "<unprintable ";
    append_display(out, name.get());
    out += " object>";
}

PyObject* panic_exception_type() {
    if (panic_type_cell) return panic_type_cell;
    PyObject* t = PyErr_NewExceptionWithDoc("lumo_runtime.PanicException", panic_doc,
                                            PyExc_BaseException, nullptr);
    if (!t) {
        std::string text = "Failed to initialize new exception type.: ";
        text += error_value::fetch().render();
        fail(std::move(text));
    }
    if (panic_type_cell) {  // filled meanwhile: keep the first
        Py_DECREF(t);
    } else {
        panic_type_cell = t;
    }
    return panic_type_cell;
}

error_value error_value::static_error(PyObject* type, const char* text) noexcept {
    error_value e;
    e.state_ = state::static_msg;
    e.exc_type_ = type;
    e.static_text_ = text;
    return e;
}

error_value error_value::owned_error(PyObject* type, std::string text) noexcept {
    error_value e;
    e.state_ = state::owned_msg;
    e.exc_type_ = type;
    e.text_ = std::move(text);
    return e;
}

error_value error_value::type_mismatch(PyTypeObject* type, const char* target) noexcept {
    error_value e;
    e.state_ = state::mismatch;
    e.type_ = held(borrow(reinterpret_cast<PyObject*>(type)));
    e.static_text_ = target;
    return e;
}

error_value error_value::panic(std::string text) noexcept {
    error_value e;
    e.state_ = state::panic;
    e.text_ = std::move(text);
    return e;
}

error_value error_value::from_instance(ref instance) noexcept {
    error_value e;
    e.state_ = state::normalised;
    e.type_ = held(borrow(reinterpret_cast<PyObject*>(Py_TYPE(instance.get()))));
    e.value_ = held(std::move(instance));
    return e;
}

std::optional<error_value> error_value::take_pending() {
    PyObject *t = nullptr, *v = nullptr, *tb = nullptr;
    PyErr_Fetch(&t, &v, &tb);
    held type(steal(t)), value(steal(v)), trace(steal(tb));
    if (!type) return std::nullopt;
    if (type.get() == panic_exception_type()) {
        PyErr_NormalizeException(&t, &v, &tb);
        type.release(), value.release(), trace.release();
        type = held(steal(t)), value = held(steal(v)), trace = held(steal(tb));
        std::string text;
        ref s = value ? steal(PyObject_Str(value.get())) : ref();
        if (s) {
            append_str_text(text, s.get());
        } else {
            PyErr_Clear();
            text = "Unwrapped panic from Python code";
        }
        PySys_WriteStderr("--- Lumo is resuming a panic after fetching a PanicException from Python. ---\n");
        PySys_WriteStderr("Python stack trace below:\n");
        PyErr_Restore(type.release(), value.release(), trace.release());
        PyErr_PrintEx(0);
        throw internal_failure{std::move(text)};
    }
    error_value e;
    e.state_ = state::fetched;
    e.type_ = std::move(type);
    e.value_ = std::move(value);
    e.tb_ = std::move(trace);
    return e;
}

error_value error_value::fetch() {
    if (auto e = take_pending()) return std::move(*e);
    return static_error(PyExc_SystemError, none_pending);
}

bool must_end_call(PyObject* exc_type) noexcept {
    return !PyErr_GivenExceptionMatches(exc_type, PyExc_Exception) ||
           PyErr_GivenExceptionMatches(exc_type, PyExc_MemoryError) ||
           PyErr_GivenExceptionMatches(exc_type, PyExc_RecursionError);
}

status discard_ordinary_error() {
    std::optional<error_value> e = error_value::take_pending();
    if (e && must_end_call(e->type())) return std::move(*e);
    return ok();
}

std::pair<PyObject*, ref> error_value::materialise() {
    switch (state_) {
        case state::static_msg:
            return {exc_type_, created(PyUnicode_FromString(static_text_))};
        case state::owned_msg:
            return {exc_type_, created(PyUnicode_DecodeUTF8(text_.data(),
                                                            static_cast<Py_ssize_t>(text_.size()),
                                                            "replace"))};
        case state::mismatch: {
            std::string msg = "'";
            ref qualname = steal(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(type_.get())));
            Py_ssize_t n = 0;
            const char* u = qualname ? PyUnicode_AsUTF8AndSize(qualname.get(), &n) : nullptr;
            if (u) {
                msg.append(u, static_cast<size_t>(n));
            } else {
                PyErr_Clear();
                msg += "<failed to extract type name>";
            }
            msg += "' object cannot be converted to '";
            msg += static_text_;
            msg += "'";
            return {PyExc_TypeError, created(PyUnicode_FromStringAndSize(msg.data(), static_cast<Py_ssize_t>(msg.size())))};
        }
        case state::panic: {
            ref text = created(PyUnicode_DecodeUTF8(text_.data(), static_cast<Py_ssize_t>(text_.size()),
                                                    "replace"));
            ref args = created(PyTuple_New(1));
            PyTuple_SET_ITEM(args.get(), 0, text.release());
            return {panic_exception_type(), std::move(args)};
        }
        case state::fetched:
        case state::normalised:
            break;
    }
    return {nullptr, ref()};
}

void error_value::raise() && {
    if (state_ == state::fetched || state_ == state::normalised) {
        PyErr_Restore(type_.release(), value_.release(), tb_.release());
        return;
    }
    auto [type, arg] = materialise();
    if (PyType_Check(type) &&
        PyType_FastSubclass(reinterpret_cast<PyTypeObject*>(type), Py_TPFLAGS_BASE_EXC_SUBCLASS)) {
        PyErr_SetObject(type, arg.get());
    } else {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
    }
    arg.reset();
    PyObject *t = nullptr, *v = nullptr, *tb = nullptr;
    PyErr_Fetch(&t, &v, &tb);
    PyErr_NormalizeException(&t, &v, &tb);
    PyErr_Restore(t, v, tb);
}

void error_value::normalise() {
    if (state_ == state::normalised) return;
    if (state_ != state::fetched) {
        std::move(*this).raise();
    } else {
        PyErr_Restore(type_.release(), value_.release(), tb_.release());
    }
    PyObject *t = nullptr, *v = nullptr, *tb = nullptr;
    PyErr_Fetch(&t, &v, &tb);
    PyErr_NormalizeException(&t, &v, &tb);
    type_ = held(steal(t));
    value_ = held(steal(v));
    tb_ = held(steal(tb));
    state_ = state::normalised;
}

std::string error_value::render() {
    bool need_lock = current_lock_depth() == 0;
    PyGILState_STATE gil{};
    if (need_lock) {
        gil = PyGILState_Ensure();
        enter_lock_scope();
    }
    normalise();
    std::string out = "PyErr { type: ";
    append_display(out, type_.get(), true);
    out += ", value: ";
    if (value_) {
        append_display(out, value_.get(), true);
    } else {
        out += "None";
    }
    out += ", traceback: ";
    if (tb_) {
        out += "Some(";
        append_display(out, tb_.get(), true);
        out += ")";
    } else {
        out += "None";
    }
    out += " }";
    if (need_lock) {
        leave_lock_scope();
        PyGILState_Release(gil);
    }
    return out;
}

}  // namespace tavo
