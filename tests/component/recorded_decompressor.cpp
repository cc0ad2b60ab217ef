// The recording stand-in for the decompressor (see the header).
#include "recorded_decompressor.h"

#include "install/install_step.h"

#include <mutex>

namespace {

std::mutex g_mutex;
std::vector<std::string> g_paths;

// Runs on the install worker.
int32_t RecordDecompress(const char* path) {
    std::lock_guard lock(g_mutex);
    g_paths.emplace_back(path);
    return 0;
}

} // namespace

namespace tvtest {

void InstallRecordedDecompressor() {
    SetInstallDecompressor(RecordDecompress);
}

std::vector<std::string> Decompressed() {
    std::lock_guard lock(g_mutex);
    return g_paths;
}

void ClearDecompressed() {
    std::lock_guard lock(g_mutex);
    g_paths.clear();
}

} // namespace tvtest
