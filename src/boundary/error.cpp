#include "boundary/error.hpp"

#include "boundary/call.hpp"
#include "shared/first_store.hpp"

#include <sys/prctl.h>

#include <atomic>
#include <cstdio>
#include <cstring>

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

// One strong reference for the life of the process, stored once.
std::atomic<PyObject*> panic_type_cell{nullptr};

// The pending exception, taken from the interpreter: its type, value and
// traceback, all empty when none is pending. CPython 3.12 and later keep the
// exception instance alone, so there the value is always an instance of the
// type; CPython 3.11 keeps the three apart, and instantiates the value only
// when asked to `normalise`.
struct raised {
    ref type, value, tb;
};

raised take_raised(bool normalise) {
    raised r;
#if PY_VERSION_HEX >= 0x030C0000
    (void)normalise;
    ref exc = steal(PyErr_GetRaisedException());
    if (!exc) return r;
    r.type = borrow(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())));
    r.tb = steal(PyException_GetTraceback(exc.get()));
    r.value = std::move(exc);
#else
    PyObject *t = nullptr, *v = nullptr, *tb = nullptr;
    PyErr_Fetch(&t, &v, &tb);
    if (normalise && t) PyErr_NormalizeException(&t, &v, &tb);
    r.type = steal(t);
    r.value = steal(v);
    r.tb = steal(tb);
#endif
    return r;
}

// Makes `e` the pending exception again.
void restore_raised(raised e) noexcept {
    if (!e.type) return;
#if PY_VERSION_HEX >= 0x030C0000
    if (e.value && PyExceptionInstance_Check(e.value.get())) {
        // The instance carries its traceback, which nothing here replaces.
        PyErr_SetRaisedException(e.value.release());
        return;
    }
    // A type with a value that is not yet its instance (an error value made
    // from parts): the interpreter instantiates it.
    PyErr_SetObject(e.type.get(), e.value.get());
#else
    PyErr_Restore(e.type.release(), e.value.release(), e.tb.release());
#endif
}

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


// Writes nothing through the interpreter and allocates nothing: it also runs
// when memory has run out.
void write_diagnostic(const std::string& text, const std::source_location& where) noexcept {
    // The calling thread's name, as the kernel keeps it (at most 15 bytes).
    char name[17] = "<unnamed>";
    char kernel_name[17] = {};
    if (prctl(PR_GET_NAME, kernel_name, 0, 0, 0) == 0) std::memcpy(name, kernel_name, sizeof name);
    std::fprintf(stderr,
                 "thread '%s' failed at %s:%u:\n%s\n"
                 "note: run the process under gdb with `catch throw` to see a backtrace\n",
                 name, where.file_name(), static_cast<unsigned>(where.line()), text.c_str());
    std::fflush(stderr);
}

}  // namespace

status append_str_text(std::string& out, PyObject* s) {
    Py_ssize_t n = 0;
    if (const char* u = PyUnicode_AsUTF8AndSize(s, &n)) {
        out.append(u, static_cast<size_t>(n));
        return ok();
    }
    // Lone surrogates have no UTF-8 form (UnicodeEncodeError): encode them
    // with "surrogatepass" instead.
    status cleared = discard_ordinary_error();
    if (!cleared) return cleared;
    ref bytes = steal(PyUnicode_AsEncodedString(s, "utf-8", "surrogatepass"));
    if (!bytes) return error_value::fetch();
    append_replacing_surrogates(out, PyBytes_AS_STRING(bytes.get()), PyBytes_GET_SIZE(bytes.get()));
    return ok();
}

thread_local call_rules rules_in_force::current_ = call_rules::nine;

void fail(std::string text, std::source_location where) {
    write_diagnostic(text, where);
    throw internal_failure{std::move(text)};
}

void failed_creation(std::source_location where) {
    PyObject* pending = PyErr_Occurred();
    if (pending && rules_in_force::current() == call_rules::package) {
        // A function of the package: the creation's own exception (a
        // MemoryError) ends the call, unprinted.
        throw internal_failure{"Python API call failed", true};
    }
    if (pending && !PyErr_GivenExceptionMatches(pending, PyExc_Exception)) {
        // Printing would end the process (SystemExit) or lose an interrupt:
        // this exception ends the call instead of the PanicException.
        write_diagnostic("Python API call failed", where);
        throw internal_failure{"Python API call failed", true};
    }
    // Usually MemoryError. Printing needs memory too: when that fails,
    // CPython prints less and clears the exception all the same.
    PyErr_Print();
    fail("Python API call failed", where);
}

