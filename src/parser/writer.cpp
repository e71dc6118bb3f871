#include "parser/writer.hpp"

#include <charconv>

#include "util/pool.hpp"
#include "util/text.hpp"

namespace tarvex {

void append_f64(std::string& out, double v) { text::append_number(out, v); }

namespace {
void append_i64(std::string& out, std::int64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof(buf), v);
    out.append(buf, r.ptr);
}
}  // namespace

std::string emit_free_deck(std::string_view name, const std::vector<WCol>& cols, std::size_t rows) {
    std::size_t nchunks = (rows + kWriteChunkRows - 1) / kWriteChunkRows;
    std::vector<std::string> texts = pool::parallel_map<std::string>(nchunks, [&](std::size_t c) {
        std::size_t lo = c * kWriteChunkRows, hi = std::min(rows, lo + kWriteChunkRows);
        std::string out;
        out.reserve((hi - lo) * 40);
        for (std::size_t r = lo; r < hi; ++r) {
            for (std::size_t k = 0; k < cols.size(); ++k) {
                if (k) out.push_back(',');
                const WCol& col = cols[k];
                if (auto* i = std::get_if<std::vector<std::int64_t>>(&col))
                    append_i64(out, (*i)[r]);
                else if (auto* f = std::get_if<std::vector<double>>(&col))
                    append_f64(out, (*f)[r]);
                else
                    out.append(std::get<std::vector<std::string>>(col)[r]);
            }
            out.push_back('\n');
        }
        return out;
    });
    std::size_t total = 20 + name.size();
    for (const auto& t : texts) total += t.size();
    std::string out;
    out.reserve(total);
    out.append("*KEYWORD\n*");
    out.append(name);
    out.push_back('\n');
    for (const auto& t : texts) out.append(t);
    out.append("*END\n");
    return out;
}

}  // namespace tarvex
