// Native keys for date, naive datetime, bytes and tuple columns.
#include "dictsort/object_keys.hpp"

#include <datetime.h>

#include <cmath>
#include <cstring>
#include <string>

namespace tavo::dictsort {
namespace {

// The datetime C API, imported the first time a value looks like a date.
// Its pointer (PyDateTimeAPI) belongs to this file.
status datetime_api(bool& available) {
    if (PyDateTimeAPI == nullptr) {
        PyDateTime_IMPORT;
        if (PyDateTimeAPI == nullptr) {
            available = false;
            return discard_ordinary_error();
        }
    }
    available = true;
    return ok();
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

struct element_info {
    element_class cls = no_class;
    bool wide = false;  // an int not exactly a double
};

element_info classify(PyObject* e, bool dates) {
    PyTypeObject* t = Py_TYPE(e);
    if (t == &PyBool_Type) return {int_class, false};
    if (t == &PyLong_Type) {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(e, &overflow);
        if (overflow != 0) return {unknown_class, false};
        return {int_class, v > exact_limit || v < -exact_limit};
    }
    if (t == &PyFloat_Type) return {std::isnan(PyFloat_AS_DOUBLE(e)) ? unknown_class : float_class, false};
    if (t == &PyUnicode_Type) return {text_class, false};  // UTF-8 checked when encoding
    if (t == &PyBytes_Type) return {bytes_class, false};
    if (dates && PyDate_CheckExact(e)) return {date_class, false};
    if (dates && is_naive_datetime(e)) return {datetime_class, false};
    return {unknown_class, false};
}

// Per position: the classes seen there, and whether an int is too wide for
// the order of a position that mixes ints and floats.
struct position_classes {
    std::vector<unsigned> seen;
    std::vector<char> wide;

    void note(std::size_t i, element_info info) {
        if (i >= seen.size()) seen.resize(i + 1, 0), wide.resize(i + 1, 0);
        seen[i] |= info.cls;
        wide[i] |= info.wide;
    }
    // Every position holds one class, or ints and floats with every int exact as a double.
    bool ordered() const noexcept {
        for (std::size_t i = 0; i < seen.size(); ++i) {
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

constexpr std::uint64_t sign_bit = std::uint64_t{1} << 63;

// Ints: a first byte that orders by sign and length (0x77..0x88), then the
// fewest big-endian bytes. Never starts with 0x00, the end of a tuple.
void put_int(std::string& out, std::int64_t v) {
    std::uint64_t u = v < 0 ? ~static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    unsigned n = 0;
    while (n < 8 && (u >> (8 * n)) != 0) ++n;
    if (v < 0) u = ~u;
    out.push_back(static_cast<char>(v < 0 ? 0x7F - n : 0x80 + n));
    for (unsigned k = n; k-- > 0;) out.push_back(static_cast<char>((u >> (8 * k)) & 0xFF));
}

void put_double(std::string& out, double d) {
    if (d == 0.0) d = 0.0;  // -0.0 equals 0.0
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    b = (b & sign_bit) ? ~b : b | sign_bit;
    out.push_back('\x01');
    for (unsigned k = 8; k-- > 0;) out.push_back(static_cast<char>((b >> (8 * k)) & 0xFF));
}

// Text and bytes: 0x00 becomes 0x00 0xFF and the end is 0x00 0x00, so a
// prefix sorts first.
void put_bytes(std::string& out, const char* p, std::size_t n) {
    out.push_back('\x01');
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(p[i]);
        if (p[i] == '\0') out.push_back('\xFF');
    }
    out.push_back('\0');
    out.push_back('\0');
}

// False when a str element has no UTF-8 text (the exception is discarded).
bool put_element(std::string& out, PyObject* e, unsigned position_class) {
    PyTypeObject* t = Py_TYPE(e);
    if (position_class == (int_class | float_class)) {
        double d = t == &PyFloat_Type ? PyFloat_AS_DOUBLE(e)
                   : t == &PyBool_Type ? (e == Py_True ? 1.0 : 0.0)
                                       : static_cast<double>(PyLong_AsLongLong(e));
        put_double(out, d);
        return true;
    }
    switch (position_class) {
        case int_class:
            put_int(out, t == &PyBool_Type ? (e == Py_True ? 1 : 0) : PyLong_AsLongLong(e));
            return true;
        case float_class:
            put_double(out, PyFloat_AS_DOUBLE(e));
            return true;
        case text_class: {
            Py_ssize_t n = 0;
            const char* u = PyUnicode_AsUTF8AndSize(e, &n);
            if (!u) return false;
            put_bytes(out, u, static_cast<std::size_t>(n));
            return true;
        }
        case bytes_class:
            put_bytes(out, PyBytes_AS_STRING(e), static_cast<std::size_t>(PyBytes_GET_SIZE(e)));
            return true;
        case date_class:
            put_int(out, date_code(e));
            return true;
        case datetime_class:
            put_int(out, datetime_code(e));
            return true;
        default:
            return false;
    }
}

// Up to eight bytes, zero-padded, as an int key that orders as the bytes do.
// Exact for encodings none of which is a prefix of another.
sort_value packed_key(const char* p, std::size_t n) noexcept {
    unsigned char b[8] = {};
    std::memcpy(b, p, n);
    std::uint64_t k = 0;
    for (unsigned char c : b) k = (k << 8) | c;
    return sort_value::of_int(static_cast<std::int64_t>(k ^ sign_bit));
}

// Bytes of up to seven bytes: the zero-padded bytes, then the length, so that
// b'a' sorts before b'a\x00'.
sort_value short_bytes_key(const char* p, std::size_t n) noexcept {
    unsigned char b[8] = {};
    std::memcpy(b, p, n);
    b[7] = static_cast<unsigned char>(n);
    std::uint64_t k = 0;
    for (unsigned char c : b) k = (k << 8) | c;
    return sort_value::of_int(static_cast<std::int64_t>(k ^ sign_bit));
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
        if (col[r].kind() == key_kind::object_key) short_only &= PyBytes_GET_SIZE(col[r].as_object()) <= 7;
    }
    for (std::size_t r = 0; r < col.size(); ++r) {
        if (col[r].kind() != key_kind::object_key) continue;
        PyObject* b = col[r].as_object();  // the store keeps it, and so its bytes
        const char* p = PyBytes_AS_STRING(b);
        auto n = static_cast<std::size_t>(PyBytes_GET_SIZE(b));
        col[r] = short_only ? short_bytes_key(p, n) : sort_value::of_text(p, n);
    }
}

// Tuples: each element in the encoding of its position's class, a tuple's
// end as 0x00 (below the first byte of any element).
status encode_tuple_column(column_view col, key_store& store, bool& done) {
    done = false;
    bool dates = false;
    position_classes classes;
    for (std::size_t r = 0; r < col.size(); ++r) {
        if (col[r].kind() != key_kind::object_key) continue;
        PyObject* t = col[r].as_object();
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(t); ++i) {
            PyObject* e = PyTuple_GET_ITEM(t, i);
            if (!dates && named_like_date(Py_TYPE(e))) {
                status imported = datetime_api(dates);
                if (!imported) return imported;
            }
            element_info info = classify(e, dates);
            if (info.cls == unknown_class) return ok();
            classes.note(static_cast<std::size_t>(i), info);
        }
    }
    if (!classes.ordered()) return ok();

    // Encode every tuple before changing any key: a str without UTF-8 text
    // leaves the column as it was.
    std::vector<std::string> encoded(col.size());
    bool fits = true;
    for (std::size_t r = 0; r < col.size(); ++r) {
        if (col[r].kind() != key_kind::object_key) continue;
        PyObject* t = col[r].as_object();
        std::string& out = encoded[r];
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(t); ++i) {
            if (!put_element(out, PyTuple_GET_ITEM(t, i), classes.seen[static_cast<std::size_t>(i)])) {
                return discard_ordinary_error();
            }
        }
        out.push_back('\0');
        fits &= out.size() <= 8;
    }
    for (std::size_t r = 0; r < col.size(); ++r) {
        if (col[r].kind() != key_kind::object_key) continue;
        const std::string& s = encoded[r];
        col[r] = fits ? packed_key(s.data(), s.size()) : sort_value::of_text(store.copy_text(s.data(), s.size()), s.size());
    }
    done = true;
    return ok();
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
            bool done = false;
            status encoded = encode_tuple_column(col, store, done);
            if (!encoded) return encoded;
            if (!done) continue;
        } else if (named_like_date(type)) {
            bool dates = false;
            status imported = datetime_api(dates);
            if (!imported) return imported;
            if (!dates) continue;
            if (!encode_date_column(col, type)) continue;
        } else {
            continue;
        }
        reprofile(col, profile);
    }
    return ok();
}

}  // namespace tavo::dictsort
