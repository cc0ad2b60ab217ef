// Manifest reading for the reference server (a Linux tool: POSIX is fine).
#include "manifest.h"

#include "gzip_encoder.h"
#include "protocol/wire.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

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

bool ReadWhole(const std::string& path, std::vector<unsigned char>& data, std::uint32_t& mtime,
               std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a readable file: " + path;
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::string("cannot open ") + path + ": " + std::strerror(errno);
        return false;
    }
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    mtime = static_cast<std::uint32_t>(st.st_mtime);
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

bool ParseLine(const std::vector<std::string>& f, const std::string& dir, Manifest& m,
               bool& haveVersion, std::string& error) {
    if (f[0] == "version") {
        if (f.size() != 3 || !ParseU32(f[1], m.version[0]) || !ParseU32(f[2], m.version[1])) {
            error = "expected: version V0 V1";
            return false;
        }
        haveVersion = true;
        return true;
    }
    if (f[0] == "redirect") {
        in_addr a{};
        if (f.size() != 2 || ::inet_pton(AF_INET, f[1].c_str(), &a) != 1 || a.s_addr == 0) {
            error = "expected: redirect A.B.C.D";
            return false;
        }
        m.redirectAddr = a.s_addr;
        return true;
    }
    if (f[0] == "file") {
        ContentFile file;
        if (!ParseFileLine(f, dir, file, error))
            return false;
        m.files.push_back(std::move(file));
        return true;
    }
    error = "unknown keyword: " + f[0];
    return false;
}

bool EncodeBodies(Manifest& manifest, std::string& error) {
    unsigned long long total = 0;
    for (ContentFile& file : manifest.files) {
        std::vector<unsigned char> plain;
        std::uint32_t mtime = 0;
        if (!ReadWhole(file.path, plain, mtime, error))
            return false;
        file.body = GzipEncode(plain.data(), plain.size(), mtime);
        total += file.body.size();
    }
    if (total > INT32_MAX) {
        error = "content too large: the total must fit in 2147483647 bytes";
        return false;
    }
    for (int g = 0; g < 2; ++g) {
        const auto n = std::count_if(manifest.files.begin(), manifest.files.end(),
                                     [g](const ContentFile& f) { return f.group == g; });
        if (n > 65535) {
            error = "more than 65535 files in group " + std::to_string(g);
            return false;
        }
    }
    return true;
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
            !ParseLine(fields, contentDir, manifest, haveVersion, why)) {
            error = path + ":" + std::to_string(lineNo) + ": " + why;
            return false;
        }
    }
    if (!haveVersion) {
        error = path + ": no version line";
        return false;
    }
    return EncodeBodies(manifest, error);
}

std::vector<const ContentFile*> SelectFiles(const Manifest& manifest,
                                            const std::uint32_t version[2]) {
    std::vector<const ContentFile*> out;
    for (const ContentFile& f : manifest.files)
        if (f.version > version[f.group])
            out.push_back(&f);
    std::stable_sort(out.begin(), out.end(), [](const ContentFile* a, const ContentFile* b) {
        return a->group != b->group ? a->group < b->group : a->version < b->version;
    });
    return out;
}

} // namespace tvserver
