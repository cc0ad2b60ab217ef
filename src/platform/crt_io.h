// Platform layer contract: the C runtime's low-level descriptor functions that
// the decompressor uses (open, read, write, close, file status, permission
// change, deletion, time stamps). Only operating-system independent code here.
//
// Paths are narrow texts; received names use backslashes as separators, and
// each backend maps them to its own separator. Failures return -1 and leave
// the runtime error number (errno) set, as the C runtime does, so callers can
// report them with the runtime's own message text.
#pragma once

#include <cstdint>

// Open flags, with the C runtime's meaning. Untranslated (binary) bytes are
// implied: the decompressor never opens a file in text mode.
#define CRT_O_RDONLY 0x0000
#define CRT_O_WRONLY 0x0001
#define CRT_O_RDWR 0x0002
#define CRT_O_CREAT 0x0100
#define CRT_O_EXCL 0x0400

// File type and permission bits of crt_stat_t::mode, as the C runtime reports
// them. The read-only attribute is the owner-write bit.
#define CRT_S_IFMT 0xF000
#define CRT_S_IFDIR 0x4000
#define CRT_S_IFREG 0x8000
#define CRT_S_IWRITE 0x0080
#define CRT_S_IREAD 0x0100

struct crt_stat_t {
    uint64_t dev;   // device holding the file
    uint64_t ino;   // serial number on that device
    uint32_t mode;  // CRT_S_* type and permission bits
    uint32_t nlink; // link count
    uint32_t uid;   // owner
    uint32_t gid;   // group
    int64_t size;   // bytes
    int64_t atime;  // last access, seconds since 1970-01-01 00:00:00 UTC
    int64_t mtime;  // last modification, same unit
    int64_t ctime;  // last status change, same unit
};

int crt_open(const char* path, int flags, int mode);
// Returns the count read (0 at end of file) or -1.
int crt_read(int fd, void* buf, unsigned count);
// Returns the count written or -1; a write that can store nothing (a full
// disk) is -1.
int crt_write(int fd, const void* buf, unsigned count);
int crt_close(int fd);
int crt_stat(const char* path, crt_stat_t* st);
int crt_fstat(int fd, crt_stat_t* st);
// Sets the permission bits (mode & 0xFFF). A symbolic link in place of the
// file is left as it is and counts as success: nothing it points to changes.
int crt_chmod(const char* path, int mode);
// Removes the name; a symbolic link is removed itself, never its target.
int crt_unlink(const char* path);
// Gives the file from the name to, in one step: an existing file (read-only
// or not) or symbolic link named to is replaced, never what a link points to.
// Both names lie in the same directory. Fails when to is a directory or
// cannot be replaced; from is then left as it was.
int crt_rename(const char* from, const char* to);
// Sets the last-access and last-write times of an existing file, in seconds
// since 1970-01-01 00:00:00 UTC, leaving its creation time alone.
int crt_set_times(const char* path, int64_t access_time, int64_t write_time);

// The runtime's message for an error number (strerror).
const char* crt_error_text(int error_number);
