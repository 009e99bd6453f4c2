// Native keys for date, naive datetime, bytes and tuple columns.
#include "dictsort/object_keys.hpp"

#include "shared/first_store.hpp"
#include "boundary/views.hpp"
#include "dictsort/fallback.hpp"
#include "dictsort/sort_codes.hpp"

#include <datetime.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

namespace tavo::dictsort {
namespace {

// The datetime C API, imported the first time a value looks like a date.
// Its pointer (PyDateTimeAPI) belongs to this file. Threads without the
// interpreter lock may import it at once: the pointer is read and stored
// atomically, and only the first store is kept, so that the plain reads of
// it by the datetime macros follow the one store there ever is.
// Whether it is available: false when the import failed with an ordinary
// exception (discarded); one that must end the call comes back.
result<bool> datetime_api() {
    std::atomic_ref<PyDateTime_CAPI*> api(PyDateTimeAPI);
    if (api.load(std::memory_order_acquire) == nullptr) {
        auto* imported = static_cast<PyDateTime_CAPI*>(PyCapsule_Import(PyDateTime_CAPSULE_NAME, 0));
        if (imported == nullptr) {
            status cleared = discard_ordinary_error();
            if (!cleared) return std::move(cleared.error());
            return false;
        }
        keep_first(api, imported);  // the capsule's pointer: the same whichever thread stores it
    }
    return true;
}

// Only the datetime module's own types have these names; checking the name
// first keeps other columns from importing it.
bool named_like_date(PyTypeObject* t) noexcept {
    return std::strncmp(t->tp_name, "datetime.date", 13) == 0;
}

// Field by field, in order of significance: the packed value orders as the
// dates do (year 1..9999 needs 14 bits).
std::int64_t date_code(PyObject* d) noexcept {
    return (static_cast<std::int64_t>(PyDateTime_GET_YEAR(d)) << 9) |
           (static_cast<std::int64_t>(PyDateTime_GET_MONTH(d)) << 5) | PyDateTime_GET_DAY(d);
}

// Date fields, then hour (5 bits), minute (6), second (6), microsecond (20):
// 60 bits. `fold` plays no part in comparing naive datetimes.
std::int64_t datetime_code(PyObject* t) noexcept {
    std::int64_t c = date_code(t);
    c = (c << 5) | PyDateTime_DATE_GET_HOUR(t);
    c = (c << 6) | PyDateTime_DATE_GET_MINUTE(t);
    c = (c << 6) | PyDateTime_DATE_GET_SECOND(t);
    return (c << 20) | PyDateTime_DATE_GET_MICROSECOND(t);
}

bool is_naive_datetime(PyObject* o) noexcept {
    return PyDateTime_CheckExact(o) && PyDateTime_DATE_GET_TZINFO(o) == Py_None;
}

// What a tuple element is, for the order of its position.
enum element_class : unsigned {
    no_class = 0,
    int_class = 1,       // exact int within 64 bits, or bool
    float_class = 2,     // exact float, not NaN
    text_class = 4,      // exact str with UTF-8 text
    bytes_class = 8,     // exact bytes
    date_class = 16,     // exact date
    datetime_class = 32, // exact naive datetime
    unknown_class = 64,  // anything else: the column keeps Python's comparison
};

constexpr std::int64_t exact_limit = std::int64_t{1} << 53;

// Bytes of the encoding of an int or a date's code in a position of its
// own class: the first byte, then the fewest that hold the value.
unsigned int_size(std::int64_t v) noexcept {
    const std::uint64_t u = v < 0 ? ~static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    return 1 + (static_cast<unsigned>(std::bit_width(u)) + 7) / 8;
}

struct element_info {
    element_class cls = no_class;
    bool wide = false;  // an int not exactly a double
    // Bytes of the element's encoding in a position that holds its class
    // alone (text: filled in after the UTF-8 check).
    unsigned size = 0;
    std::int64_t value = 0;  // ints and bools; the code of a date or datetime
};

constexpr unsigned double_size = 9;

// Bytes of the encoding of a text or bytes element (put_bytes below), or,
// for one too long to be part of a key of eight bytes, any larger count.
unsigned text_size(const char* p, std::size_t n) noexcept {
    if (n > 8) return 16;
    unsigned size = 3 + static_cast<unsigned>(n);
    for (std::size_t i = 0; i < n; ++i) size += p[i] == '\0';
    return size;
}

element_info of_int_class(element_class cls, std::int64_t v, bool wide = false) noexcept {
    return {cls, wide, int_size(v), v};
}

element_info classify(PyObject* e, bool dates) {
    PyTypeObject* t = Py_TYPE(e);
    if (t == &PyBool_Type) return of_int_class(int_class, e == Py_True ? 1 : 0);
    if (t == &PyLong_Type) {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(e, &overflow);
        if (overflow != 0) return {unknown_class};
        return of_int_class(int_class, v, v > exact_limit || v < -exact_limit);
    }
    if (t == &PyFloat_Type) {
        return {std::isnan(PyFloat_AS_DOUBLE(e)) ? unknown_class : float_class, false, double_size};
    }
    if (t == &PyUnicode_Type) return {text_class};
    if (t == &PyBytes_Type) {
        return {bytes_class, false, text_size(bytes_of(e).data(), bytes_of(e).size())};
    }
    if (dates && PyDate_CheckExact(e)) return of_int_class(date_class, date_code(e));
    if (dates && is_naive_datetime(e)) return of_int_class(datetime_class, datetime_code(e));
    return {unknown_class};
}

// Tuples longer than this keep Python's comparison.
constexpr std::size_t max_positions = 16;

// Per position: the classes seen there, and whether an int is too wide for
// the order of a position that mixes ints and floats.
struct position_classes {
    unsigned seen[max_positions] = {};
    bool wide[max_positions] = {};

