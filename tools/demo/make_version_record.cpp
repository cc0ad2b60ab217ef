// make-version-record V0 V1: writes File.ver in the current directory with the
// client's own scrambled record format.
#include "install/version_record.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-version-record V0 V1\n");
        return 2;
    }
    const DWORD version[2] = {static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)),
                              static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10))};
    if (!WriteVersionRecordFile("File.ver", version)) {
        std::fprintf(stderr, "make-version-record: error: cannot write File.ver\n");
        return 1;
    }
    return 0;
}
