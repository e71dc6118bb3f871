// Path helpers on byte strings (POSIX paths).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "util/error.hpp"

namespace tarvex::path {

// Absolute path with symbolic links resolved, or the errno of the failure.
Result<std::string> canonical(const std::string& p);

// True when the file's status can be read (symbolic links followed).
bool exists(const std::string& p);

// The directory part of `p`; "." when `p` has no parent.
std::string parent(std::string_view p);

// `base` joined with `name`.
std::string join(std::string_view base, std::string_view name);

// Equality component by component: repeated separators, "." components and a
// trailing separator do not matter.
bool same(std::string_view a, std::string_view b);

}  // namespace tarvex::path
