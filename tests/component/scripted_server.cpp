// The scripted loopback server of the component tests (a test helper: POSIX
// sockets are fine here).
#include "scripted_server.h"

#include "protocol/wire.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace tvtest {

ServerConn::~ServerConn() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ServerConn::Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ServerConn::SendPieces(const std::string& bytes, std::size_t piece, int pauseMs) {
    for (std::size_t i = 0; i < bytes.size(); i += piece) {
        if (!Send(bytes.substr(i, piece)))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    return true;
}

bool ServerConn::SendRandomPieces(const std::string& bytes, std::size_t maxPiece, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::size_t> size(1, maxPiece);
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = size(rng);
        if (!Send(bytes.substr(i, n)))
            return false;
        i += n;
        if (rng() % 4 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string ServerConn::Recv(std::size_t n, int timeoutMs) {
    std::string out;
    while (out.size() < n) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return "";
        char buf[4096];
        const ssize_t r = ::recv(m_fd, buf, std::min(sizeof buf, n - out.size()), 0);
        if (r <= 0)
            return "";
        out.append(buf, static_cast<std::size_t>(r));
    }
    return out;
}

bool ServerConn::WaitPeerClose(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return false;
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            return false;
        char buf[256];
        if (::recv(m_fd, buf, sizeof buf, 0) <= 0)
            return true;
    }
}

bool ServerConn::PeerSendsWithin(int timeoutMs) {
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

void ServerConn::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void ServerConn::Reset() {
    if (m_fd < 0)
        return;
    linger l{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
}

ScriptedServer::ScriptedServer(std::vector<Script> scripts, const char* bindAddr, unsigned port) {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, bindAddr, &addr.sin_addr);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::listen(m_listenFd, 8) == 0) {
        socklen_t len = sizeof addr;
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
    }
    m_thread = std::thread([this, scripts = std::move(scripts)] { Run(scripts); });
}

ScriptedServer::~ScriptedServer() {
    m_stop = true;
    m_thread.join();
    ::close(m_listenFd);
}

void ScriptedServer::Run(std::vector<Script> scripts) {
    for (Script& script : scripts) {
        int fd = -1;
        while (fd < 0 && !m_stop) {
            pollfd p{m_listenFd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0)
                fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        }
        if (fd < 0)
            return;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++m_accepted;
        ServerConn conn(fd);
        script(conn);
    }
}

std::string VersionReply(std::uint32_t v0, std::uint32_t v1, std::uint32_t redirectAddr,
                         std::uint8_t tag) {
    wire::VersionReply m;
    m.tag = tag;
    m.version[0] = v0;
    m.version[1] = v1;
    m.redirectAddr = redirectAddr;
    unsigned char b[wire::kVersionReplySize];
    wire::Encode(m, b);
    return std::string(reinterpret_cast<char*>(b), sizeof b);
}

std::string ListHeader(std::uint16_t n0, std::uint16_t n1, std::int32_t total) {
    wire::ListHeader m;
    m.groupFiles[0] = n0;
    m.groupFiles[1] = n1;
    m.totalSize = total;
    unsigned char b[wire::kListHeaderSize];
    wire::Encode(m, b);
    return std::string(reinterpret_cast<char*>(b), sizeof b);
}

std::string FileHeader(const std::string& name, std::uint32_t version, std::int32_t bodyLength) {
    unsigned char b[wire::kMaxFileHeaderSize];
    const int n = wire::EncodeFileHeader(version, bodyLength, name.c_str(), b);
    return std::string(reinterpret_cast<char*>(b), static_cast<std::size_t>(n));
}

std::string File(const std::string& name, std::uint32_t version, const std::string& body) {
    return FileHeader(name, version, static_cast<std::int32_t>(body.size())) + body;
}

std::string RawFileHeader(std::uint16_t length, std::uint32_t version, std::int32_t bodyLength,
                          const std::string& nameBytes) {
    unsigned char b[10];
    wire::PutU16(b, length);
    wire::PutU32(b + 2, version);
    wire::PutI32(b + 6, bodyLength);
    return std::string(reinterpret_cast<char*>(b), 10) + nameBytes;
}

} // namespace tvtest
