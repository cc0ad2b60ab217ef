// The backend's system-call table of the decompressor's file layer, under
// one name for the tests: crtsys::syscalls, crtsys::ResetSyscalls(), and the
// count and result types of its read and write entries.
#pragma once

#include <cstddef>

#ifdef _WIN32
#include <io.h>

#include "platform/win32/syscalls.h"
namespace crtsys = tvwin32;
using sys_count = unsigned;
using sys_result = int;
#else
#include <sys/types.h>
#include <unistd.h>

#include "platform/host/syscalls.h"
namespace crtsys = tvhost;
using sys_count = size_t;
using sys_result = ssize_t;
#endif
