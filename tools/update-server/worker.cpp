// A serving thread's epoll loop and the connection state machine (see
// worker.h). A Linux tool: POSIX and Linux calls are fine here.
#include "worker.h"

#include "protocol/wire.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/sockios.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tvserver {

namespace {

// How often a draining connection is asked whether the client has
// acknowledged everything.
const int kDrainCheckMs = 250;
// Most a connection sends in one turn, so one fast client cannot hold the
// thread while others wait.
const std::int64_t kTurnBytes = 512 * 1024;
// Most a connection keeps queued in the kernel that the network has not
// taken yet (besides what is in flight).
const int kNotSentLowat = 128 * 1024;
// Refusals logged one by one per second; the rest are counted.
const int kRefusalLinesPerSecond = 20;
const std::uint64_t kListenTag = 1, kWakeTag = 2;
const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

std::string PeerText(const sockaddr_in& a) {
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

// Drops the connection with a reset instead of an orderly close: the kernel
// frees its buffers at once, and a real client shows "connection lost, run
// again" instead of waiting for ever.
void ResetAndClose(int fd) {
    const linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

} // namespace

struct Connection {
    enum class State : std::uint8_t { AwaitRequest, Sending, Draining };

    int fd = -1;
    sockaddr_in peer{};
    std::shared_ptr<const Snapshot> snapshot; // the one the reply came from
    State state = State::AwaitRequest;
    bool haveRequest = false;
    bool inFile = false;
    std::uint8_t requestHeld = 0;
    unsigned char request[wire::kVersionRequestSize];
    std::uint32_t pair[2] = {0, 0};
    std::int64_t startMs = 0;
    std::int64_t lastProgressMs = 0;
    // Deadline list membership.
    int list = -1;
    std::int64_t deadline = 0;
    Connection* prev = nullptr;
    Connection* next = nullptr;
    // The list being sent: per group the next index and how many remain.
    std::size_t nextIndex[2] = {0, 0};
    std::size_t remaining[2] = {0, 0};
    std::size_t listed = 0, filesSent = 0;
    std::size_t leftFiles = 0; // newer files held back by the 100 MiB rule
    std::int64_t leftBytes = 0;
    std::int64_t bytesSent = 0;
    int bodyFd = -1;
    off_t bodyOffset = 0;
    std::int64_t bodyLeft = 0;
    int unacked = 0; // while draining
    std::uint16_t headLen = 0, headSent = 0;
    unsigned char
        head[wire::kListHeaderSize + wire::kFileHeaderFixedSize + wire::kMaxNameLength + 1];
};

ConnectionLimits::Verdict ConnectionLimits::Admit(std::uint32_t addr) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_total > 0 && m_open >= m_total)
        return Verdict::OverTotal;
    if (m_perAddress > 0) {
        int& n = m_byAddress[addr];
        if (n >= m_perAddress)
            return Verdict::OverAddress;
        ++n;
    }
    ++m_open;
    return Verdict::Admitted;
}

void ConnectionLimits::Release(std::uint32_t addr) {
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_open;
    if (m_perAddress > 0) {
        const auto it = m_byAddress.find(addr);
        if (it != m_byAddress.end() && --it->second <= 0)
            m_byAddress.erase(it);
    }
}

Worker::Worker(ServerShared& shared) : m_shared(shared) {
    m_epfd = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    // Exclusive: one worker wakes per new connection, not all of them.
    ev.events = EPOLLIN | EPOLLEXCLUSIVE;
    ev.data.u64 = kListenTag;
    m_listening = ::epoll_ctl(m_epfd, EPOLL_CTL_ADD, shared.listenFd, &ev) == 0;
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeTag;
    ::epoll_ctl(m_epfd, EPOLL_CTL_ADD, shared.wakeFd, &ev);
}

Worker::~Worker() {
    ::close(m_epfd);
}

