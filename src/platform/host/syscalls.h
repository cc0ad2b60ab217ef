// Host backend: the system calls of the file and socket functions go through
// this table, so a test can fail the Nth write with ENOSPC or a connect with
// ECONNREFUSED without mocking any class (as SQLite's aSyscall[]). Production
// code never changes it; a test that does restores it with Reset().
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

namespace tvhost::sys {

struct Table {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buf, size_t n);
    ssize_t (*write)(int fd, const void* buf, size_t n);
    int (*close)(int fd);
    int (*socket)(int domain, int type, int protocol);
    int (*connect)(int fd, const sockaddr* addr, socklen_t len);
    ssize_t (*recv)(int fd, void* buf, size_t n, int flags);
    ssize_t (*send)(int fd, const void* buf, size_t n, int flags);
};

extern Table g;
// Puts every entry back to the real system call.
void Reset();

} // namespace tvhost::sys
