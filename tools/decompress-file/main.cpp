// decompress-file PATH...: runs the updater's decompressor on each PATH in
// order, as the install step does, and stops at the first non-zero status.
// Exits with that status (0, 1 or 2); a fatal error exits 1 from inside the
// decompressor with its diagnostic on standard error.

#include <cstdio>

#include "gunzip/gunzip.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: decompress-file PATH...\n");
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        int32_t status = decompress_file(argv[i]);
        if (status != 0)
            return status;
    }
    return 0;
}
