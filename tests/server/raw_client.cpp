// Protocol-level test client (test code: POSIX is fine).
#include "raw_client.h"

#include "protocol/wire.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace tvtest {

namespace {

// Reads exactly n bytes (pausing between pieces when asked); false at the
// end of the stream or an error.
bool ReadExactly(int fd, std::string& out, std::size_t n, int pauseMs) {
    char buf[65536];
    while (n > 0) {
        const std::size_t want = std::min(n, pauseMs > 0 ? std::size_t{4096} : sizeof buf);
        const ssize_t got = ::recv(fd, buf, want, 0);
        if (got <= 0)
            return false;
        out.append(buf, static_cast<std::size_t>(got));
        n -= static_cast<std::size_t>(got);
        if (pauseMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    return true;
}

} // namespace

int ConnectTo(const std::string& addr, unsigned port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, addr.c_str(), &a.sin_addr);
    timeval t{20, 0}; // a test never hangs on a server that stops talking
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

Exchange Fetch(unsigned port, std::uint32_t v0, std::uint32_t v1, int readPauseMs,
               const std::string& addr, const std::function<void()>& midway) {
    Exchange x;
    const int fd = ConnectTo(addr, port);
    if (fd < 0)
        return x;
    x.connected = true;
    if (readPauseMs > 0) {
        const int small = 16384;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    }
    std::string in;
    if (ReadExactly(fd, in, wire::kVersionReplySize, 0)) {
        x.gotReply = true;
        const auto reply =
            wire::DecodeVersionReply(reinterpret_cast<const unsigned char*>(in.data()));
        x.serverVersion[0] = reply.version[0];
        x.serverVersion[1] = reply.version[1];
        x.redirectAddr = reply.redirectAddr;
        unsigned char req[wire::kVersionRequestSize];
        wire::VersionRequest r;
        r.version[0] = v0;
        r.version[1] = v1;
        wire::Encode(r, req);
        ::send(fd, req, sizeof req, MSG_NOSIGNAL);
    }
    in.clear();
    if (x.gotReply && ReadExactly(fd, in, wire::kListHeaderSize, 0)) {
        const auto h = wire::DecodeListHeader(reinterpret_cast<const unsigned char*>(in.data()));
        x.gotList = true;
        x.groupFiles[0] = h.groupFiles[0];
        x.groupFiles[1] = h.groupFiles[1];
        x.total = h.totalSize;
        bool ok = true;
        for (int i = 0; ok && i < h.groupFiles[0] + h.groupFiles[1]; ++i) {
            std::string head;
            ok = ReadExactly(fd, head, wire::kFileHeaderFixedSize, 0);
            const auto* p = reinterpret_cast<const unsigned char*>(head.data());
            const int length = ok ? wire::GetU16(p) : 0;
            ok = ok && length > wire::kFileHeaderFixedSize &&
                 ReadExactly(fd, head, static_cast<std::size_t>(length) - head.size(), 0);
            ReceivedFile f;
            if (ok) {
                p = reinterpret_cast<const unsigned char*>(head.data());
                f.version = wire::GetU32(p + 2);
                f.name = head.c_str() + wire::kFileHeaderFixedSize;
                ok = ReadExactly(fd, f.body, static_cast<std::size_t>(wire::GetI32(p + 6)),
                                 readPauseMs);
            }
            if (ok)
                x.files.push_back(std::move(f));
            if (ok && i == 0 && midway)
                midway();
        }
        char extra;
        x.complete = ok && ::recv(fd, &extra, 1, 0) == 0;
    }
    ::close(fd);
    return x;
}

} // namespace tvtest
