#include "boundary/views.hpp"

namespace tavo {

error_value index_out_of_range() noexcept {
    return error_value::static_error(PyExc_IndexError, "list index out of range");
}

}  // namespace tavo
