// Whole-file writes that never leave a half-written target and never disturb a
// mapping of the old file: the bytes go to a temporary file in the target's
// directory, which is then renamed over the target.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "util/error.hpp"

namespace tarvex {

// What opening a FIFO target with no reader does: fail at once with ENXIO
// (for callers that hold the interpreter lock), or wait for a reader.
enum class FifoOpen { FailWithoutReader, WaitForReader };

// Create or replace `path` with `data`.  An existing target keeps its
// permission bits; a symbolic link is followed and its target replaced.
// Targets that are not regular files (devices, FIFOs), and targets in a
// directory that refuses new files, are written in place.  A directory as the
// target is refused with EISDIR.
Status write_file(const std::string& path, std::string_view data, FifoOpen fifo = FifoOpen::FailWithoutReader);

// The same for several files (a d3plot family): every file is written to its
// temporary name first, and only when all of them are complete do they
// replace their targets.  On failure no temporary file is left behind.
Status write_files(const std::vector<std::string>& paths, const std::vector<std::string_view>& contents,
                   FifoOpen fifo = FifoOpen::FailWithoutReader);

}  // namespace tarvex