status append_display(std::string& out, PyObject* obj, bool use_repr) {
    ref s = steal(use_repr ? PyObject_Repr(obj) : PyObject_Str(obj));
    if (s) return append_str_text(out, s.get());
    if (PyObject* pending = PyErr_Occurred(); pending && must_end_call(pending)) {
        return error_value::fetch();
    }
    PyErr_WriteUnraisable(obj);
    ref name = steal(PyType_GetName(Py_TYPE(obj)));
    if (name && !PyUnicode_Check(name.get())) name.reset();  // a type's name is always a str
    if (!name) {
        status cleared = discard_ordinary_error();
        if (!cleared) return cleared;
        out += "<unprintable object>";
        return ok();
    }
    out += "<unprintable ";
    // The name is a str, or a str subclass, whose text is read as it is: a
    // subclass's __str__ could fail again (even for a type named by an
    // instance of itself, endlessly).
    status shown = append_str_text(out, name.get());
    if (!shown) return shown;
    out += " object>";
    return ok();
}

void ensure_error_pending() noexcept {
    if (!PyErr_Occurred()) PyErr_NoMemory();
}

namespace {

// _tavo and the package's native modules each link this file, and so each
// has a cell of its own; they share one PanicException type through the
// interpreter's dict for extension state (which Python code cannot reach),
// under this key: whichever module makes the type first publishes it there.
// The modules run in the main interpreter only.
constexpr const char* shared_panic_key = "lumo_runtime.PanicException";

// The type another module published, borrowed (it is never removed), or
// null. Sets no exception.
PyObject* published_panic_type() noexcept {
    PyObject* d = PyInterpreterState_GetDict(PyInterpreterState_Get());
    if (!d) return nullptr;
    PyObject* t = PyDict_GetItemString(d, shared_panic_key);  // suppresses its own errors
    return t && PyType_Check(t) ? t : nullptr;
}

// The PanicException type if one exists in the process yet, else null;
// never makes one and sets no exception.
PyObject* existing_panic_type() noexcept {
    if (PyObject* stored = panic_type_cell.load(std::memory_order_acquire)) return stored;
    PyObject* published = published_panic_type();
    if (!published) return nullptr;
    return keep_first_owned(panic_type_cell, Py_NewRef(published));
}

// Publishes the type this module made; the one kept when another module
// published its own meanwhile (free-threaded builds). Publishing needs
// memory; when there is none the module keeps its own type, and the failure
// is dropped: the call goes on to raise with that type.
PyObject* publish_panic_type(PyObject* t) noexcept {
    PyObject* d = PyInterpreterState_GetDict(PyInterpreterState_Get());
    if (!d) return t;
    ref key = steal(PyUnicode_InternFromString(shared_panic_key));
    PyObject* kept = key ? PyDict_SetDefault(d, key.get(), t) : nullptr;
    if (!kept) {
        PyErr_Clear();
        return t;
    }
    if (kept != t && PyType_Check(kept)) {
        Py_DECREF(t);
        return Py_NewRef(kept);
    }
    return t;
}

}  // namespace

PyObject* panic_exception_type() noexcept {
    if (PyObject* existing = existing_panic_type()) return existing;
    PyObject* t = PyErr_NewExceptionWithDoc("lumo_runtime.PanicException", panic_doc,
                                            PyExc_BaseException, nullptr);
    if (!t) {
        // Only when the interpreter cannot allocate. The call then ends with
        // the error that prevented it (usually MemoryError), not a
        // PanicException; the diagnostic says so. Taking the error does not
        // need the type: nothing can have raised a type that does not exist.
        try {
            error_value e = error_value::fetch();
            std::string text = "Failed to initialize new exception type.: ";
            text += e.render();
            write_diagnostic(text, std::source_location::current());
            std::move(e).raise();
        } catch (...) {
            ensure_error_pending();
        }
        return nullptr;
    }
    t = publish_panic_type(t);
    return keep_first_owned(panic_type_cell, t);  // filled meanwhile (another thread, without the lock)?
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
    e.type_ = borrow(reinterpret_cast<PyObject*>(type));
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
    e.type_ = borrow(reinterpret_cast<PyObject*>(Py_TYPE(instance.get())));
    e.value_ = std::move(instance);
    return e;
}

