// A function declared once, beside its body's declaration: its description
// (name, parameters, defaults), its body, its docstring after the text
// signature (which the module table makes from the description), and where its
// users see it. A module table (src/modules/) makes its row of each.
#pragma once

#include "boundary/args.hpp"
#include "boundary/doc_text.hpp"
#include "boundary/entry.hpp"

#include <cstddef>

namespace tavo {

template <std::size_t N>
struct declared_function {
    const function_description& desc;
    body_fn body;
    doc_text<N> doc;
    const char* attribute = nullptr;  // its name in its module; nullptr: desc.name
    const char* module = nullptr;     // its __module__; nullptr: its module's name
};

template <std::size_t N>
declared_function(const function_description&, body_fn, doc_text<N>) -> declared_function<N>;
template <std::size_t N>
declared_function(const function_description&, body_fn, doc_text<N>, const char*) -> declared_function<N>;
template <std::size_t N>
declared_function(const function_description&, body_fn, doc_text<N>, const char*, const char*)
    -> declared_function<N>;

// Declared functions in the order of their module's table.
template <const auto&... F>
struct declared_list {};

}  // namespace tavo
