#include "file/path.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace tarvex::path {

Result<std::string> canonical(const std::string& p) {
    if (p.empty()) return Error::os(ENOENT);
    char* r = ::realpath(p.c_str(), nullptr);
    if (!r) return Error::os(errno);
    std::string out(r);
    std::free(r);
    return out;
}

bool exists(const std::string& p) {
    struct stat st;
    return !p.empty() && ::stat(p.c_str(), &st) == 0;
}

namespace {
// The status of `p`, an empty path standing for the current directory.
bool stat_dir_or_cwd(const std::string& p, struct stat* st) { return ::stat(p.empty() ? "." : p.c_str(), st) == 0; }
}  // namespace

bool is_dir(const std::string& p) {
    struct stat st;
    return stat_dir_or_cwd(p, &st) && S_ISDIR(st.st_mode);
}

std::optional<std::pair<dev_t, ino_t>> directory_id(const std::string& p) {
    struct stat st;
    if (!stat_dir_or_cwd(p, &st) || !S_ISDIR(st.st_mode)) return std::nullopt;
    return std::make_pair(st.st_dev, st.st_ino);
}

std::vector<std::string> list_dir(const std::string& dir) {
    std::vector<std::string> out;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return out;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        out.push_back(std::move(n));
    }
    ::closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

std::string parent(std::string_view p) {
    // Drop trailing separators, then the last component.
    while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
    auto slash = p.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    std::string_view dir = p.substr(0, slash);
    while (dir.size() > 1 && dir.back() == '/') dir.remove_suffix(1);
    return std::string(dir);
}

std::string join(std::string_view base, std::string_view name) {
    if (!name.empty() && name.front() == '/') return std::string(name);
    if (base.empty()) return std::string(name);
    std::string out(base);
    if (out.back() != '/') out.push_back('/');
    out.append(name);
    return out;
}

namespace {
// Next component of `p` starting at `i`, skipping empty and "." components
// (a leading "." of a relative path is kept, as it is significant).
std::string_view next_component(std::string_view p, std::size_t& i) {
    for (;;) {
        while (i < p.size() && p[i] == '/') ++i;
        if (i >= p.size()) return {};
        std::size_t j = p.find('/', i);
        if (j == std::string_view::npos) j = p.size();
        std::string_view c = p.substr(i, j - i);
        bool first = (i == 0);
        i = j;
        if (c == "." && !first) continue;
        return c;
    }
}
}  // namespace

bool same(std::string_view a, std::string_view b) {
    bool ra = !a.empty() && a.front() == '/';
    bool rb = !b.empty() && b.front() == '/';
    if (ra != rb) return false;
    std::size_t i = 0, j = 0;
    for (;;) {
        std::string_view ca = next_component(a, i);
        std::string_view cb = next_component(b, j);
        if (ca.empty() || cb.empty()) return ca.empty() && cb.empty();
        if (ca != cb) return false;
    }
}

}  // namespace tarvex::path
