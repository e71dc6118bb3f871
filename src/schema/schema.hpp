// Keyword layouts and columnar parsing: every block of a keyword read against
// a layout, each field of the layout one column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "parser/parsed_file.hpp"
#include "schema/field_vocabulary.hpp"
#include "util/error.hpp"

namespace tarvex {

struct FieldSpec {
    std::string name;
    FieldRef refers;
    std::size_t width = 10;
    std::size_t count = 1;  // consecutive values of this width in one column
    FieldType ty = FieldType::Int;
};

using Card = std::vector<FieldSpec>;

struct Schema {
    std::string keyword;
    std::vector<Card> cards;
    bool repeat = false;
};

struct Column {
    FieldType kind = FieldType::Int;
    std::size_t count = 1;
    std::vector<std::int64_t> ints;
    std::vector<double> floats;
    std::vector<std::string> strs;

    std::size_t values() const noexcept {
        return kind == FieldType::Int ? ints.size() : kind == FieldType::Float ? floats.size() : strs.size();
    }
    std::size_t rows() const noexcept { return count ? values() / count : 0; }
    void push(std::string_view raw);
};

using Table = std::vector<std::pair<std::string, Column>>;

using LayoutTuple = std::tuple<std::string, std::string, std::size_t, std::size_t>;

// "unknown field type '{type}' (expected int/float/str)" for a bad type text.
Result<Schema> build_schema(std::string keyword, const std::vector<std::vector<LayoutTuple>>& cards, bool repeat);

std::vector<std::string> field_names(const std::vector<Card>& cards);

// Body pieces of the matching blocks, at least 256 KiB each and about two
// per worker, cut after an LF, never across a block.
struct Chunk {
    std::string_view bytes;
    CardFormat format;
};
std::vector<Chunk> collect_chunks(const std::vector<const ParsedFile*>& files, std::string_view keyword);

inline constexpr std::size_t kMinChunkBytes = 262144;

// Whether a block's name matches a layout keyword (ASCII case folded).
bool keyword_matches(std::string_view name_bytes, std::string_view keyword) noexcept;

// Reads one card line into the columns from `first`; returns the next index.
std::size_t parse_card_line(std::string_view line, const Card& card, CardFormat fmt, std::vector<Column>& cols,
                            std::size_t first);

// All blocks of `files` matching the schema, as columns in layout order.
Table parse_schema_files(const std::vector<const ParsedFile*>& files, const Schema& schema);

}  // namespace tarvex
