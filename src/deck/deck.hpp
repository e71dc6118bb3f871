// A deck: a root keyword file and every file it includes, directly or through
// other includes, each with the effective *INCLUDE_TRANSFORM id offsets that
// turn its local ids into the deck's ids.  Built once per parse; its derived
// indices (src/model) are attached lazily and built once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "include/include.hpp"
#include "include/walk.hpp"
#include "schema/field_vocabulary.hpp"
#include "parser/parsed_file.hpp"
#include "schema/schema.hpp"
#include "util/error.hpp"

namespace tarvex {

namespace model {
struct DefinitionIndex;
class SiteIndex;
class SharedIndex;
}  // namespace model

// The offset member of TransformOffsets that shifts the ids of `k`:
// 0 idnoff, 1 ideoff, 2 idpoff, 3 idmoff, 4 idsoff, 5 idfoff, 6 iddoff, 7 idroff.
std::size_t offset_member_index(EntityKind k) noexcept;
inline std::int64_t offset_for(const TransformOffsets& o, EntityKind k) noexcept { return o.v[offset_member_index(k)]; }

// The names of the eight members, in order ("idnoff", ..., "idroff").
extern const char* const kOffsetMemberNames[8];

// A reference value moved into the deck's id space: sign(v) * (|v| + d),
// wrapping like two's complement.  0 stays 0.
std::int64_t shift_ref(std::int64_t v, std::int64_t d) noexcept;

using FileTransforms = std::vector<std::optional<TransformOffsets>>;

struct Deck {
    // Index 0 is the root.  A file included under two different effective
    // offsets is two independent instances.
    std::vector<ParsedFile> files;
    // Every include directive of every file: (including file index, directive),
    // grouped by including file in file order, each file's in block order.
    // Directives whose target could not be read stay here.
    std::vector<std::pair<std::size_t, IncludeDirective>> includes;
    // The effective offsets of each file.
    std::vector<TransformOffsets> offsets;
    // Caller layouts by canonical base (Deck.register_schema).
    std::map<std::string, Schema> user_schemas;
    // The workspace's per-file index, for decks parsed through a workspace.
    std::shared_ptr<model::SharedIndex> shared;

    // Per file: its offsets when any of the eight is non-zero.  Built once.
    const FileTransforms& file_transforms() const;

    // The 1-based line of block `block`'s keyword line in file `file`; each
    // file's line table is built once, on first use.
    std::uint64_t block_line(std::size_t file, std::size_t block) const;

    // Lazily built indices (src/model); each goes once from unset to set.
    struct Lazy {
        std::once_flag transforms_once;
        FileTransforms transforms;
        std::once_flag definitions_once;
        std::shared_ptr<const model::DefinitionIndex> definitions;
        std::once_flag sites_once;
        std::shared_ptr<const model::SiteIndex> sites;
        std::unique_ptr<std::once_flag[]> lines_once;  // one per file
        std::vector<std::vector<std::uint64_t>> lines;
    };
    mutable Lazy lazy;

    Deck() = default;
    Deck(const Deck&) = delete;
    Deck& operator=(const Deck&) = delete;
};

// One loaded file of the walk: its parsed blocks.
using DeckNode = GraphNode<ParsedFile>;

// The per-file loader of a deck walk: reads and splits the file named by the
// walk entry and collects its include directives; nothing when it cannot be read.
using DeckLoader = std::function<std::optional<LoadedFile<ParsedFile>>(const WalkEntry&)>;

// Loads a file from disk (map, split, read its include directives).
std::optional<LoadedFile<ParsedFile>> load_deck_file(const WalkEntry& entry);

// Numbers the walked files in discovery order and records their directives
// and effective offsets.
std::unique_ptr<Deck> assemble_deck(std::vector<DeckNode>&& nodes, std::shared_ptr<model::SharedIndex> shared);

// Parses a deck from its root path: "Cannot resolve root path {path}: {reason}"
// (RuntimeError) when the path cannot be resolved, and a RuntimeError naming
// the path when the resolved root cannot be read.
Result<std::unique_ptr<Deck>> parse_deck(const std::string& path);
Result<std::unique_ptr<Deck>> parse_deck_with(const std::string& path, const DeckLoader& loader,
                                              std::shared_ptr<model::SharedIndex> shared);

}  // namespace tarvex
