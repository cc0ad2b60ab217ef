// package-zip: the zip writer the Windows package is made with.
#include "zip_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kUsage[] = "usage: package-zip [--level N | --store] ARCHIVE.zip FOLDER\n"
                      "Packs every file below FOLDER into ARCHIVE.zip, named relative to\n"
                      "FOLDER. --level 1 to 9 (default 9) or --store (no compression).\n"
                      "SOURCE_DATE_EPOCH, when set, is the time given to every entry.\n";

[[noreturn]] void Usage(const std::string& message) {
    std::fprintf(stderr, "package-zip: %s\n%s", message.c_str(), kUsage);
    std::exit(2);
}

bool WholeNumber(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return *text != '\0' && *end == '\0' && errno == 0 && value >= low && value <= high;
}

} // namespace

int main(int argc, char** argv) {
    tvzip::ZipOptions options;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string arg = argv[i];
        long level = 0;
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--store") {
            options.level = 0;
        } else if (arg == "--level" && i + 1 < argc) {
            if (!WholeNumber(argv[++i], 1, 9, level))
                Usage(std::string("--level takes a number from 1 to 9: ") + argv[i]);
            options.level = static_cast<int>(level);
        } else {
            Usage("unknown option " + arg);
        }
    }
    if (argc - i != 2)
        Usage("an archive and a folder are wanted");
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
        long seconds = 0;
        if (!WholeNumber(epoch, 0, 0x7FFFFFFFL, seconds))
            Usage(std::string("SOURCE_DATE_EPOCH is not a time in seconds: ") + epoch);
        options.fixedTime = static_cast<std::time_t>(seconds);
    }
    std::string error;
    if (!tvzip::WriteZipOfFolder(argv[i + 1], argv[i], options, error)) {
        std::fprintf(stderr, "package-zip: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
