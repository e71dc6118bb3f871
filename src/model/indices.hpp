// The deck's model of labelled entities: which ids of which kind are defined
// (definitions), where each labelled definition sits (site index), ids defined
// twice, definition counts, references that nothing defines (dangling scan)
// and the ids element connectivity references.
//
// Definition ids are logical: the id as written plus the file's transform
// offset for the kind.  Built lazily, once per deck, safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "deck/deck.hpp"
#include "schema/field_vocabulary.hpp"
#include "model/idset.hpp"

namespace tarvex::model {

// Ids per kind, in block order, for the kinds some block of the file made
// present (a matched definition rule over a library keyword).
struct KindIds {
    std::array<bool, kEntityKindCount> present{};
    std::array<std::vector<std::int64_t>, kEntityKindCount> ids;
};

// kind -> IdSet; a kind is present when some block matched a definition rule
// of that kind and its keyword is in the library, even with no readable id.
struct DefinitionIndex {
    std::array<std::optional<IdSet>, kEntityKindCount> kinds;
    const IdSet* find(EntityKind k) const noexcept {
        const auto& s = kinds[static_cast<std::size_t>(k)];
        return s ? &*s : nullptr;
    }
};

struct Site {
    std::uint32_t file = 0;
    std::uint32_t block = 0;
};

// (kind, logical id) -> the first block defining it.  Nodes and elements are
// not in it.
class SiteIndex {
public:
    struct Entry {
        EntityKind kind;
        std::int64_t id;
        Site site;
    };
    std::optional<Site> find(EntityKind k, std::int64_t id) const noexcept;
    // find(k, id), else find(k, |id|).
    std::optional<Site> find_or_abs(EntityKind k, std::int64_t id) const noexcept;
    // Entries in first-definition order (file, then block).
    const std::vector<Entry>& entries() const noexcept { return entries_; }
    // Inserts unless present; returns whether it was inserted.
    bool insert(EntityKind k, std::int64_t id, Site s);

private:
    struct KeyHash {
        std::size_t operator()(const std::pair<std::uint8_t, std::int64_t>& k) const noexcept {
            return IntHasher{}(k.second) ^ (static_cast<std::size_t>(k.first) * 0x9e3779b97f4a7c15ull);
        }
    };
    std::unordered_map<std::pair<std::uint8_t, std::int64_t>, std::size_t, KeyHash> map_;
    std::vector<Entry> entries_;
};

struct DuplicateDef {
    EntityKind kind;
    std::int64_t id;
    std::vector<Site> sites;  // two or more, file then block order
};

struct Dangling {
    std::string keyword;    // canonical base of the block's name
    std::string field;      // library field name
    std::string file;       // path of the file holding the block
    FieldRef target;
    std::int64_t value;     // as read, before offsets
    std::uint64_t line;     // keyword line + index of the data line (title counted)
};

struct PhysicalRefIds {
    std::array<std::vector<std::int64_t>, kEntityKindCount> ids;  // distinct, physical
    bool complete = true;  // false when an any-of connectivity field held a value
};

// Definition ids of one file, block by block; with `offsets`, each id of a
// kind is shifted by plain addition of the kind's member.
KindIds collect_def_ids(const ParsedFile& f, const std::optional<TransformOffsets>& offsets);

const DefinitionIndex& definitions(const Deck& deck);
const SiteIndex& site_index(const Deck& deck);
std::vector<DuplicateDef> duplicate_definitions(const Deck& deck);
// (kind, count) for every present kind, most numerous first; equal counts in
// kind-code order.
std::vector<std::pair<EntityKind, std::size_t>> definition_counts(const Deck& deck);

bool is_dangling(const DefinitionIndex& defs, const FieldRef& target, std::int64_t value,
                 const std::optional<TransformOffsets>& offsets) noexcept;

// Unresolved references in file order, then block and line order.  Element
// connectivity is read only `with_connectivity`.
std::vector<Dangling> dangling(const Deck& deck, bool with_connectivity);

PhysicalRefIds collect_conn_ref_ids(const ParsedFile& f);

}  // namespace tarvex::model
