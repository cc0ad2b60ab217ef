// Windows backend of platform/crt_io.h: the C runtime's descriptor functions
// (msvcrt), every file in binary mode and never inherited by child processes
// such as the game. Received names already use backslashes, which Windows
// takes as they are.

#include "platform/wintypes.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "platform/common/open_flags.h"
#include "platform/crt_io.h"
#include "platform/win32/syscalls.h"

namespace {

using tvwin32::syscalls;

// Windows' classic path limit: the decompressor's name buffers hold 259
// characters, and a longer name is refused here as on the host rather than
// passed on to fail in some other way.
constexpr size_t kMaxPath = 260;

bool path_fits(const char* path) {
    if (std::strlen(path) < kMaxPath)
        return true;
    errno = ENAMETOOLONG;
    return false;
}

void to_crt(const struct _stat64& s, crt_stat_t* st) {
    st->dev = static_cast<uint64_t>(s.st_dev);
    st->ino = s.st_ino;
    st->mode = s.st_mode & 0xFFFFu;
    st->nlink = static_cast<uint32_t>(s.st_nlink);
    st->uid = static_cast<uint32_t>(s.st_uid);
    st->gid = static_cast<uint32_t>(s.st_gid);
    st->size = s.st_size;
    st->atime = s.st_atime;
    st->mtime = s.st_mtime;
    st->ctime = s.st_ctime;
}

int runtime_flags(int flags) {
    return tvplatform::SystemOpenFlags(flags, {_O_RDONLY, _O_WRONLY, _O_RDWR, _O_CREAT, _O_EXCL},
                                       _O_BINARY | _O_NOINHERIT);
}

// The runtime knows only the owner's read and write bits.
int runtime_mode(int mode) {
    return (mode & CRT_S_IWRITE ? _S_IWRITE : 0) | _S_IREAD;
}

// Seconds since 1970 as a file time; false when the time precedes 1601.
constexpr long long kFileTimeOf1970 = 116444736000000000LL;
bool to_file_time(int64_t seconds, unsigned long long* t) {
    if (seconds < -11644473600LL || seconds > 900000000000LL)
        return false;
    *t = static_cast<unsigned long long>(seconds * 10000000LL + kFileTimeOf1970);
    return true;
}

} // namespace

int crt_open(const char* path, int flags, int mode) {
    if (!path_fits(path))
        return -1;
    return syscalls.open(path, runtime_flags(flags), runtime_mode(mode));
}

int crt_read(int fd, void* buf, unsigned count) {
    return syscalls.read(fd, buf, count);
}

int crt_write(int fd, const void* buf, unsigned count) {
    int n = syscalls.write(fd, buf, count);
    // msvcrt reports a write that stores nothing on a full disk as 0 with
    // ENOSPC set; the contract makes it -1.
    if (n == 0 && count != 0) {
        errno = ENOSPC;
        return -1;
    }
    return n;
}

int crt_close(int fd) {
    return syscalls.close(fd);
}

int crt_stat(const char* path, crt_stat_t* st) {
    struct _stat64 s;
    if (!path_fits(path) || syscalls.stat(path, &s) != 0)
        return -1;
    to_crt(s, st);
    return 0;
}

int crt_fstat(int fd, crt_stat_t* st) {
    struct _stat64 s;
    if (syscalls.fstat(fd, &s) != 0)
        return -1;
    to_crt(s, st);
    return 0;
}

int crt_chmod(const char* path, int mode) {
    if (!path_fits(path))
        return -1;
    // The read-only attribute belongs to the name; a link in its place keeps
    // its own and nothing it points to changes.
    unsigned long attributes = syscalls.get_attributes(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return 0;
    return syscalls.chmod(path, runtime_mode(mode));
}

int crt_unlink(const char* path) {
    if (!path_fits(path))
        return -1;
    return syscalls.unlink(path);
}

// MoveFileExA replaces a file but not a read-only one: the attribute of the
// file being replaced is cleared first and put back if the move still fails.
int crt_rename(const char* from, const char* to) {
    if (!path_fits(from) || !path_fits(to))
        return -1;
    unsigned long attributes = syscalls.get_attributes(to);
    bool read_only = attributes != INVALID_FILE_ATTRIBUTES &&
                     (attributes & FILE_ATTRIBUTE_READONLY) &&
                     !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (read_only && syscalls.set_attributes(to, attributes & ~FILE_ATTRIBUTE_READONLY) != 0)
        read_only = false;
    if (syscalls.rename(from, to) == 0)
        return 0;
    int error_number = errno;
    if (read_only)
        syscalls.set_attributes(to, attributes);
    errno = error_number;
    return -1;
}

int crt_set_times(const char* path, int64_t access_time, int64_t write_time) {
    if (!path_fits(path))
        return -1;
    unsigned long long access, write;
    if (!to_file_time(access_time, &access) || !to_file_time(write_time, &write)) {
        errno = EINVAL;
        return -1;
    }
    return syscalls.set_file_times(path, access, write);
}

const char* crt_error_text(int error_number) {
    return std::strerror(error_number);
}
