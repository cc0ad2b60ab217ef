// Room on disk for an update (see disk_room.h). Operating-system independent
// code only.
#include "install/disk_room.h"

#include "platform/files.h"

#include <algorithm>
#include <cstdio>

namespace {

std::uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The last four bytes of a file of nSize bytes, little-endian.
bool ReadLastLe32(FILE* pFile, std::uint64_t nSize, std::uint32_t& nValue) {
    unsigned char tail[4];
    if (nSize < sizeof tail ||
        std::fseek(pFile, static_cast<long>(nSize - sizeof tail), SEEK_SET) != 0 ||
        std::fread(tail, 1, sizeof tail, pFile) != sizeof tail)
        return false;
    nValue = Le32(tail);
    return true;
}

// NOTE: a received body is at most 2^31 - 1 bytes, so a long offset holds
// its size on every platform.
bool StreamSize(FILE* pFile, std::uint64_t& nSize) {
    if (std::fseek(pFile, 0, SEEK_END) != 0)
        return false;
    const long n = std::ftell(pFile);
    if (n < 0)
        return false;
    nSize = static_cast<std::uint64_t>(n);
    return std::fseek(pFile, 0, SEEK_SET) == 0;
}

bool ReadDeclaredSize(FILE* pFile, std::uint64_t& nPlain, std::uint64_t& nCompressed) {
    if (!StreamSize(pFile, nCompressed))
        return false;
    nPlain = nCompressed;
    unsigned char head[30];
    const size_t nHead = std::fread(head, 1, sizeof head, pFile);
    std::uint32_t nStored = 0;
    const bool bGzip = nHead >= 2 && head[0] == 0x1F && (head[1] == 0x8B || head[1] == 0x9E);
    const bool bZip = nHead == sizeof head && Le32(head) == 0x04034B50u;
    if (bGzip || (bZip && (head[6] & 8) != 0)) {
        // The gzip trailer, or the data descriptor after a PKZIP entry's data,
        // ends in the plain length.
        if (ReadLastLe32(pFile, nCompressed, nStored))
            nPlain = nStored;
    } else if (bZip) {
        nPlain = Le32(head + 22);
    }
    return true;
}

} // namespace

bool QueryWorkingDirFreeSpace(std::uint64_t& nFree) {
    ULARGE_INTEGER freeToCaller, total, totalFree;
    if (!GetDiskFreeSpaceExA(".\\", &freeToCaller, &total, &totalFree))
        return false;
    nFree = freeToCaller.QuadPart;
    return true;
}

bool DeclaredPlainSize(const char* lpszPath, std::uint64_t& nPlain, std::uint64_t& nCompressed) {
    FILE* pFile = AfxOpenStream(lpszPath, "rb");
    if (pFile == nullptr)
        return false;
    const bool bRead = ReadDeclaredSize(pFile, nPlain, nCompressed);
    std::fclose(pFile);
    return bRead;
}

std::uint64_t SpaceToDecompress(const CStringArray& paths, std::uint64_t* pPlainTotal) {
    // Signed: the compressed files deleted so far may have freed more than
    // the outputs before them took.
    long long nTaken = 0;
    long long nPeak = 0;
    std::uint64_t nPlainTotal = 0;
    for (INT_PTR i = 0; i < paths.GetSize(); ++i) {
        std::uint64_t nPlain = 0, nCompressed = 0;
        if (!DeclaredPlainSize(paths[i], nPlain, nCompressed))
            continue;
        nPlainTotal += nPlain;
        nTaken += static_cast<long long>(nPlain);
        nPeak = std::max(nPeak, nTaken);
        nTaken -= static_cast<long long>(nCompressed);
    }
    if (pPlainTotal != nullptr)
        *pPlainTotal = nPlainTotal;
    return static_cast<std::uint64_t>(nPeak) + kDiskMargin;
}
