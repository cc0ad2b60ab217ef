// Windows backend: the one table of system calls. Every call of the Windows
// backend whose failure it handles (the C runtime's file layer, the output
// stream, Windows Sockets and their start-up) goes through it, so a test can
// fail the Nth write with ENOSPC or a recv with WSAECONNRESET without mocking
// any class; win32/syscall_faults.h fails the Nth call of any entry.
// Production code never changes it; a test that does puts it back with
// ResetSyscalls(). The Windows Sockets entries load ws2_32.dll on their first
// call, so a program that opens no socket does not load it at all.
//
// NOTE: the client's own calls of the Win32 file, profile and process
// functions (CreateFileA, GetPrivateProfileStringA, CreateProcessA ...) are
// the system's, not the backend's, and do not pass through here; nor do the
// window and message calls of the user interface.
#pragma once

#include "platform/wintypes.h"

#include <cstdio>
#include <sys/stat.h>

namespace tvwin32 {

struct Syscalls {
    // The C runtime's file layer; errors in errno.
    int (*open)(const char* path, int flags, int mode);
    int (*read)(int fd, void* buf, unsigned n);
    int (*write)(int fd, const void* buf, unsigned n);
    int (*close)(int fd);
    int (*stat)(const char* path, struct _stat64* st);
    int (*fstat)(int fd, struct _stat64* st);
    int (*chmod)(const char* path, int mode);
    int (*unlink)(const char* path);
    FILE* (*fopen)(const char* path, const char* mode);
    // Windows' attributes of the name itself, or INVALID_FILE_ATTRIBUTES.
    unsigned long (*get_attributes)(const char* path);
    // 0, or Windows' error code.
    unsigned long (*set_attributes)(const char* path, unsigned long attributes);
    // Gives the file from the name to, replacing a file there; 0 or -1 with
    // errno set.
    int (*rename)(const char* from, const char* to);
    // Sets the last-access and last-write times (file times, 100 ns units
    // since 1601) of the name itself; 0 or -1 with errno set.
    int (*set_file_times)(const char* path, unsigned long long access, unsigned long long write);
    // Windows Sockets; errors through WSAGetLastError, except WSAStartup,
    // which returns its error code.
    int (*WSAStartup)(WORD version, WSADATA* data);
    SOCKET (*socket)(int af, int type, int protocol);
    int (*bind)(SOCKET s, const sockaddr* addr, int len);
    int (*WSAAsyncSelect)(SOCKET s, HWND hWnd, UINT message, long events);
    int (*connect)(SOCKET s, const sockaddr* addr, int len);
    int (*recv)(SOCKET s, char* buf, int len, int flags);
    int (*send)(SOCKET s, const char* buf, int len, int flags);
    int (*getsockname)(SOCKET s, sockaddr* addr, int* len);
    int (*getpeername)(SOCKET s, sockaddr* addr, int* len);
    int (*ioctlsocket)(SOCKET s, long command, u_long* arg);
    HANDLE (*WSAAsyncGetHostByName)(HWND hWnd, UINT message, const char* name, char* buf, int len);
};

extern Syscalls syscalls;
// Puts every entry back to the real call.
void ResetSyscalls();

} // namespace tvwin32