void Worker::Arm(Connection* c, ListKind kind, std::int64_t deadline) {
    DeadlineList& l = m_lists[kind];
    c->list = kind;
    c->deadline = deadline;
    c->prev = l.tail;
    c->next = nullptr;
    (l.tail ? l.tail->next : l.head) = c;
    l.tail = c;
}

void Worker::Disarm(Connection* c) {
    if (c->list < 0)
        return;
    DeadlineList& l = m_lists[c->list];
    (c->prev ? c->prev->next : l.head) = c->next;
    (c->next ? c->next->prev : l.tail) = c->prev;
    c->prev = c->next = nullptr;
    c->list = -1;
}

void Worker::Watch(Connection* c, std::uint32_t events) {
    epoll_event ev{};
    ev.events = events;
    ev.data.ptr = c;
    ::epoll_ctl(m_epfd, EPOLL_CTL_MOD, c->fd, &ev);
}

void Worker::Refuse(int fd, const sockaddr_in& peer, const char* why) {
    ResetAndClose(fd);
    Counters& n = m_shared.counters;
    ++n.refused;
    // Under a flood the log would grow without bound: a few lines a second,
    // and the count of the rest in the next one.
    static std::atomic<std::int64_t> windowSecond{0};
    static std::atomic<int> inWindow{0};
    const std::int64_t second = MonotonicMs() / 1000;
    if (windowSecond.exchange(second) != second)
        inWindow = 0;
    if (++inWindow > kRefusalLinesPerSecond) {
        ++n.logSuppressed;
        return;
    }
    const std::int64_t unlogged = n.logSuppressed.exchange(0);
    LogLine("client=" + PeerText(peer) + " outcome=refused reason=\"" + why + "\"" +
            (unlogged ? " refusals-not-logged=" + std::to_string(unlogged) : ""));
}

void Worker::AcceptAll(std::int64_t now) {
    const ServeOptions& o = m_shared.options;
    for (int i = 0; i < 64; ++i) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = ::accept4(m_shared.listenFd, reinterpret_cast<sockaddr*>(&peer), &len,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE)
                LogLine(std::string("cannot accept: ") + std::strerror(errno));
            return;
        }
        switch (m_shared.limits.Admit(peer.sin_addr.s_addr)) {
        case ConnectionLimits::Verdict::OverTotal:
            Refuse(fd, peer, "open connections at the total cap");
            continue;
        case ConnectionLimits::Verdict::OverAddress:
            Refuse(fd, peer, "open connections from this address at the per-address cap");
            continue;
        case ConnectionLimits::Verdict::Admitted:
            break;
        }
        auto* c = new Connection;
        c->fd = fd;
        c->peer = peer;
        c->snapshot = m_shared.CurrentSnapshot();
        c->startMs = c->lastProgressMs = now;
        ++m_count;
        ++m_shared.counters.open;
        ++m_shared.counters.accepted;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // Without it a client that stops reading pins a send queue of up to
        // tcp_wmem's maximum until the stall limit; with it the socket is
        // writable only while little is unsent, so sendfile queues no more.
        ::setsockopt(fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &kNotSentLowat, sizeof kNotSentLowat);
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.ptr = c;
        ::epoll_ctl(m_epfd, EPOLL_CTL_ADD, fd, &ev);
        Arm(c, kRequestList, now + o.requestTimeoutMs);
        wire::VersionReply reply;
        reply.version[0] = c->snapshot->Version()[0];
        reply.version[1] = c->snapshot->Version()[1];
        reply.redirectAddr = o.noRedirect ? 0 : c->snapshot->NextRedirect();
        unsigned char buf[wire::kVersionReplySize];
        wire::Encode(reply, buf);
        // A fresh socket's buffer always has room for 13 bytes.
        const ssize_t n = ::send(fd, buf, sizeof buf, MSG_NOSIGNAL);
        if (n != static_cast<ssize_t>(sizeof buf)) {
            End(c, "lost before the version reply", false, now);
        } else {
            c->bytesSent = n;
            m_shared.counters.bytes += n;
        }
        if (o.once) {
            // One client only: stop listening, and let this one finish.
            m_shared.stopLevel = 1;
            ::shutdown(m_shared.listenFd, SHUT_RD);
            return;
        }
    }
}

