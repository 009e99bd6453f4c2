#include "columns/arrow_export.hpp"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tavo::columns {

namespace {

using arrow::ArrowArray;
using arrow::ArrowArrayStream;
using arrow::ArrowSchema;

// The Arrow format string of a value type.
const char* arrow_format(value_type t) noexcept {
    switch (t) {
        case value_type::utf8: return "u";
        case value_type::large_utf8: return "U";
        case value_type::string_view: return "vu";
        case value_type::int64: return "l";
        case value_type::float64: return "g";
    }
    return "";
}

void release_schema(ArrowSchema* s) noexcept {
    // The strings are static; nothing else is held.
    s->release = nullptr;
}

struct exported_array {
    std::shared_ptr<const chunk> keep;
    std::vector<const void*> buffers;
};

void release_array(ArrowArray* a) noexcept {
    delete static_cast<exported_array*>(a->private_data);
    a->private_data = nullptr;
    a->release = nullptr;
}

struct exported_stream {
    std::shared_ptr<const column_data> column;
    std::size_t next = 0;
    std::string last_error;
};

exported_stream* stream_of(ArrowArrayStream* s) noexcept { return static_cast<exported_stream*>(s->private_data); }

int stream_get_schema(ArrowArrayStream* s, ArrowSchema* out) noexcept {
    if (!s->release) return EINVAL;
    export_schema(stream_of(s)->column->type, out);
    return 0;
}

int stream_get_next(ArrowArrayStream* s, ArrowArray* out) noexcept {
    if (!s->release) return EINVAL;
    exported_stream* st = stream_of(s);
    if (st->next == st->column->chunks.size()) {
        std::memset(out, 0, sizeof *out);  // the end of the stream: a released array
        return 0;
    }
    try {
        export_array(st->column->chunks[st->next], out);
    } catch (...) {
        try {
            st->last_error = "out of memory while exporting an array";
        } catch (...) {
            st->last_error.clear();
        }
        return ENOMEM;
    }
    ++st->next;
    return 0;
}

const char* stream_get_last_error(ArrowArrayStream* s) noexcept {
    if (!s->release) return nullptr;
    const std::string& e = stream_of(s)->last_error;
    return e.empty() ? nullptr : e.c_str();
}

void release_stream(ArrowArrayStream* s) noexcept {
    delete stream_of(s);
    s->private_data = nullptr;
    s->release = nullptr;
}

}  // namespace

void export_schema(value_type t, ArrowSchema* out) {
    *out = ArrowSchema{arrow_format(t), "", nullptr, arrow::flag_nullable, 0, nullptr, nullptr, &release_schema, nullptr};
}

void export_array(std::shared_ptr<const chunk> c, ArrowArray* out) {
    auto priv = std::make_unique<exported_array>(exported_array{std::move(c), {}});
    const chunk& k = *priv->keep;
    std::vector<const void*>& b = priv->buffers;
    b = {k.null_count != 0 ? k.validity.get() : nullptr, k.values.get()};
    if (k.type == value_type::string_view) {
        // the data buffers (places in the one text), then their sizes
        for (const std::int64_t start : k.view_buffers) b.push_back(static_cast<const char*>(k.data.get()) + start);
        b.push_back(k.view_sizes.get());
    } else if (k.data) {
        b.push_back(k.data.get());
    }
    *out = ArrowArray{k.length, k.null_count, 0, static_cast<std::int64_t>(b.size()), 0, b.data(), nullptr, nullptr,
                      &release_array, priv.get()};
    (void)priv.release();
}

void export_stream(std::shared_ptr<const column_data> column, ArrowArrayStream* out) {
    auto* priv = new exported_stream{std::move(column), 0, {}};
    *out = ArrowArrayStream{&stream_get_schema, &stream_get_next, &stream_get_last_error, &release_stream, priv};
}

}  // namespace tavo::columns
