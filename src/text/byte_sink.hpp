// A growable output byte buffer: where the text conversions write.
//
// Small outputs stay in the inline storage; larger ones get one block from
// std::malloc, grown geometrically. Writers ask for room first
// (`reserve_more`) and then write through the cursor without further checks.
// Nothing here knows of Python: the conversions that write into it run with
// or without the interpreter lock, on any thread.
#pragma once

#include "text/utf8.hpp"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

namespace tavo {

class byte_sink {
public:
    explicit byte_sink(std::size_t capacity) {
        if (capacity > sizeof(inline_)) {
            begin_ = allocate(capacity);
            limit_ = begin_ + capacity;
        }
        cursor = begin_;
    }
    byte_sink(const byte_sink&) = delete;
    byte_sink& operator=(const byte_sink&) = delete;
    ~byte_sink() {
        if (begin_ != inline_) std::free(begin_);
    }

    // Makes room for `n` more bytes at the cursor; std::bad_alloc when there
    // is no memory for them.
    void reserve_more(std::size_t n) {
        if (static_cast<std::size_t>(limit_ - cursor) < n) grow(n);
    }

    void put(char c) noexcept { *cursor++ = c; }
    void put(const void* p, std::size_t n) noexcept {
        std::memcpy(cursor, p, n);
        cursor += n;
    }
    void put(std::string_view s) noexcept { put(s.data(), s.size()); }
    void put_code_point(char32_t c) noexcept { cursor = utf8::encode(cursor, c); }

    const char* data() const noexcept { return begin_; }
    std::size_t size() const noexcept { return static_cast<std::size_t>(cursor - begin_); }
    // The bytes from data() that may be read: those written and the room after them.
    std::size_t capacity() const noexcept { return static_cast<std::size_t>(limit_ - begin_); }

    // Empties the buffer; its room stays.
    void clear() noexcept { cursor = begin_; }

    // Hands the bytes over as one block from std::malloc, which the caller
    // frees with std::free; `size` receives their count. The buffer is left
    // empty, back on its inline storage. A block is never of size zero.
    char* take(std::size_t& size) {
        size = this->size();
        char* block;
        if (begin_ == inline_) {
            block = allocate(size == 0 ? 1 : size);
            std::memcpy(block, inline_, size);
        } else {
            block = begin_;
        }
        begin_ = inline_;
        limit_ = inline_ + sizeof(inline_);
        cursor = begin_;
        return block;
    }

private:
    static char* allocate(std::size_t n) {
        void* p = std::malloc(n);
        if (!p) throw std::bad_alloc();
        return static_cast<char*>(p);
    }

    void grow(std::size_t n) {
        const std::size_t used = size();
        const std::size_t old_capacity = static_cast<std::size_t>(limit_ - begin_);
        if (n > static_cast<std::size_t>(-1) / 2 - used) throw std::bad_alloc();
        std::size_t capacity = old_capacity * 2;
        if (capacity < used + n) capacity = used + n;
        char* bigger;
        if (begin_ == inline_) {
            bigger = allocate(capacity);
            std::memcpy(bigger, inline_, used);
        } else {
            bigger = static_cast<char*>(std::realloc(begin_, capacity));
            if (!bigger) throw std::bad_alloc();
        }
        begin_ = bigger;
        limit_ = begin_ + capacity;
        cursor = begin_ + used;
    }

    char inline_[4096];
    char* begin_ = inline_;
    char* limit_ = inline_ + sizeof(inline_);

public:
    char* cursor;
};

}  // namespace tavo
