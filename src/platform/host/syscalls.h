// Host backend: the one table of system calls. Every call of the host backend
// whose failure it handles (files, the C runtime's file layer, profiles,
// processes, sockets, the event loop's wait) goes through it, so a test can
// fail the Nth write with ENOSPC or a bind with EADDRINUSE without mocking any
// class (as SQLite's aSyscall[]); host/syscall_faults.h fails the Nth call of
// any entry. Production code never changes it; a test that does puts it back
// with ResetSyscalls().
//
// NOTE: the wake descriptor of the event loop (an eventfd counter) and the
// terminal front end's device calls stay direct: they are the loop's and the
// front end's plumbing, not a function the client calls.
#pragma once

#include <cstdio>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace tvhost {

struct Syscalls {
    // Files and directories.
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
    int (*mkdir)(const char* path, mode_t mode);
    int (*fsync)(int fd);
    FILE* (*fopen)(const char* path, const char* mode);
    // Processes and the current directory. posix_spawn returns the error
    // number itself, as the C library does.
    int (*posix_spawn)(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                       const posix_spawnattr_t* attrp, char* const argv[], char* const envp[]);
    pid_t (*waitpid)(pid_t pid, int* status, int options);
    // Threads (the C runtime's _beginthreadex); returns the error number
    // itself, as the C library does.
    int (*pthread_create)(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                          void* arg);
    int (*access)(const char* path, int mode);
    int (*chdir)(const char* path);
    char* (*getcwd)(char* buf, size_t size);
    // Sockets. getaddrinfo returns an EAI_* code, as the C library does;
    // ioctl is FIONREAD only.
    int (*socket)(int domain, int type, int protocol);
    int (*bind)(int fd, const sockaddr* addr, socklen_t len);
    int (*connect)(int fd, const sockaddr* addr, socklen_t len);
    ssize_t (*recv)(int fd, void* buf, size_t n, int flags);
    ssize_t (*send)(int fd, const void* buf, size_t n, int flags);
    int (*getsockname)(int fd, sockaddr* addr, socklen_t* len);
    int (*getpeername)(int fd, sockaddr* addr, socklen_t* len);
    int (*getsockopt)(int fd, int level, int name, void* value, socklen_t* len);
    int (*ioctl_fionread)(int fd, int* waiting);
    int (*getaddrinfo)(const char* node, const char* service, const addrinfo* hints,
                       addrinfo** res);
    // Waiting.
    int (*poll)(pollfd* fds, nfds_t n, int timeout);
};

extern Syscalls syscalls;
// Puts every entry back to the real system call.
void ResetSyscalls();

} // namespace tvhost
