// libstdc++ 11 and later: `std::allocator<T>::allocate` (so every vector and
// string of the module) refers to the library's out-of-line helper
// `std::__throw_bad_array_new_length` for an element count whose byte size
// would not fit a size_t. The helper first appeared in libstdc++.so with
// symbol version GLIBCXX_3.4.29 (GCC 11, 2021); importing it from there would
// make the module need a libstdc++ at least that new, which manylinux_2_28
// systems (GCC 8's GLIBCXX_3.4.25) do not have, for a call that only
// throws an exception the module already knows.
//
// So the module carries its own definition, with the library's meaning (throw
// `std::bad_array_new_length`, whose type information libstdc++ has had since
// CXXABI_1.3.8, GCC 4.9), and binds its references to it at link time: the
// definition is hidden and src/boundary/exports.map exports nothing but
// PyInit__tavo, so it never stands in for the library's own elsewhere in the
// process. Built against another standard library (LLVM's libc++ in the
// release wheels, tools/release_wheels.sh) or an older libstdc++, nothing
// refers to the name and this file is empty.
#include <new>

#if defined(__GLIBCXX__) && defined(_GLIBCXX_RELEASE) && _GLIBCXX_RELEASE >= 11
namespace std {
[[noreturn]] __attribute__((visibility("hidden"))) void __throw_bad_array_new_length() {
    throw bad_array_new_length();
}
}  // namespace std
#endif
