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

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tavo::dictsort {

namespace detail {

// Binary insertion, after every element not greater than x (stable).
template <class T, class Less>
void insertion_sort(T* a, std::size_t n, Less& less) {
    for (std::size_t i = 1; i < n; ++i) {
        T x = a[i];
        std::size_t lo = 0, hi = i;
        while (lo < hi) {
            std::size_t mid = lo + (hi - lo) / 2;
            if (less(x, a[mid])) {
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
}

// Sorts a[0, n), using buf[0, n / 2): both halves recursively, then the left
// half is moved to buf and merged back, the left winning ties. The merge
// writes at k = i + (j - h) < j, so it never overtakes the unread right half.
// Depth first, so the small merges run while their elements are in cache.
template <class T, class Less>
void merge_sort(T* a, std::size_t n, T* buf, Less& less) {
    constexpr std::size_t run = 16;
    if (n <= run) {
        insertion_sort(a, n, less);
        return;
    }
    std::size_t h = n / 2;
    merge_sort(a, h, buf, less);
    merge_sort(a + h, n - h, buf, less);
    if (!less(a[h], a[h - 1])) return;  // already in order
    std::memcpy(buf, a, h * sizeof(T));
    std::size_t i = 0, j = h, k = 0;
    while (i < h && j < n) {
        bool right = less(a[j], buf[i]);
        a[k++] = right ? a[j] : buf[i];
        j += right;
        i += !right;
    }
    std::memcpy(a + k, buf + i, (h - i) * sizeof(T));
}

}  // namespace detail

// Stable merge sort of a[0, n) with `scratch` of at least n / 2 elements; T
// must be trivially copyable. Terminates after O(n log n) comparisons
// whatever `less` answers. If `less` throws, a is left with some of its
// elements overwritten by others: callers then discard it.
template <class T, class Less>
void stable_merge_sort(T* a, std::size_t n, T* scratch, Less less) {
    detail::merge_sort(a, n, scratch, less);
}

// A row with an order-preserving unsigned key.
struct keyed_row {
    std::uint64_t key;
    std::uint64_t row;
};

// Stable sort of rows[0, n) by ascending key with `scratch` of n rows: a
// least-significant-digit radix sort by bytes that skips the byte positions
// where every key agrees. Short inputs are merge sorted.
inline void radix_sort_rows(keyed_row* rows, std::size_t n, keyed_row* scratch) {
    if (n < 256) {
        stable_merge_sort(rows, n, scratch, [](const keyed_row& x, const keyed_row& y) { return x.key < y.key; });
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
