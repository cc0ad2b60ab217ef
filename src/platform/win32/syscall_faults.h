// Windows backend, test seam: fails one call of any entry of the system-call
// table (common/syscall_faults.h):
//
//     tvwin32::FailNthCall<&tvwin32::Syscalls::recv> fault(3, WSAECONNRESET);
//
// makes the third recv fail and returns -1 (SOCKET_ERROR; INVALID_SOCKET,
// nullptr, INVALID_FILE_ATTRIBUTES as the entry's type has it; pass the
// result for entries that return an error code, such as WSAStartup or
// set_attributes). The error is set both as errno, which the C runtime's
// entries report through, and as the thread's last error, which the Windows
// Sockets and Win32 entries report through.
#pragma once

#include "platform/common/syscall_faults.h"
#include "platform/win32/syscalls.h"

#include <cerrno>

namespace tvwin32 {

namespace detail {

inline void SetErrnoAndLastError(int error) {
    errno = error;
    ::SetLastError(static_cast<DWORD>(error));
}

} // namespace detail

template <auto Entry>
using FailNthCall = tvplatform::FailNthCallOf<syscalls, Entry, &detail::SetErrnoAndLastError>;

} // namespace tvwin32
