// Crash-safe file operations of the store (a Linux tool: POSIX is fine).
#include "store_files.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tvserver {

namespace {

std::string Why(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

} // namespace

bool SyncPath(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        error = Why("cannot sync", path);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

bool MakeDir(const std::string& path, std::string& error) {
    if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST)
        return true;
    error = Why("cannot create", path);
    return false;
}

bool CopyFileSynced(const std::string& from, const std::string& to, std::string& error) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = Why("cannot open", from);
        return false;
    }
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        error = Why("cannot create", to);
        ::close(in);
        return false;
    }
    bool ok = true;
    for (;;) {
        // copy_file_range shares extents where the file system can.
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL)) {
            char buf[65536];
            ssize_t r;
            while ((r = ::read(in, buf, sizeof buf)) > 0)
                if (!WriteAll(out, buf, static_cast<std::size_t>(r))) {
                    r = -1;
                    break;
                }
            ok = r == 0;
            break;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
    }
    if (!ok)
        error = Why("cannot copy into", to);
    if (ok && ::fsync(out) != 0) {
        error = Why("cannot sync", to);
        ok = false;
    }
    ::close(in);
    if (::close(out) != 0 && ok) {
        error = Why("cannot write", to);
        ok = false;
    }
    if (!ok)
        ::unlink(to.c_str());
    return ok;
}

bool WriteFileSynced(const std::string& path, const std::string& text, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = Why("cannot create", path);
        return false;
    }
    const bool ok = WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    if (!ok)
        error = Why("cannot write", path);
    ::close(fd);
    return ok;
}

bool ReadSmallFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return n == 0;
}

std::vector<std::string> ListDir(const std::string& path) {
    std::vector<std::string> names;
    DIR* d = ::opendir(path.c_str());
    if (!d)
        return names;
    while (const dirent* e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    ::closedir(d);
    return names;
}

void RemoveTree(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        for (const std::string& name : ListDir(path))
            RemoveTree(path + "/" + name);
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

} // namespace tvserver
