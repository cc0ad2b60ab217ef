// Output files for received bodies: the bounded read-only retry, the parent
// directory chain, and the containment check of received names.
// Operating-system independent code only.
#include "install/output_file.h"

#include "platform/files.h"

#include <cctype>
#include <cerrno>
#include <cstring>

namespace {

// One attempt clears a read-only attribute; the rest cover a file that is
// briefly held elsewhere. A path that stays inaccessible (a directory, a
// file locked by another program) fails after these without holding the
// user-interface thread.
const int kAccessRetries = 5;
const int kPathBuffer = MAX_PATH;

} // namespace

BOOL CreateParentDirectories(const char* path) {
    char dir[kPathBuffer];
    if (std::strlen(path) >= sizeof dir)
        return FALSE;
    std::strcpy(dir, path);
    char* slash = std::strrchr(dir, '\\');
    if (slash == nullptr)
        return FALSE;
    *slash = '\0';
    if (CreateDirectoryA(dir, nullptr))
        return TRUE;
    if (GetLastError() != ERROR_PATH_NOT_FOUND)
        return FALSE;
    if (!CreateParentDirectories(dir))
        return FALSE;
    return CreateDirectoryA(dir, nullptr);
}

FILE* OpenOutputFile(const char* path) {
    FILE* f = AfxOpenStream(path, "wb");
    if (f != nullptr)
        return f;
    for (int attempt = 0; errno == EACCES; ++attempt) {
        if (attempt == kAccessRetries)
            return nullptr;
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        f = AfxOpenStream(path, "wb");
        if (f != nullptr)
            return f;
    }
    if (errno == ENOENT && CreateParentDirectories(path))
        return AfxOpenStream(path, "wb");
    return nullptr;
}

namespace {

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices on Windows whatever
// extension follows them ("NUL.gz" is still the null device).
bool IsDeviceName(const char* begin, const char* end) {
    const char* dot = static_cast<const char*>(std::memchr(begin, '.', end - begin));
    const char* stem_end = dot ? dot : end;
    char stem[5] = {};
    const long n = stem_end - begin;
    if (n < 3 || n > 4)
        return false;
    for (long i = 0; i < n; ++i)
        stem[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(begin[i])));
    if (n == 3)
        return !std::strcmp(stem, "CON") || !std::strcmp(stem, "PRN") ||
               !std::strcmp(stem, "AUX") || !std::strcmp(stem, "NUL");
    return (!std::strncmp(stem, "COM", 3) || !std::strncmp(stem, "LPT", 3)) && stem[3] >= '1' &&
           stem[3] <= '9';
}

bool IsContainedComponent(const char* begin, const char* end) {
    if (begin == end)
        return false;
    const char last = end[-1];
    // Windows drops a trailing dot or blank, so "..." and ". " are "..",
    // "." or another name than the one checked here.
    if (last == '.' || last == ' ')
        return false;
    return !IsDeviceName(begin, end);
}

bool IsRefusedChar(unsigned char c) {
    return c < 0x20 || std::strchr(":/<>\"|?*", c) != nullptr;
}

} // namespace

bool IsContainedName(const char* name) {
    if (*name == '\0')
        return false;
    for (const char* p = name; *p; ++p)
        if (IsRefusedChar(static_cast<unsigned char>(*p)))
            return false;
    const char* begin = name;
    for (;;) {
        const char* end = std::strchr(begin, '\\');
        if (end == nullptr)
            end = begin + std::strlen(begin);
        if (!IsContainedComponent(begin, end))
            return false;
        if (*end == '\0')
            return true;
        begin = end + 1;
    }
}
