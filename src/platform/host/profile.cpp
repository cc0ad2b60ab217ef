// Host backend: the INI-profile functions, with the Windows semantics the
// client relies on: sections and keys compared without regard to ASCII case,
// the first matching section and key win, values trimmed of blanks and of one
// pair of surrounding quotes, the default only for an absent key or file.
#include "platform/wintypes.h"

#include "platform/host/errors.h"
#include "platform/host/syscalls.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

// Plain descriptors through the system-call table, no stream: a stream's
// buffer would be two more allocations for every key read.
bool ReadWholeFile(const char* fileName, std::string& out) {
    const std::string p = tvhost::HostPath(fileName);
    const int fd = tvhost::syscalls.open(p.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    out.clear();
    char buf[4096];
    ssize_t n;
    while ((n = tvhost::syscalls.read(fd, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    tvhost::syscalls.close(fd);
    if (out.compare(0, 3, "\xEF\xBB\xBF") == 0)
        out.erase(0, 3);
    return true;
}

// The value of section/key, or nothing when the file or the key is absent.
// The file is read into a buffer each thread keeps: a caller may read the
// same file for every key (the server list reads it twice per entry), and a
// fresh string each time made that the larger part of loading a long list.
std::optional<std::string> FindValue(LPCSTR section, LPCSTR key, LPCSTR fileName) {
    thread_local std::string text;
    if (!section || !key || !fileName || !ReadWholeFile(fileName, text))
        return std::nullopt;
    bool inSection = false;
    std::string_view rest = text;
    while (!rest.empty()) {
        std::size_t eol = rest.find('\n');
        std::string_view line = Trim(rest.substr(0, eol));
        rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);
        if (!line.empty() && line.front() == '[') {
            if (inSection)
                return std::nullopt; // only the first section of that name counts
            std::size_t close = line.find(']');
            std::size_t len = close == std::string_view::npos ? line.npos : close - 1;
            inSection = EqualNoCase(Trim(line.substr(1, len)), section);
            continue;
        }
        if (!inSection || line.empty() || line.front() == ';')
            continue;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || !EqualNoCase(Trim(line.substr(0, eq)), key))
            continue;
        std::string_view value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return std::string(value);
    }
    return std::nullopt;
}

} // namespace

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    if (!lpReturnedString || nSize == 0)
        return 0;
    std::optional<std::string> value = FindValue(lpAppName, lpKeyName, lpFileName);
    std::string text;
    if (value) {
        text = *value;
        SetLastError(ERROR_SUCCESS);
    } else {
        // Windows drops trailing blanks of the default too.
        text = std::string(lpDefault ? lpDefault : "");
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    std::size_t n = std::min<std::size_t>(text.size(), nSize - 1);
    std::memcpy(lpReturnedString, text.data(), n);
    lpReturnedString[n] = '\0';
    return static_cast<DWORD>(n);
}

UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, int nDefault, LPCSTR lpFileName) {
    std::optional<std::string> value = FindValue(lpAppName, lpKeyName, lpFileName);
    if (!value)
        return static_cast<UINT>(nDefault);
    // As the C library's strtol with a 32-bit long: leading blanks, a sign,
    // decimal digits; out-of-range values saturate; no digits gives 0.
    const char* p = value->c_str();
    while (IsBlank(*p))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    long long v = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        v = std::min<long long>(v * 10 + (*p - '0'), static_cast<long long>(INT_MAX) + 1);
    v = negative ? -v : std::min<long long>(v, INT_MAX);
    return static_cast<UINT>(static_cast<int>(v));
}
