// Manifest reading for the reference server (a Linux tool: POSIX is fine).
#include "manifest.h"

#include "install/output_file.h"
#include "protocol/wire.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tvserver {

namespace {

bool SplitFields(const std::string& line, std::vector<std::string>& fields, std::string& error) {
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        std::string field;
        if (line[i] == '"') {
            const std::size_t close = line.find('"', i + 1);
            if (close == std::string::npos) {
                error = "unterminated quote";
                return false;
            }
            field = line.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            const std::size_t end = line.find_first_of(" \t\r", i);
            field = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
            i = end == std::string::npos ? line.size() : end;
        }
        fields.push_back(field);
    }
    return true;
}

bool ParseU32(const std::string& text, std::uint32_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || v > UINT32_MAX)
        return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

// Paths in the manifest stay inside the content directory.
bool IsInsideRelative(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return false;
    std::stringstream parts(path);
    for (std::string part; std::getline(parts, part, '/');)
        if (part == "..")
            return false;
    return true;
}

bool ParseFileLine(const std::vector<std::string>& f, const std::string& dir, ContentFile& file,
                   std::string& error) {
    std::uint32_t group = 0;
    if (f.size() != 5) {
        error = "expected: file GROUP VERSION NAME PATH";
        return false;
    }
    if (!ParseU32(f[1], group) || group > 1) {
        error = "group must be 0 or 1: " + f[1];
        return false;
    }
    if (!ParseU32(f[2], file.version)) {
        error = "bad version value: " + f[2];
        return false;
    }
    if (f[3].empty() || f[3].size() > static_cast<std::size_t>(wire::kMaxNameLength)) {
        error = "name must have 1 to 256 bytes: " + f[3];
        return false;
    }
    if (!IsInsideRelative(f[4])) {
        error = "path must be relative and inside the content directory: " + f[4];
        return false;
    }
    file.group = static_cast<int>(group);
    file.name = f[3];
    file.path = dir + "/" + f[4];
    return true;
}

// A redirect line lists one or more download servers, handed out in turn.
// 0.0.0.0 would read as "no redirect" on the wire, and a broadcast address
// is no server; a duplicate would skew the turns.
bool ParseRedirect(const std::vector<std::string>& f, Manifest& m, std::string& error) {
    if (!m.redirects.empty()) {
        error = "a second redirect line: list every download server on one line";
        return false;
    }
    if (f.size() < 2) {
        error = "expected: redirect A.B.C.D [A.B.C.D ...]";
        return false;
    }
    for (std::size_t i = 1; i < f.size(); ++i) {
        in_addr a{};
        if (::inet_pton(AF_INET, f[i].c_str(), &a) != 1) {
            error = "redirect: not a dotted IPv4 address: " + f[i];
            return false;
        }
        if (a.s_addr == INADDR_ANY || a.s_addr == INADDR_BROADCAST) {
            error = "redirect: " + f[i] + " is not a server address";
            return false;
        }
        if (std::find(m.redirects.begin(), m.redirects.end(), a.s_addr) != m.redirects.end()) {
            error = "redirect: " + f[i] + " is listed twice";
            return false;
        }
        m.redirects.push_back(a.s_addr);
    }
    return true;
}

bool ParseLine(const std::vector<std::string>& f, const std::string& dir, int lineNo, Manifest& m,
               bool& haveVersion, std::string& error) {
    if (f[0] == "version") {
        if (f.size() != 3 || !ParseU32(f[1], m.version[0]) || !ParseU32(f[2], m.version[1])) {
            error = "expected: version V0 V1";
            return false;
        }
        haveVersion = true;
        return true;
    }
    if (f[0] == "redirect")
        return ParseRedirect(f, m, error);
    if (f[0] == "file") {
        ContentFile file;
        file.line = lineNo;
        if (!ParseFileLine(f, dir, file, error))
            return false;
        m.files.push_back(std::move(file));
        return true;
    }
    error = "unknown keyword: " + f[0];
    return false;
}

bool CheckFilesExist(const Manifest& manifest, std::string& error) {
    for (const ContentFile& file : manifest.files) {
        struct stat st {};
        if (::stat(file.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            ::access(file.path.c_str(), R_OK) != 0) {
            error = manifest.path + ":" + std::to_string(file.line) +
                    ": not a readable file: " + file.path;
            return false;
        }
    }
    return true;
}

std::string Where(const Manifest& manifest, const ContentFile& file) {
    return manifest.path + ":" + std::to_string(file.line) + ": ";
}

} // namespace

bool LoadManifest(const std::string& contentDir, Manifest& manifest, std::string& error) {
    struct stat st {};
    if (::stat(contentDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "content directory not found: " + contentDir;
        return false;
    }
    const std::string path = contentDir + "/manifest.txt";
    std::ifstream in(path);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    bool haveVersion = false;
    int lineNo = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        std::vector<std::string> fields;
        std::string why;
        if (!SplitFields(line, fields, why) ||
            !ParseLine(fields, contentDir, lineNo, manifest, haveVersion, why)) {
            error = path + ":" + std::to_string(lineNo) + ": " + why;
            return false;
        }
    }
    if (!haveVersion) {
        error = path + ": no version line";
        return false;
    }
    manifest.path = path;
    return CheckFilesExist(manifest, error);
}

std::string StoredNameKey(const std::string& name) {
    std::string key = name;
    for (char& c : key)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (key == "update.exe")
        return "update0.exe";
    if (key == "file.ver")
        return "null.dat";
    return key;
}

std::vector<std::string> CheckManifest(const Manifest& manifest) {
    std::vector<std::string> problems;
    std::map<std::string, const ContentFile*> stored;
    unsigned groupFiles[2] = {0, 0};
    for (const ContentFile& file : manifest.files) {
        ++groupFiles[file.group];
        if (file.version > manifest.version[file.group])
            problems.push_back(Where(manifest, file) + "version " + std::to_string(file.version) +
                               " of " + file.name + " is above the server's version " +
                               std::to_string(manifest.version[file.group]) + " for group " +
                               std::to_string(file.group) +
                               ": no client would ever ask for it (raise the version line)");
        if (!IsContainedName(file.name.c_str()))
            problems.push_back(Where(manifest, file) + "the client refuses the name " + file.name +
                               ": it must be a relative path of backslash-separated parts, none "
                               "empty, \".\" or \"..\", none ending in a dot or blank, no device "
                               "name (CON, NUL, COM1...), no drive, no / : * ? \" < > | or control "
                               "characters");
        const auto [it, added] = stored.emplace(StoredNameKey(file.name), &file);
        if (!added)
            problems.push_back(Where(manifest, file) + "the name " + file.name +
                               " is stored by the client as the same file as " + it->second->name +
                               " (line " + std::to_string(it->second->line) + ")");
    }
    for (const ContentFile& file : manifest.files) {
        const std::string key = StoredNameKey(file.name);
        for (std::size_t at = key.find('\\'); at != std::string::npos;
             at = key.find('\\', at + 1)) {
            const auto dir = stored.find(key.substr(0, at));
            if (dir != stored.end())
                problems.push_back(Where(manifest, file) + "the name " + file.name +
                                   " needs a directory where " + dir->second->name + " (line " +
                                   std::to_string(dir->second->line) + ") is a file");
        }
    }
    for (int g = 0; g < 2; ++g)
        if (groupFiles[g] > 65535)
            problems.push_back(manifest.path + ": " + std::to_string(groupFiles[g]) +
                               " files in group " + std::to_string(g) +
                               ": the list header counts at most 65535");
    return problems;
}

} // namespace tvserver
