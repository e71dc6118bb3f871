// The index tree of a binout (directories and dataset leaves) and the typed
// result of reading one path.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarvex::results {

// A directory (sorted children) or a dataset leaf.
struct SymNode {
    bool is_leaf = false;        // a dataset (type code 1..255)
    std::uint8_t type_code = 0;
    std::uint64_t offset = 0;    // position of the DATA record
    std::uint64_t count = 0;     // number of elements
    std::uint64_t name_len = 0;  // bytes of the name inside the DATA record
    std::uint32_t file = 0;      // index into the family's files
    // Directory children, sorted by unsigned byte-wise name order.
    std::vector<std::string> names;
    std::vector<SymNode> children;

    bool is_dir() const noexcept { return !is_leaf; }
    // The child of that exact name, or nullptr.
    const SymNode* child(std::string_view name) const noexcept;
};

// LSDA type codes and their element widths.
enum : std::uint8_t {
    kI8 = 1, kI16 = 2, kI32 = 3, kI64 = 4, kU8 = 5, kU16 = 6, kU32 = 7, kU64 = 8, kF32 = 9, kF64 = 10, kLink = 11
};
// Element width: 2, 4 or 8 for codes 2..10 (1 for code 1 and 5), 1 for all others.
unsigned type_width(std::uint8_t code) noexcept;

enum class ResultKind { Dir, I8, I16, I32, I64, U8, U16, U32, U64, F32, F64, Link };

struct ReadResult {
    using Data = std::variant<std::vector<std::string>, std::vector<std::int8_t>, std::vector<std::int16_t>,
                              std::vector<std::int32_t>, std::vector<std::int64_t>, std::vector<std::uint8_t>,
                              std::vector<std::uint16_t>, std::vector<std::uint32_t>, std::vector<std::uint64_t>,
                              std::vector<float>, std::vector<double>>;
    ResultKind kind = ResultKind::Dir;
    Data data;  // Link holds its raw bytes as std::vector<std::uint8_t>

    bool is_dir() const noexcept { return kind == ResultKind::Dir; }
    // The elements as doubles (Dir and Link: empty).
    std::vector<double> to_f64_vec() const;
    // Child names decoded as UTF-8 with replacement (non-directories: empty).
    std::vector<std::string> keys() const;
};

}  // namespace tarvex::results
