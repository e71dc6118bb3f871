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
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "keywords/library.hpp"
#include "model/value.hpp"
#include "parser/parsed_file.hpp"

namespace tarvex::model {

// The block's data lines, in order, CR/LF removed, leading blanks kept:
// every line after the keyword line that is not a '$' comment, up to the
// block's last line holding a non-blank byte (a blank line before it is a
// card with default values; trailing blank lines are not cards).
std::vector<std::string_view> data_lines(const ParsedFile& f, std::size_t block);

// Calls fn(line, index) for the block's lines that are not '$' comments, in
// order, with the data-line index; blank lines are passed too (callers read
// nothing from them), so trailing blank lines may be seen although they are
// not data lines.  fn returns false to stop.
template <class Fn>
void for_each_data_line(const ParsedFile& f, std::size_t block, Fn&& fn) {
    if (block >= f.blocks.size()) return;
    std::string_view body = f.body(f.blocks[block]);
    std::size_t pos = 0, n = body.size(), index = 0;
    while (pos < n) {
        const void* lf = std::memchr(body.data() + pos, '\n', n - pos);
        std::size_t end = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - body.data()) : n;
        std::string_view line = strip_crlf(body.substr(pos, end - pos));
        pos = lf ? end + 1 : n;
        std::size_t k = 0;
        while (k < line.size() && (line[k] == ' ' || line[k] == '\t')) ++k;
        if (k < line.size() && line[k] == '$') continue;
        if (!fn(line, index++)) return;
    }
}

// Data line `index` of the block; nothing when the block has fewer.
std::optional<std::string_view> data_line_at(const ParsedFile& f, std::size_t block, std::size_t index);

// Whether a data line holds only blanks (a card with default values).
bool is_blank_line(std::string_view line) noexcept;

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