void Worker::Progress(Connection* c, std::int64_t now) {
    c->lastProgressMs = now;
    if (c->list == kProgressList && c->next != nullptr) {
        Disarm(c);
        Arm(c, kProgressList, now + m_shared.options.stallTimeoutMs);
    } else if (c->list == kProgressList) {
        c->deadline = now + m_shared.options.stallTimeoutMs;
    }
}

// Reads and drops what a client sends after its request; false when the
// connection ended.
bool Worker::DiscardInput(Connection* c) {
    unsigned char sink[4096];
    const ssize_t n = ::recv(c->fd, sink, sizeof sink, 0);
    if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR)))
        return true;
    const std::int64_t now = MonotonicMs();
    if (n < 0) {
        End(c, std::string("lost: ") + std::strerror(errno), false, now);
        return false;
    }
    if (c->state == Connection::State::Draining) {
        int unacked = 0;
        ::ioctl(c->fd, SIOCOUTQ, &unacked);
        End(c, unacked == 0 ? "complete" : "closed by the client before the end", false, now);
    } else {
        End(c, "closed by the client during the transfer", false, now);
    }
    return false;
}

void Worker::OnRequestBytes(Connection* c, std::int64_t now) {
    const ssize_t n =
        ::recv(c->fd, c->request + c->requestHeld, sizeof c->request - c->requestHeld, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n == 0) {
        // An up-to-date or redirected client never asks; it just goes.
        End(c, "no version request (up to date, redirected or gone)", false, now);
        return;
    }
    if (n < 0) {
        End(c, std::string("lost: ") + std::strerror(errno), false, now);
        return;
    }
    c->requestHeld = static_cast<std::uint8_t>(c->requestHeld + n);
    if (c->requestHeld < sizeof c->request)
        return;
    const wire::VersionRequest r = wire::DecodeVersionRequest(c->request);
    if (r.tag != wire::kTag) {
        End(c, "bad version request tag " + std::to_string(r.tag), true, now);
        return;
    }
    c->haveRequest = true;
    c->pair[0] = r.version[0];
    c->pair[1] = r.version[1];
    StartList(c, now);
}

void Worker::StartList(Connection* c, std::int64_t now) {
    // The client refuses a list above 100 MiB unless it is on 127.0.0.1; the
    // header cannot announce more than 2^31 - 1 bytes in any case.
    const bool limited = c->peer.sin_addr.s_addr != kLoopback || m_shared.options.limitLoopback;
    const Selection s = c->snapshot->Select(c->pair, limited ? kOffLoopbackLimit : kWireLimit);
    wire::ListHeader h;
    h.groupFiles[0] = static_cast<std::uint16_t>(s.count[0]);
    h.groupFiles[1] = static_cast<std::uint16_t>(s.count[1]);
    h.totalSize = static_cast<std::int32_t>(s.bytes);
    wire::Encode(h, c->head);
    c->headLen = wire::kListHeaderSize;
    c->headSent = 0;
    for (int g = 0; g < 2; ++g) {
        c->nextIndex[g] = s.begin[g];
        c->remaining[g] = s.count[g];
    }
    c->listed = s.count[0] + s.count[1];
    c->leftFiles = s.leftFiles;
    c->leftBytes = s.leftBytes;
    c->state = Connection::State::Sending;
    Disarm(c);
    c->lastProgressMs = now;
    Arm(c, kProgressList, now + m_shared.options.stallTimeoutMs);
    Watch(c, EPOLLIN | EPOLLOUT);
    SendSome(c, now);
}

