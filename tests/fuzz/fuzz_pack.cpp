// Fuzz target: the pack decoder on arbitrary data after its magic bytes.

#include "fuzz_support.h"
#include "gunzip/shared.h"

using namespace gunzip;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint8_t kMagic[2] = {0x1f, 0x1e};
    fuzz::run_guarded([&] {
        fuzz::start_member(kMagic, data, size);
        decode_pack_stream();
    });
    return 0;
}
