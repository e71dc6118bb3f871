#include "keywords/record_walker.hpp"

#include <algorithm>
#include <array>

#include "keywords/card_program.hpp"
#include "util/text.hpp"

namespace tarvex::keywords {

namespace {

constexpr std::size_t kNpos = static_cast<std::size_t>(-1);
// Cards whose last line the conditions can see (the library has at most 21).
constexpr std::size_t kMaxTracked = 64;
constexpr std::size_t kMaxName = 128;

bool ends_with(std::string_view s, std::string_view suffix) noexcept {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Whether the first line of an *ELEMENT_SOLID block holds only the id and
// part fields (the two-line form writes the nodes on the next line).
bool two_line_solid(std::string_view line, CardFormat fmt) noexcept {
    if (is_free_line(line, fmt)) {
        std::size_t commas = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == ',') {
                ++commas;
                continue;
            }
            if (commas >= 2 && !text::is_ws(line[i])) return false;
        }
        return true;
    }
    return text::trim_right(line).size() <= (fmt == CardFormat::Long ? 40u : 16u);
}

class Walker {
public:
    Walker(std::string_view bytes, std::span<const DataLine> lines, CardFormat fmt, const BlockLayout& layout,
           HitFn fn, void* ctx) noexcept
        : bytes_(bytes), lines_(lines), fmt_(fmt), layout_(layout), fn_(fn), ctx_(ctx),
          own_title_(has_title_card(*layout.def)) {
        last_.fill(kNpos);
    }

    void run() noexcept {
        const KeywordDef& def = *layout_.def;
        auto cards = def.cards();
        const std::size_t n = lines_.size();
        if (layout_.one_line_records()) {
            std::uint32_t record = 0;
            for (std::size_t i = 0; i < n; ++i)
                if (!lines_[i].blank && !emit(record++, 0, 0, i)) return;
            return;
        }
        std::uint32_t record = 0;
        while (i_ < n) {
            const std::size_t start = i_;
            if (layout_.title && !own_title_ && !emit(record, kTitleLine, 0, i_++)) return;
            if (layout_.id_card && i_ < n && !emit(record, kIdLine, 0, i_++)) return;
            if (layout_.mpp) {
                auto mpp = def.mpp_cards();
                for (std::size_t k = 0; k < mpp.size() && i_ < n; ++k)
                    if (option_active(mpp[k]) && !emit(record, kMppLine + k, 0, i_++)) return;
            }
            for (std::size_t p = 0; p < cards.size() && i_ < n;) {
                if (def.group_count && p == def.group_first) {
                    // A run of cards repeated within the record: rows are the repetitions.
                    std::size_t end = std::min<std::size_t>(p + def.group_count, cards.size());
                    std::uint64_t reps = count(def.group_length);
                    for (std::uint64_t rep = 0; rep < reps && i_ < n; ++rep) {
                        std::size_t before = i_;
                        for (std::size_t pp = p; pp < end && i_ < n; ++pp)
                            if (!read_card(record, def.walk_card(pp), rep)) return;
                        if (i_ == before) break;
                    }
                    p = end;
                    continue;
                }
                std::size_t c = def.walk_card(p);
                if (cards[c].kind == CardKind::TableGroup) {
                    std::size_t q = p;
                    while (q < cards.size() && cards[def.walk_card(q)].kind == CardKind::TableGroup) ++q;
                    const CardDef& card = cards[c];
                    std::uint64_t reps = card.length == kNone ? ~std::uint64_t{0} : count(card.length);
                    for (std::uint64_t rep = 0; rep < reps && i_ < n; ++rep) {
                        std::size_t before = i_;
                        for (std::size_t pp = p; pp < q && i_ < n; ++pp) {
                            std::size_t cc = def.walk_card(pp);
                            if (!active(cc)) continue;
                            if (!emit(record, cc, rep, i_++)) return;
                        }
                        if (i_ == before) break;
                    }
                    p = q;
                    continue;
                }
                ++p;
                if (!read_card(record, c, 0)) return;
            }
            auto tail = def.tail_cards();
            for (std::size_t k = 0; k < tail.size() && i_ < n; ++k)
                if (!emit(record, kTailLine + k, 0, i_++)) return;
            if (i_ == start) return;  // the layout reads nothing more: the rest is not accounted for
            ++record;
        }
    }

private:
    // Reads card `c` (not a TableGroup card) at the current line: one line,
    // or its rows; rows are numbered from `row0` (a repetition of a run).
    bool read_card(std::uint32_t record, std::size_t c, std::uint64_t row0) noexcept {
        const CardDef& card = layout_.def->cards()[c];
        if (card.kind == CardKind::Title && !layout_.title) return true;  // the card of the _TITLE option
        if (!active(c)) return true;
        std::uint64_t rows = 1;
        if (card.kind == CardKind::Table) {
            rows = card.length == kNone ? ~std::uint64_t{0} : count(card.length);
        } else if (card.kind == CardKind::Series) {
            std::uint64_t per = card.count ? card.count : 1;
            rows = card.length == kNone ? ~std::uint64_t{0} : (count(card.length) + per - 1) / per;
        }
        for (std::uint64_t r = 0; r < rows && i_ < lines_.size(); ++r)
            if (!emit(record, c, row0 + r, i_++)) return false;
        return true;
    }

