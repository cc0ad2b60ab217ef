// Stand-ins for the LZW, pack and LZH decoders while their own files are not
// in the tree; each is compiled only when the real one is missing, so this
// file goes away once all three are in.

#include <cstdio>

#include "gunzip/shared.h"

namespace {
[[maybe_unused]] int unsupported() {
    std::fprintf(stderr, "\n%s: %s: method not built in\n", program_name, input_name);
    exit_status = 1;
    return 1;
}
} // namespace

#ifndef TV_HAVE_UNLZW
int decode_lzw_stream(int, int) { return unsupported(); }
#endif
#ifndef TV_HAVE_UNPACK
int decode_pack_stream(int, int) { return unsupported(); }
#endif
#ifndef TV_HAVE_UNLZH
int decode_lzh_stream(int, int) { return unsupported(); }
#endif
