// Whole-file writes that never leave a half-written target and never disturb a
// mapping of the old file: the bytes go to a temporary file in the target's
// directory, which is then renamed over the target.
#pragma once

#include <string>
#include <string_view>

#include "util/error.hpp"

namespace tarvex {

// Create or replace `path` with `data`.  An existing target keeps its
// permission bits; a symbolic link is followed and its target replaced.
Status write_file(const std::string& path, std::string_view data);

}  // namespace tarvex
