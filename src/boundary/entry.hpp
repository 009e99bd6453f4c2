// A module function's fast-call wrapper: binds the call's arguments to the
// function's description, then runs the body inside the call boundary.
#pragma once

#include "boundary/args.hpp"
#include "boundary/call.hpp"

namespace tavo {

using body_fn = result<ref> (*)(call_args&);

// Never inlined into a wrapper that only passes some calls on to it (the
// short text path): its frame would be set up on that path too.
// `Rules`: whose rules the call keeps (error.hpp).
template <const function_description& D, body_fn Body, call_rules Rules = call_rules::nine>
[[gnu::noinline]] PyObject* entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return run_call<Rules>([&]() -> result<ref> {
        if (plain_positional(D, nargs, kwnames)) {
            call_args a;
            bind_positional(a, D, args, nargs);
            return Body(a);
        }
        if constexpr (D.keyword_only > 0) {
            if (kwnames) {
                call_args a;
                if (bind_keyword_only(a, D, args, nargs, kwnames)) return Body(a);
            }
        }
        if (plain_gathered(D, kwnames)) {
            call_args a;
            bind_gathered(a, D, args, nargs);
            return Body(a);
        }
        result<call_args> bound = bind_arguments(D, args, nargs, kwnames);
        if (!bound) return std::move(bound.error());
        return Body(*bound);
    });
}

// A fast-call wrapper stored as CPython's generic function pointer (the
// method table's METH_FASTCALL | METH_KEYWORDS entries).
template <auto Wrapper>
PyCFunction as_method() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(Wrapper));
}

template <const function_description& D, body_fn Body>
PyCFunction wrapper_of() {
    return as_method<&entry<D, Body>>();
}

// The wrapper of a function of the package tavo: its call keeps the
// package's rules (a failed allocation is MemoryError).
template <const function_description& D, body_fn Body>
PyCFunction package_wrapper_of() {
    return as_method<&entry<D, Body, call_rules::package>>();
}

}  // namespace tavo
