// Paths between Linux and the Windows programs under Wine, whose drive Z: is
// the Linux root, and the settings the Windows build gives these tests.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <string>

namespace tvwin {

// Whether every one of these environment variables is set.
inline bool Configured(std::initializer_list<const char*> names) {
    return std::all_of(names.begin(), names.end(), [](const char* n) {
        const char* v = std::getenv(n);
        return v != nullptr && *v != '\0';
    });
}

inline std::string WindowsPath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

// "Z:\x\y" -> "/x/y"; anything else as it is.
inline std::string LinuxPath(std::string path) {
    if (path.size() < 2 || (path[0] != 'Z' && path[0] != 'z') || path[1] != ':')
        return path;
    path.erase(0, 2);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path.empty() ? "/" : path;
}

} // namespace tvwin
