// The one output buffer of a text transform, and the `str` made from it.
//
// Small texts stay in the inline storage; larger ones get one heap block that
// grows only when case mappings expand the text. Writers ask for room first
// (`reserve_more`) and then write through the cursor without further checks.
#pragma once

#include "boundary/views.hpp"
#include "text/utf8.hpp"

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace tavo {

class text_buffer {
public:
    explicit text_buffer(std::size_t capacity) {
        if (capacity > sizeof(inline_)) {
            heap_ = std::make_unique_for_overwrite<char[]>(capacity);
            begin_ = heap_.get();
            limit_ = begin_ + capacity;
        }
        cursor = begin_;
    }
    text_buffer(const text_buffer&) = delete;
    text_buffer& operator=(const text_buffer&) = delete;

    // Makes room for `n` more bytes at the cursor.
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

    char* cursor;

private:
    void grow(std::size_t n) {
        const std::size_t used = size();
        std::size_t capacity = static_cast<std::size_t>(limit_ - begin_) * 2;
        if (capacity < used + n) capacity = used + n;
        auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
        std::memcpy(bigger.get(), begin_, used);
        heap_ = std::move(bigger);
        begin_ = heap_.get();
        limit_ = begin_ + capacity;
        cursor = begin_ + used;
    }

    char inline_[4096];
    std::unique_ptr<char[]> heap_;
    char* begin_ = inline_;
    char* limit_ = inline_ + sizeof(inline_);
};

}  // namespace tavo
