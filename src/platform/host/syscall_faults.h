// Host backend, test seam: fails one call of any entry of the system-call
// table (common/syscall_faults.h):
//
//     tvhost::FailNthCall<&tvhost::Syscalls::rename> fault(2, EXDEV);
//
// makes the second rename fail with errno EXDEV and returns -1 (nullptr for
// fopen; pass the result for entries that report errors otherwise, such as
// posix_spawn or getaddrinfo).
#pragma once

#include "platform/common/syscall_faults.h"
#include "platform/host/syscalls.h"

#include <cerrno>

namespace tvhost {

namespace detail {

inline void SetErrno(int error) {
    errno = error;
}

} // namespace detail

template <auto Entry>
using FailNthCall = tvplatform::FailNthCallOf<syscalls, Entry, &detail::SetErrno>;

} // namespace tvhost
