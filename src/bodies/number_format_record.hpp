// The record number_format() returns, per element and per column: a tuple
//     (decimal, point_rows, comma_rows, either_rows, neither_rows,
//      point_example, comma_example, either_example)
// that tavo turns into tavo.NumberFormat; `decimal` is '.', ',' or None, and
// each example is (index, text) of the first row of its kind, or None.
#pragma once

#include "boundary/args.hpp"
#include "numparse/number_format.hpp"

namespace tavo {

// `text_of(kind)`: the text of the first row of that kind, as a new str.
template <class TextOf>
ref format_record(const numparse::format_tally& tally, TextOf&& text_of) {
    using numparse::mark_evidence;
    ref decimal;
    switch (tally.decision()) {
        case numparse::decided_mark::point: decimal = ascii_result("."); break;
        case numparse::decided_mark::comma: decimal = ascii_result(","); break;
        case numparse::decided_mark::undecided: decimal = none_result(); break;
    }
    const auto example = [&](mark_evidence e) -> ref {
        if (tally.first_row(e) < 0) return none_result();
        ref index = int_result(tally.first_row(e));
        ref text = text_of(e);
        return created(PyTuple_Pack(2, index.get(), text.get()));
    };
    ref points = int_result(tally.count(mark_evidence::point));
    ref commas = int_result(tally.count(mark_evidence::comma));
    ref either = int_result(tally.count(mark_evidence::either));
    ref neither = int_result(tally.count(mark_evidence::neither));
    ref point_example = example(mark_evidence::point);
    ref comma_example = example(mark_evidence::comma);
    ref either_example = example(mark_evidence::either);
    return created(PyTuple_Pack(8, decimal.get(), points.get(), commas.get(), either.get(), neither.get(),
                                point_example.get(), comma_example.get(), either_example.get()));
}

}  // namespace tavo
