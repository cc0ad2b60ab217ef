// torvane-update-server: the reference update server. Serves the content
// directory described by its manifest.txt to update clients, one client at a
// time. A Linux tool; it shares only the wire definitions with the client.
#include "manifest.h"
#include "protocol/wire.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char kProgram[] = "torvane-update-server";
// How long a client may stay silent before it is dropped, so that one stuck
// client cannot hold the clients queued behind it for ever.
const int kIdleTimeoutMs = 30000;

struct Options {
    std::string contentDir;
    std::string bindAddr = "127.0.0.1";
    unsigned port = wire::kDefaultPort;
    bool once = false;
};

void Usage(FILE* out) {
    std::fprintf(out,
                 "usage: %s [--port N] [--bind ADDR] [--once] CONTENT_DIR\n"
                 "  Serves CONTENT_DIR/manifest.txt to update clients.\n"
                 "  --port N     TCP port (default 43001; 0 picks a free one)\n"
                 "  --bind ADDR  IPv4 address to listen on (default 127.0.0.1)\n"
                 "  --once       serve one client, then exit\n",
                 kProgram);
}

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "%s: error: %s\n", kProgram, message.c_str());
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            std::exit(0);
        } else if (a == "--once") {
            o.once = true;
        } else if ((a == "--port" || a == "--bind") && i + 1 < argc) {
            const std::string v = argv[++i];
            if (a == "--bind") {
                o.bindAddr = v;
                continue;
            }
            char* end = nullptr;
            const unsigned long port = std::strtoul(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || port > 65535)
                Fail("bad port: " + v);
            o.port = static_cast<unsigned>(port);
        } else if (!a.empty() && a[0] != '-' && o.contentDir.empty()) {
            o.contentDir = a;
        } else {
            Usage(stderr);
            Fail("bad argument: " + a);
        }
    }
    if (o.contentDir.empty()) {
        Usage(stderr);
        Fail("no content directory given");
    }
    return o;
}

bool SendAll(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads exactly size bytes; false on end of stream, error or idle timeout.
bool RecvAll(int fd, unsigned char* data, std::size_t size) {
    while (size > 0) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, kIdleTimeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// An orderly end: our side first, then wait for the client to close, so the
// last bytes are never lost to a reset.
void CloseInOrder(int fd) {
    ::shutdown(fd, SHUT_WR);
    unsigned char sink[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kIdleTimeoutMs) <= 0)
            break;
        const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
        if (n == 0 || (n < 0 && errno != EINTR))
            break;
    }
    ::close(fd);
}

bool SendFiles(int fd, const std::vector<const tvserver::ContentFile*>& files, long long& bytes) {
    wire::ListHeader list;
    long long total = 0;
    for (const auto* f : files) {
        ++list.groupFiles[f->group];
        total += static_cast<long long>(f->body.size());
    }
    list.totalSize = static_cast<std::int32_t>(total);
    unsigned char head[wire::kMaxFileHeaderSize];
    wire::Encode(list, head);
    if (!SendAll(fd, head, wire::kListHeaderSize))
        return false;
    for (const auto* f : files) {
        const int n = wire::EncodeFileHeader(f->version, static_cast<std::int32_t>(f->body.size()),
                                             f->name.c_str(), head);
        if (!SendAll(fd, head, static_cast<std::size_t>(n)) ||
            !SendAll(fd, f->body.data(), f->body.size()))
            return false;
    }
    bytes = total;
    return true;
}

std::string PeerText(const sockaddr_in& a) {
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

void Serve(int fd, const sockaddr_in& peer, const tvserver::Manifest& manifest) {
    const std::string who = PeerText(peer);
    wire::VersionReply reply;
    reply.version[0] = manifest.version[0];
    reply.version[1] = manifest.version[1];
    reply.redirectAddr = manifest.redirectAddr;
    unsigned char buf[wire::kVersionReplySize];
    wire::Encode(reply, buf);
    if (!SendAll(fd, buf, sizeof buf)) {
        std::printf("%s: gone before the version reply\n", who.c_str());
        ::close(fd);
        return;
    }
    unsigned char req[wire::kVersionRequestSize];
    if (!RecvAll(fd, req, sizeof req)) {
        std::printf("%s: no version request (up to date, redirected or gone)\n", who.c_str());
        ::close(fd);
        return;
    }
    const wire::VersionRequest request = wire::DecodeVersionRequest(req);
    if (request.tag != wire::kTag) {
        std::printf("%s: bad version request tag %u\n", who.c_str(), request.tag);
        ::close(fd);
        return;
    }
    const auto files = tvserver::SelectFiles(manifest, request.version);
    long long bytes = 0;
    if (!SendFiles(fd, files, bytes)) {
        std::printf("%s: connection lost while sending\n", who.c_str());
        ::close(fd);
        return;
    }
    std::printf("%s: from %u %u sent %zu files, %lld bytes\n", who.c_str(), request.version[0],
                request.version[1], files.size(), bytes);
    std::fflush(stdout);
    CloseInOrder(fd);
}

int Listen(const Options& o) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(o.port));
    if (::inet_pton(AF_INET, o.bindAddr.c_str(), &addr.sin_addr) != 1)
        Fail("bad bind address: " + o.bindAddr);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        Fail(std::string("socket: ") + std::strerror(errno));
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        Fail("cannot listen on " + o.bindAddr + ":" + std::to_string(o.port) + ": " +
             std::strerror(errno));
    if (::listen(fd, 16) != 0)
        Fail(std::string("listen: ") + std::strerror(errno));
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    std::printf("listening on %s:%u\n", o.bindAddr.c_str(), ntohs(addr.sin_port));
    std::fflush(stdout);
    return fd;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const Options options = ParseOptions(argc, argv);
    tvserver::Manifest manifest;
    std::string error;
    if (!tvserver::LoadManifest(options.contentDir, manifest, error))
        Fail(error);
    const int listenFd = Listen(options);
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            Fail(std::string("accept: ") + std::strerror(errno));
        }
        Serve(fd, peer, manifest);
        if (options.once)
            break;
    }
    ::close(listenFd);
    return 0;
}
