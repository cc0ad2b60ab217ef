// The three block types. A dynamic block's header sends the code lengths
// run-length coded with a third, small Huffman code.
#include "block_writer.h"

#include "huffman.h"

#include <algorithm>
#include <vector>

namespace tvserver::deflate {

namespace {

constexpr std::size_t kStoredMax = 65535;
constexpr int kCodeLengthSymbols = 19;
constexpr std::uint8_t kCodeLengthOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                               11, 4,  12, 3, 13, 2, 14, 1, 15};

struct Codes {
    std::uint8_t litLen[kLitLenSymbols] = {};
    std::uint16_t litCode[kLitLenSymbols] = {};
    std::uint8_t distLen[kDistSymbols] = {};
    std::uint16_t distCode[kDistSymbols] = {};
};

const Codes& FixedCodes() {
    static const Codes codes = [] {
        // The canonical codes count symbols 286 and 287 too, which never
        // occur in data.
        std::uint8_t lengths[288];
        std::uint16_t codes[288];
        for (int s = 0; s < 288; ++s)
            lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        BuildCodes(lengths, 288, codes);
        Codes c;
        std::copy(lengths, lengths + kLitLenSymbols, c.litLen);
        std::copy(codes, codes + kLitLenSymbols, c.litCode);
        for (int s = 0; s < kDistSymbols; ++s)
            c.distLen[s] = 5;
        BuildCodes(c.distLen, kDistSymbols, c.distCode);
        return c;
    }();
    return codes;
}

// One code-length symbol of the header with its repeat count's extra bits.
struct LengthOp {
    std::uint8_t symbol;
    std::uint8_t extra;
};

struct Dynamic {
    Codes codes;
    int hlit = 0, hdist = 0, hclen = 0;
    std::vector<LengthOp> ops;
    std::uint8_t clLen[kCodeLengthSymbols] = {};
    std::uint16_t clCode[kCodeLengthSymbols] = {};
    std::size_t headerBits = 0;
};

int ExtraBitsOf(int symbol) {
    return symbol == 16 ? 2 : symbol == 17 ? 3 : symbol == 18 ? 7 : 0;
}

// Runs of zeros go as 17/18, other runs as the length followed by 16s.
std::vector<LengthOp> RunLengths(const std::uint8_t* seq, int n) {
    std::vector<LengthOp> ops;
    for (int i = 0; i < n;) {
        const std::uint8_t v = seq[i];
        int run = 1;
        while (i + run < n && seq[i + run] == v)
            ++run;
        i += run;
        if (v == 0) {
            for (; run >= 11; run -= std::min(run, 138))
                ops.push_back({18, static_cast<std::uint8_t>(std::min(run, 138) - 11)});
            if (run >= 3) {
                ops.push_back({17, static_cast<std::uint8_t>(run - 3)});
                run = 0;
            }
        } else {
            ops.push_back({v, 0});
            for (--run; run >= 3; run -= std::min(run, 6))
                ops.push_back({16, static_cast<std::uint8_t>(std::min(run, 6) - 3)});
        }
        for (; run > 0; --run)
            ops.push_back({v, 0});
    }
    return ops;
}

Dynamic MakeDynamic(const Histogram& h) {
    Dynamic d;
    BuildLengths(h.lit, kLitLenSymbols, 15, d.codes.litLen);
    BuildLengths(h.dist, kDistSymbols, 15, d.codes.distLen);
    BuildCodes(d.codes.litLen, kLitLenSymbols, d.codes.litCode);
    BuildCodes(d.codes.distLen, kDistSymbols, d.codes.distCode);
    d.hlit = kLitLenSymbols;
    while (d.hlit > 257 && d.codes.litLen[d.hlit - 1] == 0)
        --d.hlit;
    d.hdist = kDistSymbols;
    while (d.hdist > 1 && d.codes.distLen[d.hdist - 1] == 0)
        --d.hdist;
    std::uint8_t seq[kLitLenSymbols + kDistSymbols];
    std::copy(d.codes.litLen, d.codes.litLen + d.hlit, seq);
    std::copy(d.codes.distLen, d.codes.distLen + d.hdist, seq + d.hlit);
    d.ops = RunLengths(seq, d.hlit + d.hdist);
    std::uint32_t clFreq[kCodeLengthSymbols] = {};
    for (const LengthOp& op : d.ops)
        ++clFreq[op.symbol];
    BuildLengths(clFreq, kCodeLengthSymbols, 7, d.clLen);
    BuildCodes(d.clLen, kCodeLengthSymbols, d.clCode);
    d.hclen = kCodeLengthSymbols;
    while (d.hclen > 4 && d.clLen[kCodeLengthOrder[d.hclen - 1]] == 0)
        --d.hclen;
    d.headerBits = 3 + 5 + 5 + 4 + 3 * static_cast<std::size_t>(d.hclen);
    for (const LengthOp& op : d.ops)
        d.headerBits += d.clLen[op.symbol] + static_cast<std::size_t>(ExtraBitsOf(op.symbol));
    return d;
}

std::size_t SymbolBits(const Histogram& h, const Codes& c) {
    std::size_t bits = h.extraBits;
    for (int s = 0; s < kLitLenSymbols; ++s)
        bits += static_cast<std::size_t>(h.lit[s]) * c.litLen[s];
    for (int s = 0; s < kDistSymbols; ++s)
        bits += static_cast<std::size_t>(h.dist[s]) * c.distLen[s];
    return bits;
}

// Stored blocks hold at most 65535 bytes each: 3 header bits, padding to a
// byte, 4 length bytes.
std::size_t StoredBits(std::size_t rawSize, int pendingBits) {
    const std::size_t blocks = std::max<std::size_t>(1, (rawSize + kStoredMax - 1) / kStoredMax);
    const std::size_t firstPad = static_cast<std::size_t>((8 - (pendingBits + 3) % 8) % 8);
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

void WriteSymbols(BitWriter& out, const Token* tokens, std::size_t count, const Codes& c) {
    for (std::size_t i = 0; i < count; ++i) {
        const Token& t = tokens[i];
        if (t.IsLiteral()) {
            out.Put(c.litCode[t.litOrLength], c.litLen[t.litOrLength]);
            continue;
        }
        const int lc = LengthCode(t.litOrLength);
        out.Put(c.litCode[257 + lc], c.litLen[257 + lc]);
        out.Put(t.litOrLength - kLengthBase[lc], kLengthExtra[lc]);
        const int dc = DistCode(t.dist);
        out.Put(c.distCode[dc], c.distLen[dc]);
        out.Put(t.dist - kDistBase[dc], kDistExtra[dc]);
    }
    out.Put(c.litCode[kEndOfBlock], c.litLen[kEndOfBlock]);
}

void WriteDynamicHeader(BitWriter& out, const Dynamic& d, bool final) {
    out.Put(final ? 5 : 4, 3);
    out.Put(static_cast<std::uint32_t>(d.hlit - 257), 5);
    out.Put(static_cast<std::uint32_t>(d.hdist - 1), 5);
    out.Put(static_cast<std::uint32_t>(d.hclen - 4), 4);
    for (int i = 0; i < d.hclen; ++i)
        out.Put(d.clLen[kCodeLengthOrder[i]], 3);
    for (const LengthOp& op : d.ops) {
        out.Put(d.clCode[op.symbol], d.clLen[op.symbol]);
        out.Put(op.extra, ExtraBitsOf(op.symbol));
    }
}

} // namespace

Histogram::Histogram(const Token* tokens, std::size_t count) {
    lit[kEndOfBlock] = 1;
    for (std::size_t i = 0; i < count; ++i)
        Add(tokens[i]);
}

std::size_t BlockBits(const Histogram& h, std::size_t rawSize, int pendingBits) {
    const Dynamic d = MakeDynamic(h);
    const std::size_t dynamic = d.headerBits + SymbolBits(h, d.codes);
    const std::size_t fixed = 3 + SymbolBits(h, FixedCodes());
    return std::min({dynamic, fixed, StoredBits(rawSize, pendingBits)});
}

void WriteBlock(BitWriter& out, const Token* tokens, std::size_t count, const unsigned char* raw,
                std::size_t rawSize, bool final) {
    const Histogram h(tokens, count);
    const Dynamic d = MakeDynamic(h);
    const std::size_t dynamic = d.headerBits + SymbolBits(h, d.codes);
    const std::size_t fixed = 3 + SymbolBits(h, FixedCodes());
    if (StoredBits(rawSize, out.PendingBits()) <= std::min(dynamic, fixed)) {
        WriteStored(out, raw, rawSize, final);
    } else if (fixed <= dynamic) {
        out.Put(final ? 3 : 2, 3);
        WriteSymbols(out, tokens, count, FixedCodes());
    } else {
        WriteDynamicHeader(out, d, final);
        WriteSymbols(out, tokens, count, d.codes);
    }
}

void WriteEmptyFinalBlock(BitWriter& out) {
    out.Put(3, 3);
    WriteSymbols(out, nullptr, 0, FixedCodes());
}

} // namespace tvserver::deflate
