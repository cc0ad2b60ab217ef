// The version record: four numbers "format v0 v1 check" as "%d %d %d %x",
// stored scrambled in File.ver. Operating-system independent code only.
#include "install/version_record.h"

#include "platform/files.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

const unsigned char kScrambleKey = 0x8D;
const int kRecordFormat = 1;
// One read of at most this many bytes; anything after it is ignored.
const DWORD kRecordReadMax = 256;

// The check value: the three numbers summed in wrapping 32-bit arithmetic,
// read as signed and divided with truncation toward zero.
std::int32_t CheckValue(DWORD format, DWORD v0, DWORD v1) {
    return static_cast<std::int32_t>(v0 + v1 + format) / 3;
}

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int DigitValue(char c, int base) {
    int d = -1;
    if (c >= '0' && c <= '9')
        d = c - '0';
    else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
    return d < base ? d : -1;
}

// One scanf-style integer conversion (%d with base 10, %x with base 16):
// leading blanks, an optional sign, for base 16 an optional 0x, then at least
// one digit. Out-of-range values wrap modulo 2^32, the same on every runtime.
bool ScanNumber(const char*& p, int base, DWORD& value) {
    while (IsSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2], 16) >= 0)
        p += 2;
    if (DigitValue(*p, base) < 0)
        return false;
    DWORD v = 0;
    for (int d; (d = DigitValue(*p, base)) >= 0; ++p)
        v = v * static_cast<DWORD>(base) + static_cast<DWORD>(d);
    value = negative ? 0u - v : v;
    return true;
}

} // namespace

void ScrambleText(char* text) {
    for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p != 0; ++p) {
        const unsigned x = *p ^ kScrambleKey;
        *p = static_cast<unsigned char>((x << 1) | (x >> 7));
    }
}

void UnscrambleText(char* text) {
    for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p != 0; ++p) {
        const unsigned x = *p;
        *p = static_cast<unsigned char>(((x >> 1) | (x << 7)) ^ kScrambleKey);
    }
}

int FormatVersionRecord(const DWORD version[2], char (&text)[kVersionRecordMax]) {
    const std::int32_t check = CheckValue(kRecordFormat, version[0], version[1]);
    return std::snprintf(text, sizeof text, "%d %d %d %x", kRecordFormat,
                         static_cast<int>(version[0]), static_cast<int>(version[1]),
                         static_cast<unsigned>(check));
}

VersionRecordStatus ParseVersionRecord(const char* text, DWORD version[2]) {
    DWORD format = 0, check = 0;
    const char* p = text;
    const bool complete = ScanNumber(p, 10, format) && ScanNumber(p, 10, version[0]) &&
                          ScanNumber(p, 10, version[1]) && ScanNumber(p, 16, check);
    // NOTE: the check is judged before the format number, so a record that
    // fails both counts as damaged.
    if (!complete || CheckValue(format, version[0], version[1]) != static_cast<std::int32_t>(check))
        return VersionRecordStatus::Damaged;
    if (format != kRecordFormat)
        return VersionRecordStatus::WrongFormat;
    return VersionRecordStatus::Valid;
}

VersionRecordStatus ReadVersionRecordFile(const char* path, DWORD version[2]) {
    version[0] = version[1] = 0;
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return VersionRecordStatus::Absent;
    char text[kRecordReadMax + 1];
    DWORD nRead = 0;
    if (!ReadFile(h, text, kRecordReadMax, &nRead, nullptr) || nRead > kRecordReadMax)
        nRead = 0;
    CloseHandle(h);
    text[nRead] = '\0';
    UnscrambleText(text);
    return ParseVersionRecord(text, version);
}

namespace {

BOOL WriteWhole(HANDLE h, const char* data, DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(h, data, size, &written, nullptr) || written == 0 || written > size)
            return FALSE;
        data += written;
        size -= written;
    }
    return TRUE;
}

} // namespace

BOOL WriteVersionRecordFile(const char* path, const DWORD version[2]) {
    char text[kVersionRecordMax];
    const int length = FormatVersionRecord(version, text);
    ScrambleText(text);

    char tempPath[MAX_PATH];
    if (std::snprintf(tempPath, sizeof tempPath, "%s.new", path) >=
        static_cast<int>(sizeof tempPath))
        return FALSE;
    HANDLE h = CreateFileA(tempPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return FALSE;
    const BOOL written = WriteWhole(h, text, static_cast<DWORD>(length));
    const BOOL closed = CloseHandle(h);
    if (!written || !closed ||
        !MoveFileExA(tempPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(tempPath);
        return FALSE;
    }
    return TRUE;
}
