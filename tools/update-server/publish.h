// Publishing: every file of the manifest compressed once into the store's
// cache, then an immutable snapshot written and made current atomically, and
// running servers asked to switch to it.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace tvserver {

struct PublishOptions {
    std::string contentDir;
    int level = 9;      // 1 to 9, or kGzipBestLevel
    bool notify = true; // ask running servers to switch
};

struct PublishReport {
    std::function<void(const std::string&)> note; // progress and the summary
    std::function<void(const std::string&)> warn; // published, but look at this
};

// False when the publish was refused or failed; every reason is in errors and
// nothing was changed that a server reads.
bool Publish(const PublishOptions& options, const PublishReport& report,
             std::vector<std::string>& errors);

// A running server's entry in the store, locked while the returned
// descriptor stays open; -1 with a message in error.
int RegisterServer(const std::string& storeDir, std::string& error);
void UnregisterServer(const std::string& storeDir, int fd);
// Sends SIGHUP to every server registered in the store; returns their pids,
// each with 0 or the errno of a signal that could not be sent.
std::vector<std::pair<pid_t, int>> NotifyServers(const std::string& storeDir);

} // namespace tvserver
