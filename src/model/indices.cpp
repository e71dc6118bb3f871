#include "model/indices.hpp"

#include <algorithm>
#include <map>
#include <unordered_set>

#include "keywords/library.hpp"
#include "model/lines.hpp"
#include "model/shared_index.hpp"
#include "util/pool.hpp"

namespace tarvex::model {

namespace {

std::size_t kind_index(EntityKind k) noexcept { return static_cast<std::size_t>(k); }

std::int64_t wrapping_add(std::int64_t a, std::int64_t b) noexcept {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

// What a block defines under the definition rules: its rule and the layout
// it is read with (`lines` filled with its data lines).  Nothing when it
// defines nothing.
struct DefiningBlock {
    const keywords::DefinitionRule* rule;
    BlockLayout layout;
};

std::optional<DefiningBlock> defining_block(const ParsedFile& f, std::size_t block, std::vector<DataLine>& lines,
                                           bool skip_multi = false) {
    std::string name = keyword_name(f, f.blocks[block]);
    const keywords::DefinitionRule* rule = keywords::definition_rule_for(keywords::canonical_base(name));
    if (!rule || (skip_multi && rule->multi)) return std::nullopt;
    BlockLayout layout = block_layout(f, block, name, lines);
    if (!layout) return std::nullopt;
    return DefiningBlock{rule, layout};
}

// The id of a non-multi definition: the first field of the rule's card in
// the block's first record.
std::optional<std::int64_t> single_definition_id(const ParsedFile& f, std::size_t block, const DefiningBlock& d,
                                                 std::span<const DataLine> lines) {
    auto cards = d.layout.def->cards();
    if (d.rule->card >= cards.size() || cards[d.rule->card].count == 0) return std::nullopt;
    auto hit = card_line(f, block, d.layout, lines, d.rule->card);
    if (!hit) return std::nullopt;
    return first_field_id(line_text(f, hit->begin, hit->end), cards[d.rule->card].fields()[0],
                          f.blocks[block].format);
}

// Every labelled definition site of the deck (multi rules skipped), in file
// then block order, with the id shifted by the sign-keeping rule.
template <class Fn>
void for_each_definition_site(const Deck& deck, Fn&& fn) {
    const FileTransforms& transforms = deck.file_transforms();
    for (std::size_t fi = 0; fi < deck.files.size(); ++fi) {
        const ParsedFile& f = deck.files[fi];
        std::vector<DataLine> lines;
        for (std::size_t bi = 0; bi < f.blocks.size(); ++bi) {
            // Nodes and elements have no sites: their blocks are not read at all.
            auto d = defining_block(f, bi, lines, /*skip_multi=*/true);
            if (!d) continue;
            auto id = single_definition_id(f, bi, *d, lines);
            if (!id || *id == 0) continue;
            std::int64_t v = *id;
            if (transforms[fi]) v = shift_ref(v, offset_for(*transforms[fi], d->rule->kind));
            fn(d->rule->kind, v, Site{static_cast<std::uint32_t>(fi), static_cast<std::uint32_t>(bi)});
        }
    }
}

// Whether an any-of field's companion type field picks a kind outside the
// field's list (a part id, a shell set, "all"), so that the value is no set
// id the list could resolve.  Contacts: 0 segment set, 2 and 6 part set,
// 4 node set; other keywords: 0 (the default) is the listed set kind.
bool picks_unlisted_kind(const FieldRef& r, std::span<const keywords::FieldDef> fields, std::string_view line,
                         CardFormat fmt, bool contact) noexcept {
    if (r.tag != FieldRef::Tag::AnyOf || r.selector == FieldRef::kNoSelector) return false;
    auto slice = card_field_slice(line, fields, r.selector, fmt);
    if (!slice) return false;
    auto t = read_id(*slice);
    if (!t || *t == 0) return false;
    if (contact) return !(*t == 2 || *t == 4 || *t == 6);
    return true;
}

// Reads the designated fields of one card line: fn(field, value) for each
// non-zero readable value (any-of fields whose type field picks a kind
// outside their list are left out).
template <class Fn>
void for_each_reference(std::string_view line, const keywords::CardDef& card, CardFormat fmt, bool contact,
                        Fn&& fn) {
    auto fields = card.fields();
    for (std::size_t k = 0; k < fields.size(); ++k) {
        if (fields[k].refers.is_none()) continue;
        if (picks_unlisted_kind(fields[k].refers, fields, line, fmt, contact)) continue;
        auto slice = card_field_slice(line, fields, k, fmt);
        if (!slice) continue;
        auto v = read_id(*slice);
        if (!v || *v == 0) continue;
        fn(fields[k], *v);
    }
}

bool starts_with(std::string_view s, std::string_view p) noexcept { return s.substr(0, p.size()) == p; }

}  // namespace

std::optional<Site> SiteIndex::find(EntityKind k, std::int64_t id) const noexcept {
    auto it = map_.find({static_cast<std::uint8_t>(k), id});
    if (it == map_.end()) return std::nullopt;
    return entries_[it->second].site;
}

std::optional<Site> SiteIndex::find_or_abs(EntityKind k, std::int64_t id) const noexcept {
    if (auto s = find(k, id)) return s;
    if (id < 0 && id != INT64_MIN) return find(k, -id);
    return std::nullopt;
}

bool SiteIndex::insert(EntityKind k, std::int64_t id, Site s) {
    auto [it, fresh] = map_.try_emplace({static_cast<std::uint8_t>(k), id}, entries_.size());
    if (!fresh) return false;
    entries_.push_back({k, id, s});
    return true;
}

KindIds collect_def_ids(const ParsedFile& f, const std::optional<TransformOffsets>& offsets) {
    KindIds out;
    std::vector<DataLine> lines;
    for (std::size_t bi = 0; bi < f.blocks.size(); ++bi) {
        const Block& b = f.blocks[bi];
        auto d = defining_block(f, bi, lines);
        if (!d) continue;
        std::size_t k = kind_index(d->rule->kind);
        out.present[k] = true;
        std::int64_t delta = offsets ? offset_for(*offsets, d->rule->kind) : 0;
        auto& ids = out.ids[k];
        if (d->rule->multi) {
            // Every record defines one entity: the first field of its first card.
            auto cards = d->layout.def->cards();
            if (cards.empty() || cards[0].count == 0) continue;
            const keywords::FieldDef& first = cards[0].fields()[0];
            keywords::walk_lines(f.bytes(), lines, b.format, d->layout, [&](const CardHit& h) {
                if (h.card != 0 || h.row != 0) return;
                auto id = first_field_id(line_text(f, h.begin, h.end), first, b.format);
                if (id && *id != 0) ids.push_back(wrapping_add(*id, delta));
            });
        } else {
            auto id = single_definition_id(f, bi, *d, lines);
            if (id && *id != 0) ids.push_back(wrapping_add(*id, delta));
        }
    }
    return out;
}

const DefinitionIndex& definitions(const Deck& deck) {
    std::call_once(deck.lazy.definitions_once, [&] {
        const FileTransforms& transforms = deck.file_transforms();
        std::vector<std::shared_ptr<const KindIds>> per_file = pool::parallel_map<std::shared_ptr<const KindIds>>(
            deck.files.size(), [&](std::size_t i) -> std::shared_ptr<const KindIds> {
                const ParsedFile& f = deck.files[i];
                if (!deck.shared) return std::make_shared<const KindIds>(collect_def_ids(f, transforms[i]));
                std::shared_ptr<const KindIds> physical = deck.shared->physical_def_ids(f);
                if (!transforms[i]) return physical;
                KindIds shifted = *physical;
                for (std::size_t k = 0; k < static_cast<std::size_t>(kEntityKindCount); ++k) {
                    std::int64_t d = offset_for(*transforms[i], static_cast<EntityKind>(k));
                    if (d == 0) continue;
                    for (auto& v : shifted.ids[k]) v = wrapping_add(v, d);
                }
                return std::make_shared<const KindIds>(std::move(shifted));
            });
        auto index = std::make_shared<DefinitionIndex>();
        std::vector<std::size_t> kinds(kEntityKindCount);
        pool::parallel_for(0, static_cast<std::size_t>(kEntityKindCount), 1, [&](std::size_t lo, std::size_t hi) {
            for (std::size_t k = lo; k < hi; ++k) {
                bool present = false;
                std::vector<const std::vector<std::int64_t>*> lists;
                for (const auto& p : per_file) {
                    if (!p->present[k]) continue;
                    present = true;
                    lists.push_back(&p->ids[k]);
                }
                if (present) index->kinds[k] = IdSet::build(lists);
            }
        });
        deck.lazy.definitions = std::move(index);
    });
    return *deck.lazy.definitions;
}

const SiteIndex& site_index(const Deck& deck) {
    std::call_once(deck.lazy.sites_once, [&] {
        auto index = std::make_shared<SiteIndex>();
        for_each_definition_site(deck, [&](EntityKind k, std::int64_t id, Site s) { index->insert(k, id, s); });
        deck.lazy.sites = std::move(index);
    });
    return *deck.lazy.sites;
}

std::vector<DuplicateDef> duplicate_definitions(const Deck& deck) {
    std::map<std::pair<std::uint8_t, std::int64_t>, std::vector<Site>> sites;
    for_each_definition_site(deck, [&](EntityKind k, std::int64_t id, Site s) {
        sites[{static_cast<std::uint8_t>(k), id}].push_back(s);
    });
    std::vector<DuplicateDef> out;
    for (auto& [key, list] : sites)
        if (list.size() >= 2) out.push_back({static_cast<EntityKind>(key.first), key.second, std::move(list)});
    // The map yields (kind, id) order; a stable sort by first site keeps it for ties.
    std::stable_sort(out.begin(), out.end(), [](const DuplicateDef& a, const DuplicateDef& b) {
        const Site &x = a.sites.front(), &y = b.sites.front();
        return x.file != y.file ? x.file < y.file : x.block < y.block;
    });
    return out;
}

std::vector<std::pair<EntityKind, std::size_t>> definition_counts(const Deck& deck) {
    const DefinitionIndex& defs = definitions(deck);
    std::vector<std::pair<EntityKind, std::size_t>> out;
    for (std::size_t k = 0; k < static_cast<std::size_t>(kEntityKindCount); ++k)
        if (defs.kinds[k]) out.emplace_back(static_cast<EntityKind>(k), defs.kinds[k]->size());
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    return out;
}

bool is_dangling(const DefinitionIndex& defs, const FieldRef& target, std::int64_t value,
                 const std::optional<TransformOffsets>& offsets) noexcept {
    auto resolves = [&](EntityKind k, const IdSet& set) {
        std::int64_t v = offsets ? shift_ref(value, offset_for(*offsets, k)) : value;
        return set.contains(v);
    };
    switch (target.tag) {
        case FieldRef::Tag::None: return false;
        case FieldRef::Tag::Kind: {
            const IdSet* set = defs.find(target.kind);
            return set && !resolves(target.kind, *set);
        }
        case FieldRef::Tag::AnyOf: {
            bool any_present = false;
            for (std::uint8_t i = 0; i < target.any_count; ++i) {
                const IdSet* set = defs.find(target.any_of[i]);
                if (!set) continue;
                any_present = true;
                if (resolves(target.any_of[i], *set)) return false;
            }
            return any_present;
        }
    }
    return false;
}

namespace {

// Whether no id of a file's connectivity can be dangling, so its element
// blocks need not be read.
bool connectivity_resolves(const DefinitionIndex& defs, const PhysicalRefIds& refs,
                           const std::optional<TransformOffsets>& offsets) {
    if (!refs.complete) return false;
    for (std::size_t k = 0; k < static_cast<std::size_t>(kEntityKindCount); ++k) {
        FieldRef target = FieldRef::of(static_cast<EntityKind>(k));
        for (std::int64_t v : refs.ids[k])
            if (is_dangling(defs, target, v, offsets)) return false;
    }
    return true;
}

std::vector<Dangling> dangling_in_file(const Deck& deck, std::size_t fi, const DefinitionIndex& defs,
                                       bool with_connectivity) {
    std::vector<Dangling> out;
    const ParsedFile& f = deck.files[fi];
    const std::optional<TransformOffsets>& offsets = deck.file_transforms()[fi];
    bool read_elements = with_connectivity;
    if (read_elements && deck.shared)
        read_elements = !connectivity_resolves(defs, *deck.shared->physical_ref_ids(f), offsets);
    std::vector<DataLine> lines;
    for (std::size_t bi = 0; bi < f.blocks.size(); ++bi) {
        const Block& b = f.blocks[bi];
        std::string name = keyword_name(f, b);
        std::string base = keywords::canonical_base(name);
        if (deck.user_schemas.count(base)) continue;
        const keywords::KeywordDef* def = keywords::find(base);
        if (!def || !keywords::has_designation(*def)) continue;
        bool element = starts_with(base, "ELEMENT_");
        if (element && !read_elements) continue;
        bool contact = starts_with(base, "CONTACT_");
        BlockLayout layout = block_layout(f, bi, name, lines);
        if (!layout) continue;
        auto read_line = [&](const keywords::CardDef& card, const CardHit& h) {
            for_each_reference(line_text(f, h.begin, h.end), card, b.format, contact,
                               [&](const keywords::FieldDef& field, std::int64_t v) {
                                   if (!is_dangling(defs, field.refers, v, offsets)) return;
                                   out.push_back({base, std::string(field.name_view()), f.path, field.refers, v,
                                                  deck.block_line(fi, bi) + h.line});
                               });
        };
        if (element) {
            // Connectivity: every line of every record.
            keywords::walk_lines(f.bytes(), lines, b.format, layout, [&](const CardHit& h) {
                if (const keywords::CardDef* card = keywords::layout_card(layout, h.card)) read_line(*card, h);
            });
        } else {
            for_each_first_record_card(f, bi, layout, lines, read_line);
        }
    }
    return out;
}

}  // namespace

std::vector<Dangling> dangling(const Deck& deck, bool with_connectivity) {
    const DefinitionIndex& defs = definitions(deck);
    deck.file_transforms();
    auto per_file = pool::parallel_map<std::vector<Dangling>>(
        deck.files.size(), [&](std::size_t i) { return dangling_in_file(deck, i, defs, with_connectivity); });
    std::vector<Dangling> out;
    for (auto& v : per_file)
        for (auto& d : v) out.push_back(std::move(d));
    return out;
}

PhysicalRefIds collect_conn_ref_ids(const ParsedFile& f) {
    PhysicalRefIds out;
    std::array<std::unordered_set<std::int64_t, IntHasher>, kEntityKindCount> sets;
    std::vector<DataLine> lines;
    for (std::size_t bi = 0; bi < f.blocks.size(); ++bi) {
        const Block& b = f.blocks[bi];
        std::string name = keyword_name(f, b);
        std::string base = keywords::canonical_base(name);
        if (!starts_with(base, "ELEMENT_")) continue;
        const keywords::KeywordDef* def = keywords::find(base);
        if (!def || !keywords::has_designation(*def)) continue;
        BlockLayout layout = block_layout(f, bi, name, lines);
        if (!layout) continue;
        keywords::walk_lines(f.bytes(), lines, b.format, layout, [&](const CardHit& h) {
            const keywords::CardDef* card = keywords::layout_card(layout, h.card);
            if (!card) return;
            for_each_reference(line_text(f, h.begin, h.end), *card, b.format, false,
                               [&](const keywords::FieldDef& field, std::int64_t v) {
                                   if (field.refers.tag == FieldRef::Tag::Kind)
                                       sets[kind_index(field.refers.kind)].insert(v);
                                   else
                                       out.complete = false;
                               });
        });
    }
    for (std::size_t k = 0; k < sets.size(); ++k) out.ids[k].assign(sets[k].begin(), sets[k].end());
    return out;
}

std::shared_ptr<const KindIds> SharedIndex::physical_def_ids(const ParsedFile& f) {
    return defs_.get(f, [](const ParsedFile& file) { return collect_def_ids(file, std::nullopt); });
}

std::shared_ptr<const PhysicalRefIds> SharedIndex::physical_ref_ids(const ParsedFile& f) {
    return refs_.get(f, [](const ParsedFile& file) { return collect_conn_ref_ids(file); });
}

}  // namespace tarvex::model
