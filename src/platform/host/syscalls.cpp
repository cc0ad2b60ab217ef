// Host backend: the overridable system-call table.
#include "platform/host/syscalls.h"

#include <fcntl.h>
#include <unistd.h>

namespace tvhost::sys {

namespace {

int RealOpen(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

const Table kReal = {RealOpen, ::read, ::write, ::close, ::socket, ::connect, ::recv, ::send};

} // namespace

Table g = kReal;

void Reset() {
    g = kReal;
}

} // namespace tvhost::sys
