// Host backend: the system-call table and its real entries.
#include "platform/host/syscalls.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tvhost {

namespace {

// NOTE: open and ioctl are variadic in the C library; the table holds fixed
// signatures.
int RealOpen(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

int RealIoctlFionread(int fd, int* waiting) {
    return ::ioctl(fd, FIONREAD, waiting);
}

const Syscalls kReal = {
    .open = RealOpen,
    .read = ::read,
    .write = ::write,
    .close = ::close,
    .stat = ::stat,
    .fstat = ::fstat,
    .lstat = ::lstat,
    .fchmodat = ::fchmodat,
    .unlink = ::unlink,
    .utimensat = ::utimensat,
    .rename = ::rename,
    .mkdir = ::mkdir,
    .fsync = ::fsync,
    .fopen = std::fopen,
    .posix_spawn = ::posix_spawn,
    .waitpid = ::waitpid,
    .pthread_create = ::pthread_create,
    .access = ::access,
    .chdir = ::chdir,
    .getcwd = ::getcwd,
    .socket = ::socket,
    .bind = ::bind,
    .connect = ::connect,
    .recv = ::recv,
    .send = ::send,
    .getsockname = ::getsockname,
    .getpeername = ::getpeername,
    .getsockopt = ::getsockopt,
    .ioctl_fionread = RealIoctlFionread,
    .getaddrinfo = ::getaddrinfo,
    .poll = ::poll,
};

} // namespace

Syscalls syscalls = kReal;

void ResetSyscalls() {
    syscalls = kReal;
}

} // namespace tvhost
