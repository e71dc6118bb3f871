#include "file/write.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

// Write in place (create or truncate): used when no temporary file can be
// made next to the target (for instance a directory without write access).
Status write_direct(const std::string& path, std::string_view data) {
    // O_NONBLOCK: opening a FIFO that nobody reads fails (ENXIO) instead of
    // blocking forever; the writes themselves then block as usual.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return Error::os(errno);
    int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    Status s = write_all(fd, data);
    if (::close(fd) != 0 && s.ok()) return Error::os(errno);
    return s;
}

}  // namespace

Status write_file(const std::string& path_in, std::string_view data) {
    std::string path = path_in;
    struct stat lst;
    if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        auto c = path::canonical(path);
        // A link whose target does not exist yet: creating through the link
        // makes the target, as a plain create would.
        if (!c) return write_direct(path, data);
        path = c.value();
    }
    struct stat st;
    bool existed = ::stat(path.c_str(), &st) == 0;
    if (existed && !S_ISREG(st.st_mode)) return write_direct(path, data);  // devices, FIFOs, ...

    std::string dir = path::parent(path);
    std::string name = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    std::string tmpl = path::join(dir, "." + name + ".tarvex-XXXXXX");
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = ::mkstemp(buf.data());
    if (fd < 0) {
        int err = errno;
        if (err == EACCES || err == EPERM || err == EROFS) return write_direct(path, data);
        return Error::os(err);
    }
    std::string tmp(buf.data());
    Status s = write_all(fd, data);
    if (s.ok()) {
        mode_t mode = existed ? (st.st_mode & 07777) : [] {
            mode_t m = ::umask(0);
            ::umask(m);
            return static_cast<mode_t>(0666 & ~m);
        }();
        ::fchmod(fd, mode);
    }
    if (::close(fd) != 0 && s.ok()) s = Error::os(errno);
    if (s.ok() && ::rename(tmp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        // Replacing may be refused where writing is not (a file of another
        // user in a sticky directory such as /tmp): write in place then.
        if (err == EACCES || err == EPERM) return write_direct(path, data);
        return Error::os(err);
    }
    if (!s.ok()) ::unlink(tmp.c_str());
    return s;
}

}  // namespace tarvex
