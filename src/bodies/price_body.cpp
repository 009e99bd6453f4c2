// The body of price(text, *, decimal=None) (tavo._native): numparse's
// read_price finds the price (price.cpp), and this makes tavo.Price(amount,
// currency) of it, or None.
#include "bodies/bodies.hpp"
#include "bodies/decimal_arg.hpp"
#include "bodies/number_result.hpp"
#include "boundary/tuple_class.hpp"
#include "numparse/currency_table.hpp"
#include "numparse/price.hpp"
#include "shared/first_store.hpp"

#include <atomic>

namespace tavo {
namespace {

// tavo.Price, the named tuple class of the package (tavo/_price.py), made by
// tuple_class_like from its model there; imported at the first price found
// and kept for the process. A class made otherwise is refused: its instances
// are made here as the tuple class's are.
std::atomic<PyObject*> price_type_cell{nullptr};

result<PyTypeObject*> price_type() {
    if (PyObject* t = price_type_cell.load(std::memory_order_acquire)) return reinterpret_cast<PyTypeObject*>(t);
    ref module = steal(PyImport_ImportModule("tavo._price"));
    if (!module) return error_value::fetch();
    ref type = steal(PyObject_GetAttrString(module.get(), "Price"));
    if (!type) return error_value::fetch();
    if (!is_tuple_class(type.get())) {
        return error_value::static_error(PyExc_TypeError, "tavo._price.Price must be made by tavo._native._tuple_class");
    }
    return reinterpret_cast<PyTypeObject*>(keep_first_owned(price_type_cell, type.release()));
}

// The str of each currency entry, made at its first use and kept for the
// process: a currency is always one of them, and most prices repeat a few.
std::atomic<PyObject*> currency_strs[numparse::currency_entry_count];

ref currency_str(std::size_t entry) {
    std::atomic<PyObject*>& cell = currency_strs[entry];
    if (PyObject* s = cell.load(std::memory_order_acquire)) return borrow(s);
    const numparse::currency_entry& e = numparse::currency_entries[entry];
    ref made = string_result(std::string_view(e.text, e.size));
    return borrow(keep_first_owned(cell, made.release()));
}


}  // namespace

result<ref> price_body(call_args& a) {
    auto s = text_arg(a, param(price_desc, "text"));
    if (!s) return std::move(s.error());
    result<numparse::price_mark> mark = price_mark_arg(a, param(price_desc, "decimal"));
    if (!mark) return std::move(mark.error());
    const std::string_view text = s->utf8();
    numparse::price_scratch scratch;
    const numparse::price found = numparse::read_price(text, *mark, scratch);
    if (found.amount.what == numparse::number::kind::none) return none_result();
    result<ref> amount = number_result(found.amount);
    if (!amount) return std::move(amount.error());
    if (amount->get() == Py_None) return none_result();  // an integer longer than the interpreter converts
    ref currency = found.currency_size == 0 ? none_result() : currency_str(found.currency_entry);
    result<PyTypeObject*> type = price_type();
    if (!type) return std::move(type.error());
    return new_pair_of_class(*type, std::move(*amount), std::move(currency));
}

}  // namespace tavo
