// Columnar reads of library layouts: every block of a keyword read through the
// record walker into one column per field.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "keywords/record_walker.hpp"
#include "schema/schema.hpp"

namespace tarvex::keywords {

// The columns of the blocks named `name` in `files`, read with
// layout_for_name(name); nothing when the library has no layout for it.
//
// Blocks match the library entry's name when `name` is in the library, else
// `name` itself (ASCII case folded).  Columns: TITLE first when the layout
// reads a title line, then the ID card's fields for an _ID layout, then the
// entry's fields in layout order, with the types of the layout.  Rows: one
// per record for a layout without a Table, Series or TableGroup card; with
// such cards, one per row of them (row k of each), the record's other values
// repeated on each row; a record whose rows are all missing gives one row.
// Missing cards and fields read as 0, 0.0 or the empty string.  One-card
// layouts take the parallel bulk path of parse_schema_files.
std::optional<Table> read_library_columns(const std::vector<const ParsedFile*>& files, std::string_view name);

}  // namespace tarvex::keywords
