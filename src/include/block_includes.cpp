#include "include/block_includes.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "file/path.hpp"
#include "keywords/library.hpp"
#include "util/text.hpp"

namespace tarvex {

namespace {

struct TransformLayout {
    std::span<const keywords::FieldDef> offsets;  // IDNOFF … IDDOFF
    std::span<const keywords::FieldDef> second;   // IDROFF, …
    bool ok = false;
};

const TransformLayout& transform_layout() {
    static const TransformLayout layout = [] {
        TransformLayout l;
        const keywords::KeywordDef* def = keywords::find("INCLUDE_TRANSFORM");
        if (!def || def->card_count < 3) return l;
        l.offsets = def->cards()[1].fields();
        l.second = def->cards()[2].fields();
        l.ok = l.offsets.size() >= 7 && !l.second.empty();
        return l;
    }();
    return layout;
}

// The card lines of a block body, trailing CR/LF removed.
std::vector<std::string_view> card_lines(std::string_view body) {
    std::vector<std::string_view> out;
    for_each_card_line(body, [&](std::string_view line) { out.push_back(line); });
    return out;
}

// Where the lines holding the file name end in a block body, walked the way
// the file-name reader walks them: leading '$' lines skipped, then every line
// that ends in '+' continued onto the next one (whatever that line holds).
std::size_t past_file_name(std::string_view body) {
    std::size_t pos = 0;
    auto line_end = [&](std::size_t p) {
        std::size_t lf = body.find('\n', p);
        return lf == std::string_view::npos ? body.size() : lf;
    };
    while (pos < body.size()) {
        std::size_t end = line_end(pos);
        std::string_view line = strip_crlf(body.substr(pos, end - pos));
        if (line.empty() || line[0] != '$') break;
        pos = end + 1;
    }
    while (pos < body.size()) {
        std::size_t end = line_end(pos);
        std::string_view line = text::trim_right(body.substr(pos, end - pos));
        pos = std::min(end + 1, body.size());
        if (line.empty() || line.back() != '+') break;
    }
    return std::min(pos, body.size());
}

TransformOffsets read_offsets(const ParsedFile& f, const Block& b) {
    TransformOffsets o;
    const TransformLayout& layout = transform_layout();
    if (!layout.ok) return o;
    std::string_view body = f.body(b);
    // The offset cards are the card lines after the file name.
    std::vector<std::string_view> lines = card_lines(body.substr(past_file_name(body)));
    if (lines.empty()) return o;
    LineCutter first(lines[0], b.format);
    for (std::size_t k = 0; k < 7; ++k) o.v[k] = transform_offset_value(first.next(layout.offsets[k].width));
    if (lines.size() > 1) {
        LineCutter second(lines[1], b.format);
        o.v[7] = transform_offset_value(second.next(layout.second[0].width));
    }
    return o;
}

}  // namespace

std::int64_t transform_offset_value(std::string_view raw) noexcept {
    if (auto i = Field::as_i64(raw)) return *i;
    if (auto d = Field::as_f64(raw)) {
        double v = std::trunc(*d);
        if (std::isnan(v)) return 0;
        if (v >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
        if (v <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
        return static_cast<std::int64_t>(v);
    }
    return 0;
}

std::vector<RawInclude> extract_raw_includes(const ParsedFile& f) {
    std::vector<RawInclude> out;
    std::string_view bytes = f.bytes();
    for (const Block& b : f.blocks) {
        text::Line ln = text::line_at(bytes, b.kw_start);
        auto kind = include_kind_of_line(ln.content);
        if (!kind) continue;
        auto name = read_include_name(bytes, b.kw_end);
        if (!name) continue;
        RawInclude r{std::move(name->text), {}, *kind, std::move(name->raw)};
        if (*kind == IncludeKind::IncludeTransform) r.offsets = read_offsets(f, b);
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<IncludeDirective> extract_includes(const ParsedFile& f, const std::vector<std::string>& inherited) {
    return resolve_directives(extract_raw_includes(f), path::parent(f.path), inherited);
}

}  // namespace tarvex
