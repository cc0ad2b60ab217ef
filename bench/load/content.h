// The benchmark's content directory: group 0 holds kGroup0Files files of
// kFileSize bytes with versions 1..kGroup0Files, so a client that holds
// version kGroup0Files - k in group 0 is owed k of them; group 1 holds a
// 128 KiB file and an empty one, which every client is owed.
#pragma once

#include <cstddef>
#include <string>

namespace loadbench {

const int kGroup0Files = 16;
const std::size_t kFileSize = 1 << 20;

// Writes the files and manifest.txt into dir and publishes them. Bodies are
// incompressible, so every byte sent is a byte of the file.
bool MakeContent(const std::string& dir, std::string& error);

} // namespace loadbench
