// Writing and publishing the benchmark content (see content.h).
#include "content.h"

#include "publish.h"

#include <cstdint>
#include <cstdio>
#include <sys/stat.h>

namespace loadbench {

namespace {

bool WriteNoise(const std::string& path, std::size_t size, std::uint64_t seed, std::string& error) {
    std::string data(size, '\0');
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        data[i] = static_cast<char>(x >> 56);
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f && std::fwrite(data.data(), 1, size, f) == size;
    if (f && std::fclose(f) != 0)
        ok = false;
    if (!ok)
        error = "cannot write " + path;
    return ok;
}

} // namespace

bool MakeContent(const std::string& dir, std::string& error) {
    ::mkdir(dir.c_str(), 0755);
    std::string manifest = "version " + std::to_string(kGroup0Files) + " 2\n";
    for (int i = 1; i <= kGroup0Files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "track%02d.pak", i);
        if (!WriteNoise(dir + "/" + name, kFileSize, static_cast<std::uint64_t>(i), error))
            return false;
        manifest += "file 0 " + std::to_string(i) + " Data\\Tracks\\" + name + " " + name + "\n";
    }
    if (!WriteNoise(dir + "/sounds.pak", 128 * 1024, 99, error) ||
        !WriteNoise(dir + "/empty.dat", 0, 0, error))
        return false;
    manifest += "file 1 1 Data\\sounds.pak sounds.pak\nfile 1 2 empty.dat empty.dat\n";
    FILE* f = std::fopen((dir + "/manifest.txt").c_str(), "w");
    if (!f || std::fputs(manifest.c_str(), f) < 0 || std::fclose(f) != 0) {
        error = "cannot write " + dir + "/manifest.txt";
        return false;
    }
    tvserver::PublishOptions o;
    o.contentDir = dir;
    o.level = 1;
    o.notify = false;
    tvserver::PublishReport quiet{[](const std::string&) {}, [](const std::string&) {}};
    std::vector<std::string> errors;
    if (tvserver::Publish(o, quiet, errors))
        return true;
    error = "publish failed:";
    for (const std::string& e : errors)
        error += "\n  " + e;
    return false;
}

} // namespace loadbench
