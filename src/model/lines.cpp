#include "model/lines.hpp"

#include <cstring>

#include "util/text.hpp"

namespace tarvex::model {

namespace {

bool is_comment(std::string_view line) noexcept {
    std::string_view rest = text::trim_left_blanks(line);
    return !rest.empty() && rest.front() == '$';
}

}  // namespace

bool is_blank_line(std::string_view line) noexcept {
    for (char c : line)
        if (!text::is_blank(c)) return false;
    return true;
}

std::optional<std::string_view> data_line_at(const ParsedFile& f, std::size_t block, std::size_t index) {
    std::optional<std::string_view> hit;
    bool confirmed = false;
    for_each_data_line(f, block, [&](std::string_view line, std::size_t i) {
        if (i == index) {
            hit = line;
            confirmed = !is_blank_line(line);
            return !confirmed;
        }
        if (i > index && !is_blank_line(line)) {
            confirmed = true;
            return false;
        }
        return true;
    });
    if (!confirmed) return std::nullopt;
    return hit;
}

std::vector<std::string_view> data_lines(const ParsedFile& f, std::size_t block) {
    std::vector<std::string_view> out;
    if (block >= f.blocks.size()) return out;
    std::string_view body = f.body(f.blocks[block]);
    std::size_t keep = 0;  // lines up to the last card line
    std::size_t pos = 0, n = body.size();
    while (pos < n) {
        const void* lf = std::memchr(body.data() + pos, '\n', n - pos);
        std::size_t end = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - body.data()) : n;
        std::string_view line = strip_crlf(body.substr(pos, end - pos));
        pos = lf ? end + 1 : n;
        if (is_comment(line)) continue;
        bool blank = is_blank_line(line);
        out.push_back(line);
        if (!blank) keep = out.size();
    }
    out.resize(keep);
    return out;
}

std::size_t title_offset(std::string_view name) noexcept {
    constexpr std::string_view kTitle = "_TITLE";
    return name.size() >= kTitle.size() && text::iequals(name.substr(name.size() - kTitle.size()), kTitle) ? 1 : 0;
}

std::optional<std::string_view> card_field_slice(std::string_view line, std::span<const keywords::FieldDef> fields,
                                                 std::size_t n, CardFormat fmt) noexcept {
    if (n >= fields.size()) return std::nullopt;
    if (is_free_line(line, fmt)) {
        std::size_t start = 0;
        for (std::size_t k = 0; k < n; ++k) {
            std::size_t comma = line.find(',', start);
            if (comma == std::string_view::npos) return std::nullopt;
            start = comma + 1;
        }
        std::size_t comma = line.find(',', start);
        return line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    }
    std::size_t scale = fmt == CardFormat::Long ? 2 : 1;
    std::size_t start = 0;
    for (std::size_t k = 0; k < n; ++k) start += fields[k].width * scale;
    if (start >= line.size()) return std::nullopt;
    return line.substr(start, fields[n].width * scale);
}

std::optional<std::int64_t> first_field_id(std::string_view line, const keywords::FieldDef& first,
                                           CardFormat fmt) noexcept {
    std::string_view piece;
    if (is_free_line(line, fmt)) {
        piece = line.substr(0, line.find(','));
    } else {
        piece = line.substr(0, first.width * (fmt == CardFormat::Long ? 2 : 1));
    }
    return read_id(piece);
}

std::vector<std::uint64_t> block_start_lines(const ParsedFile& f) {
    std::vector<std::uint64_t> out;
    out.reserve(f.blocks.size());
    std::string_view bytes = f.bytes();
    std::uint64_t line = 1;
    std::size_t pos = 0;
    for (const Block& b : f.blocks) {
        std::size_t to = std::min(b.kw_start, bytes.size());
        while (pos < to) {
            const void* lf = std::memchr(bytes.data() + pos, '\n', to - pos);
            if (!lf) break;
            ++line;
            pos = static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data()) + 1;
        }
        if (pos < to) pos = to;
        out.push_back(line);
    }
    return out;
}

std::uint64_t block_start_line(const ParsedFile& f, std::size_t block) noexcept {
    if (block >= f.blocks.size()) return 0;
    std::string_view bytes = f.bytes();
    std::size_t to = std::min(f.blocks[block].kw_start, bytes.size());
    std::uint64_t line = 1;
    for (std::size_t pos = 0; pos < to;) {
        const void* lf = std::memchr(bytes.data() + pos, '\n', to - pos);
        if (!lf) break;
        ++line;
        pos = static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data()) + 1;
    }
    return line;
}

}  // namespace tarvex::model
