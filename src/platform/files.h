// Platform layer contract: the Win32 file functions the client uses, and the
// C-stream open for output files. Paths are narrow texts with backslashes as
// separators; on the host every backslash becomes '/', and a file is read-only
// when its owner-write bit is clear. Failures set GetLastError to the Win32
// error numbers (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND for a missing
// parent directory, ERROR_ACCESS_DENIED, ERROR_ALREADY_EXISTS ...). Only
// operating-system independent code here.
#pragma once

#include "platform/wintypes.h"

#include <cstdio>

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

// The C runtime's fopen for a path in the client's notation, with errno set as
// the Windows runtime sets it: EACCES when the file is read-only, is a
// directory or is otherwise denied; ENOENT when a parent directory is missing.
// The stream is closed with fclose.
FILE* AfxOpenStream(const char* lpszPath, const char* lpszMode);
