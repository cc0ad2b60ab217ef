// Win32 backend of platform/crt_io.h: the decompressor's descriptor functions
// over the Windows C runtime. Every descriptor is opened untranslated
// (_O_BINARY) and not inherited by a started game (_O_NOINHERIT). File
// status, permissions and time stamps go through the Win32 calls directly:
// the runtime's _stat reports no file identity (st_ino is always 0), and the
// decompressor's same-file check needs one.
#include "platform/crt_io.h"

#include "platform/win32/windows_sdk.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace {

// Names of MAX_PATH characters or more do not fit the Win32 ...A calls; they
// are refused here instead of being cut or reaching a longer-path API.
bool PathFits(const char* path) {
    if (path != nullptr && std::strlen(path) < MAX_PATH)
        return true;
    errno = path == nullptr ? EINVAL : ENAMETOOLONG;
    return false;
}

int ErrnoFromWin32(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    default:
        return EIO;
    }
}

int FailWin32() {
    errno = ErrnoFromWin32(GetLastError());
    return -1;
}

const int64_t kUnixEpochAsFileTime = 116444736000000000LL; // 1970-01-01 in 100 ns since 1601
const int64_t kTicksPerSecond = 10000000;

int64_t SecondsFromFileTime(const FILETIME& ft) {
    const int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return (ticks - kUnixEpochAsFileTime) / kTicksPerSecond;
}

bool FileTimeFromSeconds(int64_t seconds, FILETIME& ft) {
    if (seconds < -kUnixEpochAsFileTime / kTicksPerSecond ||
        seconds > (INT64_MAX - kUnixEpochAsFileTime) / kTicksPerSecond)
        return false;
    const uint64_t ticks = static_cast<uint64_t>(seconds * kTicksPerSecond + kUnixEpochAsFileTime);
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return true;
}

// The runtime's mode bits for a set of attributes: the owner's bits copied to
// group and others, write only without the read-only attribute.
uint32_t ModeFromAttributes(DWORD attributes) {
    uint32_t perm = CRT_S_IREAD;
    if (!(attributes & FILE_ATTRIBUTE_READONLY))
        perm |= CRT_S_IWRITE;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        perm |= 0x0040; // search permission, as the runtime gives directories
    perm |= (perm >> 3) | (perm >> 6);
    return perm | ((attributes & FILE_ATTRIBUTE_DIRECTORY) ? CRT_S_IFDIR : CRT_S_IFREG);
}

int StatFromHandle(HANDLE h, crt_stat_t* st) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info))
        return FailWin32();
    *st = {};
    st->dev = info.dwVolumeSerialNumber;
    st->ino = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    st->mode = ModeFromAttributes(info.dwFileAttributes);
    st->nlink = info.nNumberOfLinks;
    st->size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) |
                                    info.nFileSizeLow);
    st->atime = SecondsFromFileTime(info.ftLastAccessTime);
    st->mtime = SecondsFromFileTime(info.ftLastWriteTime);
    // The Windows runtime reports the creation time as the change time.
    st->ctime = SecondsFromFileTime(info.ftCreationTime);
    return 0;
}

// Opens a name for its metadata only, sharing everything, so that a file
// another program holds open can still be examined. Directories need backup
// semantics to be opened at all.
HANDLE OpenForMetadata(const char* path, DWORD access, DWORD flags) {
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

int RuntimeFlags(int flags) {
    int f = _O_BINARY | _O_NOINHERIT;
    switch (flags & 3) {
    case CRT_O_WRONLY:
        f |= _O_WRONLY;
        break;
    case CRT_O_RDWR:
        f |= _O_RDWR;
        break;
    default:
        f |= _O_RDONLY;
    }
    if (flags & CRT_O_CREAT)
        f |= _O_CREAT;
    if (flags & CRT_O_EXCL)
        f |= _O_EXCL;
    return f;
}

} // namespace

int crt_open(const char* path, int flags, int mode) {
    if (!PathFits(path))
        return -1;
    // Only the owner-write bit has a meaning here: without it the new file
    // gets the read-only attribute once it is closed.
    const int pmode = _S_IREAD | ((mode & CRT_S_IWRITE) ? _S_IWRITE : 0);
    return _open(path, RuntimeFlags(flags), pmode);
}

int crt_read(int fd, void* buf, unsigned count) {
    return _read(fd, buf, count);
}

int crt_write(int fd, const void* buf, unsigned count) {
    const int n = _write(fd, buf, count);
    if (n == 0 && count != 0) {
        errno = ENOSPC;
        return -1;
    }
    return n;
}

int crt_close(int fd) {
    return _close(fd);
}

int crt_stat(const char* path, crt_stat_t* st) {
    if (!PathFits(path))
        return -1;
    HANDLE h = OpenForMetadata(path, FILE_READ_ATTRIBUTES, 0);
    if (h == INVALID_HANDLE_VALUE)
        return FailWin32();
    const int rc = StatFromHandle(h, st);
    CloseHandle(h);
    return rc;
}

int crt_fstat(int fd, crt_stat_t* st) {
    const intptr_t h = _get_osfhandle(fd);
    if (h == -1) {
        errno = EBADF;
        return -1;
    }
    return StatFromHandle(reinterpret_cast<HANDLE>(h), st);
}

int crt_chmod(const char* path, int mode) {
    if (!PathFits(path))
        return -1;
    // The name itself is opened, never what a link in its place points to;
    // a link is left as it is.
    HANDLE h =
        OpenForMetadata(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_FLAG_OPEN_REPARSE_POINT);
    if (h == INVALID_HANDLE_VALUE)
        return FailWin32();
    FILE_BASIC_INFO basic;
    int rc = 0;
    if (!GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) {
        rc = FailWin32();
    } else if (!(basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        DWORD attributes = basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        if (!(mode & CRT_S_IWRITE))
            attributes |= FILE_ATTRIBUTE_READONLY;
        if (attributes == 0)
            attributes = FILE_ATTRIBUTE_NORMAL;
        if (attributes != basic.FileAttributes) {
            FILE_BASIC_INFO change = {}; // zero times: left unchanged
            change.FileAttributes = attributes;
            if (!SetFileInformationByHandle(h, FileBasicInfo, &change, sizeof change))
                rc = FailWin32();
        }
    }
    CloseHandle(h);
    return rc;
}

int crt_unlink(const char* path) {
    if (!PathFits(path))
        return -1;
    return DeleteFileA(path) ? 0 : FailWin32();
}

int crt_set_times(const char* path, int64_t access_time, int64_t write_time) {
    if (!PathFits(path))
        return -1;
    FILETIME access, write;
    if (!FileTimeFromSeconds(access_time, access) || !FileTimeFromSeconds(write_time, write)) {
        errno = EINVAL;
        return -1;
    }
    HANDLE h = OpenForMetadata(path, FILE_WRITE_ATTRIBUTES, FILE_FLAG_OPEN_REPARSE_POINT);
    if (h == INVALID_HANDLE_VALUE)
        return FailWin32();
    const BOOL ok = SetFileTime(h, nullptr, &access, &write);
    const int rc = ok ? 0 : FailWin32();
    CloseHandle(h);
    return rc;
}

const char* crt_error_text(int error_number) {
    return std::strerror(error_number);
}
