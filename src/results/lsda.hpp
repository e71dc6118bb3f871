// The LSDA container: opening the files of a family, walking their symbol
// tables into one index tree, and decoding one dataset from the mappings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "results/diskfile.hpp"
#include "results/lsda_error.hpp"
#include "results/symbol.hpp"

namespace tarvex::results {

// Map every file in order and read its header; the first failure ends it.
LsdaResult<std::vector<Diskfile>> open_read_family(const std::vector<std::string>& paths);

// Walk the symbol tables of all files (in order, the current directory
// carried from file to file) into one tree; later definitions of a name
// replace earlier ones.
LsdaResult<SymNode> index_family(std::vector<Diskfile>& files);

// Where a leaf's elements lie: the file and its byte range, bounds-checked.
struct LeafData {
    const Diskfile* file = nullptr;
    const unsigned char* begin = nullptr;  // first element
    std::uint64_t bytes = 0;
};
LsdaResult<LeafData> leaf_data(const std::vector<Diskfile>& files, const SymNode& leaf);

// Decode a dataset leaf (or list a directory) into a ReadResult.
LsdaResult<ReadResult> read_node(const std::vector<Diskfile>& files, const SymNode& node);

// The readable elements of a leaf, for picking single elements: `avail` is
// the number of elements that exist and lie inside the file (0 for a type
// code outside 1..10, a directory or a bad file index).
struct ElementView {
    const unsigned char* base = nullptr;
    std::uint64_t avail = 0;
    std::uint8_t code = 0;
    unsigned width = 1;
    bool little = true;
};
ElementView element_view(const std::vector<Diskfile>& files, const SymNode& leaf) noexcept;

// Elements `cols[0..k)` as doubles into `out`; 0.0 for a column beyond `avail`.
void gather_f64(const ElementView& v, const std::uint64_t* cols, std::size_t k, double* out) noexcept;

// Decode `count` elements of type `code` at `p` as doubles into `out`.
void decode_f64(const unsigned char* p, std::uint64_t count, std::uint8_t code, bool little, double* out) noexcept;

}  // namespace tarvex::results
