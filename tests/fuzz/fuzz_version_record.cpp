// Fuzz target: ReadVersionRecord on arbitrary File.ver contents, and the
// scrambling it relies on.
//
// Invariants: reading never fails other than by its four outcomes; a valid
// record written back and read again gives the same pair; a record whose
// numbers are small enough for the C library's own conversions gets the
// outcome those conversions give; scrambling and unscrambling are inverse
// on every text they can carry.

#include "client_fuzz_support.h"

#include "install/version_record.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    __builtin_trap();
}

// The text ReadVersionRecord parses: the first 256 bytes, unscrambled up to
// the first zero byte.
std::string PlainText(const std::uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size < 256 ? size : 256);
    text.push_back('\0');
    UnscrambleText(text.data());
    return std::string(text.c_str());
}

// Four blank-separated numbers of at most eight digits, with nothing the two
// conversions could read differently ("0x" prefixes, signs on the check).
bool Simple(const std::string& text) {
    int fields = 0;
    size_t i = 0;
    while (i < text.size() && fields < 4) {
        while (i < text.size() && text[i] == ' ')
            ++i;
        const size_t start = i;
        if (fields < 3 && i < text.size() && text[i] == '-')
            ++i;
        const size_t digits = i;
        // "%x" takes a "0x" before the check's digits; the record's reader
        // does not (it stops at the x).
        if (fields == 3 && (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0))
            return false;
        while (i < text.size() && (fields == 3 ? std::isxdigit(static_cast<unsigned char>(text[i]))
                                               : std::isdigit(static_cast<unsigned char>(text[i]))))
            ++i;
        if (i == digits || i - digits > 8 || i == start)
            return false;
        ++fields;
    }
    return fields == 4;
}

void CheckAgainstScanf(const std::string& text, VersionRecordStatus status, const DWORD pair[2]) {
    if (!Simple(text))
        return;
    int format = 0, v0 = 0, v1 = 0;
    unsigned check = 0;
    if (std::sscanf(text.c_str(), "%d %d %d %x", &format, &v0, &v1, &check) != 4)
        Fail("a simple record did not scan");
    const std::int32_t sum =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(v0) + static_cast<std::uint32_t>(v1) +
                                  static_cast<std::uint32_t>(format));
    VersionRecordStatus expect = VersionRecordStatus::Valid;
    if (sum / 3 != static_cast<std::int32_t>(check))
        expect = VersionRecordStatus::Damaged;
    else if (format != 1)
        expect = VersionRecordStatus::WrongFormat;
    if (status != expect)
        Fail("the outcome differs from the C library's reading");
    if (pair[0] != static_cast<DWORD>(v0) || pair[1] != static_cast<DWORD>(v1))
        Fail("the pair differs from the C library's reading");
}

void CheckScrambling(const std::uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = std::string(text.c_str());             // up to the first zero
    if (text.find('\x8d') == std::string::npos) { // the key scrambles to zero
        std::string s = text;
        ScrambleText(s.data());
        if (s.size() != text.size() || std::strlen(s.c_str()) != s.size())
            Fail("scrambling changed the length of a text without the key byte");
        UnscrambleText(s.data());
        if (s != text)
            Fail("unscrambling did not undo scrambling");
    }
    if (text.find('\x1b') == std::string::npos) { // unscrambles to zero
        std::string s = text;
        UnscrambleText(s.data());
        ScrambleText(s.data());
        if (s != text)
            Fail("scrambling did not undo unscrambling");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    clientfuzz::BeginRun();
    clientfuzz::WriteFile("File.ver", data, size);
    DWORD pair[2] = {1, 1};
    const VersionRecordStatus status = ReadVersionRecordFile("File.ver", pair);
    switch (status) {
    case VersionRecordStatus::Absent:
        Fail("an existing File.ver read as absent");
    case VersionRecordStatus::Damaged:
    case VersionRecordStatus::WrongFormat:
        break;
    case VersionRecordStatus::Valid: {
        const DWORD kept[2] = {pair[0], pair[1]};
        if (!WriteVersionRecordFile("File.ver", kept))
            Fail("a valid pair could not be written back");
        DWORD again[2] = {0, 0};
        if (ReadVersionRecordFile("File.ver", again) != VersionRecordStatus::Valid ||
            again[0] != kept[0] || again[1] != kept[1])
            Fail("a valid pair did not survive writing and reading");
        break;
    }
    }
    CheckAgainstScanf(PlainText(data, size), status, pair);
    CheckScrambling(data, size);
    clientfuzz::EndRun();
    return 0;
}