std::optional<error_value> error_value::take_pending() {
    const auto fetched = [](raised r) {
        error_value e;
        e.state_ = state::fetched;
        e.type_ = std::move(r.type);
        e.value_ = std::move(r.value);
        e.tb_ = std::move(r.tb);
        return e;
    };
    raised r = take_raised(false);
    if (!r.type) return std::nullopt;
    // Compared only once the type exists: Python code cannot have raised a
    // type that was never created (and creating it here, when memory has
    // run out, would fail and take the pending exception again, endlessly).
    PyObject* const panic_type = existing_panic_type();
    if (panic_type && r.type.get() == panic_type) {
        restore_raised(std::move(r));
        r = take_raised(true);
        if (r.type.get() != panic_type) return fetched(std::move(r));  // normalising failed: that error instead
        std::string text;
        ref s = r.value ? steal(PyObject_Str(r.value.get())) : ref();
        if (!s || !append_str_text(text, s.get())) {
            // The call ends with the resumed panic in any case: a failure to
            // read its text (even a MemoryError) only changes the text.
            PyErr_Clear();
            text = "Unwrapped panic from Python code";
        }
        PySys_WriteStderr("--- Lumo is resuming a panic after fetching a PanicException from Python. ---\n");
        PySys_WriteStderr("Python stack trace below:\n");
        restore_raised(std::move(r));
        PyErr_PrintEx(0);
        throw internal_failure{std::move(text)};
    }
    return fetched(std::move(r));
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

// A failed creation here is not an internal failure: the exception that
// stopped it (MemoryError) is left pending and raised instead.
std::pair<PyObject*, ref> error_value::materialise() {
    const auto text_arg = [](PyObject* type, PyObject* arg) -> std::pair<PyObject*, ref> {
        if (!arg) return {nullptr, ref()};
        return {type, steal(arg)};
    };
    switch (state_) {
        case state::static_msg:
            return text_arg(exc_type_, PyUnicode_FromString(static_text_));
        case state::owned_msg:
            return text_arg(exc_type_, PyUnicode_DecodeUTF8(text_.data(), static_cast<Py_ssize_t>(text_.size()),
                                                            "replace"));
        case state::mismatch: {
            std::string msg = "'";
            ref qualname = steal(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(type_.get())));
            Py_ssize_t n = 0;
            const char* u = qualname ? PyUnicode_AsUTF8AndSize(qualname.get(), &n) : nullptr;
            if (u) {
                msg.append(u, static_cast<size_t>(n));
            } else {
                status cleared = discard_ordinary_error();
                if (!cleared) {
                    std::move(cleared.error()).raise();
                    return {nullptr, ref()};
                }
                msg += "<failed to extract type name>";
            }
            msg += "' object cannot be converted to '";
            msg += static_text_;
            msg += "'";
            return text_arg(PyExc_TypeError,
                            PyUnicode_FromStringAndSize(msg.data(), static_cast<Py_ssize_t>(msg.size())));
        }
        case state::panic: {
            PyObject* type = panic_exception_type();
            if (!type) return {nullptr, ref()};
            ref text = steal(PyUnicode_DecodeUTF8(text_.data(), static_cast<Py_ssize_t>(text_.size()), "replace"));
            if (!text) return {nullptr, ref()};
            ref args = steal(PyTuple_New(1));
            if (!args) return {nullptr, ref()};
            PyTuple_SET_ITEM(args.get(), 0, text.release());
            return {type, std::move(args)};
        }
        case state::fetched:
        case state::normalised:
            break;
    }
    return {nullptr, ref()};
}

void error_value::raise() && noexcept {
    if (state_ == state::fetched || state_ == state::normalised) {
        restore_raised({std::move(type_), std::move(value_), std::move(tb_)});
        ensure_error_pending();
        return;
    }
    try {
        auto [type, arg] = materialise();
        if (!type) {
            ensure_error_pending();
            return;
        }
        // Every deferred type is an exception class: a built-in one or PanicException.
        PyErr_SetObject(type, arg.get());
    } catch (...) {
        // std::bad_alloc while composing the message, or a PanicException
        // met while reading a type's name (printed where it was taken).
        ensure_error_pending();
        return;
    }
    restore_raised(take_raised(true));
    ensure_error_pending();
}

void error_value::normalise() {
    if (state_ == state::normalised) return;
    if (state_ != state::fetched) {
        std::move(*this).raise();
    } else {
        restore_raised({std::move(type_), std::move(value_), std::move(tb_)});
    }
    raised r = take_raised(true);
    type_ = std::move(r.type);
    value_ = std::move(r.value);
    tb_ = std::move(r.tb);
    state_ = state::normalised;
}

namespace {

// The rendering is only ever the text of an internal failure, which ends the
// call itself: an object that cannot be displayed (even for want of memory)
// shows as a placeholder and its error is dropped.
void append_rendered(std::string& out, PyObject* obj) {
    if (!append_display(out, obj, true)) out += "<unprintable object>";
}

}  // namespace

std::string error_value::render() {
    normalise();
    std::string out = "PyErr { type: ";
    if (type_) {
        append_rendered(out, type_.get());
    } else {
        out += "None";
    }
    out += ", value: ";
    if (value_) {
        append_rendered(out, value_.get());
    } else {
        out += "None";
    }
    out += ", traceback: ";
    if (tb_) {
        out += "Some(";
        append_rendered(out, tb_.get());
        out += ")";
    } else {
        out += "None";
    }
    out += " }";
    return out;
}

namespace detail {

void raise_error(error_value&& e) noexcept { std::move(e).raise(); }

void raise_panic(std::string&& text) noexcept { error_value::panic(std::move(text)).raise(); }

void raise_panic(const char* text) noexcept {
    try {
        raise_panic(std::string(text));
    } catch (...) {  // no memory for the text
        ensure_error_pending();
    }
}

}  // namespace detail

}  // namespace tavo
