// Working arrays of a call that are short for most calls.
#pragma once

#include <cstddef>
#include <memory>

namespace tavo::dictsort {

// An array of n default-initialised elements (trivial types are left
// unwritten, as in a plain array): inside the object when n <= N, else in
// one block on the heap.
template <class T, std::size_t N>
class small_buffer {
public:
    explicit small_buffer(std::size_t n) : size_(n) {
        if (n > N) {
            heap_ = std::make_unique_for_overwrite<T[]>(n);
            data_ = heap_.get();
        } else {
            data_ = reinterpret_cast<T*>(inline_);
            std::uninitialized_default_construct_n(data_, n);
        }
    }
    small_buffer(const small_buffer&) = delete;
    small_buffer& operator=(const small_buffer&) = delete;
    ~small_buffer() {
        if (!heap_) std::destroy_n(data_, size_);
    }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }

private:
    std::size_t size_;
    T* data_;
    std::unique_ptr<T[]> heap_;
    alignas(T) unsigned char inline_[N * sizeof(T)];
};

}  // namespace tavo::dictsort
