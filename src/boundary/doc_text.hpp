// Docstrings joined from shared parts at compile time: `doc("text") + part + "text"`,
// and `kept<...>`, the joined text's characters kept for the process.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>

namespace tavo {

template <std::size_t N>
struct doc_text {
    std::array<char, N + 1> chars{};  // N characters and a NUL
};

template <std::size_t N>
consteval doc_text<N - 1> doc(const char (&s)[N]) {
    doc_text<N - 1> out;
    std::copy_n(s, N, out.chars.begin());
    return out;
}

template <std::size_t A, std::size_t B>
consteval doc_text<A + B> operator+(const doc_text<A>& a, const doc_text<B>& b) {
    doc_text<A + B> out;
    std::copy_n(a.chars.begin(), A, out.chars.begin());
    std::copy_n(b.chars.begin(), B, out.chars.begin() + A);
    return out;
}

template <std::size_t A, std::size_t B>
consteval doc_text<A + B - 1> operator+(const doc_text<A>& a, const char (&b)[B]) {
    return a + doc(b);
}

template <std::size_t A, std::size_t B>
consteval doc_text<A - 1 + B> operator+(const char (&a)[A], const doc_text<B>& b) {
    return doc(a) + b;
}

template <doc_text T>
constexpr const char* kept = T.chars.data();

}  // namespace tavo