    bool emit(std::uint32_t record, std::size_t card, std::uint64_t row, std::size_t line) noexcept {
        if (card < kMaxTracked) last_[card] = line;
        CardHit h;
        h.record = record;
        h.card = static_cast<std::uint16_t>(card);
        h.row = static_cast<std::uint32_t>(row);
        h.line = static_cast<std::uint32_t>(line);
        h.begin = lines_[line].begin;
        h.end = lines_[line].end;
        return fn_(ctx_, h);
    }

    ProgramInput input(std::size_t governed) const noexcept {
        ProgramInput in;
        in.bytes = bytes_;
        in.format = fmt_;
        in.def = layout_.def;
        in.lines = lines_.data();
        in.last_line = last_.data();
        in.last_count = kMaxTracked;
        in.governed = governed;
        in.lines_left = i_ < lines_.size();
        in.peek = in.lines_left ? i_ : kNpos;
        return in;
    }

    bool active(std::size_t card) const noexcept {
        std::uint32_t prog = layout_.def->cards()[card].active;
        return prog == kNone || program_true(prog, input(card));
    }

    bool option_active(const CardDef& card) const noexcept {
        if (card.active == kNone) return true;
        ProgramInput in = input(kNpos);
        in.own_card = &card;
        return program_true(card.active, in);
    }

    std::uint64_t count(std::uint32_t prog) const noexcept { return program_count(prog, input(kNpos)); }

    std::string_view bytes_;
    std::span<const DataLine> lines_;
    CardFormat fmt_;
    const BlockLayout& layout_;
    HitFn fn_;
    void* ctx_;
    bool own_title_;  // the layout's own Title card reads the title line
    std::size_t i_ = 0;
    std::array<std::size_t, kMaxTracked> last_{};
};

}  // namespace

void data_lines(std::string_view bytes, std::size_t body_begin, std::size_t body_end, std::vector<DataLine>& out) {
    out.clear();
    if (body_begin > body_end || body_end > bytes.size()) return;
    for_each_data_line(bytes.substr(body_begin, body_end - body_begin),
                       [&](std::string_view line, std::size_t offset, bool blank) {
                           std::size_t b = body_begin + offset;
                           out.push_back({b, b + line.size(), blank});
                       });
}

void block_data_lines(const ParsedFile& f, const Block& b, std::vector<DataLine>& out) {
    data_lines(f.bytes(), b.kw_end, b.end, out);
}

bool BlockLayout::one_line_records() const noexcept {
    if (!def || title || id_card || mpp || def->card_count != 1) return false;
    const CardDef& c = def->cards()[0];
    if (c.active != kNone) return false;
    return c.kind == CardKind::Plain ||
           ((c.kind == CardKind::Table || c.kind == CardKind::Series) && c.length == kNone);
}

