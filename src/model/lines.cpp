#include "model/lines.hpp"

#include <cstring>

#include "util/text.hpp"

namespace tarvex::model {

std::vector<std::string_view> data_lines(const ParsedFile& f, std::size_t block) {
    std::vector<std::string_view> out;
    if (block >= f.blocks.size()) return out;
    std::vector<DataLine> lines;
    keywords::block_data_lines(f, f.blocks[block], lines);
    out.reserve(lines.size());
    for (const DataLine& l : lines) out.push_back(line_text(f, l.begin, l.end));
    return out;
}

std::optional<std::string_view> data_line_at(const ParsedFile& f, std::size_t block, std::size_t index) {
    if (block >= f.blocks.size()) return std::nullopt;
    std::vector<DataLine> lines;
    keywords::block_data_lines(f, f.blocks[block], lines);
    if (index >= lines.size()) return std::nullopt;
    return line_text(f, lines[index].begin, lines[index].end);
}

BlockLayout block_layout(const ParsedFile& f, std::size_t block, std::string_view name,
                         std::vector<DataLine>& lines) {
    lines.clear();
    if (block >= f.blocks.size()) return {};
    const Block& b = f.blocks[block];
    BlockLayout layout = keywords::layout_for_name(name);
    if (!layout) {
        const keywords::KeywordDef* def = keywords::find(keywords::canonical_base(name));
        if (!def) return {};
        layout.def = def;
        layout.title = title_offset(name) == 1;
    }
    keywords::block_data_lines(f, b, lines);
    return keywords::refine_for_block(layout, f.bytes(), lines, b.format);
}

std::optional<CardHit> card_line(const ParsedFile& f, std::size_t block, const BlockLayout& layout,
                                 std::span<const DataLine> lines, std::uint16_t card) noexcept {
    if (!layout || block >= f.blocks.size()) return std::nullopt;
    return keywords::first_card_line(f.bytes(), lines, f.blocks[block].format, layout, card);
}

std::size_t title_offset(std::string_view name) noexcept {
    constexpr std::string_view kTitle = "_TITLE";
    return name.size() >= kTitle.size() && text::iequals(name.substr(name.size() - kTitle.size()), kTitle) ? 1 : 0;
}

std::optional<std::string_view> comma_piece(std::string_view line, std::size_t n) noexcept {
    std::size_t start = 0;
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t comma = line.find(',', start);
        if (comma == std::string_view::npos) return std::nullopt;
        start = comma + 1;
    }
    std::size_t comma = line.find(',', start);
    return line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
}

std::optional<std::string_view> fixed_slice(std::string_view line, std::size_t start, std::size_t width) noexcept {
    if (start >= line.size()) return std::nullopt;
    return line.substr(start, width);
}

std::optional<std::string_view> card_field_slice(std::string_view line, std::span<const keywords::FieldDef> fields,
                                                 std::size_t n, CardFormat fmt) noexcept {
    if (n >= fields.size()) return std::nullopt;
    if (is_free_line(line, fmt)) return comma_piece(line, n);
    std::size_t scale = fmt == CardFormat::Long ? 2 : 1;
    std::size_t start = 0;
    for (std::size_t k = 0; k < n; ++k) start += fields[k].width * scale;
    return fixed_slice(line, start, fields[n].width * scale);
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

std::vector<std::uint64_t> block_start_lines(const ParsedFile& f) { return keyword_line_numbers(f); }

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
