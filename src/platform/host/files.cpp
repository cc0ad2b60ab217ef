// Host backend: the Win32 file functions and the output-stream open.
//
// Windows semantics kept here, and their host stand-ins:
//   - a read-only file (owner-write bit clear) cannot be opened for writing,
//     replaced or deleted, even by root (ERROR_ACCESS_DENIED / EACCES);
//   - a directory cannot be opened as a file (ERROR_ACCESS_DENIED / EACCES);
//   - a missing parent directory is ERROR_PATH_NOT_FOUND, a missing file
//     ERROR_FILE_NOT_FOUND; the C stream open reports both as ENOENT.
#include "platform/files.h"

#include "platform/host/errors.h"
#include "platform/host/handles.h"
#include "platform/host/syscalls.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

struct FileObject : tvhost::HostObject {
    int fd = -1;
    ~FileObject() override {
        if (fd >= 0)
            tvhost::syscalls.close(fd);
    }
};

enum class Existing { None, File, ReadOnlyFile, Directory, Other };

Existing Probe(const std::string& p) {
    struct stat st;
    if (tvhost::syscalls.stat(p.c_str(), &st) != 0)
        return Existing::None;
    if (S_ISDIR(st.st_mode))
        return Existing::Directory;
    if (!S_ISREG(st.st_mode))
        return Existing::Other;
    return (st.st_mode & S_IWUSR) ? Existing::File : Existing::ReadOnlyFile;
}

int OpenFlags(DWORD access, DWORD disposition, bool& ok) {
    ok = true;
    int flags = O_CLOEXEC;
    bool rd = access & GENERIC_READ, wr = access & GENERIC_WRITE;
    flags |= (rd && wr) ? O_RDWR : wr ? O_WRONLY : O_RDONLY;
    switch (disposition) {
    case CREATE_NEW:
        return flags | O_CREAT | O_EXCL | O_NOFOLLOW;
    case CREATE_ALWAYS:
        return flags | O_CREAT | O_TRUNC;
    case OPEN_EXISTING:
        return flags;
    case OPEN_ALWAYS:
        return flags | O_CREAT;
    case TRUNCATE_EXISTING:
        return flags | O_TRUNC;
    default:
        ok = false;
        return flags;
    }
}

