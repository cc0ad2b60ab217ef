// The install step's one seam: the decompressor it runs on each received
// file. Operating-system independent code only.
#pragma once

#include <cstdint>

// decompress_file's signature and results (0 success, 1 error, 2 warning).
using InstallDecompressor = int32_t (*)(const char* path);

// Puts fn in place of decompress_file for the install steps that start from
// now on; nullptr puts decompress_file back. For tests that observe what the
// install step hands the decompressor; the product never calls it.
void SetInstallDecompressor(InstallDecompressor fn);
