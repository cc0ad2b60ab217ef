// Windows backend: the one table of system calls. Every call whose failure
// the program handles goes through it: the C runtime's file layer and the
// output stream, Windows Sockets and their start-up, and the Win32 file,
// profile, process and thread functions the client calls by their system
// names (CreateFileA, GetPrivateProfileStringA, CreateProcessA ...), which
// windows_sdk.h points here. So a test can fail the Nth write with ENOSPC, a
// recv with WSAECONNRESET or a MoveFileExA with ERROR_ACCESS_DENIED without
// mocking any class; win32/syscall_faults.h fails the Nth call of any entry.
// Production code never changes it; a test that does puts it back with
// ResetSyscalls(). The Windows Sockets entries load ws2_32.dll on their first
// call, so a program that opens no socket does not load it at all.
//
// NOTE: the window and message calls of the user interface (SendMessage,
// SetTimer, MessageBox ...) stay direct: they are the window system's
// plumbing, not calls whose failure the client handles; so are the calls that
// cannot fail (GetLastError, GetTickCount64).
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
    // The Win32 functions the client calls by name, with the SDK's
    // signatures; errors through GetLastError.
    HANDLE(WINAPI* CreateFileA)
    (LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
     DWORD flags, HANDLE templateFile);
    BOOL(WINAPI* ReadFile)(HANDLE h, LPVOID buf, DWORD n, LPDWORD read, LPOVERLAPPED overlapped);
    BOOL(WINAPI* WriteFile)
    (HANDLE h, LPCVOID buf, DWORD n, LPDWORD written, LPOVERLAPPED overlapped);
    BOOL(WINAPI* CloseHandle)(HANDLE h);
    BOOL(WINAPI* DeleteFileA)(LPCSTR path);
    BOOL(WINAPI* MoveFileExA)(LPCSTR from, LPCSTR to, DWORD flags);
    BOOL(WINAPI* CreateDirectoryA)(LPCSTR path, LPSECURITY_ATTRIBUTES sa);
    BOOL(WINAPI* SetFileAttributesA)(LPCSTR path, DWORD attributes);
    DWORD(WINAPI* GetTempPathA)(DWORD size, LPSTR buf);
    BOOL(WINAPI* GetDiskFreeSpaceExA)
    (LPCSTR dir, PULARGE_INTEGER toCaller, PULARGE_INTEGER total, PULARGE_INTEGER totalFree);
    DWORD(WINAPI* GetPrivateProfileStringA)
    (LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buf, DWORD size, LPCSTR path);
    UINT(WINAPI* GetPrivateProfileIntA)(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR path);
    BOOL(WINAPI* CreateProcessA)
    (LPCSTR program, LPSTR commandLine, LPSECURITY_ATTRIBUTES process, LPSECURITY_ATTRIBUTES thread,
     BOOL inherit, DWORD flags, LPVOID environment, LPCSTR dir, LPSTARTUPINFOA startup,
     LPPROCESS_INFORMATION info);
    BOOL(WINAPI* SetCurrentDirectoryA)(LPCSTR path);
    // The C runtime's thread start; 0 with errno set on failure.
    uintptr_t(__cdecl* _beginthreadex)(void* security, unsigned stackSize,
                                       unsigned(__stdcall* start)(void*), void* arg, unsigned flags,
                                       unsigned* threadId);
};

extern Syscalls syscalls;
// Puts every entry back to the real call.
void ResetSyscalls();

} // namespace tvwin32
