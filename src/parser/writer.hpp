// Writing a single-keyword deck from columns: comma-separated rows formatted
// in parallel chunks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarvex {

using WCol = std::variant<std::vector<std::int64_t>, std::vector<double>, std::vector<std::string>>;

inline constexpr std::size_t kWriteChunkRows = 65536;

// Shortest decimal that reads back as the same double, positional notation
// ("1", "0.25", "0.0000001", "-0"), "inf", "-inf", "NaN".
void append_f64(std::string& out, double v);

// "*KEYWORD\n*{name}\n" + rows + "*END\n"; all columns have `rows` values.
std::string emit_free_deck(std::string_view name, const std::vector<WCol>& cols, std::size_t rows);

}  // namespace tarvex
