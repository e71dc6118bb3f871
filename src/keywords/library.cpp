#include "keywords/library.hpp"

#include <algorithm>
#include <cstring>

#include "util/text.hpp"

namespace tarvex::keywords {

namespace {

// Longest name of the library; a longer query can match nothing.
constexpr std::size_t kMaxQuery = 128;

bool byte_less(const KeywordDef& e, std::string_view q) noexcept { return e.name() < q; }

}  // namespace

std::span<const KeywordDef> sorted_table() noexcept { return {detail::kKeywords, detail::kSortedCount}; }
const KeywordDef& node_entry() noexcept { return detail::kKeywords[detail::kSortedCount]; }
const KeywordDef& part_entry() noexcept { return detail::kKeywords[detail::kSortedCount + 1]; }
const KeywordDef& hourglass_entry() noexcept { return detail::kKeywords[detail::kSortedCount + 2]; }
const KeywordDef& element_solid_entry() noexcept { return detail::kKeywords[detail::kElementSolid]; }
const KeywordDef& element_solid_two_line_entry() noexcept { return detail::kKeywords[detail::kSortedCount + 3]; }

const KeywordDef* find(std::string_view name) noexcept {
    if (name.empty() || name.size() > kMaxQuery) return nullptr;
    char buf[kMaxQuery];
    for (std::size_t i = 0; i < name.size(); ++i) buf[i] = text::upper(name[i]);
    std::string_view q(buf, name.size());
    if (q.size() == 4) {
        if (q == "NODE") return &node_entry();
        if (q == "PART") return &part_entry();
    } else if (q.size() == 9 && q == "HOURGLASS") {
        return &hourglass_entry();
    }
    auto table = sorted_table();
    auto it = std::lower_bound(table.begin(), table.end(), q, byte_less);
    if (it != table.end() && it->name() == q) return &*it;
    // Names holding lower-case letters are found by folding case.  The names
    // are unique without regard to case, so an all-upper-case name equal to
    // the query under folding would have been found above: only the entries
    // with lower-case letters need the comparison, in table order.
    for (std::size_t i = 0; i < detail::kMixedCaseCount; ++i) {
        const KeywordDef& e = table[detail::kMixedCase[i]];
        if (e.name_len == q.size() && text::iequals(e.name(), q)) return &e;
    }
    return nullptr;
}

Schema schema_of(const KeywordDef& def) {
    Schema s;
    s.keyword = std::string(def.name());
    s.repeat = true;
    s.cards.reserve(def.card_count);
    for (const CardDef& c : def.cards()) {
        Card card;
        card.reserve(c.count);
        for (const FieldDef& f : c.fields()) {
            FieldSpec fs;
            fs.name = f.name;
            fs.refers = f.refers;
            fs.width = f.width;
            fs.count = 1;
            fs.ty = f.ty;
            card.push_back(std::move(fs));
        }
        s.cards.push_back(std::move(card));
    }
    return s;
}

std::optional<Schema> schema(std::string_view name) {
    const KeywordDef* def = find(name);
    if (!def) return std::nullopt;
    return schema_of(*def);
}

std::optional<FieldPos> find_field(const KeywordDef& def, std::string_view name) noexcept {
    auto cards = def.cards();
    for (std::size_t ci = 0; ci < cards.size(); ++ci) {
        auto fields = cards[ci].fields();
        for (std::size_t fi = 0; fi < fields.size(); ++fi) {
            std::string_view n = fields[fi].name_view();
            if (n.size() == name.size() && text::iequals(n, name)) return FieldPos{ci, fi, &fields[fi]};
        }
    }
    return std::nullopt;
}

bool has_designation(const CardDef& card) noexcept {
    for (const FieldDef& f : card.fields())
        if (!f.refers.is_none()) return true;
    return false;
}

bool has_designation(const KeywordDef& def) noexcept {
    for (const CardDef& c : def.cards())
        if (has_designation(c)) return true;
    return false;
}

std::string canonical_base(std::string_view name) {
    std::string s(name);
    for (char& c : s) c = text::upper(c);
    auto ends = [&](std::string_view suf) {
        return s.size() >= suf.size() && std::string_view(s).substr(s.size() - suf.size()) == suf;
    };
    if (ends("_TITLE")) s.resize(s.size() - 6);
    if (ends("_ID")) s.resize(s.size() - 3);
    return s;
}

std::span<const DefinitionRule> definition_rules() noexcept {
    return {detail::kDefinitionRules, detail::kDefinitionRuleCount};
}

bool excluded_from_definitions(std::string_view base) noexcept {
    for (std::size_t i = 0; i < detail::kDefinitionExclusionCount; ++i) {
        const DefinitionExclusion& x = detail::kDefinitionExclusions[i];
        if (x.prefix ? base.starts_with(x.text) : base.find(x.text) != std::string_view::npos) return true;
    }
    return false;
}

const DefinitionRule* definition_rule_for(std::string_view base) noexcept {
    if (excluded_from_definitions(base)) return nullptr;
    for (const DefinitionRule& r : definition_rules())
        if (r.exact ? base == r.pattern : base.starts_with(r.pattern)) return &r;
    return nullptr;
}

}  // namespace tarvex::keywords
