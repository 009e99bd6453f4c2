// The price kernel: each row read by the same price reader as the per-element
// price() (numparse/price.hpp), into a struct chunk of two fields: the amount as
// a float64, the currency's text as utf8.
//
// One pass over the rows. The buffers are taken once for the chunk (the amounts,
// the currency offsets, three validity bitmaps); the currency text goes into one
// byte_sink, grown geometrically, with int32 offsets until it passes what they
// hold (then the chunk is large_price). A currency is an entry of the currency
// table, whose text is copied as the per-element function gives it.
#include "columns/kernels/kernels.hpp"

#include "columns/bitmaps.hpp"
#include "columns/kernels/text_kernel.hpp"
#include "numparse/currency_table.hpp"
#include "text/byte_sink.hpp"

#include <cstring>

namespace tavo::columns {

namespace {

inline void set_bit(std::uint8_t* bits, std::int64_t i) noexcept {
    bits[i >> 3] = static_cast<std::uint8_t>(bits[i >> 3] | (1u << (i & 7)));
}

block zeroed_bitmap(std::int64_t length) {
    block b = allocate_block(bitmap_bytes(length));
    std::memset(b.get(), 0, bitmap_bytes(length));
    return b;
}

}  // namespace

kernel_output run_price_kernel(const string_chunk& in, numparse::price_mark mark, number_limits limits) {
    const std::int64_t n = in.length;
    auto amounts = std::make_shared<chunk>();
    amounts->type = value_type::float64;
    amounts->length = n;
    amounts->values = allocate_block(static_cast<std::size_t>(n) * 8);
    amounts->validity = zeroed_bitmap(n);
    auto currencies = std::make_shared<chunk>();
    currencies->type = value_type::utf8;
    currencies->length = n;
    currencies->validity = zeroed_bitmap(n);
    offsets_writer offsets(n, false);

    auto* values = static_cast<char*>(amounts->values.get());
    auto* amount_bits = static_cast<std::uint8_t*>(amounts->validity.get());
    auto* currency_bits = static_cast<std::uint8_t*>(currencies->validity.get());
    // most currencies are one sign of one to three bytes
    byte_sink text(static_cast<std::size_t>(n) * 2 + 64);
    numparse::price_scratch scratch;
    numparse::price_contexts contexts;
    std::int64_t nulls = 0, without_currency = 0;

    const auto put_null = [&](std::int64_t i) {
        std::memset(values + i * 8, 0, 8);
        offsets.put(i + 1, text.size());
        ++nulls;
    };
    std::optional<row_fault> fault = walk_rows(
        in,
        [&](std::int64_t i, std::string_view s, bool, const char* end) {
            const numparse::price p =
                numparse::read_price(s, end ? static_cast<std::size_t>(end - s.data()) : s.size(), mark, scratch,
                                     contexts);
            double amount;
            switch (p.amount.what) {
                case numparse::number::kind::int64:
                    amount = static_cast<double>(p.amount.integer);
                    break;
                case numparse::number::kind::real:
                    amount = p.amount.real;
                    break;
                case numparse::number::kind::big_int:
                    // price() gives None past the interpreter's limit on int text
                    if (limits.max_int_digits > 0 &&
                        static_cast<std::int64_t>(p.amount.digits.size()) > limits.max_int_digits) {
                        put_null(i);
                        return;
                    }
                    amount = numparse::to_double(p.amount.digits, p.amount.negative);
                    break;
                case numparse::number::kind::none:
                default:
                    put_null(i);
                    return;
            }
            std::memcpy(values + i * 8, &amount, 8);
            set_bit(amount_bits, i);
            if (p.currency_size != 0) {
                const numparse::currency_entry& e = numparse::currency_entries[p.currency_entry];
                text.reserve_more(e.size);
                text.put(e.text, e.size);
                set_bit(currency_bits, i);
            } else {
                ++without_currency;
            }
            offsets.put(i + 1, text.size());
        },
        put_null);
    if (fault) return {nullptr, std::move(fault)};

    currencies->type = offsets.large() ? value_type::large_utf8 : value_type::utf8;
    currencies->values = offsets.take();
    std::size_t size = 0;
    currencies->data = block(text.take(size));
    currencies->data_size = static_cast<std::int64_t>(size);
    currencies->null_count = nulls + without_currency;
    if (currencies->null_count == 0) currencies->validity.reset();

    auto out = std::make_shared<chunk>();
    out->type = offsets.large() ? value_type::large_price : value_type::price;
    out->length = n;
    out->null_count = nulls;
    amounts->null_count = nulls;
    if (nulls != 0) {
        // the struct's validity is the amount's: a row is null when it has no amount
        out->validity = allocate_block(bitmap_bytes(n));
        std::memcpy(out->validity.get(), amounts->validity.get(), bitmap_bytes(n));
    } else {
        amounts->validity.reset();
    }
    out->children = {std::move(amounts), std::move(currencies)};
    return {std::move(out), std::nullopt};
}

}  // namespace tavo::columns
