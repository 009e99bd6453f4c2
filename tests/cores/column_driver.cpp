// Runs the conversion cores the way a column kernel does, without Python:
// every row of a column appended to one byte_sink, one number_scratch for all
// rows, and the same column converted by several threads at once. Each row
// lies right against a page that cannot be read, after it ("end", no NUL
// after the text) or before it ("start"): a read outside the row stops the
// process. test_cores.py builds it (under AddressSanitizer when the compiler
// has it) and compares each row with the per-element function.
//
// stdin: records of one operation byte ('u' uncamel, 'c' underscore_to_camelcase,
// 'v' sanitize_vulgar, 'p' parse, 'P' parse_row with a decimal comma, 'd' to_double, 'f' the evidence
// for the decimal mark as the column kernel reads it: "e" and its number, "x" when it differs from
// evidence_of()'s), a 4-byte little-endian
// length and the text. stdout: per record a 4-byte length and the result:
// the text ('v': "=" alone when there was no fraction), or for 'p' a kind
// letter ('n' none, 'i' int64, 'b' big_int, 'r' real) and the value (decimal,
// digits with a sign, or the double's bits in hex), for 'd' the bits in hex.
#include "numparse/number.hpp"
#include "numparse/number_format.hpp"
#include "text/convert.hpp"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// n bytes between unreadable pages: against the one after them (at_end) or
// the one before them.
class guarded {
public:
    guarded(std::size_t n, bool at_end) {
        const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t body = (n + page - 1) / page * page + page;
        total_ = body + 2 * page;
        void* p = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) std::abort();
        base_ = static_cast<char*>(p);
        if (mprotect(base_, page, PROT_NONE) != 0 || mprotect(base_ + page + body, page, PROT_NONE) != 0) std::abort();
        text_ = at_end ? base_ + page + body - n : base_ + page;
        readable_end_ = base_ + page + body;
    }
    guarded(const guarded&) = delete;
    guarded& operator=(const guarded&) = delete;
    ~guarded() { munmap(base_, total_); }
    char* get() const noexcept { return text_; }
    // Where the readable bytes from the text on end.
    const char* readable_end() const noexcept { return readable_end_; }

private:
    char* base_;
    char* text_;
    const char* readable_end_;
    std::size_t total_;
};

struct row {
    char op;
    std::unique_ptr<guarded> text;
    std::size_t size;
};

std::string bits_of(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, 8);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016" PRIx64, b);
    return hex;
}

std::string convert_column(const std::vector<row>& rows) {
    tavo::byte_sink sink(0);
    tavo::numparse::number_scratch scratch;
    std::vector<std::size_t> ends;  // where each text result ends in the sink
    std::vector<std::string> others(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const row& r = rows[i];
        const std::string_view in(r.text->get(), r.size);
        bool ascii = true;
        for (char c : in) ascii &= static_cast<unsigned char>(c) < 0x80;
        if (r.op == 'u') tavo::text::uncamel(in, ascii, sink);
        if (r.op == 'c') tavo::text::underscore_to_camelcase(in, ascii, sink);
        if (r.op == 'v' && !tavo::text::sanitize_vulgar(in, sink)) others[i] = "=";
        if (r.op == 'p' || r.op == 'P') {
            using kind = tavo::numparse::number::kind;
            using tavo::numparse::decimal_mark;
            const tavo::numparse::number n = r.op == 'p' ? tavo::numparse::parse(in, scratch)
                                                         : tavo::numparse::parse_row<decimal_mark::comma>(in, scratch);
            others[i] = n.what == kind::none      ? "n"
                        : n.what == kind::int64   ? "i" + std::to_string(n.integer)
                        : n.what == kind::big_int ? std::string("b") + (n.negative ? "-" : "") + std::string(n.digits)
                                                  : "r" + bits_of(n.real);
        }
        if (r.op == 'd') others[i] = bits_of(tavo::numparse::to_double(in, false));
        if (r.op == 'f') {
            const auto e = tavo::numparse::evidence_of_row(in, ascii, r.text->readable_end());
            others[i] = e == tavo::numparse::evidence_of(in) ? "e" + std::to_string(static_cast<int>(e)) : "x";
        }
        ends.push_back(sink.size());
    }
    std::size_t size = 0;
    char* block = sink.take(size);
    std::string out;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::string one = ends[i] > begin ? std::string(block + begin, ends[i] - begin) : others[i];
        begin = ends[i];
        const auto n = static_cast<std::uint32_t>(one.size());
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((n >> (8 * k)) & 0xFF));
        out += one;
    }
    std::free(block);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const int threads = argc > 1 ? std::atoi(argv[1]) : 1;
    const bool at_end = argc <= 2 || std::strcmp(argv[2], "start") != 0;
    std::vector<row> rows;
    for (;;) {
        unsigned char head[5];
        if (std::fread(head, 1, 5, stdin) != 5) break;
        const std::size_t n = head[1] | (head[2] << 8) | (head[3] << 16) | (std::size_t{head[4]} << 24);
        row r{static_cast<char>(head[0]), std::make_unique<guarded>(n, at_end), n};
        if (std::fread(r.text->get(), 1, n, stdin) != n) return 2;
        rows.push_back(std::move(r));
    }
    std::vector<std::string> results(static_cast<std::size_t>(threads));
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back([&, t] { results[static_cast<std::size_t>(t)] = convert_column(rows); });
    for (std::thread& t : pool) t.join();
    for (const std::string& r : results) {
        if (r != results[0]) return 3;  // threads disagree
    }
    std::fwrite(results[0].data(), 1, results[0].size(), stdout);
    return 0;
}
