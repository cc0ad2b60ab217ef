// Win32 backend: the one wrapper of the Windows SDK headers. Every translation
// unit reaches the SDK through platform/wintypes.h, which includes this, so
// every file sees the same macros. The only project names here route the
// client's fallible Win32 calls through the backend's system-call table (at
// the end).
//
// Name policy: UNICODE, so the unsuffixed names (SendMessage, SetWindowText,
// LoadString, DefWindowProc ...) are the wide-character (W) forms everywhere
// and TCHAR is wchar_t; the project's UTF-8 texts reach the screen through
// them. Files, profiles and processes are called by their explicit ...A names
// with narrow bytes passed unchanged.
#pragma once

#if defined(_WINDOWS_) && !defined(UNICODE)
#error "<windows.h> was included before platform/wintypes.h, without its name policy"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

// NOTE: winsock2.h before windows.h: windows.h would otherwise pull in the
// old winsock.h, whose declarations conflict with winsock2.h's.
#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>
#include <process.h> // _beginthreadex

// The Win32 functions the client calls by name and whose failure it handles
// reach the system through the backend's system-call table, as every call of
// the host backend does, so a test can fail the Nth of them. Function-like
// macros, so only a call is redirected: the SDK's own declarations and the
// table's real entries (&::CreateFileA) still name the system's functions,
// and a call written (CreateFileA)(...) reaches the system directly.
//
// NOTE: like the SDK's own A/W macros, these apply to every call so spelled
// in a file that sees this header, in any namespace: a function of the
// project must not be named ReadFile, CloseHandle ... (it would not compile).
// The backend's library defines TV_WIN32_SYSCALL_TABLE for every file built
// with it; a program that takes only this wrapper, without the backend (a
// benchmark's bare loop), calls the system directly.
#ifdef TV_WIN32_SYSCALL_TABLE
#include "platform/win32/syscalls.h"

#define CreateFileA(...) tvwin32::syscalls.CreateFileA(__VA_ARGS__)
#define ReadFile(...) tvwin32::syscalls.ReadFile(__VA_ARGS__)
#define WriteFile(...) tvwin32::syscalls.WriteFile(__VA_ARGS__)
#define CloseHandle(...) tvwin32::syscalls.CloseHandle(__VA_ARGS__)
#define DeleteFileA(...) tvwin32::syscalls.DeleteFileA(__VA_ARGS__)
#define MoveFileExA(...) tvwin32::syscalls.MoveFileExA(__VA_ARGS__)
#define CreateDirectoryA(...) tvwin32::syscalls.CreateDirectoryA(__VA_ARGS__)
#define SetFileAttributesA(...) tvwin32::syscalls.SetFileAttributesA(__VA_ARGS__)
#define GetTempPathA(...) tvwin32::syscalls.GetTempPathA(__VA_ARGS__)
#define GetDiskFreeSpaceExA(...) tvwin32::syscalls.GetDiskFreeSpaceExA(__VA_ARGS__)
#define GetPrivateProfileStringA(...) tvwin32::syscalls.GetPrivateProfileStringA(__VA_ARGS__)
#define GetPrivateProfileIntA(...) tvwin32::syscalls.GetPrivateProfileIntA(__VA_ARGS__)
#define CreateProcessA(...) tvwin32::syscalls.CreateProcessA(__VA_ARGS__)
#define SetCurrentDirectoryA(...) tvwin32::syscalls.SetCurrentDirectoryA(__VA_ARGS__)
#define _beginthreadex(...) tvwin32::syscalls._beginthreadex(__VA_ARGS__)
#endif
