// Room on disk for an update: what the working directory's file system has
// free, what a download announces and what the received files declare they
// will take once decompressed. Operating-system independent: everything goes
// through the platform's file functions and the C runtime's streams.
#pragma once

#include "platform/cstring.h"

#include <cstdint>

// Kept free beyond what an update needs: the version record, directory
// entries and the file system's rounding up to whole blocks.
constexpr std::uint64_t kDiskMargin = 1u << 20;

// Free bytes this user may still use on the working directory's file system;
// false when the platform cannot tell (the update then goes ahead).
bool QueryWorkingDirFreeSpace(std::uint64_t& nFree);

// The plain size a received file declares: the gzip trailer's length field
// (modulo 2^32 as stored), a PKZIP entry's uncompressed size; for any other
// content its own size. nCompressed receives the file's size. False when the
// file cannot be read.
bool DeclaredPlainSize(const char* lpszPath, std::uint64_t& nPlain, std::uint64_t& nCompressed);

// Free space that decompressing paths (each a received file) in order needs:
// each output is written in full before its compressed file is deleted, and
// the room that deletion frees serves the files after it. kDiskMargin
// included. Unreadable files count as needing nothing. pPlainTotal, if
// given, receives the plain bytes the files declare in all.
std::uint64_t SpaceToDecompress(const CStringArray& paths, std::uint64_t* pPlainTotal = nullptr);
