#include "file/write.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <optional>
#include <vector>

#include "file/path.hpp"

namespace tarvex {
namespace {

Status write_all(int fd, std::string_view data) {
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left > (1u << 30) ? (1u << 30) : left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Error::os(errno);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return ok_status();
}

// Write in place (create or truncate): for targets that are not regular
// files (devices, FIFOs) and when no temporary file can be made next to the
// target (for instance a directory without write access).
Status write_direct(const std::string& path, std::string_view data, FifoOpen fifo) {
    // O_NONBLOCK: opening a FIFO that nobody reads fails (ENXIO) instead of
    // blocking; the writes themselves then block as usual.
    int nonblock = fifo == FifoOpen::FailWithoutReader ? O_NONBLOCK : 0;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | nonblock, 0666);
    if (fd < 0) return Error::os(errno);
    int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    Status s = write_all(fd, data);
    if (::close(fd) != 0 && s.ok()) return Error::os(errno);
    return s;
}

// Permission bits of a newly created file: 0666 less the process umask.
mode_t new_file_mode() {
    mode_t m = ::umask(0);
    ::umask(m);
    return static_cast<mode_t>(0666 & ~m);
}

// One file to write: where, how, and its temporary file once written.
struct Target {
    std::string path;  // symbolic links resolved: the link stays a link
    mode_t mode = 0;   // of the file replaced, or of a new file
    bool direct = false;
    std::string tmp;
};

// Resolve where `path_in` is written; a directory in the way is an error.
Result<Target> plan(const std::string& path_in) {
    Target t;
    t.path = path_in;
    struct stat lst;
    if (::lstat(t.path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        auto c = path::canonical(t.path);
        // A link whose target does not exist yet: creating through the link
        // makes the target, as a plain create would.
        if (!c) {
            t.direct = true;
            return t;
        }
        t.path = c.value();
    }
    struct stat st;
    if (::stat(t.path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return Error::os(EISDIR);
        t.direct = !S_ISREG(st.st_mode);
        t.mode = st.st_mode & 07777;
    } else {
        t.mode = new_file_mode();
    }
    return t;
}

// Write `data` to a new temporary file next to the target.  A directory
// that refuses new files makes the target a direct write instead.
Status write_temp(Target& t, std::string_view data) {
    std::string dir = path::parent(t.path);
    std::size_t slash = t.path.find_last_of('/');
    std::string name = t.path.substr(slash == std::string::npos ? 0 : slash + 1);
    std::string tmpl = path::join(dir, "." + name + ".tarvex-XXXXXX");
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = ::mkstemp(buf.data());
    if (fd < 0) {
        int err = errno;
        if (err == EACCES || err == EPERM || err == EROFS) {
            t.direct = true;
            return ok_status();
        }
        return Error::os(err);
    }
    t.tmp = buf.data();
    Status s = write_all(fd, data);
    if (s.ok()) ::fchmod(fd, t.mode);
    if (::close(fd) != 0 && s.ok()) s = Error::os(errno);
    if (!s.ok()) {
        ::unlink(t.tmp.c_str());
        t.tmp.clear();
    }
    return s;
}

}  // namespace

Status write_files(const std::vector<std::string>& paths, const std::vector<std::string_view>& contents,
                   FifoOpen fifo) {
    std::vector<Target> targets;
    targets.reserve(paths.size());
    for (const std::string& p : paths) {
        auto t = plan(p);
        if (!t) return std::move(t).error();
        targets.push_back(std::move(t).value());
    }
    auto drop_temps = [&targets] {
        for (Target& t : targets)
            if (!t.tmp.empty()) ::unlink(t.tmp.c_str());
    };
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (targets[i].direct) continue;
        Status s = write_temp(targets[i], contents[i]);
        if (!s.ok()) {
            drop_temps();
            return s;
        }
    }
    // Every file is complete before any of them replaces its target.
    for (std::size_t i = 0; i < targets.size(); ++i) {
        Target& t = targets[i];
        if (t.tmp.empty()) continue;
        if (::rename(t.tmp.c_str(), t.path.c_str()) == 0) {
            t.tmp.clear();
            continue;
        }
        int err = errno;
        ::unlink(t.tmp.c_str());
        t.tmp.clear();
        // Replacing may be refused where writing is not (a file of another
        // user in a sticky directory such as /tmp): write in place then.
        if (err == EACCES || err == EPERM) {
            t.direct = true;
            continue;
        }
        drop_temps();
        return Error::os(err);
    }
    for (std::size_t i = 0; i < targets.size(); ++i)
        if (targets[i].direct) {
            Status s = write_direct(targets[i].path, contents[i], fifo);
            if (!s.ok()) return s;
        }
    return ok_status();
}

Status write_file(const std::string& path, std::string_view data, FifoOpen fifo) {
    return write_files({path}, {data}, fifo);
}

}  // namespace tarvex