BlockLayout layout_for_name(std::string_view name) noexcept {
    if (name.empty() || name.size() > kMaxName) return {};
    char buf[kMaxName];
    for (std::size_t i = 0; i < name.size(); ++i) buf[i] = text::upper(name[i]);
    std::string_view stem(buf, name.size());
    // Strip the option suffixes, in any order and each at most once, until
    // the library holds the rest.
    bool title = false, id = false, mpp = false;
    for (;;) {
        if (const KeywordDef* def = find(stem)) {
            // A library entry named _TITLE or _ID reads its blocks' title
            // line or ID card as well (unless its own first card is the ID).
            std::string_view own = stem;
            if (ends_with(own, "_TITLE")) {
                title = true;
                own.remove_suffix(6);
            }
            const CardDef* id_card = id || ends_with(own, "_ID") ? def->id_card_def() : nullptr;
            if ((id && !id_card) || (mpp && def->mpp_count == 0)) return {};
            // A _TITLE contact block writes its ID card (CID, HEADING) as the title line.
            if (title && !id_card && def->id_card_def() && def->name().starts_with("CONTACT_"))
                return {def, false, def->id_card_def(), mpp};
            return {def, title, id_card, mpp};
        }
        if (!title && ends_with(stem, "_TITLE")) {
            title = true;
            stem.remove_suffix(6);
        } else if (!id && ends_with(stem, "_ID")) {
            id = true;
            stem.remove_suffix(3);
        } else if (!mpp && ends_with(stem, "_MPP")) {
            mpp = true;
            stem.remove_suffix(4);
        } else {
            return {};
        }
    }
}

BlockLayout refine_for_block(const BlockLayout& layout, std::string_view bytes, std::span<const DataLine> lines,
                             CardFormat fmt) noexcept {
    if (layout.def != &element_solid_entry() || layout.title || layout.id_card || layout.mpp) return layout;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].blank) continue;
        if (i + 1 < lines.size() && two_line_solid(bytes.substr(lines[i].begin, lines[i].end - lines[i].begin), fmt))
            return {&element_solid_two_line_entry(), false, nullptr, false};
        break;
    }
    return layout;
}

std::string_view card_field(std::string_view line, const CardDef& card, std::size_t field, CardFormat fmt) noexcept {
    LineCutter cut(line, fmt);
    auto fields = card.fields();
    std::string_view raw;
    for (std::size_t k = 0; k <= field && k < fields.size(); ++k) raw = cut.next(fields[k].width);
    return field < fields.size() ? raw : std::string_view{};
}

bool has_title_card(const KeywordDef& def) noexcept {
    for (const CardDef& c : def.cards())
        if (c.kind == CardKind::Title) return true;
    return false;
}

bool card_has_rows(const KeywordDef& def, std::size_t card) noexcept {
    auto cards = def.cards();
    if (card >= cards.size()) return false;
    if (cards[card].repeats()) return true;
    for (std::size_t p = def.group_first; p < std::size_t{def.group_first} + def.group_count && p < cards.size(); ++p)
        if (def.walk_card(p) == card) return true;
    return false;
}

const CardDef* layout_card(const BlockLayout& layout, std::uint16_t card) noexcept {
    if (!layout.def) return nullptr;
    if (card == kTitleLine) return layout.title ? &title_card() : nullptr;
    if (card == kIdLine) return layout.id_card;
    if (card >= kMppLine && card < kTailLine) {
        auto mpp = layout.def->mpp_cards();
        return layout.mpp && card - kMppLine < static_cast<int>(mpp.size()) ? &mpp[card - kMppLine] : nullptr;
    }
    if (card >= kTailLine) {
        auto tail = layout.def->tail_cards();
        return card - kTailLine < static_cast<int>(tail.size()) ? &tail[card - kTailLine] : nullptr;
    }
    auto cards = layout.def->cards();
    return card < cards.size() ? &cards[card] : nullptr;
}

bool two_line_solid_block(const ParsedFile& f, const Block& b) noexcept {
    std::string_view body = f.body(b);
    std::string_view first;
    bool have_first = false;
    for (std::size_t pos = 0; pos < body.size();) {
        text::Line ln = text::line_at(body, pos);
        pos = ln.next;
        if (!is_card_line(ln.content)) continue;
        if (have_first) return two_line_solid(strip_crlf(first), b.format);
        first = ln.content;
        have_first = true;
    }
    return false;
}

void walk_lines(std::string_view bytes, std::span<const DataLine> lines, CardFormat fmt, const BlockLayout& layout,
                HitFn fn, void* ctx) noexcept {
    if (!layout.def) return;
    Walker(bytes, lines, fmt, layout, fn, ctx).run();
}

std::optional<CardHit> first_card_line(std::string_view bytes, std::span<const DataLine> lines, CardFormat fmt,
                                       const BlockLayout& layout, std::uint16_t card) noexcept {
    std::optional<CardHit> found;
    walk_lines(bytes, lines, fmt, layout, [&](const CardHit& h) {
        if (h.record > 0) return false;
        if (h.card == card && h.row == 0) {
            found = h;
            return false;
        }
        return true;
    });
    return found;
}

}  // namespace tarvex::keywords
