// gzip member writer: greedy LZ77 over a 32 KiB window with hash chains,
// coded in fixed-Huffman blocks, falling back to stored blocks for a chunk
// that would not shrink.
#include "gzip_encoder.h"

#include <algorithm>
#include <array>

namespace tvserver {

namespace {

constexpr std::size_t kWindow = 32768;
constexpr std::size_t kChunk = 65536; // input bytes per block
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 258;
constexpr int kMaxChain = 48;
constexpr int kHashBits = 15;

const std::array<std::uint32_t, 256>& CrcTable() {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

class BitWriter {
  public:
    explicit BitWriter(std::vector<unsigned char>& out) : m_out(out) {}
    void Put(std::uint32_t bits, int count) {
        m_acc |= static_cast<std::uint64_t>(bits) << m_n;
        m_n += count;
        while (m_n >= 8) {
            m_out.push_back(static_cast<unsigned char>(m_acc));
            m_acc >>= 8;
            m_n -= 8;
        }
    }
    // Huffman codes go most significant bit first.
    void PutCode(std::uint32_t code, int length) {
        std::uint32_t r = 0;
        for (int i = 0; i < length; ++i)
            r |= ((code >> i) & 1u) << (length - 1 - i);
        Put(r, length);
    }
    void Align() {
        if (m_n > 0)
            Put(0, 8 - m_n);
    }

  private:
    std::vector<unsigned char>& m_out;
    std::uint64_t m_acc = 0;
    int m_n = 0;
};

const int kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                             31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                           33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                           1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const int kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                            6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct Token {
    std::uint16_t length; // 0: literal
    std::uint16_t value;  // literal byte or distance
};

int LiteralBits(int sym) {
    if (sym < 144)
        return 8;
    if (sym < 256)
        return 9;
    if (sym < 280)
        return 7;
    return 8;
}

void PutLiteral(BitWriter& w, int sym) {
    if (sym < 144)
        w.PutCode(0x30 + sym, 8);
    else if (sym < 256)
        w.PutCode(0x190 + (sym - 144), 9);
    else if (sym < 280)
        w.PutCode(sym - 256, 7);
    else
        w.PutCode(0xC0 + (sym - 280), 8);
}

int LengthCode(int length) {
    int i = 28;
    while (kLengthBase[i] > length)
        --i;
    return i;
}

int DistCode(int dist) {
    int i = 29;
    while (kDistBase[i] > dist)
        --i;
    return i;
}

std::size_t TokenBits(const Token& t) {
    if (t.length == 0)
        return static_cast<std::size_t>(LiteralBits(t.value));
    const int lc = LengthCode(t.length);
    const int dc = DistCode(t.value);
    return static_cast<std::size_t>(LiteralBits(257 + lc) + kLengthExtra[lc] + 5 + kDistExtra[dc]);
}

class Matcher {
  public:
    Matcher(const unsigned char* data, std::size_t size)
        : m_data(data), m_size(size), m_head(1u << kHashBits, -1), m_prev(kWindow, -1) {}

    // Greedy tokens for [begin, end); positions before begin are history.
    void Tokenise(std::size_t begin, std::size_t end, std::vector<Token>& tokens) {
        std::size_t pos = begin;
        while (pos < end) {
            int bestLen = 0, bestDist = 0;
            FindMatch(pos, end, bestLen, bestDist);
            if (bestLen >= kMinMatch) {
                tokens.push_back(
                    {static_cast<std::uint16_t>(bestLen), static_cast<std::uint16_t>(bestDist)});
                for (int i = 0; i < bestLen; ++i)
                    Insert(pos + static_cast<std::size_t>(i));
                pos += static_cast<std::size_t>(bestLen);
            } else {
                tokens.push_back({0, m_data[pos]});
                Insert(pos++);
            }
        }
    }

  private:
    std::uint32_t Hash(std::size_t pos) const {
        const std::uint32_t v = static_cast<std::uint32_t>(m_data[pos]) << 16 |
                                static_cast<std::uint32_t>(m_data[pos + 1]) << 8 | m_data[pos + 2];
        return (v * 2654435761u) >> (32 - kHashBits);
    }
    void Insert(std::size_t pos) {
        if (pos + kMinMatch > m_size)
            return;
        const std::uint32_t h = Hash(pos);
        m_prev[pos % kWindow] = m_head[h];
        m_head[h] = static_cast<long long>(pos);
    }
    void FindMatch(std::size_t pos, std::size_t end, int& bestLen, int& bestDist) const {
        if (pos + kMinMatch > end)
            return;
        const int maxLen = static_cast<int>(std::min<std::size_t>(kMaxMatch, end - pos));
        long long cand = m_head[Hash(pos)];
        for (int chain = 0; cand >= 0 && chain < kMaxChain; ++chain) {
            const std::size_t c = static_cast<std::size_t>(cand);
            if (pos - c > kWindow - 1)
                break;
            int len = 0;
            while (len < maxLen && m_data[c + len] == m_data[pos + len])
                ++len;
            if (len > bestLen) {
                bestLen = len;
                bestDist = static_cast<int>(pos - c);
                if (len == maxLen)
                    break;
            }
            const long long next = m_prev[c % kWindow];
            if (next >= cand)
                break; // the slot was reused by a newer position
            cand = next;
        }
    }

    const unsigned char* m_data;
    std::size_t m_size;
    std::vector<long long> m_head;
    std::vector<long long> m_prev;
};

void PutFixedBlock(BitWriter& w, const std::vector<Token>& tokens, bool final) {
    w.Put(final ? 1 : 0, 1);
    w.Put(1, 2);
    for (const Token& t : tokens) {
        if (t.length == 0) {
            PutLiteral(w, t.value);
            continue;
        }
        const int lc = LengthCode(t.length);
        PutLiteral(w, 257 + lc);
        w.Put(static_cast<std::uint32_t>(t.length - kLengthBase[lc]), kLengthExtra[lc]);
        const int dc = DistCode(t.value);
        w.PutCode(static_cast<std::uint32_t>(dc), 5);
        w.Put(static_cast<std::uint32_t>(t.value - kDistBase[dc]), kDistExtra[dc]);
    }
    PutLiteral(w, 256);
}

void PutStoredBlock(BitWriter& w, std::vector<unsigned char>& out, const unsigned char* data,
                    std::size_t size, bool final) {
    w.Put(final ? 1 : 0, 1);
    w.Put(0, 2);
    w.Align();
    const std::uint16_t n = static_cast<std::uint16_t>(size);
    const unsigned char head[4] = {
        static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
        static_cast<unsigned char>(~n), static_cast<unsigned char>((~n) >> 8)};
    out.insert(out.end(), head, head + 4);
    out.insert(out.end(), data, data + size);
}

void PutU32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

} // namespace

std::uint32_t Crc32(const unsigned char* data, std::size_t size, std::uint32_t crc) {
    const auto& table = CrcTable();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::vector<unsigned char> GzipEncode(const unsigned char* data, std::size_t size,
                                      std::uint32_t mtime) {
    std::vector<unsigned char> out = {0x1F, 0x8B, 8, 0};
    PutU32(out, mtime);
    out.push_back(0);   // no extra flags
    out.push_back(255); // operating system: unknown
    BitWriter w(out);
    Matcher matcher(data, size);
    std::vector<Token> tokens;
    std::size_t pos = 0;
    do {
        // NOTE: a stored block holds at most 65535 bytes, so a chunk is one
        // byte short of 64 KiB.
        const std::size_t end = std::min(size, pos + kChunk - 1);
        const bool final = end == size;
        tokens.clear();
        matcher.Tokenise(pos, end, tokens);
        std::size_t bits = 3 + 7;
        for (const Token& t : tokens)
            bits += TokenBits(t);
        if (bits / 8 > (end - pos) + 5)
            PutStoredBlock(w, out, data + pos, end - pos, final);
        else
            PutFixedBlock(w, tokens, final);
        pos = end;
    } while (pos < size);
    w.Align();
    PutU32(out, Crc32(data, size));
    PutU32(out, static_cast<std::uint32_t>(size));
    return out;
}

} // namespace tvserver
