// Path helpers on byte strings (POSIX paths).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/error.hpp"

namespace tarvex::path {

// Absolute path with symbolic links resolved, or the errno of the failure.
Result<std::string> canonical(const std::string& p);

// True when the file's status can be read (symbolic links followed).
bool exists(const std::string& p);

// True when `p` is a directory (symbolic links followed); an empty path
// names the current directory.
bool is_dir(const std::string& p);

// The (device, inode) identity of the directory `p` (empty: the current
// directory), or nothing when `p` is not a directory.
std::optional<std::pair<dev_t, ino_t>> directory_id(const std::string& p);

// The entry names of directory `dir` (empty: the current directory) in byte
// order, without "." and ".."; empty when it cannot be read.
std::vector<std::string> list_dir(const std::string& dir);

// The directory part of `p`; "." when `p` has no parent.
std::string parent(std::string_view p);

// `base` joined with `name`.
std::string join(std::string_view base, std::string_view name);

// Equality component by component: repeated separators, "." components and a
// trailing separator do not matter.
bool same(std::string_view a, std::string_view b);

}  // namespace tarvex::path
