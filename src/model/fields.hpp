// Named field reads and writes of one block: through the library layout
// (entity reads) or through a caller layout registered on the deck first
// (keyword handles), and the references a block's fields make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "deck/deck.hpp"
#include "keywords/library.hpp"
#include "model/value.hpp"

namespace tarvex::model {

// The typed value of a named library field of a block: integers read as ids
// (integer, else truncated float), floats in plain decimal syntax, strings
// trimmed; nothing where the field, its line or a readable value is missing.
std::optional<Value> entity_field(const Deck& deck, std::size_t file, std::size_t block, std::string_view name);

// The value of the block's first field that references `kind` (alone or in
// an any-of list) and holds a number; nothing when none does.
std::optional<std::int64_t> first_ref_to(const Deck& deck, std::size_t file, std::size_t block, EntityKind kind);

// A located field of a keyword occurrence.
struct FieldLoc {
    const Deck* deck = nullptr;
    std::size_t file = 0, block = 0;
    std::size_t line = 0;   // data-line index
    std::size_t field = 0;  // index within the card
    // The card: library fields, or a caller layout's card.
    const keywords::CardDef* lib_card = nullptr;
    const Card* user_card = nullptr;
};

// The named field of a block: the registered caller layout of its canonical
// base first, else the library entry; nothing when the layout lacks the
// field or the block lacks its data line.
std::optional<FieldLoc> keyword_field(const Deck& deck, std::size_t file, std::size_t block, std::string_view name);

// The field's bytes on its line; nothing when it has none.
std::optional<std::string_view> raw_bytes(const FieldLoc& loc);
// The typed value (never fails: a blank int field reads as an empty Str).
Value field_value(const FieldLoc& loc);

// Where a field write goes: the column widths of the field's card (caller
// layouts: each width repeated max(count, 1) times; doubled in long format)
// and the column index.
struct FieldWrite {
    std::size_t line;
    std::size_t column;
    std::vector<std::size_t> widths;
};
FieldWrite field_write_target(const FieldLoc& loc);

// The field edit on data line `line` of a block: column `column` of the
// given widths set to `text`.  Nothing when the block, the line (or a blank
// line) or the column does not exist.
std::optional<SetFieldOutcome> set_data_line_field(ParsedFile& f, std::size_t block, std::size_t line,
                                                   std::size_t column, const std::vector<std::size_t>& widths,
                                                   std::string_view text);

}  // namespace tarvex::model
