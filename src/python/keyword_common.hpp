// Helpers shared by the keyword-file and deck bindings.
#pragma once

#include <nanobind/stl/tuple.h>

#include <string>
#include <tuple>
#include <vector>

#include "parser/parsed_file.hpp"
#include "python/frame.hpp"
#include "schema/schema.hpp"

namespace tarvex::py {

// Columns as a dict: int64 / float64 arrays (2-D when a field repeats) and
// lists of str, the arrays taking over the parsed buffers.
nb::dict table_to_pydict(Table&& table);

// A caller layout argument: cards of (name, type, width, count).
using LayoutArg = std::vector<std::vector<std::tuple<std::string, std::string, Index, Index>>>;
// The schema of a caller layout, with the schema-building errors.
Schema schema_from_args(const std::string& keyword, const LayoutArg& cards, bool repeat);

// OSError when the file was truncated on disk while mapped (its vanished
// bytes read as zeros instead of crashing the process).
void check_intact(const ParsedFile& f);

}  // namespace tarvex::py
