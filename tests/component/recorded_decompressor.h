// The decompressor as the component tests see it: this binary links a
// stand-in for decompress_file that records the paths the install step hands
// it and leaves every file as received, so the exchange's tests observe the
// bytes on the wire. The install step itself is tested end to end with the
// real decompressor (tests/e2e).
#pragma once

#include <string>
#include <vector>

namespace tvtest {

// The paths handed to decompress_file since the last ClearDecompressed, in
// order.
std::vector<std::string> Decompressed();
void ClearDecompressed();

} // namespace tvtest
