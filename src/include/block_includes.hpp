// Include directives read from a parsed file's block table, with the id
// offsets of *INCLUDE_TRANSFORM read from the directive's cards.
#pragma once

#include <string>
#include <vector>

#include "include/include.hpp"
#include "parser/parsed_file.hpp"

namespace tarvex {

// The directives of `f` in block order, resolved against the file's
// directory and `inherited` extended by the file's path directives.
std::vector<IncludeDirective> extract_includes(const ParsedFile& f, const std::vector<std::string>& inherited);

// The unresolved directives (offsets read), in block order.
std::vector<RawInclude> extract_raw_includes(const ParsedFile& f);

// One value of a transform card: integer, else a float truncated toward zero
// and saturated (NaN gives 0), else 0.
std::int64_t transform_offset_value(std::string_view raw) noexcept;

}  // namespace tarvex
