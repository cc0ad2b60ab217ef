// Writes a PKZIP archive of the regular files below a folder. Entries are
// compressed with the update server's DEFLATE encoder, or stored where that
// would not make them smaller; no 64-bit extensions, so an archive over
// 4 GiB is refused rather than written wrong.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace tvzip {

struct ZipOptions {
    int level = 9; // 0 stores every entry
    // The time given to every entry instead of the files' own (for archives
    // that come out the same on every build).
    std::optional<std::time_t> fixedTime;
};

// Packs every regular file below folder under its path relative to folder
// ('/' separated, sorted). A link, device or other special file below
// folder is refused. outPath is replaced only when the whole archive has
// been written; on failure it is left as it was and error says why.
bool WriteZipOfFolder(const std::string& folder, const std::string& outPath,
                      const ZipOptions& options, std::string& error);

} // namespace tvzip
