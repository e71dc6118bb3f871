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

std::optional<Value> entity_field(const Deck& deck, std::size_t file, std::size_t block, std::string_view name) {
    if (file >= deck.files.size()) return std::nullopt;
    const ParsedFile& f = deck.files[file];
    if (block >= f.blocks.size()) return std::nullopt;
    std::string kw = keyword_name(f, f.blocks[block]);
    const keywords::KeywordDef* def = keywords::find(keywords::canonical_base(kw));
    if (!def) return std::nullopt;
    auto pos = keywords::find_field(*def, name);
    if (!pos) return std::nullopt;
    auto line = data_line_at(f, block, pos->card + title_offset(kw));
    if (!line) return std::nullopt;
    auto slice = card_field_slice(*line, def->cards()[pos->card].fields(), pos->field, f.blocks[block].format);
    if (!slice) return std::nullopt;
    return typed_library_value(*slice, pos->def->ty);
}

std::optional<std::int64_t> first_ref_to(const Deck& deck, std::size_t file, std::size_t block, EntityKind kind) {
    if (file >= deck.files.size()) return std::nullopt;
    const ParsedFile& f = deck.files[file];
    if (block >= f.blocks.size()) return std::nullopt;
    const keywords::KeywordDef* def = keywords::find(keywords::canonical_base(keyword_name(f, f.blocks[block])));
    if (!def) return std::nullopt;
    for (const keywords::CardDef& card : def->cards())
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
    } else if (const keywords::KeywordDef* def = keywords::find(base)) {
        if (auto pos = keywords::find_field(*def, name)) {
            loc.lib_card = &def->cards()[pos->card];
            loc.field = pos->field;
            card_index = pos->card;
            found = true;
        }
    }
    if (!found) return std::nullopt;
    loc.line = card_index + title_offset(kw);
    if (!data_line_at(f, block, loc.line)) return std::nullopt;
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
    if (is_free_line(line, fmt)) {
        std::size_t pos = 0;
        for (std::size_t k = 0; k < piece; ++k) {
            std::size_t comma = line.find(',', pos);
            if (comma == std::string_view::npos) return std::nullopt;
            pos = comma + 1;
        }
        std::size_t comma = line.find(',', pos);
        return line.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
    }
    if (start >= line.size()) return std::nullopt;
    return line.substr(start, card[loc.field].width * scale);
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

std::optional<SetFieldOutcome> set_data_line_field(ParsedFile& f, std::size_t block, std::size_t line,
                                                   std::size_t column, const std::vector<std::size_t>& widths,
                                                   std::string_view text) {
    if (block >= f.blocks.size()) return std::nullopt;
    // The edit addresses non-blank card lines; a blank data line is a card
    // with default values that holds nothing to edit in place.
    std::optional<std::size_t> ordinal;
    std::size_t count = 0;
    for_each_data_line(f, block, [&](std::string_view l, std::size_t index) {
        bool blank = is_blank_line(l);
        if (index == line) {
            if (!blank) ordinal = count;
            return false;
        }
        if (!blank) ++count;
        return true;
    });
    if (!ordinal) return std::nullopt;
    SetFieldOutcome r = set_field(f, block, *ordinal, column, widths, text);
    if (r == SetFieldOutcome::NotApplied) return std::nullopt;
    return r;
}

}  // namespace tarvex::model
