// Host backend: the per-thread Win32 error value and the one place where the
// C library's errno numbers become Win32 and Windows Sockets numbers.
#pragma once

#include "platform/wintypes.h"

#include <string>

namespace tvhost {

// errno from a file function -> ERROR_*. ENOENT becomes ERROR_PATH_NOT_FOUND
// when bParentMissing, as Windows tells the two apart.
DWORD Win32ErrorFromErrno(int err, bool bParentMissing = false);
// errno from a socket call -> WSAE*.
int WsaErrorFromErrno(int err);
// Sets the thread's last error from errno and returns FALSE, for one-line
// failure returns.
BOOL FailWithErrno(int err, bool bParentMissing = false);
// The path's backslashes turned into '/'.
std::string HostPath(const char* path);
// Whether the directory that would contain path is missing (or not a dir).
bool ParentMissing(const std::string& hostPath);

} // namespace tvhost
