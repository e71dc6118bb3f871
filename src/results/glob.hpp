// Shell-style file name patterns for opening binout families: `*` and `?`
// within one path component, bracketed sets and ranges (`[a-z]`, `[!0-9]`),
// and `**` as a whole component for any number of directories.
#pragma once

#include <string>
#include <vector>

#include "results/lsda_error.hpp"

namespace tarvex::results {

// The existing paths that match `pattern`, in walk order (each directory's
// entries sorted).  A malformed pattern is an InvalidPath error
// "Pattern syntax error near position {pos}: {reason}".
LsdaResult<std::vector<std::string>> glob_paths(const std::string& pattern);

}  // namespace tarvex::results
