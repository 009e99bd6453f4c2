// Reading the rows of a sort and writing them back in order.
#include "dictsort/row_list.hpp"

#include "boundary/args.hpp"

#include <algorithm>

namespace tavo::dictsort {

row_list::row_list(PyObject* list) : list_(list) {
    if constexpr (free_threaded) {
        // Private while the sort runs: out of the collector's reach, so the
        // Python code the sort runs cannot change it.
        copy_ = list_view(list).copy();
        hide_from_collector(copy_.get());
    }
}

result<ref> row_list::unsorted(bool inplace) const {
    if (inplace) return none_result();
    if (copy_) {
        // the list of one moment, seen by no other thread; the caller's now
        show_to_collector(copy_.get());
        return borrow(copy_.get());
    }
    return list_view(list_).copy();
}

result<ref> row_list::put_in_order(const std::size_t* order, std::size_t n, bool inplace, bool python_ran,
                                    bool last_try, ref* gathered) const {
    const list_view list(list_);
    // Until Python code runs, the rows are those of the copy (free-threaded
    // builds), which no other thread sees. After it, the list is read again:
    // Python code run by a lookup or a comparison (or another thread) may have
    // changed it since the extraction.
    bool from_copy = copy_ && !python_ran;
    auto fetch = [&](std::size_t row) -> ref {
        if (from_copy) return borrow(list_view(copy_.get()).items()[row]);
        ref item = list.locked_item(static_cast<Py_ssize_t>(row));
        if (!item) fail("multikeysort: the list was shortened while it was being sorted");
        return item;
    };
    if (!inplace) {
        list_builder out(static_cast<Py_ssize_t>(n));
        PyObject** slots = out.empty_slots();
        for (std::size_t p = 0; p < n; ++p) {
            slots[p] = fetch(order[p]).release();
            out.add_filled(1);
        }
        return out.finish();
    }
    // Every item is gathered before anything is written.
    for (std::size_t p = 0; p < n; ++p) gathered[p] = fetch(order[p]);
    if (from_copy) {
        // The list's lock is held, and nothing from this check to the last
        // store waits or runs Python code: the list the sort saw is the list
        // it rewrites. Otherwise another thread changed it: sort again, or on
        // the last try put the rows it holds now in the order found.
        PyObject* const* rows = list_view(copy_.get()).items();
        if (static_cast<std::size_t>(list.size()) != n || !std::equal(rows, rows + n, list.items())) {
            if (!last_try) return ref();
            from_copy = false;
            for (std::size_t p = 0; p < n; ++p) gathered[p] = fetch(order[p]);
        }
    }
    // Every slot below n exists (the gathered rows are 0 to n - 1), and
    // nothing from the gathering to the last store runs Python code.
    for (std::size_t p = 0; p < n; ++p) gathered[p] = list.exchange(static_cast<Py_ssize_t>(p), std::move(gathered[p]));
    return none_result();
}

}  // namespace tavo::dictsort
