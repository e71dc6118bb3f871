// Positioned reads of a block: its data lines (the card lines as the solver
// reads them), the title line of _TITLE blocks, field slices of a card line,
// the id reading of a first field, and the keyword line of every block.
//
// Every read and write by position goes through these helpers, so a field
// read, a reported line and a field edit always name the same line.  Reads
// see the file as parsed, never its pending edits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "keywords/library.hpp"
#include "parser/parsed_file.hpp"

namespace tarvex::model {

// The block's data lines, in order, CR/LF removed, leading blanks kept:
// every line after the keyword line that is not a '$' comment, up to the
// block's last line holding a non-blank byte (a blank line before it is a
// card with default values; trailing blank lines are not cards).
std::vector<std::string_view> data_lines(const ParsedFile& f, std::size_t block);

// 1 when the keyword name ends in _TITLE (ASCII case folded), else 0.
std::size_t title_offset(std::string_view keyword_name) noexcept;

// Field n of a card line: the n-th comma piece when the block is in free
// format or the line holds a comma; else fixed columns from the sum of the
// widths before it (doubled in long format), cut at the line end.  Nothing
// when n is not a field of the card, the line has too few pieces, or the
// field starts at or past the line end.
std::optional<std::string_view> card_field_slice(std::string_view line, std::span<const keywords::FieldDef> fields,
                                                 std::size_t n, CardFormat fmt) noexcept;

// The id in the first field of a card line (up to the first comma, or the
// first field's width, doubled in long format), read with read_id().
std::optional<std::int64_t> first_field_id(std::string_view line, const keywords::FieldDef& first,
                                           CardFormat fmt) noexcept;

// For each block, the 1-based line number of its keyword line.
std::vector<std::uint64_t> block_start_lines(const ParsedFile& f);
// The same for one block.
std::uint64_t block_start_line(const ParsedFile& f, std::size_t block) noexcept;

}  // namespace tarvex::model