// True when the next file's header is ready; false when the list is done or
// the connection ended (the caller tells the two apart by the count).
bool Worker::StartNextFile(Connection* c) {
    const int g = c->remaining[0] > 0 ? 0 : 1;
    if (c->remaining[g] == 0)
        return false;
    const std::size_t index = c->nextIndex[g]++;
    --c->remaining[g];
    const SnapshotFile& f = c->snapshot->Files()[index];
    c->bodyFd = -1;
    if (f.size > 0 && (c->bodyFd = c->snapshot->OpenBody(index)) < 0) {
        End(c, "server error: cannot open the body of " + f.name + ": " + std::strerror(errno),
            true, MonotonicMs());
        return false;
    }
    const int n = wire::EncodeFileHeader(f.version, static_cast<std::int32_t>(f.size),
                                         f.name.c_str(), c->head);
    c->headLen = static_cast<std::uint16_t>(n);
    c->headSent = 0;
    c->bodyOffset = 0;
    c->bodyLeft = f.size;
    c->inFile = true;
    return true;
}

void Worker::SendSome(Connection* c, std::int64_t now) {
    std::int64_t budget = kTurnBytes;
    while (budget > 0) {
        ssize_t n = 0;
        if (c->headSent < c->headLen) {
            const bool more = c->bodyLeft > 0 || c->remaining[0] + c->remaining[1] > 0;
            n = ::send(c->fd, c->head + c->headSent, c->headLen - c->headSent,
                       MSG_NOSIGNAL | (more ? MSG_MORE : 0));
            if (n > 0)
                c->headSent = static_cast<std::uint16_t>(c->headSent + n);
        } else if (c->bodyLeft > 0) {
            n = ::sendfile(c->fd, c->bodyFd, &c->bodyOffset,
                           static_cast<std::size_t>(std::min(c->bodyLeft, budget)));
            if (n == 0) {
                End(c, "server error: a body file is shorter than its header says", true, now);
                return;
            }
            if (n > 0)
                c->bodyLeft -= n;
        } else {
            if (c->inFile) {
                if (c->bodyFd >= 0)
                    ::close(c->bodyFd);
                c->bodyFd = -1;
                c->inFile = false;
                ++c->filesSent;
            }
            const std::size_t before = m_count;
            if (!StartNextFile(c)) {
                if (m_count == before)
                    FinishSending(c, now);
                return;
            }
            continue;
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN)
                End(c, std::string("lost: ") + std::strerror(errno), false, now);
            return;
        }
        c->bytesSent += n;
        m_shared.counters.bytes += n;
        budget -= n;
        Progress(c, now);
    }
}

void Worker::FinishSending(Connection* c, std::int64_t now) {
    // Our side is done; the client still has to take what is queued.
    ::shutdown(c->fd, SHUT_WR);
    c->state = Connection::State::Draining;
    c->unacked = INT32_MAX;
    Watch(c, EPOLLIN | EPOLLRDHUP);
    Disarm(c);
    CheckDrain(c, now);
}

void Worker::CheckDrain(Connection* c, std::int64_t now) {
    int unacked = 0;
    if (::ioctl(c->fd, SIOCOUTQ, &unacked) != 0)
        unacked = 0;
    if (unacked == 0) {
        End(c, "complete", false, now);
        return;
    }
    if (unacked < c->unacked)
        c->lastProgressMs = now;
    c->unacked = unacked;
    if (now - c->lastProgressMs >= m_shared.options.stallTimeoutMs) {
        End(c, "stalled: the client stopped taking data", true, now);
        return;
    }
    Disarm(c);
    Arm(c, kDrainList, now + kDrainCheckMs);
}

void Worker::Dispatch(Connection* c, std::uint32_t events, std::int64_t now) {
    if (events & EPOLLERR) {
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(c->fd, SOL_SOCKET, SO_ERROR, &err, &len);
        End(c, std::string("lost: ") + std::strerror(err ? err : ECONNRESET), false, now);
        return;
    }
    switch (c->state) {
    case Connection::State::AwaitRequest:
        OnRequestBytes(c, now);
        return;
    case Connection::State::Sending:
        if ((events & (EPOLLIN | EPOLLHUP)) && !DiscardInput(c))
            return;
        if (events & EPOLLOUT)
            SendSome(c, now);
        return;
    case Connection::State::Draining:
        if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP))
            DiscardInput(c);
        return;
    }
}

