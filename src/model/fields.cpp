#include "model/fields.hpp"

#include <algorithm>

#include "model/lines.hpp"
#include "util/text.hpp"

namespace tarvex::model {

namespace {

std::size_t repeat_of(const FieldSpec& f) noexcept { return std::max<std::size_t>(f.count, 1); }

std::optional<Value> typed_library_value(std::string_view slice, FieldType ty) {
    switch (ty) {
        case FieldType::Int:
            if (auto v = read_id(slice)) return Value::of_int(*v);
            return std::nullopt;
        case FieldType::Float:
            if (auto v = parse_plain_float(slice)) return Value::of_float(*v);
            return std::nullopt;
        case FieldType::Str:
            if (!text::is_valid_utf8(slice)) return std::nullopt;
            return Value::of_str(std::string(text::trim_unicode(slice)));
    }
    return std::nullopt;
}

}  // namespace

namespace {

// A named field of the block's library layout: its card, index, and the hit
// of that card's line in the first record.
struct LibraryField {
    const keywords::CardDef* card;
    std::size_t field;
    CardHit hit;
};

std::optional<LibraryField> library_field(const ParsedFile& f, std::size_t block, const BlockLayout& layout,
                                          std::span<const DataLine> lines, std::string_view name) {
    auto pos = keywords::find_field(*layout.def, name);
    if (!pos) return std::nullopt;
    auto hit = card_line(f, block, layout, lines, static_cast<std::uint16_t>(pos->card));
    if (!hit) return std::nullopt;
    return LibraryField{&layout.def->cards()[pos->card], pos->field, *hit};
}

// The library layout of a block of the deck (`lines` filled); none for an
// index outside the deck or a block without a layout.
BlockLayout deck_block_layout(const Deck& deck, std::size_t file, std::size_t block, std::vector<DataLine>& lines) {
    if (file >= deck.files.size() || block >= deck.files[file].blocks.size()) return {};
    const ParsedFile& f = deck.files[file];
    return block_layout(f, block, keyword_name(f, f.blocks[block]), lines);
}

}  // namespace

std::optional<Value> entity_field(const Deck& deck, std::size_t file, std::size_t block, std::string_view name) {
    std::vector<DataLine> lines;
    BlockLayout layout = deck_block_layout(deck, file, block, lines);
    if (!layout) return std::nullopt;
    const ParsedFile& f = deck.files[file];
    auto lf = library_field(f, block, layout, lines, name);
    if (!lf) return std::nullopt;
    auto slice = card_field_slice(line_text(f, lf->hit.begin, lf->hit.end), lf->card->fields(), lf->field,
                                  f.blocks[block].format);
    if (!slice) return std::nullopt;
    return typed_library_value(*slice, lf->card->fields()[lf->field].ty);
}

std::optional<std::int64_t> first_ref_to(const Deck& deck, std::size_t file, std::size_t block, EntityKind kind) {
    std::vector<DataLine> lines;
    BlockLayout layout = deck_block_layout(deck, file, block, lines);
    if (!layout) return std::nullopt;
    for (const keywords::CardDef& card : layout.def->cards())
        for (const keywords::FieldDef& field : card.fields()) {
            if (!field.refers.targets(kind)) continue;
            auto v = entity_field(deck, file, block, field.name_view());
            if (!v) continue;
            if (v->kind == Value::Kind::Int) return v->i;
            if (v->kind == Value::Kind::Float) return truncate_saturating(v->f);
        }
    return std::nullopt;
}

std::optional<FieldLoc> keyword_field(const Deck& deck, std::size_t file, std::size_t block, std::string_view name) {
    if (file >= deck.files.size()) return std::nullopt;
    const ParsedFile& f = deck.files[file];
    if (block >= f.blocks.size()) return std::nullopt;
    std::string kw = keyword_name(f, f.blocks[block]);
    std::string base = keywords::canonical_base(kw);
    FieldLoc loc;
    loc.deck = &deck;
    loc.file = file;
    loc.block = block;
    std::size_t card_index = 0;
    bool found = false;
    auto user = deck.user_schemas.find(base);
    if (user != deck.user_schemas.end()) {
        const auto& cards = user->second.cards;
        for (std::size_t c = 0; c < cards.size() && !found; ++c)
            for (std::size_t k = 0; k < cards[c].size(); ++k)
                if (text::iequals(cards[c][k].name, name)) {
                    loc.user_card = &cards[c];
                    loc.field = k;
                    card_index = c;
                    found = true;
                    break;
                }
        if (!found) return std::nullopt;
        loc.line = card_index + title_offset(kw);
        if (!data_line_at(f, block, loc.line)) return std::nullopt;
        return loc;
    }
    std::vector<DataLine> lines;
    BlockLayout layout = block_layout(f, block, kw, lines);
    if (!layout) return std::nullopt;
    auto lf = library_field(f, block, layout, lines, name);
    if (!lf) return std::nullopt;
    loc.lib_card = lf->card;
    loc.field = lf->field;
    loc.line = lf->hit.line;
    return loc;
}

std::optional<std::string_view> raw_bytes(const FieldLoc& loc) {
    const ParsedFile& f = loc.deck->files[loc.file];
    CardFormat fmt = f.blocks[loc.block].format;
    std::string_view line = data_line_at(f, loc.block, loc.line).value_or(std::string_view());
    if (loc.lib_card) return card_field_slice(line, loc.lib_card->fields(), loc.field, fmt);
    const Card& card = *loc.user_card;
    if (loc.field >= card.size()) return std::nullopt;
    std::size_t piece = 0, start = 0;
    std::size_t scale = fmt == CardFormat::Long ? 2 : 1;
    for (std::size_t k = 0; k < loc.field; ++k) {
        piece += repeat_of(card[k]);
        start += card[k].width * repeat_of(card[k]) * scale;
    }
    if (is_free_line(line, fmt)) return comma_piece(line, piece);
    return fixed_slice(line, start, card[loc.field].width * scale);
}

Value field_value(const FieldLoc& loc) {
    auto raw = raw_bytes(loc);
    if (!raw) return Value::of_str({});
    FieldType ty = loc.lib_card ? loc.lib_card->fields()[loc.field].ty : (*loc.user_card)[loc.field].ty;
    if (ty == FieldType::Int) {
        if (auto v = read_id(*raw)) return Value::of_int(*v);
    } else if (ty == FieldType::Float) {
        if (auto v = parse_plain_float(*raw)) return Value::of_float(*v);
    }
    return Value::of_str(text::is_valid_utf8(*raw) ? std::string(text::trim_unicode(*raw)) : std::string());
}

FieldWrite field_write_target(const FieldLoc& loc) {
    const ParsedFile& f = loc.deck->files[loc.file];
    std::size_t scale = f.blocks[loc.block].format == CardFormat::Long ? 2 : 1;
    FieldWrite w{loc.line, 0, {}};
    if (loc.lib_card) {
        for (const auto& field : loc.lib_card->fields()) w.widths.push_back(field.width * scale);
        w.column = loc.field;
    } else {
        const Card& card = *loc.user_card;
        for (std::size_t k = 0; k < card.size(); ++k) {
            for (std::size_t r = 0; r < repeat_of(card[k]); ++r) w.widths.push_back(card[k].width * scale);
            if (k < loc.field) w.column += repeat_of(card[k]);
        }
    }
    return w;
}

}  // namespace tarvex::model
