// Native keys for columns of objects whose order the module knows.
//
// A column whose values (None and missing keys aside) are all exact
// `datetime.date`, all exact naive `datetime.datetime`, all exact `bytes`, or
// all exact tuples of natively ordered elements has a total order that `<`
// and `>` follow: the order of dates, of date and time fields, of bytes, and
// element by element with the shorter prefix first. Such a column's object
// keys are replaced by int or text keys that order the same way, so that the
// sort compares them without calling Python. Any other column (mixed types,
// aware datetimes, subclasses, tuples holding anything else) keeps its object
// keys and the Python comparison.
#pragma once

#include "dictsort/key_values.hpp"

namespace tavo::dictsort {

// Rewrites the object columns of `rows` rows of `width` keys each (row after
// row) that have a native order, and updates their profiles. The new text
// keys point into `store` or into objects it keeps. Runs no Python code,
// except importing the datetime module the first time a column looks like
// dates; an interrupt or another error that must end the call comes back.
status encode_object_columns(sort_value* values, std::size_t rows, std::size_t width,
                             column_profile* profiles, key_store& store);

}  // namespace tavo::dictsort
