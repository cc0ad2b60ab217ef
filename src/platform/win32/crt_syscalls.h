// Windows backend: the runtime and system calls of crt_io.cpp go through this
// table, so a test can fail the Nth write with ENOSPC or a read with EIO
// without mocking anything. Production code never changes it; a test that
// does puts it back with ResetSyscalls().
#pragma once

#include <sys/stat.h>

namespace tvwin32::crt {

struct Syscalls {
    int (*open)(const char* path, int flags, int mode);
    int (*read)(int fd, void* buf, unsigned n);
    int (*write)(int fd, const void* buf, unsigned n);
    int (*close)(int fd);
    int (*stat)(const char* path, struct _stat64* st);
    int (*fstat)(int fd, struct _stat64* st);
    int (*chmod)(const char* path, int mode);
    int (*unlink)(const char* path);
    // Windows' attributes of the name itself, or INVALID_FILE_ATTRIBUTES.
    unsigned long (*get_attributes)(const char* path);
    // 0, or Windows' error code.
    unsigned long (*set_attributes)(const char* path, unsigned long attributes);
    // Gives the file from the name to, replacing a file there; 0 or -1 with
    // errno set.
    int (*rename)(const char* from, const char* to);
    // Sets the last-access and last-write times (file times, 100 ns units
    // since 1601) of the name itself; 0 or -1 with errno set.
    int (*set_file_times)(const char* path, unsigned long long access, unsigned long long write);
};

extern Syscalls syscalls;
// Puts every entry back to the real call.
void ResetSyscalls();

} // namespace tvwin32::crt
