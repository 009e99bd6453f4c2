// A function's text signature, the first line of its docstring, made from its
// description at compile time: "parse(s, *, decimal='.')\n--\n\n". A
// description that contradicts itself (a count that is not its names', a
// required parameter after an optional one, a keyword-only one without a
// default) does not compile.
#pragma once

#include "boundary/args.hpp"
#include "boundary/doc_text.hpp"

#include <string_view>

namespace tavo {
namespace signature_detail {

consteval bool well_formed(const function_description& d) {
    if (d.gathers) return d.count == 0 && d.required == 0;
    if (d.count > d.params.size() || d.keyword_only > d.count || d.required > d.positional()) return false;
    for (std::size_t i = 0; i < d.params.size(); ++i) {
        const bool named = i < d.count;
        if (named == d.params[i].empty()) return false;
        if (!named && !d.defaults[i].empty()) return false;
        if (named && (i < d.required) != d.defaults[i].empty()) return false;
    }
    return true;
}

// Writes the signature into `out` (when given) and returns its length.
consteval std::size_t write(const function_description& d, char* out) {
    std::size_t n = 0;
    auto put = [&](std::string_view s) {
        for (char c : s) {
            if (out) out[n] = c;
            ++n;
        }
    };
    put(d.name);
    put("(");
    if (d.gathers) put("*args");
    for (std::size_t i = 0; i < d.count; ++i) {
        if (i > 0) put(", ");
        if (i == d.positional()) put("*, ");
        put(d.params[i]);
        if (!d.defaults[i].empty()) {
            put("=");
            put(d.defaults[i]);
        }
    }
    put(")\n--\n\n");
    return n;
}

}  // namespace signature_detail

template <const function_description& D>
consteval doc_text<signature_detail::write(D, nullptr)> signature() {
    static_assert(signature_detail::well_formed(D), "the description contradicts itself");
    doc_text<signature_detail::write(D, nullptr)> out;
    signature_detail::write(D, out.chars.data());
    return out;
}

}  // namespace tavo