void Worker::Expire(std::int64_t now) {
    while (Connection* c = m_lists[kRequestList].head) {
        if (c->deadline > now)
            break;
        End(c,
            "no version request within " + std::to_string(m_shared.options.requestTimeoutMs) +
                " ms",
            false, now);
    }
    while (Connection* c = m_lists[kProgressList].head) {
        if (c->deadline > now)
            break;
        End(c, "stalled: the client stopped taking data", true, now);
    }
    while (Connection* c = m_lists[kDrainList].head) {
        if (c->deadline > now)
            break;
        CheckDrain(c, now);
    }
}

int Worker::WaitMs(std::int64_t now) const {
    std::int64_t until = now + 1000;
    for (const DeadlineList& l : m_lists)
        if (l.head)
            until = std::min(until, l.head->deadline);
    if (m_shared.stopLevel.load() == 1)
        until = std::min(until, m_shared.graceEndMs.load());
    return static_cast<int>(std::max<std::int64_t>(0, until - now));
}

void Worker::End(Connection* c, const std::string& outcome, bool reset, std::int64_t now) {
    Disarm(c);
    if (c->bodyFd >= 0)
        ::close(c->bodyFd);
    if (reset)
        ResetAndClose(c->fd);
    else
        ::close(c->fd);
    m_shared.limits.Release(c->peer.sin_addr.s_addr);
    Counters& n = m_shared.counters;
    --n.open;
    if (outcome == "complete")
        ++n.served;
    else if (outcome.rfind("stalled", 0) == 0 || outcome.rfind("no version request within", 0) == 0)
        ++n.dropped;
    else if (c->haveRequest)
        ++n.failed;
    std::string line =
        "client=" + PeerText(c->peer) + " snapshot=" + std::to_string(c->snapshot->Id()) +
        " pair=" +
        (c->haveRequest ? std::to_string(c->pair[0]) + "," + std::to_string(c->pair[1])
                        : std::string("-")) +
        " files=" + std::to_string(c->filesSent) + "/" + std::to_string(c->listed) +
        " bytes=" + std::to_string(c->bytesSent);
    char duration[32];
    std::snprintf(duration, sizeof duration, " duration=%.3fs",
                  static_cast<double>(now - c->startMs) / 1000.0);
    line += duration;
    line += " outcome=\"" + outcome + "\"";
    if (c->leftFiles > 0)
        line += " needs-more-runs: " + std::to_string(c->leftFiles) + " files, " +
                std::to_string(c->leftBytes) + " bytes held back by the 104857600-byte limit";
    LogLine(line);
    --m_count;
    delete c;
}

void Worker::EndAll(std::int64_t now) {
    for (DeadlineList& l : m_lists)
        while (l.head)
            End(l.head, "cut at shutdown", true, now);
}

void Worker::Run() {
    epoll_event events[128];
    for (;;) {
        std::int64_t now = MonotonicMs();
        Expire(now);
        const int level = m_shared.stopLevel.load();
        if (level >= 1 && m_listening) {
            ::epoll_ctl(m_epfd, EPOLL_CTL_DEL, m_shared.listenFd, nullptr);
            m_listening = false;
        }
        if (level == 2 || (level == 1 && now >= m_shared.graceEndMs.load()))
            EndAll(now);
        if (level >= 1 && m_count == 0)
            return;
        const int n = ::epoll_wait(m_epfd, events, 128, WaitMs(now));
        now = MonotonicMs();
        for (int i = 0; i < n; ++i) {
            if (events[i].data.u64 == kListenTag) {
                if (m_listening)
                    AcceptAll(now);
            } else if (events[i].data.u64 == kWakeTag) {
                // Stays readable: look once, then stop watching it.
                ::epoll_ctl(m_epfd, EPOLL_CTL_DEL, m_shared.wakeFd, nullptr);
            } else {
                Dispatch(static_cast<Connection*>(events[i].data.ptr), events[i].events, now);
            }
        }
    }
}

} // namespace tvserver
