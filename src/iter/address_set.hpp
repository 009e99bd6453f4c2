// A set of object addresses, for the walks that must notice a container met
// again on their current path (a list that contains itself): open addressing
// with linear probing and deletion by backward shift. The addresses are
// compared, never followed.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavo {

class address_set {
public:
    // False when `p` is already in the set.
    bool insert(PyObject* p) {
        if ((count_ + 1) * 2 > slots_.size()) grow();
        std::size_t i = home(p);
        while (slots_[i] != nullptr) {
            if (slots_[i] == p) return false;
            i = (i + 1) & mask();
        }
        slots_[i] = p;
        ++count_;
        return true;
    }

    void erase(PyObject* p) {
        std::size_t i = home(p);
        while (slots_[i] != p) {
            if (slots_[i] == nullptr) return;
            i = (i + 1) & mask();
        }
        // Shift later members of the probe run back over the hole.
        for (std::size_t j = (i + 1) & mask(); slots_[j] != nullptr; j = (j + 1) & mask()) {
            std::size_t h = home(slots_[j]);
            bool movable = (j > i) ? (h <= i || h > j) : (h <= i && h > j);
            if (movable) {
                slots_[i] = slots_[j];
                i = j;
            }
        }
        slots_[i] = nullptr;
        --count_;
    }

private:
    std::size_t mask() const noexcept { return slots_.size() - 1; }

    std::size_t home(PyObject* p) const noexcept {
        auto x = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p));
        return static_cast<std::size_t>((x * 0x9E3779B97F4A7C15ull) >> shift_);
    }

    void grow() {
        std::vector<PyObject*> old;
        old.swap(slots_);
        std::size_t size = old.empty() ? 64 : old.size() * 2;
        slots_.assign(size, nullptr);
        shift_ = 64;
        for (std::size_t s = size; s > 1; s >>= 1) --shift_;
        count_ = 0;
        for (PyObject* p : old) {
            if (p != nullptr) insert(p);
        }
    }

    std::vector<PyObject*> slots_;
    std::size_t count_ = 0;
    unsigned shift_ = 64;
};

}  // namespace tavo
