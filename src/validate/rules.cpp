#include "validate/rules.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>
#include <unordered_set>
#include <utility>

#include "keywords/library.hpp"
#include "model/fields.hpp"
#include "model/idset.hpp"
#include "model/indices.hpp"
#include "model/lines.hpp"
#include "model/value.hpp"
#include "parser/parsed_file.hpp"
#include "util/pool.hpp"
#include "util/text.hpp"

namespace tarvex::validate {

namespace {

constexpr const char* kEmDash = "\xE2\x80\x94";  // U+2014

// The canonical base of every block's keyword name, per file.
std::string block_base(const ParsedFile& f, std::size_t block) {
    return keywords::canonical_base(keyword_name(f, f.blocks[block]));
}

Finding make_finding(std::string rule, std::string keyword, const ParsedFile& f, std::uint64_t line,
                     std::string message, Severity severity = Severity::Error) {
    return Finding{std::move(rule), std::move(keyword), f.path, std::move(message), line, severity};
}

// A local id moved into the deck's id space with the file's offset for `k`.
std::int64_t global_id(const FileTransforms& tr, std::size_t file, EntityKind k, std::int64_t v) {
    if (file >= tr.size() || !tr[file]) return v;
    return shift_ref(v, offset_for(*tr[file], k));
}

// Calls fn(file, block) for every block, files in order, whose canonical base is `base`.
template <class Fn>
void for_each_occurrence(const Deck& deck, std::string_view base, Fn&& fn) {
    for (std::size_t fi = 0; fi < deck.files.size(); ++fi) {
        const ParsedFile& f = deck.files[fi];
        for (std::size_t bi = 0; bi < f.blocks.size(); ++bi) {
            // A canonical base is a prefix of the upper-cased name: most blocks
            // are turned away here without building their base.
            std::string_view raw = keyword_name_bytes(f.keyword_line(f.blocks[bi]));
            if (raw.size() < base.size() || !text::iequals(raw.substr(0, base.size()), base)) continue;
            if (block_base(f, bi) == base) fn(fi, bi);
        }
    }
}

std::string trimmed_keyword(std::string_view keyword) { return std::string(text::trim_unicode(keyword)); }

}  // namespace

// ---- ReferencesResolve -------------------------------------------------

std::vector<Finding> ReferencesResolve::run(const Deck& deck) const {
    std::vector<model::Dangling> records = model::dangling(deck, connectivity_);
    std::vector<Finding> out;
    out.reserve(records.size());
    for (auto& d : records) {
        std::string kinds =
            d.target.tag == FieldRef::Tag::Kind ? std::string(entity_kind_name(d.target.kind)) : field_ref_display(d.target);
        std::string message = d.keyword + "." + d.field + " references " + kinds + " " + std::to_string(d.value) + " " +
                              kEmDash + " not defined in the deck";
        out.push_back(Finding{name(), std::move(d.keyword), std::move(d.file), std::move(message), d.line,
                              Severity::Error});
    }
    return out;
}

// ---- DuplicateIds ------------------------------------------------------

std::vector<Finding> DuplicateIds::run(const Deck& deck) const {
    std::vector<Finding> out;
    for (const auto& dup : model::duplicate_definitions(deck)) {
        std::string message = std::string("duplicate ") + entity_kind_name(dup.kind) + " id " + std::to_string(dup.id) +
                              " " + kEmDash + " defined by " + std::to_string(dup.sites.size()) +
                              " keywords in the deck";
        for (const auto& site : dup.sites) {
            if (site.file >= deck.files.size()) continue;
            const ParsedFile& f = deck.files[site.file];
            if (site.block >= f.blocks.size()) continue;
            out.push_back(make_finding(name(), block_base(f, site.block), f, deck.block_line(site.file, site.block),
                                       message));
        }
    }
    return out;
}

// ---- UnreferencedEntities ----------------------------------------------

UnreferencedEntities::UnreferencedEntities()
    : kinds_{EntityKind::Material,   EntityKind::ThermalMaterial, EntityKind::Section,    EntityKind::Eos,
             EntityKind::Hourglass,  EntityKind::Curve,           EntityKind::Coord,      EntityKind::Vector,
             EntityKind::Box,        EntityKind::Transform,       EntityKind::NodeSet,    EntityKind::PartSet,
             EntityKind::SegmentSet, EntityKind::ShellSet,        EntityKind::SolidSet,   EntityKind::BeamSet,
             EntityKind::DiscreteSet, EntityKind::Sensor,         EntityKind::Define} {}

std::vector<Finding> UnreferencedEntities::run(const Deck& deck) const {
    using IdHashSet = std::unordered_set<std::int64_t, model::IntHasher>;
    std::array<IdHashSet, kEntityKindCount> referenced;
    const FileTransforms& tr = deck.file_transforms();

    std::vector<model::DataLine> lines;
    for (std::size_t fi = 0; fi < deck.files.size(); ++fi) {
        const ParsedFile& f = deck.files[fi];
        for (std::size_t bi = 0; bi < f.blocks.size(); ++bi) {
            const std::string name = keyword_name(f, f.blocks[bi]);
            const std::string base = keywords::canonical_base(name);
            if (!keywords::excluded_from_definitions(base)) {
                const keywords::DefinitionRule* rule = keywords::definition_rule_for(base);
                if (rule && rule->multi) continue;  // mesh keywords
            }
            if (!keywords::find(base)) continue;
            const model::BlockLayout layout = model::block_layout(f, bi, name, lines);
            if (!layout) continue;
            model::for_each_first_record_card(f, bi, layout, lines, [&](const keywords::CardDef& card,
                                                                        const model::CardHit& hit) {
                const auto fields = card.fields();
                const std::string_view line = model::line_text(f, hit.begin, hit.end);
                for (std::size_t n = 0; n < fields.size(); ++n) {
                    const FieldRef& target = fields[n].refers;
                    if (target.is_none()) continue;
                    auto slice = model::card_field_slice(line, fields, n, f.blocks[bi].format);
                    if (!slice) continue;
                    auto v = model::read_id(*slice);
                    if (!v || *v == 0) continue;
                    auto add = [&](EntityKind k) {
                        referenced[static_cast<std::size_t>(k)].insert(global_id(tr, fi, k, *v));
                    };
                    if (target.tag == FieldRef::Tag::Kind) {
                        add(target.kind);
                    } else {
                        for (std::uint8_t i = 0; i < target.any_count; ++i) add(target.any_of[i]);
                    }
                }
            });
        }
    }

    const model::SiteIndex& sites = model::site_index(deck);
    std::vector<Finding> out;
    for (EntityKind kind : kinds_) {
        const IdHashSet& refs = referenced[static_cast<std::size_t>(kind)];
        std::vector<const model::SiteIndex::Entry*> unreferenced;
        for (const auto& e : sites.entries())
            if (e.kind == kind && !refs.count(e.id)) unreferenced.push_back(&e);
        // A stable report: by file, block, then id.
        std::sort(unreferenced.begin(), unreferenced.end(), [](const auto* a, const auto* b) {
            return std::tie(a->site.file, a->site.block, a->id) < std::tie(b->site.file, b->site.block, b->id);
        });
        for (const auto* e : unreferenced) {
            if (e->site.file >= deck.files.size()) continue;
            const ParsedFile& f = deck.files[e->site.file];
            if (e->site.block >= f.blocks.size()) continue;
            out.push_back(make_finding(name(), block_base(f, e->site.block), f,
                                       deck.block_line(e->site.file, e->site.block),
                                       std::string(entity_kind_name(kind)) + " " + std::to_string(e->id) +
                                           " is defined but never referenced",
                                       Severity::Warning));
        }
    }
    return out;
}

// ---- RigidContext -------------------------------------------------------

namespace {
struct RigidRow {
    const char* keyword;
    std::vector<const char*> part_fields;
};

const std::vector<RigidRow>& rigid_table() {
    static const std::vector<RigidRow> table = {
        {"LOAD_RIGID_BODY", {"PID"}},
        {"CONSTRAINED_RIGID_BODIES", {"PIDL", "PIDC"}},
        {"CONSTRAINED_EXTRA_NODES_NODE", {"PID"}},
        {"CONSTRAINED_EXTRA_NODES_SET", {"PID"}},
        {"CONSTRAINED_RIGID_BODY_STOPPERS", {"PID"}},
        {"BOUNDARY_PRESCRIBED_MOTION_RIGID", {"PID"}},
    };
    return table;
}

bool is_rigid_material(std::string_view base) { return base == "MAT_RIGID" || base == "MAT_020" || base == "MAT_20"; }
}  // namespace

std::vector<Finding> RigidContext::run(const Deck& deck) const {
    std::vector<Finding> out;
    const FileTransforms& tr = deck.file_transforms();
    const model::SiteIndex& sites = model::site_index(deck);
    for (const RigidRow& row : rigid_table()) {
        for_each_occurrence(deck, row.keyword, [&](std::size_t fi, std::size_t bi) {
            for (const char* field : row.part_fields) {
                auto loc = model::keyword_field(deck, fi, bi, field);
                if (!loc) continue;
                auto raw = model::raw_bytes(*loc);
                if (!raw) continue;
                auto local = model::read_id(*raw);
                if (!local || *local == 0) continue;
                const std::int64_t pid = global_id(tr, fi, EntityKind::Part, *local);
                auto part = sites.find(EntityKind::Part, pid);
                if (!part) continue;
                auto mid = model::first_ref_to(deck, part->file, part->block, EntityKind::Material);
                if (!mid) continue;
                const std::int64_t gmid = global_id(tr, part->file, EntityKind::Material, *mid);
                auto mat = sites.find(EntityKind::Material, gmid);
                if (!mat || mat->file >= deck.files.size()) continue;
                const ParsedFile& mf = deck.files[mat->file];
                if (mat->block >= mf.blocks.size()) continue;
                const std::string material = block_base(mf, mat->block);
                if (is_rigid_material(material)) continue;
                const ParsedFile& f = deck.files[fi];
                out.push_back(make_finding(name(), row.keyword, f, deck.block_line(fi, bi),
                                           std::string(row.keyword) + "." + field + " references part " +
                                               std::to_string(pid) + ", whose material *" + material +
                                               " is not *MAT_RIGID"));
            }
        });
    }
    return out;
}

// ---- IncludeMissing -----------------------------------------------------

std::vector<Finding> IncludeMissing::run(const Deck& deck) const {
    std::vector<Finding> out;
    for (const auto& [fi, dir] : deck.includes) {
        if (fi >= deck.files.size()) continue;
        struct stat st;
        // A path with an embedded NUL cannot name a file.
        bool present = std::strlen(dir.resolved.c_str()) == dir.resolved.size() && ::stat(dir.resolved.c_str(), &st) == 0;
        if (present) continue;
        out.push_back(make_finding(name(), "INCLUDE", deck.files[fi], 0,
                                   "include '" + dir.name + "' resolves to a missing file: " +
                                       text::utf8_lossy(dir.resolved)));
    }
    return out;
}

// ---- KeywordForbidden ----------------------------------------------------

KeywordForbidden::KeywordForbidden(std::string keyword)
    : keyword_(std::move(keyword)), base_(keywords::canonical_base(keyword_)) {}

std::vector<Finding> KeywordForbidden::run(const Deck& deck) const {
    std::vector<Finding> out;
    for_each_occurrence(deck, base_, [&](std::size_t fi, std::size_t bi) {
        const ParsedFile& f = deck.files[fi];
        out.push_back(make_finding(name(), base_, f, deck.block_line(fi, bi),
                                   "keyword *" + base_ + " is not allowed here"));
    });
    return out;
}

// ---- FieldRequired -------------------------------------------------------

FieldRequired::FieldRequired(std::string keyword, ExprPtr require, ExprPtr when)
    : keyword_(std::move(keyword)),
      base_(keywords::canonical_base(keyword_)),
      require_(std::move(require)),
      when_(std::move(when)) {}

std::vector<Finding> FieldRequired::run(const Deck& deck) const {
    std::vector<Finding> out;
    if (!require_) return out;
    for_each_occurrence(deck, base_, [&](std::size_t fi, std::size_t bi) {
        const Occurrence occ{deck, fi, bi};
        if (when_ && !eval(*when_, occ)) return;
        if (eval(*require_, occ)) return;
        std::string message = "requires " + describe(*require_);
        if (when_) message += " when " + describe(*when_);
        if (require_->tag == Expr::Tag::Field) {
            if (auto loc = model::keyword_field(deck, fi, bi, require_->field))
                message += ", got " + model::field_value(*loc).display();
        }
        const ParsedFile& f = deck.files[fi];
        out.push_back(make_finding(name(), base_, f, deck.block_line(fi, bi), std::move(message)));
    });
    return out;
}

// ---- FieldForbiddenValues -------------------------------------------------

FieldForbiddenValues::FieldForbiddenValues(std::string keyword, std::string field, std::vector<model::Value> values)
    : keyword_(std::move(keyword)),
      base_(keywords::canonical_base(keyword_)),
      field_(std::move(field)),
      values_(std::move(values)) {}

std::vector<Finding> FieldForbiddenValues::run(const Deck& deck) const {
    std::vector<Finding> out;
    for_each_occurrence(deck, base_, [&](std::size_t fi, std::size_t bi) {
        auto loc = model::keyword_field(deck, fi, bi, field_);
        if (!loc) return;
        const model::Value v = model::field_value(*loc);
        for (const auto& forbidden : values_) {
            if (!values_equal(v, forbidden)) continue;
            const ParsedFile& f = deck.files[fi];
            out.push_back(make_finding(name(), base_, f, deck.block_line(fi, bi),
                                       field_ + " = " + v.display() + " is forbidden"));
            return;
        }
    });
    return out;
}

// ---- Rule constructors -----------------------------------------------------

namespace {
Result<std::string> clean_keyword(std::string_view keyword) {
    std::string k = trimmed_keyword(keyword);
    if (k.empty()) return Error::value("keyword name must not be empty");
    return k;
}
}  // namespace

Rule Rule::references_resolve() { return Rule(std::make_shared<ReferencesResolve>(false)); }
Rule Rule::references_resolve_with_connectivity() { return Rule(std::make_shared<ReferencesResolve>(true)); }
Rule Rule::duplicate_ids() { return Rule(std::make_shared<DuplicateIds>()); }
Rule Rule::unreferenced_entities() { return Rule(std::make_shared<UnreferencedEntities>()); }
Rule Rule::rigid_context() { return Rule(std::make_shared<RigidContext>()); }
Rule Rule::include_missing() { return Rule(std::make_shared<IncludeMissing>()); }

Result<Rule> Rule::keyword_forbidden(std::string_view keyword) {
    auto k = clean_keyword(keyword);
    if (!k) return k.error();
    return Rule(std::make_shared<KeywordForbidden>(std::move(k).value()));
}

Result<Rule> Rule::field_required(std::string_view keyword, ExprPtr require, ExprPtr when) {
    auto k = clean_keyword(keyword);
    if (!k) return k.error();
    if (!require) return Error::value("require must be a predicate");
    return Rule(std::make_shared<FieldRequired>(std::move(k).value(), std::move(require), std::move(when)));
}

Result<Rule> Rule::field_forbidden_values(std::string_view keyword, std::string field,
                                          std::vector<model::Value> values) {
    auto k = clean_keyword(keyword);
    if (!k) return k.error();
    return Rule(std::make_shared<FieldForbiddenValues>(std::move(k).value(), std::move(field), std::move(values)));
}

// ---- Running rules -----------------------------------------------------------

Report run_rules(const Deck& deck, const std::vector<Rule>& rules) {
    std::vector<std::vector<Finding>> per_rule(rules.size());
    pool::parallel_for(0, rules.size(), 1, [&](std::size_t lo, std::size_t hi) {
        for (std::size_t i = lo; i < hi; ++i) per_rule[i] = rules[i].run(deck);
    });
    std::size_t total = 0;
    for (const auto& v : per_rule) total += v.size();
    Report report;
    report.findings.reserve(total);
    for (auto& v : per_rule)
        for (auto& f : v) report.findings.push_back(std::move(f));
    return report;
}

}  // namespace tarvex::validate
