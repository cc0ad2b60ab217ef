// Host backend: the system calls of crt_io.cpp go through this table, so a
// test can fail the Nth write with ENOSPC or a read with EIO without mocking
// anything (as SQLite's aSyscall[]). Production code never changes it; a test
// that does puts it back with ResetSyscalls().
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace tvhost::crt {

struct Syscalls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buf, size_t n);
    ssize_t (*write)(int fd, const void* buf, size_t n);
    int (*close)(int fd);
    int (*stat)(const char* path, struct stat* st);
    int (*fstat)(int fd, struct stat* st);
    int (*lstat)(const char* path, struct stat* st);
    int (*fchmodat)(int dirfd, const char* path, mode_t mode, int flags);
    int (*unlink)(const char* path);
    int (*utimensat)(int dirfd, const char* path, const struct timespec times[2], int flags);
    int (*rename)(const char* from, const char* to);
};

extern Syscalls syscalls;
// Puts every entry back to the real system call.
void ResetSyscalls();

} // namespace tvhost::crt
