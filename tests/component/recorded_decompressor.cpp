// Link-time stand-in for the decompressor's entry (see the header).
#include "recorded_decompressor.h"

#include "gunzip/gunzip.h"

#include <mutex>

namespace {

std::mutex g_mutex;
std::vector<std::string> g_paths;

} // namespace

// Runs on the install worker.
int32_t decompress_file(const char* path) {
    std::lock_guard lock(g_mutex);
    g_paths.emplace_back(path);
    return 0;
}

// The stand-in has no fatal path: nobody is ever told.
void set_gunzip_fatal_notice(gunzip_fatal_notice) {}

namespace tvtest {

std::vector<std::string> Decompressed() {
    std::lock_guard lock(g_mutex);
    return g_paths;
}

void ClearDecompressed() {
    std::lock_guard lock(g_mutex);
    g_paths.clear();
}

} // namespace tvtest
