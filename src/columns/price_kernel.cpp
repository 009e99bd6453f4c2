// The price kernel: each row read by the same price reader as the per-element
// price() (numparse/price.hpp), into a struct chunk of two fields: the amount as
// a float64, the currency's text as utf8.
//
// One pass over the rows. The buffers are taken once for the chunk (the amounts,
// the currency offsets, three validity bitmaps); the currency text goes into one
// byte_sink, grown geometrically. A currency is an entry of the currency table,
// whose text is copied as the per-element function gives it.
#include "columns/kernels.hpp"

#include "boundary/error.hpp"
#include "columns/bitmaps.hpp"
#include "numparse/currency_table.hpp"
#include "text/byte_sink.hpp"

#include <cstring>
#include <limits>

namespace tavo::columns {

namespace {

constexpr std::size_t longest_currency = [] {
    std::size_t most = 1;
    for (const numparse::currency_entry& e : numparse::currency_entries) most = e.size > most ? e.size : most;
    return most;
}();

// The currencies of this many rows fit int32 offsets, whatever they are.
constexpr std::int64_t rows_at_most =
    static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max() / longest_currency);

inline void set_bit(std::uint8_t* bits, std::int64_t i) noexcept {
    bits[i >> 3] = static_cast<std::uint8_t>(bits[i >> 3] | (1u << (i & 7)));
}

block zeroed_bitmap(std::int64_t length) {
    block b = allocate_block(bitmap_bytes(length));
    std::memset(b.get(), 0, bitmap_bytes(length));
    return b;
}

}  // namespace

std::int64_t price_rows_at_most() noexcept { return rows_at_most; }

kernel_output run_price_kernel(const string_chunk& in, numparse::price_mark mark, number_limits limits) {
    if (in.length > rows_at_most) fail("a price chunk holds at most price_rows_at_most() rows");
    const std::int64_t n = in.length;
    auto amounts = std::make_shared<chunk>();
    amounts->type = value_type::float64;
    amounts->length = n;
    amounts->values = allocate_block(static_cast<std::size_t>(n) * 8);
    amounts->validity = zeroed_bitmap(n);
    auto currencies = std::make_shared<chunk>();
    currencies->type = value_type::utf8;
    currencies->length = n;
    currencies->values = allocate_block(static_cast<std::size_t>(n + 1) * 4);
    currencies->validity = zeroed_bitmap(n);

    auto* values = static_cast<char*>(amounts->values.get());
    auto* amount_bits = static_cast<std::uint8_t*>(amounts->validity.get());
    auto* offsets = currencies->values_as<std::int32_t>();
    auto* currency_bits = static_cast<std::uint8_t*>(currencies->validity.get());
    offsets[0] = 0;
    // most currencies are one sign of one to three bytes
    byte_sink text(static_cast<std::size_t>(n) * 2 + 64);
    numparse::price_scratch scratch;
    std::int64_t nulls = 0, without_currency = 0;

    const auto put_null = [&](std::int64_t i) {
        std::memset(values + i * 8, 0, 8);
        offsets[i + 1] = static_cast<std::int32_t>(text.size());
        ++nulls;
    };
    std::optional<row_fault> fault = walk_rows(
        in,
        [&](std::int64_t i, std::string_view s, bool, const char*) {
            const numparse::price p = numparse::read_price(s, mark, scratch);
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
            offsets[i + 1] = static_cast<std::int32_t>(text.size());
        },
        put_null);
    if (fault) return {nullptr, std::move(fault)};

    std::size_t size = 0;
    currencies->data = block(text.take(size));
    currencies->data_size = static_cast<std::int64_t>(size);
    currencies->null_count = nulls + without_currency;
    if (currencies->null_count == 0) currencies->validity.reset();

    auto out = std::make_shared<chunk>();
    out->type = value_type::price;
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
