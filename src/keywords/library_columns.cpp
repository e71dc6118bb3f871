#include "keywords/library_columns.hpp"

#include <string>

#include "util/text.hpp"

namespace tarvex::keywords {

namespace {

constexpr std::size_t kNpos = static_cast<std::size_t>(-1);

struct ColumnSource {
    std::string name;
    FieldType ty;
};

// Where the fields of a walked layout go among the result's columns.
struct ColumnMap {
    std::size_t title = kNpos;
    std::vector<std::size_t> id;                 // per ID card field
    std::vector<std::vector<std::size_t>> card;  // per card, per field (npos: no column)
};

ColumnMap map_columns(const BlockLayout& walked, const std::vector<ColumnSource>& sources, std::size_t title_col,
                      std::size_t id_first, std::size_t cards_first) {
    ColumnMap m;
    m.title = title_col;
    if (walked.id_card)
        for (std::size_t k = 0; k < walked.id_card->count; ++k) m.id.push_back(id_first + k);
    auto by_name = [&](std::string_view n) {
        for (std::size_t i = cards_first; i < sources.size(); ++i)
            if (sources[i].name == n) return i;
        return kNpos;
    };
    std::size_t next = cards_first;
    for (const CardDef& c : walked.def->cards()) {
        std::vector<std::size_t> cols;
        for (const FieldDef& f : c.fields()) {
            cols.push_back(next < sources.size() && sources[next].name == f.name ? next : by_name(f.name));
            ++next;
        }
        m.card.push_back(std::move(cols));
    }
    return m;
}

void push_line(std::string_view line, const CardDef& card, CardFormat fmt, const std::vector<std::size_t>& map,
               std::vector<Column>& cols) {
    LineCutter cut(line, fmt);
    auto fields = card.fields();
    for (std::size_t k = 0; k < fields.size(); ++k) {
        std::string_view raw = cut.next(fields[k].width);
        if (map[k] != kNpos) cols[map[k]].push(raw);
    }
}

void push_missing(const std::vector<std::size_t>& map, std::vector<Column>& cols) {
    for (std::size_t c : map)
        if (c != kNpos) cols[c].push({});
}

// Turns the hits of one block into rows.
class RowBuilder {
public:
    RowBuilder(std::vector<Column>& cols) : cols_(cols) {}

    void block(std::string_view bytes, CardFormat fmt, const BlockLayout& walked, const ColumnMap& map,
               const std::vector<CardHit>& hits) {
        std::size_t r0 = 0;
        while (r0 < hits.size()) {
            std::size_t r1 = r0;
            while (r1 < hits.size() && hits[r1].record == hits[r0].record) ++r1;
            record(bytes, fmt, walked, map, hits, r0, r1);
            r0 = r1;
        }
    }

private:
    void record(std::string_view bytes, CardFormat fmt, const BlockLayout& walked, const ColumnMap& map,
                const std::vector<CardHit>& hits, std::size_t h0, std::size_t h1) {
        auto cards = walked.def->cards();
        std::size_t nc = cards.size(), rows = 1;
        std::size_t title = kNpos, id = kNpos;
        plain_.assign(nc, kNpos);
        for (std::size_t h = h0; h < h1; ++h) {
            const CardHit& x = hits[h];
            if (x.card < nc && card_has_rows(*walked.def, x.card) && x.row + std::size_t{1} > rows)
                rows = x.row + std::size_t{1};
        }
        cells_.assign(rows * nc, kNpos);
        for (std::size_t h = h0; h < h1; ++h) {
            const CardHit& x = hits[h];
            if (x.card == kTitleLine)
                title = h;
            else if (x.card == kIdLine)
                id = h;
            else if (x.card >= kMppLine)
                continue;  // MPP cards and option cards A … G have no columns
            else if (x.card < nc && card_has_rows(*walked.def, x.card))
                cells_[x.row * nc + x.card] = h;
            else if (x.card < nc && plain_[x.card] == kNpos)
                plain_[x.card] = h;
        }
        auto line = [&](std::size_t h) { return bytes.substr(hits[h].begin, hits[h].end - hits[h].begin); };
        for (std::size_t row = 0; row < rows; ++row) {
            if (map.title != kNpos) cols_[map.title].push(title == kNpos ? std::string_view{} : line(title));
            if (walked.id_card) {
                if (id == kNpos)
                    push_missing(map.id, cols_);
                else
                    push_line(line(id), *walked.id_card, fmt, map.id, cols_);
            }
            for (std::size_t c = 0; c < nc; ++c) {
                std::size_t h = card_has_rows(*walked.def, c) ? cells_[row * nc + c] : plain_[c];
                if (h == kNpos)
                    push_missing(map.card[c], cols_);
                else
                    push_line(line(h), cards[c], fmt, map.card[c], cols_);
            }
        }
    }

    std::vector<Column>& cols_;
    std::vector<std::size_t> plain_, cells_;
};

}  // namespace

std::optional<Table> read_library_columns(const std::vector<const ParsedFile*>& files, std::string_view name) {
    BlockLayout layout = layout_for_name(name);
    if (!layout) return std::nullopt;
    const KeywordDef& def = *layout.def;
    const KeywordDef* own = find(name);
    std::string match = own ? std::string(own->name()) : std::string(name);

    std::vector<DataLine> lines;
    if (layout.one_line_records()) {
        // The bulk path, unless a block of *ELEMENT_SOLID is in the two-line form.
        bool plain = true;
        if (&def == &element_solid_entry())
            for (const ParsedFile* f : files)
                for (const Block& b : f->blocks)
                    if (plain && keyword_matches(keyword_name_bytes(f->keyword_line(b)), match))
                        plain = !two_line_solid_block(*f, b);
        if (plain) return parse_schema_files(files, schema_of(def));
    }

    std::vector<ColumnSource> sources;
    std::size_t title_col = kNpos, id_first = 0;
    if (layout.title && !has_title_card(def)) {
        title_col = sources.size();
        sources.push_back({"TITLE", FieldType::Str});
    }
    id_first = sources.size();
    if (layout.id_card)
        for (const FieldDef& f : layout.id_card->fields()) sources.push_back({f.name, f.ty});
    std::size_t cards_first = sources.size();
    for (const CardDef& c : def.cards())
        for (const FieldDef& f : c.fields()) sources.push_back({f.name, f.ty});

    std::vector<Column> cols(sources.size());
    for (std::size_t i = 0; i < sources.size(); ++i) cols[i].kind = sources[i].ty;
    ColumnMap own_map = map_columns(layout, sources, title_col, id_first, cards_first);
    ColumnMap other_map;
    const KeywordDef* other_def = nullptr;

    RowBuilder rows(cols);
    std::vector<CardHit> hits;
    for (const ParsedFile* f : files)
        for (const Block& b : f->blocks) {
            if (!keyword_matches(keyword_name_bytes(f->keyword_line(b)), match)) continue;
            hits.clear();
            BlockLayout walked = walk_block(*f, b, layout, lines, [&](const CardHit& h) { hits.push_back(h); });
            const ColumnMap* map = &own_map;
            if (walked.def != layout.def) {
                if (other_def != walked.def) {
                    other_map = map_columns(walked, sources, title_col, id_first, cards_first);
                    other_def = walked.def;
                }
                map = &other_map;
            }
            rows.block(f->bytes(), b.format, walked, *map, hits);
        }

    Table t;
    for (std::size_t i = 0; i < sources.size(); ++i) t.emplace_back(std::move(sources[i].name), std::move(cols[i]));
    return t;
}

}  // namespace tarvex::keywords
