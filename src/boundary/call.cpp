#include "boundary/call.hpp"

#include <mutex>
#include <vector>

namespace tavo {
namespace detail {

constinit thread_local std::int64_t lock_depth TAVO_TLS_MODEL = 0;
std::atomic<bool> releases_pending{false};

namespace {

struct pending_release_list {
    std::mutex mutex;
    std::vector<PyObject*> objects;
};

pending_release_list& pending() {
    static pending_release_list* list = new pending_release_list;  // lives for the process
    return *list;
}

}  // namespace

void apply_pending_releases() noexcept {
    std::vector<PyObject*> taken;
    {
        std::lock_guard<std::mutex> lock(pending().mutex);
        taken.swap(pending().objects);
        releases_pending.store(false, std::memory_order_release);
    }
    for (PyObject* p : taken) Py_DECREF(p);
}

void raise_error(error_value&& e) noexcept { std::move(e).raise(); }

void raise_panic(std::string&& text) noexcept { error_value::panic(std::move(text)).raise(); }

void raise_panic(const char* text) noexcept {
    try {
        raise_panic(std::string(text));
    } catch (...) {  // no memory for the text
        ensure_error_pending();
    }
}

}  // namespace detail

void release_reference(PyObject* p) noexcept {
    if (detail::lock_depth >= 1) {
        Py_DECREF(p);
        return;
    }
    try {
        std::lock_guard<std::mutex> lock(detail::pending().mutex);
        detail::pending().objects.push_back(p);
        detail::releases_pending.store(true, std::memory_order_release);
    } catch (...) {
        // Out of memory while queueing: the reference is leaked rather than
        // released without the interpreter lock.
    }
}

}  // namespace tavo
