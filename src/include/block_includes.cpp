#include "include/block_includes.hpp"

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

TransformOffsets read_offsets(const ParsedFile& f, const Block& b) {
    TransformOffsets o;
    const TransformLayout& layout = transform_layout();
    if (!layout.ok) return o;
    std::vector<std::string_view> lines = card_lines(f.body(b));
    // The file name takes the first card line and every line it is
    // continued on with a trailing '+'.
    std::size_t name_lines = 0;
    while (name_lines < lines.size()) {
        std::string_view t = text::trim_right(lines[name_lines++]);
        if (t.empty() || t.back() != '+') break;
    }
    if (name_lines >= lines.size()) return o;
    LineCutter first(lines[name_lines], b.format);
    for (std::size_t k = 0; k < 7; ++k) o.v[k] = transform_offset_value(first.next(layout.offsets[k].width));
    if (name_lines + 1 < lines.size()) {
        LineCutter second(lines[name_lines + 1], b.format);
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