FileObject* FileFromHandle(HANDLE h) {
    tvhost::HostObject* obj = tvhost::RefHandle(h);
    auto* f = dynamic_cast<FileObject*>(obj);
    if (!f && obj)
        tvhost::Unref(obj);
    return f;
}

} // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    bool ok;
    int flags = OpenFlags(dwDesiredAccess, dwCreationDisposition, ok);
    if (!ok || !lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string p = tvhost::HostPath(lpFileName);
    Existing before = Probe(p);
    bool writes = (flags & (O_WRONLY | O_RDWR | O_TRUNC)) != 0;
    if (before == Existing::Directory || (writes && before == Existing::ReadOnlyFile)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (before != Existing::None && dwCreationDisposition == CREATE_NEW) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    const bool bPrivate = dwCreationDisposition == CREATE_NEW &&
                          (dwFlagsAndAttributes & FILE_ATTRIBUTE_TEMPORARY) != 0;
    int fd = tvhost::syscalls.open(p.c_str(), flags, bPrivate ? 0600 : 0666);
    if (fd < 0) {
        int err = errno;
        // O_EXCL also refuses a dangling link planted in the file's place.
        if (err == EEXIST && dwCreationDisposition == CREATE_NEW)
            SetLastError(ERROR_FILE_EXISTS);
        else
            tvhost::FailWithErrno(err, err == ENOENT && tvhost::ParentMissing(p));
        return INVALID_HANDLE_VALUE;
    }
    auto* f = new FileObject;
    f->fd = fd;
    bool existed = before != Existing::None;
    SetLastError(
        existed && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS)
            ? ERROR_ALREADY_EXISTS
            : ERROR_SUCCESS);
    return tvhost::NewHandle(f);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED) {
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    FileObject* f = FileFromHandle(hFile);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD done = 0;
    BOOL ok = TRUE;
    while (done < nNumberOfBytesToRead) {
        ssize_t n = tvhost::syscalls.read(f->fd, static_cast<char*>(lpBuffer) + done,
                                          nNumberOfBytesToRead - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = tvhost::FailWithErrno(errno);
            break;
        }
        if (n == 0)
            break;
        done += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = done;
    tvhost::Unref(f);
    return ok;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    FileObject* f = FileFromHandle(hFile);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD done = 0;
    BOOL ok = TRUE;
    while (done < nNumberOfBytesToWrite) {
        ssize_t n = tvhost::syscalls.write(f->fd, static_cast<const char*>(lpBuffer) + done,
                                           nNumberOfBytesToWrite - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = tvhost::FailWithErrno(n < 0 ? errno : ENOSPC);
            break;
        }
        done += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = done;
    tvhost::Unref(f);
    return ok;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
    std::string p = tvhost::HostPath(lpFileName);
    struct stat st;
    if (tvhost::syscalls.lstat(p.c_str(), &st) != 0)
        return tvhost::FailWithErrno(errno, errno == ENOENT && tvhost::ParentMissing(p));
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (tvhost::syscalls.unlink(p.c_str()) != 0)
        return tvhost::FailWithErrno(errno);
    return TRUE;
}

namespace {

// fsync through a fresh descriptor. Returns the errno of a flush that failed,
// 0 otherwise: a file or directory that cannot be opened has nothing of ours
// to flush, and a file system that cannot sync (EINVAL, EROFS) holds nothing
// that a flush would save.
int FlushPath(const std::string& path, int flags) {
    const int fd = tvhost::syscalls.open(path.c_str(), flags | O_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    int err = tvhost::syscalls.fsync(fd) == 0 ? 0 : errno;
    tvhost::syscalls.close(fd);
    return err == EINVAL || err == EROFS ? 0 : err;
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    std::string from = tvhost::HostPath(lpExistingFileName);
    std::string to = tvhost::HostPath(lpNewFileName);
    struct stat st;
    if (tvhost::syscalls.lstat(from.c_str(), &st) != 0)
        return tvhost::FailWithErrno(errno, errno == ENOENT && tvhost::ParentMissing(from));
    Existing target = Probe(to);
    if (target != Existing::None && !(dwFlags & MOVEFILE_REPLACE_EXISTING)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (target == Existing::Directory || target == Existing::ReadOnlyFile) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // NOTE: with write-through the data goes to disk before the rename, so
    // after a power cut the new name never points at unwritten blocks; the
    // directory is flushed after it, so the rename itself is on disk when we
    // return, as Windows promises for MOVEFILE_WRITE_THROUGH. A file whose data
    // could not be written out (EIO, a full disk) is not put in place: the
    // name keeps the file it had.
    if (dwFlags & MOVEFILE_WRITE_THROUGH) {
        if (int err = FlushPath(from, O_RDONLY))
            return tvhost::FailWithErrno(err);
    }
    // rename() replaces the target atomically: a reader sees the old or the new
    // file, never a partial one.
    if (tvhost::syscalls.rename(from.c_str(), to.c_str()) != 0)
        return tvhost::FailWithErrno(errno, errno == ENOENT && tvhost::ParentMissing(to));
    // NOTE: the rename has happened by now; a failed directory flush is not
    // reported, since the caller would take the file for not moved.
    if (dwFlags & MOVEFILE_WRITE_THROUGH)
        FlushPath(ParentOf(to), O_RDONLY | O_DIRECTORY);
    return TRUE;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    std::string p = tvhost::HostPath(lpPathName);
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (tvhost::syscalls.mkdir(p.c_str(), 0777) != 0)
        return tvhost::FailWithErrno(errno, errno == ENOENT);
    return TRUE;
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    std::string p = tvhost::HostPath(lpFileName);
    struct stat st;
    if (tvhost::syscalls.lstat(p.c_str(), &st) != 0)
        return tvhost::FailWithErrno(errno, errno == ENOENT && tvhost::ParentMissing(p));
    if (S_ISLNK(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED); // never change the target of a link
        return FALSE;
    }
    mode_t mode = st.st_mode & 07777;
    if (dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    if (mode == (st.st_mode & 07777))
        return TRUE;
    // AT_SYMLINK_NOFOLLOW: a link swapped in after the lstat fails instead of
    // having its target changed.
    if (tvhost::syscalls.fchmodat(AT_FDCWD, p.c_str(), mode, AT_SYMLINK_NOFOLLOW) != 0)
        return tvhost::FailWithErrno(errno == EOPNOTSUPP ? EACCES : errno);
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
    std::string p = tvhost::HostPath(lpFileName);
    struct stat st;
    if (tvhost::syscalls.stat(p.c_str(), &st) != 0) {
        tvhost::FailWithErrno(errno, errno == ENOENT && tvhost::ParentMissing(p));
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISDIR(st.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    return (st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env && *env) ? env : "/tmp";
    if (dir.back() != '/')
        dir += '/';
    DWORD need = static_cast<DWORD>(dir.size());
    if (nBufferLength <= need || !lpBuffer)
        return need + 1;
    std::memcpy(lpBuffer, dir.c_str(), dir.size() + 1);
    return need;
}

BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes,
                         PULARGE_INTEGER lpTotalNumberOfFreeBytes) {
    struct statvfs s;
    const std::string dir = tvhost::HostPath(lpDirectoryName ? lpDirectoryName : ".");
    if (::statvfs(dir.c_str(), &s) != 0)
        return tvhost::FailWithErrno(errno, errno == ENOENT);
    const std::uint64_t unit = s.f_frsize;
    if (lpFreeBytesAvailableToCaller)
        lpFreeBytesAvailableToCaller->QuadPart = unit * s.f_bavail;
    if (lpTotalNumberOfBytes)
        lpTotalNumberOfBytes->QuadPart = unit * s.f_blocks;
    if (lpTotalNumberOfFreeBytes)
        lpTotalNumberOfFreeBytes->QuadPart = unit * s.f_bfree;
    return TRUE;
}

FILE* AfxOpenStream(const char* lpszPath, const char* lpszMode) {
    if (!lpszPath || !lpszMode) {
        errno = EINVAL;
        return nullptr;
    }
    std::string p = tvhost::HostPath(lpszPath);
    bool writes = std::strpbrk(lpszMode, "wa+") != nullptr;
    Existing before = Probe(p);
    if (before == Existing::Directory || (writes && before == Existing::ReadOnlyFile)) {
        errno = EACCES;
        return nullptr;
    }
    std::string mode = lpszMode;
    mode += 'e'; // close-on-exec: a started game must not inherit it
    FILE* f = tvhost::syscalls.fopen(p.c_str(), mode.c_str());
    if (!f) {
        switch (errno) {
        case ENOTDIR:
            errno = ENOENT;
            break;
        case EISDIR:
        case EPERM:
        case EROFS:
        case ETXTBSY:
            errno = EACCES;
            break;
        default:
            break;
        }
    }
    return f;
}
