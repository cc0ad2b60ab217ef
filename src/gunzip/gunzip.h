// The decompressor's entry: turns NAME.gz (or another compressed name) into
// the plain file beside it. Knows nothing of the client.
#pragma once

#include <cstdint>

// Returns 0 (success), 1 (error) or 2 (warning). A fatal error (corrupt data,
// a CRC or length mismatch, unexpected end of input, a failed read or write)
// does not return: the incomplete output is deleted and the process ends with
// exit code 1.
int32_t decompress_file(const char* path);

// Called on the fatal path with the compressed file's name, after the
// incomplete output has been deleted and before the process ends, so that
// the caller can tell the user; the process ends when it returns. nullptr:
// nobody is told.
using gunzip_fatal_notice = void (*)(const char* path);
void set_gunzip_fatal_notice(gunzip_fatal_notice notice);

// Called on the decompressing thread after each piece of output has been
// written, with its size in bytes, for a progress display. nullptr: none.
using gunzip_progress_notice = void (*)(unsigned bytes);
void set_gunzip_progress_notice(gunzip_progress_notice notice);

// Test and fuzz builds only: replaces the process exit of the fatal path. The
// handler must not return (it throws or jumps back to the harness); nullptr
// puts the runtime's exit back. The product never installs one.
using gunzip_exit_handler = void (*)(int32_t code);
void set_gunzip_exit_handler(gunzip_exit_handler handler);
