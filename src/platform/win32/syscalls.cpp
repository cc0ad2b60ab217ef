// Windows backend: the system-call table and its real entries.
#include "platform/win32/syscalls.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <io.h>
#include <type_traits>

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

// Windows Sockets, bound on first use: a program that opens no socket (the
// decompressor tool) never loads ws2_32.dll, whose loading would add to every
// start of it. Nothing here names a Windows Sockets function, so this file
// does not make the linker import one. Only from the system directory, never
// a copy planted beside the program.
HMODULE winsock_module() {
    static const HMODULE module =
        ::LoadLibraryExA("ws2_32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module;
}

template <size_t N> struct EntryName {
    char text[N];
    constexpr EntryName(const char (&name)[N]) { std::copy_n(name, N, text); }
};

// The entry's real function, or null if Windows Sockets cannot be loaded.
template <EntryName Name, typename Fn> Fn winsock_entry() {
    static const Fn fn = [] {
        HMODULE module = winsock_module();
        return module == nullptr ? nullptr
                                 : reinterpret_cast<Fn>(reinterpret_cast<void*>(
                                       ::GetProcAddress(module, Name.text)));
    }();
    return fn;
}

template <EntryName Name, typename Fn> struct Winsock;

// Without the library every call fails as Windows Sockets would before a
// successful start-up: its failure value and WSANOTINITIALISED.
template <EntryName Name, typename R, typename... Args> struct Winsock<Name, R (*)(Args...)> {
    static R call(Args... args) {
        if (auto fn = winsock_entry<Name, R (*)(Args...)>())
            return fn(args...);
        ::SetLastError(WSANOTINITIALISED);
        if constexpr (std::is_pointer_v<R>)
            return nullptr;
        else
            return static_cast<R>(-1); // SOCKET_ERROR, INVALID_SOCKET
    }
};

// WSAStartup returns its error rather than setting it.
int lazy_WSAStartup(WORD version, WSADATA* data) {
    if (auto fn = winsock_entry<"WSAStartup", decltype(Syscalls::WSAStartup)>())
        return fn(version, data);
    return WSASYSNOTREADY;
}

Syscalls RealSyscalls() {
    return Syscalls{
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
        .WSAStartup = lazy_WSAStartup,
        .socket = Winsock<"socket", decltype(Syscalls::socket)>::call,
        .bind = Winsock<"bind", decltype(Syscalls::bind)>::call,
        .WSAAsyncSelect = Winsock<"WSAAsyncSelect", decltype(Syscalls::WSAAsyncSelect)>::call,
        .connect = Winsock<"connect", decltype(Syscalls::connect)>::call,
        .recv = Winsock<"recv", decltype(Syscalls::recv)>::call,
        .send = Winsock<"send", decltype(Syscalls::send)>::call,
        .getsockname = Winsock<"getsockname", decltype(Syscalls::getsockname)>::call,
        .getpeername = Winsock<"getpeername", decltype(Syscalls::getpeername)>::call,
        .ioctlsocket = Winsock<"ioctlsocket", decltype(Syscalls::ioctlsocket)>::call,
        .WSAAsyncGetHostByName =
            Winsock<"WSAAsyncGetHostByName", decltype(Syscalls::WSAAsyncGetHostByName)>::call,
        .CreateFileA = ::CreateFileA,
        .ReadFile = ::ReadFile,
        .WriteFile = ::WriteFile,
        .CloseHandle = ::CloseHandle,
        .DeleteFileA = ::DeleteFileA,
        .MoveFileExA = ::MoveFileExA,
        .CreateDirectoryA = ::CreateDirectoryA,
        .SetFileAttributesA = ::SetFileAttributesA,
        .GetTempPathA = ::GetTempPathA,
        .GetDiskFreeSpaceExA = ::GetDiskFreeSpaceExA,
        .GetPrivateProfileStringA = ::GetPrivateProfileStringA,
        .GetPrivateProfileIntA = ::GetPrivateProfileIntA,
        .CreateProcessA = ::CreateProcessA,
        .SetCurrentDirectoryA = ::SetCurrentDirectoryA,
        ._beginthreadex = ::_beginthreadex,
    };
}

} // namespace

// Filled before the static objects of every other file are built: their
// constructors may already call through it. The system's functions are
// imported, so their addresses are known only once the program is loaded.
Syscalls syscalls __attribute__((init_priority(101))) = RealSyscalls();

void ResetSyscalls() {
    syscalls = RealSyscalls();
}

} // namespace tvwin32
