#include "block_writer.h"

#include <algorithm>

namespace tvserver::deflate {

namespace {

constexpr std::size_t kStoredMax = 65535;

struct Code {
    std::uint16_t bits[kLitLenSymbols + 2];
    std::uint8_t lengths[kLitLenSymbols + 2];
};

std::uint32_t Reverse(std::uint32_t code, int length) {
    std::uint32_t r = 0;
    for (int i = 0; i < length; ++i)
        r |= ((code >> i) & 1u) << (length - 1 - i);
    return r;
}

const Code& FixedLitLen() {
    static const Code code = [] {
        Code c{};
        for (int s = 0; s < kLitLenSymbols + 2; ++s) {
            std::uint32_t v;
            int len;
            if (s < 144)
                v = 0x30 + s, len = 8;
            else if (s < 256)
                v = 0x190 + (s - 144), len = 9;
            else if (s < 280)
                v = s - 256, len = 7;
            else
                v = 0xC0 + (s - 280), len = 8;
            c.bits[s] = static_cast<std::uint16_t>(Reverse(v, len));
            c.lengths[s] = static_cast<std::uint8_t>(len);
        }
        return c;
    }();
    return code;
}

std::size_t FixedBits(const Token* tokens, std::size_t count) {
    const Code& c = FixedLitLen();
    std::size_t bits = 3 + c.lengths[kEndOfBlock];
    for (std::size_t i = 0; i < count; ++i) {
        const Token& t = tokens[i];
        if (t.IsLiteral()) {
            bits += c.lengths[t.litOrLength];
            continue;
        }
        const int lc = LengthCode(t.litOrLength);
        const int dc = DistCode(t.dist);
        bits += c.lengths[257 + lc] + kLengthExtra[lc] + 5 + kDistExtra[dc];
    }
    return bits;
}

void WriteFixed(BitWriter& out, const Token* tokens, std::size_t count, bool final) {
    const Code& c = FixedLitLen();
    out.Put(final ? 3 : 2, 3);
    for (std::size_t i = 0; i < count; ++i) {
        const Token& t = tokens[i];
        if (t.IsLiteral()) {
            out.Put(c.bits[t.litOrLength], c.lengths[t.litOrLength]);
            continue;
        }
        const int lc = LengthCode(t.litOrLength);
        out.Put(c.bits[257 + lc], c.lengths[257 + lc]);
        out.Put(t.litOrLength - kLengthBase[lc], kLengthExtra[lc]);
        const int dc = DistCode(t.dist);
        out.Put(Reverse(static_cast<std::uint32_t>(dc), 5), 5);
        out.Put(t.dist - kDistBase[dc], kDistExtra[dc]);
    }
    out.Put(c.bits[kEndOfBlock], c.lengths[kEndOfBlock]);
}

// Stored blocks hold at most 65535 bytes each; 3 header bits, padding to a
// byte and 4 length bytes each.
std::size_t StoredBits(std::size_t rawSize, int pendingBits) {
    const std::size_t blocks = std::max<std::size_t>(1, (rawSize + kStoredMax - 1) / kStoredMax);
    const std::size_t firstPad = (8 - (pendingBits + 3) % 8) % 8;
    return blocks * (3 + 32) + firstPad + (blocks - 1) * 5 + rawSize * 8;
}

void WriteStored(BitWriter& out, const unsigned char* raw, std::size_t rawSize, bool final) {
    std::size_t done = 0;
    do {
        const std::size_t n = std::min(kStoredMax, rawSize - done);
        const bool last = done + n == rawSize;
        out.Put(final && last ? 1 : 0, 3);
        out.Align();
        const unsigned char head[4] = {
            static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
            static_cast<unsigned char>(~n), static_cast<unsigned char>((~n) >> 8)};
        out.PutBytes(head, 4);
        out.PutBytes(raw + done, n);
        done += n;
    } while (done < rawSize);
}

} // namespace

void WriteBlock(BitWriter& out, const Token* tokens, std::size_t count, const unsigned char* raw,
                std::size_t rawSize, bool final) {
    if (StoredBits(rawSize, out.PendingBits()) < FixedBits(tokens, count))
        WriteStored(out, raw, rawSize, final);
    else
        WriteFixed(out, tokens, count, final);
}

void WriteEmptyFinalBlock(BitWriter& out) {
    WriteFixed(out, nullptr, 0, true);
}

} // namespace tvserver::deflate
