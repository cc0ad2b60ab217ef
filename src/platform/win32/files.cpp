// Win32 backend: the C stream open for output files. The runtime's own fopen
// already reports what the client's retries look at (EACCES for a read-only
// file, a directory or a file held without sharing; ENOENT for a missing
// parent directory); names that do not fit MAX_PATH are refused before they
// reach it.
#include "platform/files.h"

#include "platform/win32/syscalls.h"

#include <cerrno>
#include <cstring>
#include <string>

FILE* AfxOpenStream(const char* lpszPath, const char* lpszMode) {
    if (!lpszPath || !lpszMode) {
        errno = EINVAL;
        return nullptr;
    }
    if (std::strlen(lpszPath) >= MAX_PATH) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    // 'N': a started game must not inherit the stream.
    std::string mode = lpszMode;
    mode += 'N';
    return tvwin32::syscalls.fopen(lpszPath, mode.c_str());
}
