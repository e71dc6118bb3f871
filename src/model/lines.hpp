// Positioned reads of a block, as the solver reads it: its data lines (card
// lines, and blank lines before the last card line, which are cards with
// default values), the library layout it is read with (title line of _TITLE
// blocks, ID cards of _ID blocks, conditional cards, the two-line
// *ELEMENT_SOLID form), which line holds which card (the record walker),
// field slices of a card line, the id reading of a first field, and the
// keyword line of every block.
//
// Every read and write by position goes through these helpers and the record
// walker, so a field read, a reported line and a field edit always name the
// same line.  Reads see the file as parsed, never its pending edits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "keywords/library.hpp"
#include "keywords/record_walker.hpp"
#include "model/value.hpp"
#include "parser/parsed_file.hpp"

namespace tarvex::model {

using keywords::BlockLayout;
using keywords::CardHit;
using keywords::DataLine;

// The block's data lines, in order, CR/LF removed, leading blanks kept.
std::vector<std::string_view> data_lines(const ParsedFile& f, std::size_t block);

// Data line `index` of the block; nothing when the block has fewer.
std::optional<std::string_view> data_line_at(const ParsedFile& f, std::size_t block, std::size_t index);

// 1 when the keyword name ends in _TITLE (ASCII case folded), else 0.
std::size_t title_offset(std::string_view keyword_name) noexcept;

// The library layout block `block` (named `name`) is read with, refined for
// the block, after filling `lines` with its data lines: the layout of the
// name as the walker knows it, else the entry of its canonical base (with a
// title line when the name ends in _TITLE); no layout when neither exists.
BlockLayout block_layout(const ParsedFile& f, std::size_t block, std::string_view name,
                         std::vector<DataLine>& lines);

// The bytes of a data line.
inline std::string_view line_text(const ParsedFile& f, std::size_t begin, std::size_t end) noexcept {
    return f.bytes().substr(begin, end - begin);
}

// The line holding card `card` (a card of layout.def, or keywords::kTitleLine)
// in the block's first record, row 0; nothing when the block leaves it out.
std::optional<CardHit> card_line(const ParsedFile& f, std::size_t block, const BlockLayout& layout,
                                 std::span<const DataLine> lines, std::uint16_t card) noexcept;

// Calls fn(card, hit) for the first line read of each card of the block's
// first record (card: the layout's card for the hit; title lines skipped).
template <class Fn>
void for_each_first_record_card(const ParsedFile& f, std::size_t block, const BlockLayout& layout,
                                std::span<const DataLine> lines, Fn&& fn) {
    std::vector<std::uint16_t> seen;
    keywords::walk_lines(f.bytes(), lines, f.blocks[block].format, layout, [&](const CardHit& h) -> bool {
        if (h.record > 0) return false;
        if (h.card == keywords::kTitleLine) return true;
        for (auto s : seen)
            if (s == h.card) return true;
        seen.push_back(h.card);
        if (const keywords::CardDef* card = keywords::layout_card(layout, h.card)) fn(*card, h);
        return true;
    });
}

// The n-th comma piece of a line (from 0; up to the next comma or the line
// end); nothing when the line has fewer pieces.
std::optional<std::string_view> comma_piece(std::string_view line, std::size_t n) noexcept;
// The columns [start, start + width) of a line, cut at its end; nothing when
// start is at or past the end.
std::optional<std::string_view> fixed_slice(std::string_view line, std::size_t start, std::size_t width) noexcept;

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
