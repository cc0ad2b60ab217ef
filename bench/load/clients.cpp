// One epoll loop drives every connection of a wave (see clients.h).
#include "clients.h"

#include "protocol/wire.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace loadbench {

double NowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long RaiseDescriptorLimit(long want) {
    rlimit r{};
    ::getrlimit(RLIMIT_NOFILE, &r);
    if (static_cast<long>(r.rlim_cur) < want) {
        rlimit more = r;
        more.rlim_cur = static_cast<rlim_t>(want);
        if (static_cast<long>(more.rlim_max) < want)
            more.rlim_max = static_cast<rlim_t>(want);
        if (::setrlimit(RLIMIT_NOFILE, &more) != 0) {
            r.rlim_cur = r.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &r);
        }
        ::getrlimit(RLIMIT_NOFILE, &r);
    }
    return static_cast<long>(r.rlim_cur);
}

namespace {

// Connections between connect and the version reply at any time; more at
// once would overflow the listen queue and turn into SYN retransmits, which
// measure the kernel's timer and not the server.
const int kConnecting = 256;
const std::size_t kScratch = 256 * 1024;
const std::size_t kErrorLines = 8;

enum class Role { Full, Idle, Stalled };

struct Conn {
    int fd = -1;
    int index = 0;
    Role role = Role::Full;
    bool requestSent = false;
    bool done = false;  // every owed byte arrived
    bool ended = false; // completed, held or failed: no longer watched
    std::size_t offset = 0;
    StreamParser parser;
};

// Runs connections of one role to their end state.
class Driver {
  public:
    Driver(const sockaddr_in& target, const Exchange& ex, Role role)
        : m_target(target), m_ex(ex), m_role(role), m_scratch(kScratch) {
        m_epfd = ::epoll_create1(EPOLL_CLOEXEC);
    }
    ~Driver() {
        for (auto& c : m_conns)
            if (c->fd >= 0)
                ::close(c->fd);
        ::close(m_epfd);
    }

    // Returns at the end of every connection or at the deadline.
    void Run(int n, double timeoutS);
    // Descriptors of held connections, handed over to the caller.
    std::vector<int> TakeHeld();

    int completed = 0;
    std::int64_t bytes = 0;
    double start = 0, lastDone = 0;
    std::vector<std::string> errors;
    int failures = 0;

  private:
    void StartOne();
    void OnReadable(Conn& c);
    void OnBytes(Conn& c, const unsigned char* p, std::size_t n);
    void Finish(Conn& c);
    void Fail(Conn& c, const std::string& why);
    void Release(Conn& c);
    std::string Where(const Conn& c) const;

