// demo-files: writes the client's own scrambled files for the demo.
//   demo-files version V0 V1      File.ver for the pair, in the current directory
//   demo-files scramble SRC DST   DST holds SRC scrambled (as Server.cnv is)
#include "install/version_record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: demo-files version V0 V1\n"
                         "       demo-files scramble SRC DST\n");
    return 2;
}

int Fail(const char* what) {
    std::fprintf(stderr, "demo-files: error: %s\n", what);
    return 1;
}

int Scramble(const char* src, const char* dst) {
    std::ifstream in(src, std::ios::binary);
    if (!in)
        return Fail("cannot read the source");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The key byte would scramble to a zero and end the text early.
    if (text.find('\0') != std::string::npos || text.find('\x8D') != std::string::npos)
        return Fail("the text holds a zero byte or the byte 0x8D");
    ScrambleText(text.data());
    std::ofstream out(dst, std::ios::binary);
    out << text;
    return out ? 0 : Fail("cannot write the destination");
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && !std::strcmp(argv[1], "version")) {
        const DWORD version[2] = {static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)),
                                  static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10))};
        return WriteVersionRecordFile("File.ver", version) ? 0 : Fail("cannot write File.ver");
    }
    if (argc == 4 && !std::strcmp(argv[1], "scramble"))
        return Scramble(argv[2], argv[3]);
    return Usage();
}
