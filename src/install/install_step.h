// The install step's seams: the decompressor it runs on each received file,
// and whether the worker runs on a thread of its own. Operating-system
// independent code only.
#pragma once

#include <cstdint>

// decompress_file's signature and results (0 success, 1 error, 2 warning).
using InstallDecompressor = int32_t (*)(const char* path);

// Puts fn in place of decompress_file for the install steps that start from
// now on; nullptr puts decompress_file back. For tests that observe what the
// install step hands the decompressor; the product never calls it.
void SetInstallDecompressor(InstallDecompressor fn);

// TRUE: the install steps that start from now on call InstallWorker in place
// on the user-interface thread instead of starting a worker thread and
// waiting for it. For harnesses that drive the progress window from one
// thread and run it many thousand times; the product never calls it.
void SetInstallInline(bool bInline);