    const sockaddr_in m_target;
    const Exchange& m_ex;
    const Role m_role;
    int m_epfd = -1;
    int m_started = 0, m_total = 0, m_connecting = 0, m_open = 0;
    std::vector<std::unique_ptr<Conn>> m_conns;
    std::vector<unsigned char> m_scratch;
};

std::string Driver::Where(const Conn& c) const {
    std::string at =
        "offset " + std::to_string(c.offset) + " of " + std::to_string(m_ex.bytes.size());
    if (const ExchangeFile* f = m_ex.FileAt(c.offset))
        at += " (file " + f->name + ")";
    return at;
}

void Driver::Release(Conn& c) {
    c.ended = true;
    --m_open;
    if (!c.parser.ReplyTaken())
        --m_connecting;
    ::epoll_ctl(m_epfd, EPOLL_CTL_DEL, c.fd, nullptr);
}

void Driver::Fail(Conn& c, const std::string& why) {
    if (c.ended)
        return;
    ++failures;
    if (errors.size() < kErrorLines)
        errors.push_back("client " + std::to_string(c.index) + ": " + why);
    Release(c);
    ::close(c.fd);
    c.fd = -1;
}

void Driver::Finish(Conn& c) {
    ++completed;
    bytes += static_cast<std::int64_t>(c.offset);
    Release(c);
    ::close(c.fd);
    c.fd = -1;
}

void Driver::StartOne() {
    auto c = std::make_unique<Conn>();
    c->role = m_role;
    c->index = m_started;
    c->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ++m_started;
    ++m_open;
    ++m_connecting;
    Conn& ref = *c;
    m_conns.push_back(std::move(c));
    if (ref.fd < 0) {
        Fail(ref, std::string("socket: ") + std::strerror(errno));
        return;
    }
    if (::connect(ref.fd, reinterpret_cast<const sockaddr*>(&m_target), sizeof m_target) != 0 &&
        errno != EINPROGRESS) {
        Fail(ref, std::string("connect: ") + std::strerror(errno));
        return;
    }
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.ptr = &ref;
    ::epoll_ctl(m_epfd, EPOLL_CTL_ADD, ref.fd, &ev);
}

void Driver::OnBytes(Conn& c, const unsigned char* p, std::size_t n) {
    if (c.offset + n > m_ex.bytes.size()) {
        Fail(c, "more bytes than owed at " + Where(c));
        return;
    }
    if (std::memcmp(p, m_ex.bytes.data() + c.offset, n) != 0) {
        std::size_t i = 0;
        while (p[i] == m_ex.bytes[c.offset + i])
            ++i;
        c.offset += i;
        Fail(c, "a byte differs from the published one at " + Where(c));
        return;
    }
    const bool hadReply = c.parser.ReplyTaken();
    if (!c.parser.Feed(p, n)) {
        Fail(c, c.parser.Error() + " at " + Where(c));
        return;
    }
    c.offset += n;
    if (c.parser.ReplyTaken() && !hadReply) {
        --m_connecting;
        if (c.role != Role::Idle) {
            unsigned char request[wire::kVersionRequestSize];
            wire::VersionRequest r;
            r.version[0] = m_ex.pair[0];
            r.version[1] = m_ex.pair[1];
            wire::Encode(r, request);
            // A fresh socket's buffer always has room for 9 bytes.
            if (::send(c.fd, request, sizeof request, MSG_NOSIGNAL) != sizeof request) {
                Fail(c, std::string("sending the version request: ") + std::strerror(errno));
                return;
            }
        }
        if (c.role != Role::Full) {
            ++completed;
            Release(c);
            return;
        }
    }
    if (c.parser.Where() == StreamParser::Step::End && !c.done) {
        c.done = true;
        lastDone = NowSeconds();
    }
}

void Driver::OnReadable(Conn& c) {
    // A quiet connection takes the reply and not one byte more.
    const std::size_t want =
        c.role == Role::Full ? m_scratch.size() : wire::kVersionReplySize - c.offset;
    const ssize_t n = ::recv(c.fd, m_scratch.data(), want, 0);
    if (n > 0) {
        OnBytes(c, m_scratch.data(), static_cast<std::size_t>(n));
    } else if (n == 0) {
        if (c.done)
            Finish(c);
        else
            Fail(c, "closed by the server at " + Where(c));
    } else if (errno != EAGAIN && errno != EINTR) {
        Fail(c, std::string(c.offset == 0 ? "connect: " : "recv: ") + std::strerror(errno) +
                    " at " + Where(c));
    }
}

void Driver::Run(int n, double timeoutS) {
    m_total = n;
    m_conns.reserve(static_cast<std::size_t>(n));
    start = lastDone = NowSeconds();
    const double deadline = start + timeoutS;
    epoll_event events[256];
    for (;;) {
        while (m_started < m_total && m_connecting < kConnecting)
            StartOne();
        if (m_open == 0 && m_started == m_total)
            return;
        const double left = deadline - NowSeconds();
        if (left <= 0)
            break;
        const int k = ::epoll_wait(m_epfd, events, 256, static_cast<int>(left * 1000) + 1);
        for (int i = 0; i < k; ++i) {
            Conn& c = *static_cast<Conn*>(events[i].data.ptr);
            if (c.ended)
                continue;
            if ((events[i].events & EPOLLERR) && !(events[i].events & EPOLLIN)) {
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
                Fail(c, std::string(c.offset == 0 ? "connect: " : "lost: ") +
                            std::strerror(err ? err : ECONNRESET));
                continue;
            }
            OnReadable(c);
        }
    }
    for (auto& c : m_conns)
        if (!c->ended)
            Fail(*c, "timed out at " + Where(*c));
    for (; m_started < m_total; ++m_started)
        ++failures;
}

std::vector<int> Driver::TakeHeld() {
    std::vector<int> fds;
    for (auto& c : m_conns)
        if (c->fd >= 0) {
            fds.push_back(c->fd);
            c->fd = -1;
        }
    return fds;
}

} // namespace

WaveResult RunWave(const sockaddr_in& target, int clients, const Exchange& ex, double timeoutS) {
    Driver d(target, ex, Role::Full);
    d.Run(clients, timeoutS);
    WaveResult r;
    r.clients = clients;
    r.completed = d.completed;
    r.bytes = d.bytes;
    r.seconds = d.lastDone - d.start;
    r.errors = std::move(d.errors);
    return r;
}

bool HeldConnections::Open(const sockaddr_in& target, int n, Kind kind, const Exchange& ex,
                           double timeoutS, std::string& error) {
    Driver d(target, ex, kind == Kind::Idle ? Role::Idle : Role::Stalled);
    d.Run(n, timeoutS);
    for (int fd : d.TakeHeld())
        m_fds.push_back(fd);
    if (d.completed == n)
        return true;
    error = std::to_string(n - d.completed) + " of " + std::to_string(n) +
            " connections did not get their version reply";
    if (!d.errors.empty())
        error += "; first: " + d.errors.front();
    return false;
}

std::int64_t HeldConnections::Unread() const {
    std::int64_t sum = 0;
    for (int fd : m_fds) {
        int n = 0;
        if (::ioctl(fd, FIONREAD, &n) == 0)
            sum += n;
    }
    return sum;
}

void HeldConnections::CloseAll() {
    for (int fd : m_fds)
        ::close(fd);
    m_fds.clear();
}

} // namespace loadbench
