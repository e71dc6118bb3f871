// The include tree: the walk with a loader that only measures each file and
// finds its includes in the raw bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "include/include.hpp"
#include "include/walk.hpp"
#include "util/error.hpp"

namespace tarvex {

struct IncludeNode {
    std::string path;
    std::optional<IncludeKind> kind;
    std::uint64_t byte_count = 0;
    std::vector<IncludeNode> children;

    std::uint64_t total_bytes() const noexcept;
    std::uint64_t total_files() const noexcept;
};

// Measure one file and read its raw directives.  A file that exists but
// cannot be opened or mapped (a directory, no read permission) throws an
// operating-system ErrorException ("Cannot open file {path}: {os text}",
// "Cannot mmap file {path}: {os text}"), which build_include_tree returns.
std::optional<LoadedFile<std::uint64_t>> measure_file(const WalkEntry& entry);

IncludeNode build_node(const std::vector<GraphNode<std::uint64_t>>& nodes, std::size_t index);

Result<IncludeNode> build_include_tree(const std::string& root);

}  // namespace tarvex
