// Host backend: the stand-in of the Windows SDK's file, directory, profile,
// process and C-runtime thread functions the client calls by their system
// names, with the SDK's signatures and constants. Behaviour as on Windows;
// where the host must differ, the declaration says so. Included through
// platform/wintypes.h only, never directly.
//
// Paths are narrow texts with backslashes as separators; on the host every
// backslash becomes '/', and a file is read-only when its owner-write bit is
// clear. Failures set GetLastError to the Win32 error numbers
// (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND for a missing parent directory,
// ERROR_ACCESS_DENIED, ERROR_ALREADY_EXISTS ...).
#pragma once

#include <cstdint>

// ---- Files and directories ----
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_WRITE_THROUGH 0x00000008u

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

// NOTE: share modes are accepted but not enforced on the host; nothing in the
// client relies on another process being locked out.
// CREATE_NEW never opens an existing file and never follows a link in the
// file's place (ERROR_FILE_EXISTS). A file created with
// FILE_ATTRIBUTE_TEMPORARY is readable by its owner only: the host's temporary
// directory is shared by every user, where Windows gives each user their own.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
BOOL DeleteFileA(LPCSTR lpFileName);
BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);
BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
// FILE_ATTRIBUTE_NORMAL makes the file writable, FILE_ATTRIBUTE_READONLY
// read-only. A symbolic link is never followed.
BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes);
DWORD GetFileAttributesA(LPCSTR lpFileName);
// The temporary directory with a trailing separator. Returns its length, or
// the size needed (including the zero) when nBufferLength is too small, or 0.
DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);
// Free bytes on the file system holding the directory: for the caller (what
// its quota and the space kept for the administrator leave it), in all, and
// free in all. Any output pointer may be null.
BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes,
                         PULARGE_INTEGER lpTotalNumberOfFreeBytes);

// ---- Profiles ----
// Sections and keys match without regard to case; values are trimmed of
// surrounding blanks; the default applies only when the key or the file is
// absent.
// Copies the value (or the default) into lpReturnedString, cut to nSize - 1
// characters and zero-terminated; returns the number of characters copied.
DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
// The value's leading decimal number (optional sign); 0 for a value that does
// not begin with one; nDefault when the key or the file is absent.
UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, int nDefault, LPCSTR lpFileName);

// ---- Processes and the current directory ----
#define NORMAL_PRIORITY_CLASS 0x00000020u
#define STARTF_USESHOWWINDOW 0x00000001u

typedef struct _STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    BYTE* lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

// Starts a program without waiting for it. With lpApplicationName null the
// program is the first argument of lpCommandLine, split by the Windows rules
// (blanks separate, double quotes group, backslashes escape only before a
// quote); it is searched for in the current directory first, then on PATH.
// The environment is inherited; handles are inherited only when asked (the
// host opens every descriptor close-on-exec). hProcess and hThread are closed
// with CloseHandle; waiting on hProcess waits for the program to end.
BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                    LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                    DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                    LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation);
BOOL SetCurrentDirectoryA(LPCSTR lpPathName);
DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);

// ---- The C runtime's thread start ----
// Starts start_address(arglist) on a new thread at once. Returns the thread's
// handle as a number (0 on failure); it is waited on with WaitForSingleObject
// or AfxWaitForWorker and released with CloseHandle. initflag must be 0.
std::uintptr_t _beginthreadex(void* security, unsigned stack_size,
                              unsigned(__stdcall* start_address)(void*), void* arglist,
                              unsigned initflag, unsigned* thrdaddr);
