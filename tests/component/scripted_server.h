// A scripted update server for component tests: listens on a loopback port
// and runs a script on its own thread for each connection it accepts.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace tvtest {

// One accepted connection, seen from the server's side.
class ServerConn {
  public:
    explicit ServerConn(int fd) : m_fd(fd) {}
    ~ServerConn();
    ServerConn(const ServerConn&) = delete;
    ServerConn& operator=(const ServerConn&) = delete;

    // Sends all bytes at once.
    bool Send(const std::string& bytes);
    // Sends in pieces of `piece` bytes with a pause after each, so the
    // client sees them in separate notifications.
    bool SendPieces(const std::string& bytes, std::size_t piece, int pauseMs);
    // Sends in pieces of random size (1 to maxPiece, fixed seed).
    bool SendRandomPieces(const std::string& bytes, std::size_t maxPiece, unsigned seed);
    // Reads exactly n bytes ("" on close or timeout).
    std::string Recv(std::size_t n, int timeoutMs = 5000);
    // Waits until the client closes its side (true) or the timeout passes.
    bool WaitPeerClose(int timeoutMs = 5000);
    // Whether anything (data or end of stream) arrives within timeoutMs.
    bool PeerSendsWithin(int timeoutMs);
    // An orderly close (FIN) or a reset (RST, SO_LINGER 0).
    void Close();
    void Reset();

  private:
    int m_fd;
};

class ScriptedServer {
  public:
    using Script = std::function<void(ServerConn&)>;

    // Binds addr:port (default 127.0.0.1 on a free port); scripts run for the
    // connections in order, one script per connection.
    explicit ScriptedServer(std::vector<Script> scripts, const char* addr = "127.0.0.1",
                            unsigned port = 0);
    explicit ScriptedServer(Script script) : ScriptedServer(std::vector<Script>{script}) {}
    bool Listening() const { return m_port != 0; }
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    unsigned Port() const { return m_port; }
    // Connections accepted so far.
    int Accepted() const { return m_accepted.load(); }

  private:
    void Run(std::vector<Script> scripts);

    int m_listenFd = -1;
    unsigned m_port = 0;
    std::atomic<int> m_accepted{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Wire messages as byte strings.
std::string VersionReply(std::uint32_t v0, std::uint32_t v1, std::uint32_t redirectAddr = 0,
                         std::uint8_t tag = 1);
std::string ListHeader(std::uint16_t n0, std::uint16_t n1, std::int32_t total);
std::string FileHeader(const std::string& name, std::uint32_t version, std::int32_t bodyLength);
std::string File(const std::string& name, std::uint32_t version, const std::string& body);
// A header with every field given, for malformed cases (length as sent).
std::string RawFileHeader(std::uint16_t length, std::uint32_t version, std::int32_t bodyLength,
                          const std::string& nameBytes);

} // namespace tvtest
