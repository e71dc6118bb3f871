// The binout editor: a whole binout as an in-memory tree of directories and
// typed datasets, serialised back as one complete LSDA file.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "results/binout.hpp"
#include "results/lsda_error.hpp"

namespace tarvex::results {

// One typed dataset.  `variant` 0..9 are int8, int16, int32, int64, uint8,
// uint16, uint32, uint64, float32, float64; 10 is UTF-8 text.  `bytes` holds
// the elements in little-endian order (text: its bytes).
struct EditDataset {
    std::uint8_t variant = 9;
    std::vector<unsigned char> bytes;

    static unsigned width(std::uint8_t variant) noexcept;
    std::uint8_t type_code() const noexcept { return variant == 10 ? 1 : variant + 1; }
    std::uint64_t count() const noexcept { return bytes.size() / width(variant); }
};

// A node of the editor's tree: a directory with its children, or a dataset.
struct EditNode {
    bool is_dir = true;
    std::map<std::string, std::unique_ptr<EditNode>> children;  // byte-wise name order
    EditDataset data;
};

// An absolute directory and the datasets directly in it, in name order.
struct DirGroup {
    std::string path;
    std::vector<std::pair<const std::string*, const EditDataset*>> datasets;
};

class BinoutEditor {
public:
    BinoutEditor() = default;
    // Load every dataset of a binout (glob pattern or path, as for Binout).
    static LsdaResult<BinoutEditor> load(const std::string& pattern);

    // The node at `path` (the root for an empty path), or nullptr.
    const EditNode* find(const SymPath& path) const;
    // Insert or replace the dataset at `path`, creating parent directories.
    LsdaResult<bool> set(const SymPath& path, EditDataset data);
    // Remove the node at `path` with everything below it.
    bool remove(const SymPath& path);
    // The whole tree as one LSDA file (little-endian, 8-byte lengths and offsets).
    std::string to_bytes() const;

private:
    EditNode root_;
};

// Copy the subtree below `node` of a reader into `into`.
LsdaResult<bool> load_dir(const Binout& b, const SymNode& node, EditNode& into, std::uint64_t& budget);
// The directory groups of a tree, depth first in name order.
void collect_dir_groups(const EditNode& node, const std::string& path, std::vector<DirGroup>& groups);

}  // namespace tarvex::results
