#include "columns/arrow/arrow_import.hpp"

#include "boundary/interned.hpp"
#include "boundary/views.hpp"

#include <string>
#include <string_view>

namespace tavo::columns {
namespace {

using arrow::ArrowArray;
using arrow::ArrowArrayStream;
using arrow::ArrowSchema;

PyObject* stream_method_name = nullptr;
PyObject* array_method_name = nullptr;

// The bound method `name` of `source`, or an empty ref when it has none.
result<ref> optional_method(PyObject* source, PyObject* name) {
    ref method = steal(PyObject_GetAttr(source, name));
    if (method) return method;
    std::optional<error_value> e = error_value::take_pending();
    if (!e) return error_value::fetch();
    e->normalise();
    if (!PyErr_GivenExceptionMatches(e->type(), PyExc_AttributeError)) return std::move(*e);
    return ref();
}

error_value not_arrow(PyObject* source) {
    return error_value::owned_error(PyExc_TypeError,
                                    std::string("expected ") + accepted_columns + ", got '" + Py_TYPE(source)->tp_name + "'");
}

// The name users know an Arrow type by (pyarrow's), from its format string;
// empty for a format not listed.
std::string_view type_name_of(std::string_view format) noexcept {
    struct named {
        std::string_view format, name;
    };
    static constexpr named exact[] = {
        {"n", "null"},        {"b", "bool"},           {"c", "int8"},          {"C", "uint8"},
        {"s", "int16"},       {"S", "uint16"},         {"i", "int32"},         {"I", "uint32"},
        {"l", "int64"},       {"L", "uint64"},         {"e", "float16"},       {"f", "float32"},
        {"g", "float64"},     {"z", "binary"},         {"Z", "large_binary"},  {"vz", "binary_view"},
        {"u", "utf8"},        {"U", "large_utf8"},     {"vu", "string_view"},  {"tdD", "date32"},
        {"tdm", "date64"},    {"+l", "list"},          {"+L", "large_list"},   {"+vl", "list_view"},
        {"+vL", "large_list_view"}, {"+s", "struct (a table's rows, or a struct column)"},
        {"+m", "map"},        {"+r", "run_end_encoded"},
    };
    for (const named& n : exact) {
        if (n.format == format) return n.name;
    }
    // The parameterised ones, by their prefix.
    static constexpr named prefixed[] = {
        {"d:", "decimal"}, {"w:", "fixed_size_binary"}, {"+w:", "fixed_size_list"}, {"tt", "time"},
        {"ts", "timestamp"}, {"tD", "duration"}, {"ti", "interval"}, {"+u", "union"},
    };
    for (const named& n : prefixed) {
        if (format.starts_with(n.format)) return n.name;
    }
    return {};
}

// The layout named by an Arrow format string, or a TypeError naming the type
// that was found, as users know it ("got int64 (Arrow format 'l')").
result<string_layout> layout_of(const ArrowSchema& schema) {
    const char* format = schema.format ? schema.format : "";
    if (!schema.dictionary) {
        if (std::strcmp(format, "u") == 0) return string_layout::utf8;
        if (std::strcmp(format, "U") == 0) return string_layout::large_utf8;
        if (std::strcmp(format, "vu") == 0) return string_layout::string_view;
    }
    std::string text = std::string("expected ") + accepted_columns + ", got ";
    if (schema.dictionary) {
        text += "a dictionary-encoded column (Arrow format '";
        text += format;
        text += "'; decode it first, e.g. with pyarrow's dictionary_decode())";
    } else {
        const std::string_view name = type_name_of(format);
        text += name.empty() ? "an Arrow type" : name;
        text += " (Arrow format '";
        text += format;
        text += "')";
    }
    return error_value::owned_error(PyExc_TypeError, std::move(text));
}

// The struct in `capsule`, which must carry `name`; null (and a TypeError)
// otherwise. The capsule keeps the memory: the caller moves the struct out.
template <class S>
result<S*> capsule_struct(PyObject* capsule, const char* name, const char* method) {
    if (!PyCapsule_IsValid(capsule, name)) {
        return error_value::owned_error(PyExc_TypeError, std::string(method) + " did not return a PyCapsule named '" +
                                                             name + "' (got '" + Py_TYPE(capsule)->tp_name + "')");
    }
    auto* s = static_cast<S*>(PyCapsule_GetPointer(capsule, name));
    if (!s) return error_value::fetch();
    if (!s->release) {
        return error_value::owned_error(PyExc_ValueError,
                                        std::string("the '") + name + "' capsule was already consumed");
    }
    return s;
}

error_value stream_failed(ArrowArrayStream* stream, int code) {
    std::string text = "the Arrow stream failed (error " + std::to_string(code) + ")";
    if (const char* why = stream->get_last_error ? stream->get_last_error(stream) : nullptr) {
        text += ": ";
        text += why;
    }
    return error_value::owned_error(PyExc_RuntimeError, std::move(text));
}

}  // namespace

result<arrow_input> arrow_input::open(PyObject* source) {
    arrow_input in;
    result<ref> stream_method = optional_method(source, interned(stream_method_name, "__arrow_c_stream__"));
    if (!stream_method) return std::move(stream_method.error());
    if (*stream_method) {
        ref capsule = steal(PyObject_CallNoArgs(stream_method->get()));
        if (!capsule) return error_value::fetch();
        result<ArrowArrayStream*> s = capsule_struct<ArrowArrayStream>(capsule.get(), arrow::stream_capsule_name,
                                                                       "__arrow_c_stream__()");
        if (!s) return std::move(s.error());
        in.stream_ = owned<ArrowArrayStream>::take(*s);
        in.from_stream_ = true;
        // The callbacks are the producer's data too: checked before any is called.
        if (!in.stream_.get()->get_schema || !in.stream_.get()->get_next) {
            return error_value::static_error(PyExc_ValueError,
                                             "malformed Arrow data: the stream has no get_schema or get_next callback");
        }
        owned<ArrowSchema> schema;
        if (int code = in.stream_.get()->get_schema(in.stream_.get(), schema.get()); code != 0) {
            return stream_failed(in.stream_.get(), code);
        }
        if (!schema) return error_value::static_error(PyExc_ValueError, "the Arrow stream gave a released schema");
        result<string_layout> layout = layout_of(*schema);
        if (!layout) return std::move(layout.error());
        in.layout_ = *layout;
        return in;
    }
    result<ref> array_method = optional_method(source, interned(array_method_name, "__arrow_c_array__"));
    if (!array_method) return std::move(array_method.error());
    if (!*array_method) return not_arrow(source);
    ref pair = steal(PyObject_CallNoArgs(array_method->get()));
    if (!pair) return error_value::fetch();
    if (!PyTuple_Check(pair.get()) || tuple_view(pair.get()).size() != 2) {
        return error_value::static_error(PyExc_TypeError,
                                         "__arrow_c_array__() did not return a (schema, array) tuple of PyCapsules");
    }
    // The tuple holds both capsules for as long as `pair` lives.
    result<ArrowSchema*> schema_in =
        capsule_struct<ArrowSchema>(tuple_view(pair.get())[0], arrow::schema_capsule_name, "__arrow_c_array__()");
    if (!schema_in) return std::move(schema_in.error());
    result<ArrowArray*> array_in =
        capsule_struct<ArrowArray>(tuple_view(pair.get())[1], arrow::array_capsule_name, "__arrow_c_array__()");
    if (!array_in) return std::move(array_in.error());
    owned<ArrowSchema> schema = owned<ArrowSchema>::take(*schema_in);
    in.single_ = owned<ArrowArray>::take(*array_in);
    result<string_layout> layout = layout_of(*schema);
    if (!layout) return std::move(layout.error());
    in.layout_ = *layout;
    return in;
}

result<owned<ArrowArray>> arrow_input::next() {
    if (!from_stream_) return std::move(single_);  // then released: the end
    owned<ArrowArray> a;
    if (!stream_) return a;
    if (int code = stream_.get()->get_next(stream_.get(), a.get()); code != 0) return stream_failed(stream_.get(), code);
    if (!a) stream_.reset();  // the end: the stream is given back at once
    return a;
}

}  // namespace tavo::columns
