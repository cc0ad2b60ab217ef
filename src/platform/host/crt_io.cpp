// Host backend of platform/crt_io.h: the C runtime's descriptor functions over
// POSIX. Received names use backslashes; every path has them turned into '/'
// here. The system calls go through the system-call table (syscalls.h) so a test
// can fail the Nth write with ENOSPC without mocking anything.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/common/open_flags.h"
#include "platform/crt_io.h"
#include "platform/host/syscalls.h"

namespace {

using tvhost::syscalls;

// Holds a path with '/' for every '\\'; names that do not fit are refused
// with ENAMETOOLONG rather than cut.
class HostPath {
  public:
    explicit HostPath(const char* path) {
        size_t n = std::strlen(path);
        if (n >= sizeof(buf_)) {
            ok_ = false;
            return;
        }
        for (size_t i = 0; i <= n; ++i)
            buf_[i] = path[i] == '\\' ? '/' : path[i];
    }
    const char* get() const { return buf_; }
    bool ok() const {
        if (!ok_)
            errno = ENAMETOOLONG;
        return ok_;
    }

  private:
    char buf_[4096];
    bool ok_ = true;
};

void to_crt(const struct stat& s, crt_stat_t* st) {
    st->dev = s.st_dev;
    st->ino = s.st_ino;
    st->mode = s.st_mode & 0xFFFFu;
    st->nlink = static_cast<uint32_t>(s.st_nlink);
    st->uid = s.st_uid;
    st->gid = s.st_gid;
    st->size = s.st_size;
    st->atime = s.st_atim.tv_sec;
    st->mtime = s.st_mtim.tv_sec;
    st->ctime = s.st_ctim.tv_sec;
}

int host_flags(int flags) {
    return tvplatform::SystemOpenFlags(flags, {O_RDONLY, O_WRONLY, O_RDWR, O_CREAT, O_EXCL},
                                       O_CLOEXEC);
}

} // namespace

int crt_open(const char* path, int flags, int mode) {
    HostPath p(path);
    if (!p.ok())
        return -1;
    return syscalls.open(p.get(), host_flags(flags), static_cast<mode_t>(mode & 0xFFF));
}

int crt_read(int fd, void* buf, unsigned count) {
    ssize_t n;
    do
        n = syscalls.read(fd, buf, count);
    while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int crt_write(int fd, const void* buf, unsigned count) {
    ssize_t n;
    do
        n = syscalls.write(fd, buf, count);
    while (n < 0 && errno == EINTR);
    // NOTE: the C runtime reports a write that stores nothing on a full disk
    // as -1 with ENOSPC; a POSIX write may return 0 there instead.
    if (n == 0 && count != 0) {
        errno = ENOSPC;
        return -1;
    }
    return static_cast<int>(n);
}

int crt_close(int fd) {
    return syscalls.close(fd);
}

int crt_stat(const char* path, crt_stat_t* st) {
    HostPath p(path);
    struct stat s;
    if (!p.ok() || syscalls.stat(p.get(), &s) != 0)
        return -1;
    to_crt(s, st);
    return 0;
}

int crt_fstat(int fd, crt_stat_t* st) {
    struct stat s;
    if (syscalls.fstat(fd, &s) != 0)
        return -1;
    to_crt(s, st);
    return 0;
}

int crt_chmod(const char* path, int mode) {
    HostPath p(path);
    if (!p.ok())
        return -1;
    // The Windows attribute belongs to the name itself; a symbolic link here
    // must not pass the change on to whatever it points to. glibc refuses
    // AT_SYMLINK_NOFOLLOW on a link with EOPNOTSUPP and applies it race-free
    // to anything else.
    if (syscalls.fchmodat(AT_FDCWD, p.get(), static_cast<mode_t>(mode & 0xFFF),
                          AT_SYMLINK_NOFOLLOW) == 0)
        return 0;
    if (errno == EOPNOTSUPP || errno == ENOTSUP) {
        struct stat s;
        if (syscalls.lstat(p.get(), &s) == 0 && S_ISLNK(s.st_mode))
            return 0;
        errno = EOPNOTSUPP;
    }
    return -1;
}

int crt_unlink(const char* path) {
    HostPath p(path);
    if (!p.ok())
        return -1;
    return syscalls.unlink(p.get());
}

// rename(2) replaces the target whatever its permission bits, as the
// contract asks of a read-only one.
int crt_rename(const char* from, const char* to) {
    HostPath f(from);
    HostPath t(to);
    if (!f.ok() || !t.ok())
        return -1;
    return syscalls.rename(f.get(), t.get());
}

int crt_set_times(const char* path, int64_t access_time, int64_t write_time) {
    HostPath p(path);
    if (!p.ok())
        return -1;
    struct timespec times[2] = {};
    times[0].tv_sec = static_cast<time_t>(access_time);
    times[1].tv_sec = static_cast<time_t>(write_time);
    return syscalls.utimensat(AT_FDCWD, p.get(), times, AT_SYMLINK_NOFOLLOW);
}

const char* crt_error_text(int error_number) {
    return std::strerror(error_number);
}
