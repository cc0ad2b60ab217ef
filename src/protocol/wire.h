// The update protocol's messages: one definition shared by the client and the
// reference server. Plain byte layouts with little-endian integers (except the
// redirect address, which travels in network byte order exactly as the socket
// layer stores it). Operating-system independent; no allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wire {

// Sizes and limits of the exchange.
constexpr int kVersionReplySize = 13;
constexpr int kVersionRequestSize = 9;
constexpr int kListHeaderSize = 8;
constexpr int kFileHeaderFixedSize = 10;                     // length, version, body length
constexpr int kMinFileHeaderSize = kFileHeaderFixedSize + 1; // an empty name and its NUL
constexpr int kMaxFileHeaderSize = 2048;                     // the client's whole receive buffer
constexpr int kMaxNameLength = 256;                          // name + ".gz" + NUL fits in 260 bytes
constexpr std::uint8_t kTag = 1;
constexpr unsigned kDefaultPort = 43001;
constexpr unsigned kRedirectPort = 43001;
// Largest announced total accepted from a server that is not on loopback.
constexpr std::int32_t kMaxTotalSize = 104857600;
// 127.0.0.1 as the socket layer holds it (bytes 7F 00 00 01), read as a
// little-endian 32-bit number.
constexpr std::uint32_t kLoopbackAddr = 0x0100007Fu;

inline std::uint16_t GetU16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t GetI32(const unsigned char* p) {
    return static_cast<std::int32_t>(GetU32(p));
}
// An address in network byte order, as the 32-bit field of a socket address.
inline std::uint32_t GetAddr(const unsigned char* p) {
    std::uint32_t a;
    std::memcpy(&a, p, 4);
    return a;
}
inline void PutU16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void PutU32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}
inline void PutI32(unsigned char* p, std::int32_t v) {
    PutU32(p, static_cast<std::uint32_t>(v));
}
inline void PutAddr(unsigned char* p, std::uint32_t addr) {
    std::memcpy(p, &addr, 4);
}

// Server to client, the first bytes on every connection.
struct VersionReply {
    std::uint8_t tag = kTag;
    std::uint32_t version[2] = {0, 0};
    std::uint32_t redirectAddr = 0; // network byte order; 0: none
};

inline void Encode(const VersionReply& m, unsigned char* out) {
    out[0] = m.tag;
    PutU32(out + 1, m.version[0]);
    PutU32(out + 5, m.version[1]);
    PutAddr(out + 9, m.redirectAddr);
}
inline VersionReply DecodeVersionReply(const unsigned char* p) {
    VersionReply m;
    m.tag = p[0];
    m.version[0] = GetU32(p + 1);
    m.version[1] = GetU32(p + 5);
    m.redirectAddr = GetAddr(p + 9);
    return m;
}

// Client to server, only when an update is needed and no redirect applies.
struct VersionRequest {
    std::uint8_t tag = kTag;
    std::uint32_t version[2] = {0, 0};
};

inline void Encode(const VersionRequest& m, unsigned char* out) {
    out[0] = m.tag;
    PutU32(out + 1, m.version[0]);
    PutU32(out + 5, m.version[1]);
}
inline VersionRequest DecodeVersionRequest(const unsigned char* p) {
    VersionRequest m;
    m.tag = p[0];
    m.version[0] = GetU32(p + 1);
    m.version[1] = GetU32(p + 5);
    return m;
}

// Server to client, the answer to the version request.
struct ListHeader {
    std::uint16_t groupFiles[2] = {0, 0};
    std::int32_t totalSize = 0;
};

inline void Encode(const ListHeader& m, unsigned char* out) {
    PutU16(out, m.groupFiles[0]);
    PutU16(out + 2, m.groupFiles[1]);
    PutI32(out + 4, m.totalSize);
}
inline ListHeader DecodeListHeader(const unsigned char* p) {
    ListHeader m;
    m.groupFiles[0] = GetU16(p);
    m.groupFiles[1] = GetU16(p + 2);
    m.totalSize = GetI32(p + 4);
    return m;
}

// Server to client, one per file, followed at once by the body. The name
// points into the buffer it was decoded from (NUL-terminated there).
struct FileHeader {
    std::uint16_t length = 0; // the whole header: fixed fields, name and NUL
    std::uint32_t version = 0;
    std::int32_t bodyLength = 0;
    const char* name = nullptr;
};

// Header length for a name of nameLength bytes (0 when it cannot be sent).
inline int FileHeaderSize(std::size_t nameLength) {
    if (nameLength > static_cast<std::size_t>(kMaxNameLength))
        return 0;
    return kFileHeaderFixedSize + static_cast<int>(nameLength) + 1;
}

// Writes the header for name into out (FileHeaderSize bytes); returns that
// size, or 0 when the name is too long.
inline int EncodeFileHeader(std::uint32_t version, std::int32_t bodyLength, const char* name,
                            unsigned char* out) {
    const std::size_t n = std::strlen(name);
    const int size = FileHeaderSize(n);
    if (size == 0)
        return 0;
    PutU16(out, static_cast<std::uint16_t>(size));
    PutU32(out + 2, version);
    PutI32(out + 6, bodyLength);
    std::memcpy(out + kFileHeaderFixedSize, name, n + 1);
    return size;
}

enum class HeaderResult {
    NeedMore, // not all of the header is held yet
    Complete, // out is filled; the header takes out.length bytes
    Invalid,  // can never be a valid header: the stream is broken
};

// Looks at the held bytes p[0..held) for a file header. A header that a
// conforming server never sends (length below 11 or above the receive
// buffer, no NUL inside it, a name above 256 bytes, a negative body length)
// is Invalid as soon as enough of it is held to tell.
inline HeaderResult DecodeFileHeader(const unsigned char* p, int held, FileHeader& out) {
    if (held < kFileHeaderFixedSize)
        return HeaderResult::NeedMore;
    const int length = GetU16(p);
    if (length < kMinFileHeaderSize || length > kMaxFileHeaderSize)
        return HeaderResult::Invalid;
    if (GetI32(p + 6) < 0)
        return HeaderResult::Invalid;
    // NOTE: the name can only be judged whole; a name without a NUL inside
    // the header is refused once the header is complete, not before.
    if (held < length)
        return HeaderResult::NeedMore;
    const char* name = reinterpret_cast<const char*>(p + kFileHeaderFixedSize);
    const void* nul = std::memchr(name, 0, static_cast<std::size_t>(length - kFileHeaderFixedSize));
    if (nul == nullptr)
        return HeaderResult::Invalid;
    if (static_cast<const char*>(nul) - name > kMaxNameLength)
        return HeaderResult::Invalid;
    out.length = static_cast<std::uint16_t>(length);
    out.version = GetU32(p + 2);
    out.bodyLength = GetI32(p + 6);
    out.name = name;
    return HeaderResult::Complete;
}

} // namespace wire
