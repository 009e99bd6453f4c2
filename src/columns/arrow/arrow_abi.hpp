// The Arrow C Data Interface and C Stream Interface: three plain structs and
// a release callback each, laid out as the Arrow format documents them, so
// that any producer or consumer (pyarrow, polars, DuckDB, nanoarrow) can hand
// columns over without either side linking the other.
//
// Ownership: whoever fills a struct sets its `release`; whoever receives it
// calls `release` exactly once, or moves the struct elsewhere (a bitwise copy,
// after which the source's `release` is set to null). A released struct has
// a null `release`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace tavo::arrow {

struct ArrowSchema {
    const char* format;
    const char* name;
    const char* metadata;
    std::int64_t flags;
    std::int64_t n_children;
    ArrowSchema** children;
    ArrowSchema* dictionary;
    void (*release)(ArrowSchema*);
    void* private_data;
};

struct ArrowArray {
    std::int64_t length;
    std::int64_t null_count;
    std::int64_t offset;
    std::int64_t n_buffers;
    std::int64_t n_children;
    const void** buffers;
    ArrowArray** children;
    ArrowArray* dictionary;
    void (*release)(ArrowArray*);
    void* private_data;
};

struct ArrowArrayStream {
    int (*get_schema)(ArrowArrayStream*, ArrowSchema* out);
    int (*get_next)(ArrowArrayStream*, ArrowArray* out);
    const char* (*get_last_error)(ArrowArrayStream*);
    void (*release)(ArrowArrayStream*);
    void* private_data;
};

// The structs are copied bitwise when moved, and their layout is the ABI.
static_assert(std::is_trivially_copyable_v<ArrowSchema> && sizeof(ArrowSchema) == 72);
static_assert(std::is_trivially_copyable_v<ArrowArray> && sizeof(ArrowArray) == 80);
static_assert(std::is_trivially_copyable_v<ArrowArrayStream> && sizeof(ArrowArrayStream) == 40);

inline constexpr std::int64_t flag_nullable = 2;

// The names of the PyCapsules that carry each struct (the Arrow PyCapsule
// interface).
inline constexpr const char* schema_capsule_name = "arrow_schema";
inline constexpr const char* array_capsule_name = "arrow_array";
inline constexpr const char* stream_capsule_name = "arrow_array_stream";

// A string_view row: 16 bytes. Up to 12 bytes of text sit in the view
// itself; a longer text is named by a variadic data buffer and an offset in it.
struct string_view_row {
    std::int32_t size;
    union {
        char inline_text[12];
        struct {
            char prefix[4];
            std::int32_t buffer_index;
            std::int32_t offset;
        } ref;
    };
};
static_assert(sizeof(string_view_row) == 16 && std::is_trivially_copyable_v<string_view_row>);
inline constexpr std::int32_t max_inline_view = 12;

}  // namespace tavo::arrow
