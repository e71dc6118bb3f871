// Whole-file reads into memory, for callers that change the bytes (editors);
// read-only access goes through Source, which maps the file instead.
#pragma once

#include <string>

#include "util/error.hpp"

namespace tarvex {

// The whole content of `path`, or the operating-system error.
Result<std::string> read_file(const std::string& path);

}  // namespace tarvex
