#include "columns/arrow/arrow_export.hpp"

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
        case value_type::price:
        case value_type::large_price: return "+s";
    }
    return "";
}

void release_schema(ArrowSchema* s) noexcept {
    // The strings are static; nothing else is held.
    s->release = nullptr;
}

// The two fields of a price struct's schema, which its release releases (a consumer
// may have moved one out and released it already).
struct exported_fields {
    ArrowSchema amount;
    ArrowSchema currency;
    ArrowSchema* children[2];
};

void release_struct_schema(ArrowSchema* s) noexcept {
    auto* fields = static_cast<exported_fields*>(s->private_data);
    for (ArrowSchema* child : fields->children) {
        if (child->release) child->release(child);
    }
    delete fields;
    s->private_data = nullptr;
    s->release = nullptr;
}

struct exported_array {
    std::shared_ptr<const chunk> keep;
    std::vector<const void*> buffers;
    // a struct's children, released with it (but one a consumer moved out, whose
    // release is then null; and one not yet filled when an export fails)
    std::vector<ArrowArray> children;
    std::vector<ArrowArray*> child_pointers;

    explicit exported_array(std::shared_ptr<const chunk> c) : keep(std::move(c)) {}
    exported_array(const exported_array&) = delete;
    exported_array& operator=(const exported_array&) = delete;
    ~exported_array() {
        for (ArrowArray& child : children) {
            if (child.release) child.release(&child);
        }
    }
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
    if (is_price(t)) {
        auto fields = std::make_unique<exported_fields>();
        fields->amount = ArrowSchema{arrow_format(value_type::float64), "amount", nullptr, arrow::flag_nullable, 0,
                                     nullptr, nullptr, &release_schema, nullptr};
        const value_type currency = t == value_type::price ? value_type::utf8 : value_type::large_utf8;
        fields->currency = ArrowSchema{arrow_format(currency), "currency", nullptr, arrow::flag_nullable, 0, nullptr,
                                       nullptr, &release_schema, nullptr};
        fields->children[0] = &fields->amount;
        fields->children[1] = &fields->currency;
        *out = ArrowSchema{arrow_format(t), "", nullptr, arrow::flag_nullable, 2, fields->children, nullptr,
                           &release_struct_schema, fields.get()};
        (void)fields.release();
        return;
    }
    *out = ArrowSchema{arrow_format(t), "", nullptr, arrow::flag_nullable, 0, nullptr, nullptr, &release_schema, nullptr};
}

void export_array(std::shared_ptr<const chunk> c, ArrowArray* out) {
    auto priv = std::make_unique<exported_array>(std::move(c));
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
    if (is_price(k.type)) {
        // the validity alone, then each field as an array of its own, owned by this one
        b.resize(1);
        priv->children.resize(k.children.size(), ArrowArray{});
        for (std::size_t f = 0; f < k.children.size(); ++f) priv->child_pointers.push_back(&priv->children[f]);
        for (std::size_t f = 0; f < k.children.size(); ++f) export_array(k.children[f], &priv->children[f]);
    }
    *out = ArrowArray{k.length, k.null_count, 0, static_cast<std::int64_t>(b.size()),
                      static_cast<std::int64_t>(priv->child_pointers.size()), b.data(),
                      priv->child_pointers.empty() ? nullptr : priv->child_pointers.data(), nullptr, &release_array,
                      priv.get()};
    (void)priv.release();
}

void export_stream(std::shared_ptr<const column_data> column, ArrowArrayStream* out) {
    auto* priv = new exported_stream{std::move(column), 0, {}};
    *out = ArrowArrayStream{&stream_get_schema, &stream_get_next, &stream_get_last_error, &release_stream, priv};
}

}  // namespace tavo::columns
