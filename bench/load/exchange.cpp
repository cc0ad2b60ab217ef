// The owed exchange from a snapshot, and the client-side stream parser.
#include "exchange.h"

#include "protocol/wire.h"
#include "snapshot.h"
#include "store_files.h"

#include <algorithm>
#include <cstring>

namespace loadbench {

const ExchangeFile* Exchange::FileAt(std::size_t offset) const {
    const auto after =
        std::upper_bound(files.begin(), files.end(), offset,
                         [](std::size_t o, const ExchangeFile& f) { return o < f.headerOffset; });
    return after == files.begin() ? nullptr : &*(after - 1);
}

namespace {

void Append(std::vector<unsigned char>& out, const unsigned char* p, std::size_t n) {
    out.insert(out.end(), p, p + n);
}

} // namespace

bool LoadExchange(const std::string& contentDir, const std::uint32_t pair[2], bool limited,
                  Exchange& out, std::string& error) {
    const auto snapshot = tvserver::Snapshot::LoadCurrent(tvserver::StorePath(contentDir), error);
    if (!snapshot)
        return false;
    const tvserver::Selection s =
        snapshot->Select(pair, limited ? tvserver::kOffLoopbackLimit : tvserver::kWireLimit);
    out = Exchange{};
    out.pair[0] = pair[0];
    out.pair[1] = pair[1];
    out.snapshotId = snapshot->Id();
    out.total = s.bytes;
    unsigned char head[wire::kMaxFileHeaderSize];
    wire::VersionReply reply;
    reply.version[0] = snapshot->Version()[0];
    reply.version[1] = snapshot->Version()[1];
    reply.redirectAddr = snapshot->NextRedirect();
    wire::Encode(reply, head);
    Append(out.bytes, head, wire::kVersionReplySize);
    wire::ListHeader list;
    for (int g = 0; g < 2; ++g)
        list.groupFiles[g] = out.count[g] = static_cast<std::uint16_t>(s.count[g]);
    list.totalSize = static_cast<std::int32_t>(s.bytes);
    wire::Encode(list, head);
    Append(out.bytes, head, wire::kListHeaderSize);
    for (int g = 0; g < 2; ++g) {
        for (std::size_t i = s.begin[g]; i < s.begin[g] + s.count[g]; ++i) {
            const tvserver::SnapshotFile& f = snapshot->Files()[i];
            // The selection is the server's own code; what the protocol
            // promises about it is checked here independently.
            if (f.group != g || f.version <= pair[g]) {
                error = "the selection for " + std::to_string(pair[0]) + "," +
                        std::to_string(pair[1]) + " holds " + f.name + " (group " +
                        std::to_string(f.group) + ", version " + std::to_string(f.version) + ")";
                return false;
            }
            std::string body;
            if (!tvserver::ReadSmallFile(snapshot->BodyPath(i), body) || body.size() != f.size) {
                error = "cannot read the published body of " + f.name;
                return false;
            }
            ExchangeFile e{f.name, g, f.version, out.bytes.size(), body.size()};
            const int n = wire::EncodeFileHeader(f.version, static_cast<std::int32_t>(f.size),
                                                 f.name.c_str(), head);
            Append(out.bytes, head, static_cast<std::size_t>(n));
            Append(out.bytes, reinterpret_cast<const unsigned char*>(body.data()), body.size());
            out.files.push_back(std::move(e));
        }
    }
    return true;
}

bool StreamParser::Fail(const std::string& why) {
    if (m_error.empty())
        m_error = why;
    return false;
}

void StreamParser::NextFileOrEnd() {
    m_step = m_left[0] + m_left[1] > 0 ? Step::FileHeader : Step::End;
}

// Acts on a complete fixed message or file header in m_held.
bool StreamParser::TakeHeld() {
    switch (m_step) {
    case Step::Reply:
        if (m_held[0] != wire::kTag)
            return Fail("version reply tag " + std::to_string(m_held[0]));
        m_step = Step::ListHeader;
        break;
    case Step::ListHeader: {
        const wire::ListHeader h = wire::DecodeListHeader(m_held);
        if (h.totalSize < 0)
            return Fail("negative total " + std::to_string(h.totalSize));
        m_left[0] = h.groupFiles[0];
        m_left[1] = h.groupFiles[1];
        m_total = h.totalSize;
        NextFileOrEnd();
        break;
    }
    default: {
        wire::FileHeader h;
        if (wire::DecodeFileHeader(m_held, static_cast<int>(m_heldLen), h) !=
            wire::HeaderResult::Complete)
            return Fail("a file header no client accepts");
        --m_left[m_left[0] > 0 ? 0 : 1];
        m_bodyLeft = h.bodyLength;
        m_bodySum += h.bodyLength;
        m_step = Step::Body;
        if (m_bodyLeft == 0)
            NextFileOrEnd();
        break;
    }
    }
    m_heldLen = 0;
    if (m_step == Step::End && m_bodySum != m_total)
        return Fail("the list announced " + std::to_string(m_total) + " bytes, the bodies hold " +
                    std::to_string(m_bodySum));
    return true;
}

// Bytes the current message needs held: a file header is first its fixed
// part, then the length that part announces (0 when no client accepts it).
std::size_t StreamParser::Need() const {
    if (m_step == Step::Reply)
        return wire::kVersionReplySize;
    if (m_step == Step::ListHeader)
        return wire::kListHeaderSize;
    if (m_heldLen < wire::kFileHeaderFixedSize)
        return wire::kFileHeaderFixedSize;
    const std::size_t length = wire::GetU16(m_held);
    return length < wire::kMinFileHeaderSize || length > sizeof m_held ? 0 : length;
}

bool StreamParser::Feed(const unsigned char* p, std::size_t n) {
    if (!m_error.empty())
        return false;
    while (n > 0) {
        if (m_step == Step::End)
            return Fail("bytes after the last body");
        if (m_step == Step::Body) {
            const std::size_t take =
                static_cast<std::size_t>(std::min<std::int64_t>(m_bodyLeft, std::int64_t(n)));
            m_bodyLeft -= static_cast<std::int64_t>(take);
            p += take;
            n -= take;
            if (m_bodyLeft == 0)
                NextFileOrEnd();
            continue;
        }
        const std::size_t need = Need();
        if (need == 0)
            return Fail("file header length " + std::to_string(wire::GetU16(m_held)));
        const std::size_t take = std::min(n, need - m_heldLen);
        std::memcpy(m_held + m_heldLen, p, take);
        m_heldLen += take;
        p += take;
        n -= take;
        const bool fixedPartOnly = m_step == Step::FileHeader && need == wire::kFileHeaderFixedSize;
        if (m_heldLen == need && !fixedPartOnly && !TakeHeld())
            return false;
    }
    return true;
}

} // namespace loadbench