    // Every position holds one class, or ints and floats with every int exact as a double.
    bool ordered() const noexcept {
        for (std::size_t i = 0; i < max_positions; ++i) {
            unsigned s = seen[i];
            if (s & unknown_class) return false;
            if (s == (int_class | float_class)) {
                if (wide[i]) return false;
                continue;
            }
            if (s & (s - 1)) return false;  // more than one class
        }
        return true;
    }
};

// --- byte encodings whose unsigned lexicographic order is the value order ---

// Ints: a first byte that orders by sign and length (0x77..0x88), then the
// fewest big-endian bytes. Never starts with 0x00, the end of a tuple.
unsigned char* put_int(unsigned char* o, std::int64_t v) noexcept {
    const unsigned n = int_size(v) - 1;
    const auto u = static_cast<std::uint64_t>(v);
    *o++ = static_cast<unsigned char>(v < 0 ? 0x7F - n : 0x80 + n);
    for (unsigned k = n; k-- > 0;) *o++ = static_cast<unsigned char>(u >> (8 * k));
    return o;
}

// Doubles: a 0x01 tag, then the eight bytes of the order-preserving code.
unsigned char* put_double(unsigned char* o, double d) noexcept {
    const std::uint64_t b = double_code(d);
    *o++ = 1;
    for (unsigned k = 8; k-- > 0;) *o++ = static_cast<unsigned char>(b >> (8 * k));
    return o;
}

// Text and bytes: a 0x01 tag, each 0x00 as 0x00 0xFF, and 0x00 0x00 at the
// end, so that a prefix sorts first.
unsigned char* put_bytes(unsigned char* o, const char* p, std::size_t n) noexcept {
    *o++ = 1;
    for (std::size_t i = 0; i < n; ++i) {
        *o++ = static_cast<unsigned char>(p[i]);
        if (p[i] == '\0') *o++ = 0xFF;
    }
    *o++ = 0;
    *o++ = 0;
    return o;
}

// Room the encoding of one element may take.
std::size_t element_bound(PyObject* e) noexcept {
    if (PyUnicode_CheckExact(e)) return 3 + 2 * (*str_utf8(e)).size();  // checked to have UTF-8 text before
    if (PyBytes_CheckExact(e)) return 3 + 2 * bytes_of(e).size();
    return 9;
}

unsigned char* put_element(unsigned char* o, PyObject* e, unsigned position_class) noexcept {
    PyTypeObject* t = Py_TYPE(e);
    if (position_class == (int_class | float_class)) {
        double d = t == &PyFloat_Type ? PyFloat_AS_DOUBLE(e)
                   : t == &PyBool_Type ? (e == Py_True ? 1.0 : 0.0)
                                       : static_cast<double>(PyLong_AsLongLong(e));
        return put_double(o, d);
    }
    switch (position_class) {
        case int_class:
            return put_int(o, t == &PyBool_Type ? (e == Py_True ? 1 : 0) : PyLong_AsLongLong(e));
        case float_class:
            return put_double(o, PyFloat_AS_DOUBLE(e));
        case text_class: {
            std::string_view u = *str_utf8(e);  // checked to have UTF-8 text before
            return put_bytes(o, u.data(), u.size());
        }
        case bytes_class:
            return put_bytes(o, bytes_of(e).data(), bytes_of(e).size());
        case date_class:
            return put_int(o, date_code(e));
        default:  // datetime_class
            return put_int(o, datetime_code(e));
    }
}

// The int key of an encoding of at most eight bytes: the bytes, zero-padded,
// in order of significance. Exact for encodings none of which is a prefix of
// another.
std::uint64_t packed_code(const unsigned char* b) noexcept {
    std::uint64_t k = 0;
    for (unsigned i = 0; i < 8; ++i) k = (k << 8) | b[i];
    return k ^ sign_bit;
}

// Bytes of up to seven bytes: the zero-padded bytes, then the length, so that
// b'a' sorts before b'a\x00'.
sort_value short_bytes_key(const char* p, std::size_t n) noexcept {
    unsigned char b[8] = {};
    std::memcpy(b, p, n);
    b[7] = static_cast<unsigned char>(n);
    return sort_value::of_int(static_cast<std::int64_t>(packed_code(b)));
}

class column_view {
public:
    column_view(sort_value* values, std::size_t rows, std::size_t width, std::size_t column) noexcept
        : values_(values), rows_(rows), width_(width), column_(column) {}
    std::size_t size() const noexcept { return rows_; }
    sort_value& operator[](std::size_t r) const noexcept { return values_[r * width_ + column_]; }

private:
    sort_value* values_;
    std::size_t rows_, width_, column_;
};

void reprofile(column_view col, column_profile& profile) noexcept {
    profile = column_profile{};
    for (std::size_t r = 0; r < col.size(); ++r) profile.note(col[r]);
}

// The type every object key of the column has, or null when they differ.
PyTypeObject* common_type(column_view col) noexcept {
    PyTypeObject* type = nullptr;
    for (std::size_t r = 0; r < col.size(); ++r) {
        if (col[r].kind() != key_kind::object_key) continue;
        PyTypeObject* t = Py_TYPE(col[r].as_object());
        if (type == nullptr) {
            type = t;
        } else if (t != type) {
            return nullptr;
        }
    }
    return type;
}

void encode_bytes_column(column_view col) {
    bool short_only = true;
    for (std::size_t r = 0; r < col.size(); ++r) {
        if (col[r].kind() == key_kind::object_key) short_only &= bytes_of(col[r].as_object()).size() <= 7;
    }
    for (std::size_t r = 0; r < col.size(); ++r) {
        if (col[r].kind() != key_kind::object_key) continue;
        PyObject* b = col[r].as_object();  // the store keeps it, and so its bytes
        const char* p = bytes_of(b).data();
        auto n = bytes_of(b).size();
        col[r] = short_only ? short_bytes_key(p, n) : sort_value::of_text(p, n);
    }
}

// Tuples: each element in the encoding of its position's class, a tuple's
// end as 0x00 (below the first byte of any element). When every encoding
// takes eight bytes or fewer, they become int keys. False when the column
// keeps its object keys.
result<bool> encode_tuple_column(column_view col, key_store& store) {
    bool dates = false;
    position_classes classes;
    // Each tuple's encoding is written as its elements are classified, for
    // as long as it fits in eight bytes with every element in the encoding
    // of its own class. If all of them fit, those are the encodings: a
    // position that mixed ints and floats would hold a float, whose nine
    // bytes fit nowhere.
    constexpr std::size_t inline_rows = 64;
    std::uint64_t inline_codes[inline_rows];
    std::vector<std::uint64_t> heap_codes;
    if (col.size() > inline_rows) heap_codes.resize(col.size());
    std::uint64_t* codes = col.size() > inline_rows ? heap_codes.data() : inline_codes;
    bool fits = true;
    for (std::size_t r = 0; r < col.size(); ++r) {
        if (col[r].kind() != key_kind::object_key) continue;
        const tuple_view t(col[r].as_object());
        if (static_cast<std::size_t>(t.size()) > max_positions) return false;
        // Eight bytes are used; the end byte and the padding stay zero. The
        // rest is room that the writers cannot be seen not to need.
        unsigned char packed[32] = {};
        unsigned size = 1;             // the end byte
        for (Py_ssize_t i = 0; i < t.size(); ++i) {
            PyObject* e = t.items()[i];
            element_info info = classify(e, dates);
            if (info.cls == unknown_class && !dates && named_like_date(Py_TYPE(e))) {
                result<bool> imported = datetime_api();
                if (!imported) return std::move(imported.error());
                dates = *imported;
                info = classify(e, dates);
            }
            if (info.cls == unknown_class) return false;
            const char* text = nullptr;
            Py_ssize_t text_length = 0;
            if (info.cls == text_class) {
                result<std::optional<std::string_view>> u = unless_ordinary(str_utf8(e));
                if (!u) return std::move(u.error());
                if (!*u) return false;  // lone surrogates: Python compares
                text = (*u)->data();
                text_length = static_cast<Py_ssize_t>((*u)->size());
                info.size = text_size(text, static_cast<std::size_t>(text_length));
            } else if (info.cls == bytes_class) {
                text = bytes_of(e).data();
                text_length = static_cast<Py_ssize_t>(bytes_of(e).size());
            }
            classes.seen[i] |= info.cls;
            classes.wide[i] |= info.wide;
            if (fits && size + info.size <= 8) {
                unsigned char* o = packed + (size - 1);
                if (text != nullptr) {
                    put_bytes(o, text, static_cast<std::size_t>(text_length));
                } else {
                    put_int(o, info.value);
                }
            }
            size += info.size;
        }
        fits &= size <= 8;
        if (fits) codes[r] = packed_code(packed);
    }
    if (!classes.ordered()) return false;

    if (fits) {
        for (std::size_t r = 0; r < col.size(); ++r) {
            if (col[r].kind() == key_kind::object_key) col[r] = sort_value::of_int(static_cast<std::int64_t>(codes[r]));
        }
        return true;
    }

    std::vector<unsigned char> long_buffer;
    for (std::size_t r = 0; r < col.size(); ++r) {
        if (col[r].kind() != key_kind::object_key) continue;
        const tuple_view t(col[r].as_object());
        const Py_ssize_t len = t.size();
        PyObject* const* elements = t.items();
        std::size_t bound = 1;
        for (Py_ssize_t i = 0; i < len; ++i) bound += element_bound(elements[i]);
        unsigned char buffer[256];
        unsigned char* start = buffer;
        if (bound > sizeof buffer) {
            long_buffer.resize(bound);
            start = long_buffer.data();
        }
        unsigned char* o = start;
        for (Py_ssize_t i = 0; i < len; ++i) o = put_element(o, elements[i], classes.seen[i]);
        *o++ = 0;
        auto n = static_cast<std::size_t>(o - start);
        col[r] = sort_value::of_text(store.copy_text(reinterpret_cast<const char*>(start), n), n);
    }
    return true;
}

// Exact dates, or exact naive datetimes; false (nothing changed) otherwise.
bool encode_date_column(column_view col, PyTypeObject* type) {
    if (type == PyDateTimeAPI->DateType) {
        for (std::size_t r = 0; r < col.size(); ++r) {
            if (col[r].kind() == key_kind::object_key) col[r] = sort_value::of_int(date_code(col[r].as_object()));
        }
        return true;
    }
    if (type != PyDateTimeAPI->DateTimeType) return false;
    for (std::size_t r = 0; r < col.size(); ++r) {
        if (col[r].kind() == key_kind::object_key && !is_naive_datetime(col[r].as_object())) return false;
    }
    for (std::size_t r = 0; r < col.size(); ++r) {
        if (col[r].kind() == key_kind::object_key) col[r] = sort_value::of_int(datetime_code(col[r].as_object()));
    }
    return true;
}

}  // namespace

status encode_object_columns(sort_value* values, std::size_t rows, std::size_t width,
                             column_profile* profiles, key_store& store) {
    constexpr unsigned null = column_profile::bit(key_kind::null_key);
    constexpr unsigned objects = column_profile::bit(key_kind::object_key);
    for (std::size_t c = 0; c < width; ++c) {
        column_profile& profile = profiles[c];
        if (!(profile.kinds & objects) || !profile.only(null | objects)) continue;
        column_view col(values, rows, width, c);
        PyTypeObject* type = common_type(col);
        if (type == nullptr) continue;
        if (type == &PyBytes_Type) {
            encode_bytes_column(col);
        } else if (type == &PyTuple_Type) {
            result<bool> encoded = encode_tuple_column(col, store);
            if (!encoded) return std::move(encoded.error());
            if (!*encoded) continue;
        } else if (named_like_date(type)) {
            result<bool> dates = datetime_api();
            if (!dates) return std::move(dates.error());
            if (!*dates) continue;
            if (!encode_date_column(col, type)) continue;
        } else {
            continue;
        }
        reprofile(col, profile);
    }
    return ok();
}

}  // namespace tavo::dictsort
