// Fuzz target: the DEFLATE decoder on an arbitrary raw stream. A returned
// stream must leave the input position inside the buffered block, since the
// driver reads the trailer from there.

#include "fuzz_support.h"
#include "gunzip/shared.h"

using namespace gunzip;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint8_t kMagic[2] = {0x1F, 0x8B};
    fuzz::run_guarded([&] {
        fuzz::start_member(kMagic, data, size);
        if (decode_deflate_stream() == 0 && input_pos > input_count)
            __builtin_trap();
    });
    return 0;
}
