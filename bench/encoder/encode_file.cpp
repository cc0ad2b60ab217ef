// encode-file LEVEL IN OUT [NAME]: one file through the update server's
// gzip encoder, for the encoder benchmark.
#include "gzip_encoder.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: encode-file LEVEL IN OUT [NAME]\n");
        return 2;
    }
    std::string error;
    if (!tvserver::GzipCompressFile(argv[2], argv[3], std::atoi(argv[1]), argc == 5 ? argv[4] : "",
                                    0, error)) {
        std::fprintf(stderr, "encode-file: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
