// Windows backend, test seam: fails one call of any entry of the system-call
// table (common/syscall_faults.h):
//
//     tvwin32::FailNthCall<&tvwin32::Syscalls::recv> fault(3, WSAECONNRESET);
//     tvwin32::FailNthCall<&tvwin32::Syscalls::MoveFileExA> fault(1, ERROR_ACCESS_DENIED);
//
// makes the third recv fail and return -1, or the first MoveFileExA return
// FALSE. A failed call returns what the real one returns on failure: the
// Win32 functions FALSE, 0 or INVALID_HANDLE_VALUE, the C runtime's and
// Windows Sockets' -1 (SOCKET_ERROR, INVALID_SOCKET, INVALID_FILE_ATTRIBUTES)
// or nullptr; pass the result for entries that return an error code, such as
// WSAStartup or set_attributes. The error is set both as errno, which the C
// runtime's entries report through, and as the thread's last error, which the
// Windows Sockets and Win32 entries report through.
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

template <auto A, auto B> inline constexpr bool kSameEntry = false;
template <auto A> inline constexpr bool kSameEntry<A, A> = true;

template <auto Entry, auto... Group>
inline constexpr bool kOneOf = (kSameEntry<Entry, Group> || ...);

// The Win32 entries that report failure as zero: FALSE, no characters, no
// thread. Their return types (BOOL is int) do not tell them from the C
// runtime's, which fail with -1.
template <auto Entry>
inline constexpr bool kFailsWithZero =
    kOneOf<Entry, &Syscalls::ReadFile, &Syscalls::WriteFile, &Syscalls::CloseHandle,
           &Syscalls::DeleteFileA, &Syscalls::MoveFileExA, &Syscalls::CreateDirectoryA,
           &Syscalls::SetFileAttributesA, &Syscalls::GetTempPathA, &Syscalls::GetDiskFreeSpaceExA,
           &Syscalls::GetPrivateProfileStringA, &Syscalls::GetPrivateProfileIntA,
           &Syscalls::CreateProcessA, &Syscalls::SetCurrentDirectoryA, &Syscalls::_beginthreadex>;

template <auto Entry>
using FaultOf = tvplatform::FailNthCallOf<syscalls, Entry, &SetErrnoAndLastError>;

template <auto Entry> typename FaultOf<Entry>::Result FailureOf() {
    using Result = typename FaultOf<Entry>::Result;
    if constexpr (kSameEntry<Entry, &Syscalls::CreateFileA>)
        return INVALID_HANDLE_VALUE;
    else if constexpr (kFailsWithZero<Entry>)
        return Result{};
    else
        return tvplatform::detail::DefaultFailure<Result>();
}

} // namespace detail

template <auto Entry> class FailNthCall : public detail::FaultOf<Entry> {
    using Base = detail::FaultOf<Entry>;

  public:
    // Fails call number n (1 is the next call), reporting error.
    FailNthCall(long n, int error) : Base(n, error, detail::FailureOf<Entry>()) {}
    FailNthCall(long n, int error, typename Base::Result result) : Base(n, error, result) {}
};

} // namespace tvwin32
