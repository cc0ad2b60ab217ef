// Windows backend: the system-call table and its real entries.
#include "platform/win32/syscalls.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>

namespace tvwin32 {

namespace {

int real_open(const char* path, int flags, int mode) {
    return ::_open(path, flags, mode);
}

unsigned long real_get_attributes(const char* path) {
    return ::GetFileAttributesA(path);
}

// The C runtime's own error numbers for what the Win32 calls report here.
int errno_from(DWORD error) {
    switch (error) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        return EINVAL;
    }
}

FILETIME to_filetime(unsigned long long t) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

// Opens the name itself, not what a link in its place points to, for writing
// its attributes only, and leaves the creation time alone.
int real_set_file_times(const char* path, unsigned long long access, unsigned long long write) {
    HANDLE h = ::CreateFileA(path, FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = errno_from(::GetLastError());
        return -1;
    }
    FILETIME a = to_filetime(access), w = to_filetime(write);
    BOOL ok = ::SetFileTime(h, nullptr, &a, &w);
    DWORD error = ::GetLastError();
    ::CloseHandle(h);
    if (!ok) {
        errno = errno_from(error);
        return -1;
    }
    return 0;
}

int real_rename(const char* from, const char* to) {
    if (::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING))
        return 0;
    errno = errno_from(::GetLastError());
    return -1;
}

unsigned long real_set_attributes(const char* path, unsigned long attributes) {
    return ::SetFileAttributesA(path, attributes) ? 0 : ::GetLastError();
}

const Syscalls kReal = {
    .open = real_open,
    .read = ::_read,
    .write = ::_write,
    .close = ::_close,
    .stat = ::_stat64,
    .fstat = ::_fstat64,
    .chmod = ::_chmod,
    .unlink = ::_unlink,
    .fopen = std::fopen,
    .get_attributes = real_get_attributes,
    .set_attributes = real_set_attributes,
    .rename = real_rename,
    .set_file_times = real_set_file_times,
    .WSAStartup = ::WSAStartup,
    .socket = ::socket,
    .bind = ::bind,
    .WSAAsyncSelect = ::WSAAsyncSelect,
    .connect = ::connect,
    .recv = ::recv,
    .send = ::send,
    .getsockname = ::getsockname,
    .getpeername = ::getpeername,
    .ioctlsocket = ::ioctlsocket,
    .WSAAsyncGetHostByName = ::WSAAsyncGetHostByName,
};

} // namespace

Syscalls syscalls = kReal;

void ResetSyscalls() {
    syscalls = kReal;
}

} // namespace tvwin32
