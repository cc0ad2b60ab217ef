// The decompressor as the component tests see it: a recorder put in the
// install step's place of decompress_file, which notes the paths handed to it
// and leaves every file as received, so the exchange's tests observe the
// bytes on the wire. The install step itself is tested end to end with the
// real decompressor (tests/e2e).
#pragma once

#include <string>
#include <vector>

namespace tvtest {

// Puts the recorder in the install step's place of the decompressor.
void InstallRecordedDecompressor();

// The paths handed to decompress_file since the last ClearDecompressed, in
// order.
std::vector<std::string> Decompressed();
void ClearDecompressed();

} // namespace tvtest
