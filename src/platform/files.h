// Platform layer contract: the stream open for output files. The Win32 file
// functions themselves (CreateFileA, MoveFileExA ...) are the system's and come
// with platform/wintypes.h. Only what the project defines itself lives here, in
// operating-system independent declarations.
#pragma once

#include "platform/wintypes.h"

#include <cstdio>

// The C runtime's fopen for a path in the client's notation, with errno set as
// the Windows runtime sets it: EACCES when the file is read-only, is a
// directory or is otherwise denied; ENOENT when a parent directory is missing.
// The stream is closed with fclose.
FILE* AfxOpenStream(const char* lpszPath, const char* lpszMode);
