// What one client is owed, and a parser that follows the stream as the
// client's receive state machine does.
//
// An Exchange is every byte the server sends on one connection for a given
// local pair (version reply through the last body), taken from a published
// snapshot. The bare sender sends exactly these bytes; a client compares
// what it receives against them and also parses them, so a fault shows as a
// protocol error where one exists and as an offset otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace loadbench {

struct ExchangeFile {
    std::string name;
    int group = 0;
    std::uint32_t version = 0;
    std::size_t headerOffset = 0; // in Exchange::bytes
    std::size_t bodyLength = 0;
};

struct Exchange {
    std::uint32_t pair[2] = {0, 0};
    std::uint16_t count[2] = {0, 0};
    std::int64_t total = 0;
    unsigned snapshotId = 0;
    std::vector<ExchangeFile> files;
    std::vector<unsigned char> bytes;
    // The file whose header or body holds offset, or nullptr.
    const ExchangeFile* FileAt(std::size_t offset) const;
};

// Builds the exchange the current snapshot of contentDir owes a client that
// holds pair; limited applies the 104857600-byte rule of clients that are
// not on loopback. False with a message when there is no usable snapshot.
bool LoadExchange(const std::string& contentDir, const std::uint32_t pair[2], bool limited,
                  Exchange& out, std::string& error);

// Follows one connection's stream. Feed it every received byte in order.
class StreamParser {
  public:
    enum class Step { Reply, ListHeader, FileHeader, Body, End };

    // False once the stream breaks the protocol; the reason is in Error().
    bool Feed(const unsigned char* p, std::size_t n);
    Step Where() const { return m_step; }
    bool ReplyTaken() const { return m_step != Step::Reply; }
    const std::string& Error() const { return m_error; }

  private:
    std::size_t Need() const;
    bool TakeHeld();
    bool Fail(const std::string& why);
    void NextFileOrEnd();

    Step m_step = Step::Reply;
    unsigned char m_held[2048];
    std::size_t m_heldLen = 0;
    std::int64_t m_bodyLeft = 0;
    std::int64_t m_total = 0;
    std::int64_t m_bodySum = 0;
    std::uint32_t m_left[2] = {0, 0};
    std::string m_error;
};

} // namespace loadbench
