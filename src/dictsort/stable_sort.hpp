// Stable sorts that stay inside their arrays whatever the comparison answers.
//
// The order of key values is not a strict weak order in general (NaN, a str
// against numbers, user comparison methods that lie, raise or mutate), and
// std::sort / std::stable_sort are undefined under such a comparator. These
// sorts only ever compare and move elements at indices they have checked by
// construction, do a bounded number of steps, and leave a permutation of their
// input: under a consistent order they sort stably, under an inconsistent one
// the result is some permutation.
#pragma once

#include "boundary/error.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace tavo::dictsort {

namespace detail {

// A comparison's answer: `less` returns bool, or result<bool> when it can
// meet an exception that must end the call.
inline bool truth(bool b) noexcept { return b; }
inline bool truth(result<bool>& r) noexcept { return *r; }
template <class R>
inline constexpr bool fallible = !std::is_same_v<R, bool>;

// Binary insertion, after every element not greater than x (stable). On an
// error, x is still in its place: the array is as it was before x.
template <class T, class Less>
status insertion_sort(T* a, std::size_t n, Less& less) {
    static_assert(std::is_trivially_copyable_v<T>);  // moved with memmove
    for (std::size_t i = 1; i < n; ++i) {
        T x = a[i];
        std::size_t lo = 0, hi = i;
        while (lo < hi) {
            std::size_t mid = lo + (hi - lo) / 2;
            auto r = less(x, a[mid]);
            if constexpr (fallible<decltype(r)>) {
                if (!r) return std::move(r.error());
            }
            if (truth(r)) {
                hi = mid;
            } else {
                lo = mid + 1;
            }
        }
        if (lo != i) {
            std::memmove(a + lo + 1, a + lo, (i - lo) * sizeof(T));
            a[lo] = x;
        }
    }
    return ok();
}

// Merges a[0, h) and a[h, n): the left half is moved to buf and merged back,
// the left winning ties. The merge writes at k = i + (j - h) < j, so it never
// overtakes the unread right half; on an error the rest of the left half
// fills the gap between the two, and the array is a permutation again.
template <class T, class Less>
status merge_halves(T* a, std::size_t h, std::size_t n, T* buf, Less& less) {
    static_assert(std::is_trivially_copyable_v<T>);  // moved with memcpy
    {
        auto r = less(a[h], a[h - 1]);
        if constexpr (fallible<decltype(r)>) {
            if (!r) return std::move(r.error());
        }
        if (!truth(r)) return ok();  // already in order
    }
    std::memcpy(buf, a, h * sizeof(T));
    std::size_t i = 0, j = h, k = 0;
    status outcome = ok();
    while (i < h && j < n) {
        auto r = less(a[j], buf[i]);
        if constexpr (fallible<decltype(r)>) {
            if (!r) {
                outcome = std::move(r.error());
                break;
            }
        }
        bool right = truth(r);
        a[k++] = right ? a[j] : buf[i];
        j += right;
        i += !right;
    }
    std::memcpy(a + k, buf + i, (h - i) * sizeof(T));
    return outcome;
}

// Sorts a[0, n), using buf[0, n / 2): each stretch is split in halves, both
// halves are sorted, then merged. The order of the work is that of the
// recursive merge sort (depth first, so the small merges run while their
// elements are in cache), but the pending stretches are kept in a stack of
// their own: at most two frames per halving, so 2 * 64 frames for any n.
// The first error ends the sort, the array a permutation of its input.
template <class T, class Less>
status merge_sort(T* a, std::size_t n, T* buf, Less& less) {
    constexpr std::size_t run = 16;
    struct frame {
        std::size_t lo, n;
        bool halves_sorted;
    };
    std::array<frame, 2 * 64 + 1> stack;
    std::size_t top = 0;
    stack[top++] = {0, n, false};
    while (top > 0) {
        frame& f = stack[top - 1];
        if (f.n <= run) {
            status sorted = insertion_sort(a + f.lo, f.n, less);
            if (!sorted) return sorted;
            --top;
        } else if (!f.halves_sorted) {
            f.halves_sorted = true;
            std::size_t h = f.n / 2;
            frame right{f.lo + h, f.n - h, false};
            frame left{f.lo, h, false};
            assert(top + 2 <= stack.size());  // two frames a halving, at most 64 halvings
            stack[top++] = right;
            stack[top++] = left;  // on top: sorted first
        } else {
            status merged = merge_halves(a + f.lo, f.n / 2, f.n, buf, less);
            if (!merged) return merged;
            --top;
        }
    }
    return ok();
}

}  // namespace detail

// Stable merge sort of a[0, n) with `scratch` of at least n / 2 + 1
// elements; T must be trivially copyable. Terminates after O(n log n)
// comparisons whatever `less` answers, in constant stack. `less` returns
// bool, or result<bool> when it can fail: then the first error ends the sort
// and comes back, and a holds a permutation of its input.
template <class T, class Less>
status stable_merge_sort(T* a, std::size_t n, T* scratch, Less less) {
    static_assert(std::is_trivially_copyable_v<T>);
    return detail::merge_sort(a, n, scratch, less);
}

// A row with an order-preserving unsigned key.
struct keyed_row {
    std::uint64_t key;
    std::uint64_t row;
};
static_assert(std::is_trivially_copyable_v<keyed_row>);  // moved with memcpy

// Stable sort of rows[0, n) by ascending key with `scratch` of n rows: a
// least-significant-digit radix sort by bytes that skips the byte positions
// where every key agrees. Short inputs are merge sorted.
inline void radix_sort_rows(keyed_row* rows, std::size_t n, keyed_row* scratch) {
    if (n < 256) {
        status sorted = stable_merge_sort(rows, n, scratch, [](const keyed_row& x, const keyed_row& y) { return x.key < y.key; });
        static_cast<void>(sorted);  // a comparison of codes cannot fail
        return;
    }
    std::array<std::array<std::size_t, 256>, 8> counts{};
    for (std::size_t i = 0; i < n; ++i) {
        std::uint64_t k = rows[i].key;
        for (unsigned b = 0; b < 8; ++b) ++counts[b][(k >> (8 * b)) & 0xFF];
    }
    keyed_row* src = rows;
    keyed_row* dst = scratch;
    for (unsigned b = 0; b < 8; ++b) {
        std::array<std::size_t, 256>& c = counts[b];
        if (c[(src[0].key >> (8 * b)) & 0xFF] == n) continue;  // one bucket: the pass would change nothing
        std::size_t sum = 0;
        for (std::size_t& x : c) {
            std::size_t k = x;
            x = sum;
            sum += k;
        }
        for (std::size_t i = 0; i < n; ++i) dst[c[(src[i].key >> (8 * b)) & 0xFF]++] = src[i];
        std::swap(src, dst);
    }
    if (src != rows) std::memcpy(rows, src, n * sizeof(keyed_row));
}

}  // namespace tavo::dictsort
