// The bare sender's process and its loop (see bare_sender.h).
#include "bare_sender.h"

#include "protocol/wire.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace loadbench {

namespace {

// The same fairness slice the server uses, so one fast connection cannot
// starve the rest here either.
const std::size_t kTurnBytes = 512 * 1024;

struct Peer {
    int fd = -1;
    std::size_t sent = 0;
    std::size_t requestHeld = 0;
};

void Watch(int epfd, int op, Peer* p, std::uint32_t events) {
    epoll_event ev{};
    ev.events = events;
    ev.data.ptr = p;
    ::epoll_ctl(epfd, op, p->fd, &ev);
}

void Drop(Peer* p) {
    ::close(p->fd);
    delete p;
}

void Accept(int listenFd, int epfd, const Exchange& ex) {
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        auto* p = new Peer;
        p->fd = fd;
        const ssize_t n = ::send(fd, ex.bytes.data(), wire::kVersionReplySize, MSG_NOSIGNAL);
        if (n != wire::kVersionReplySize) {
            Drop(p);
            continue;
        }
        p->sent = wire::kVersionReplySize;
        Watch(epfd, EPOLL_CTL_ADD, p, EPOLLIN);
    }
}

void OnEvent(Peer* p, int epfd, const Exchange& ex) {
    if (p->requestHeld < wire::kVersionRequestSize) {
        unsigned char request[wire::kVersionRequestSize];
        const ssize_t n = ::recv(p->fd, request, sizeof request - p->requestHeld, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            Drop(p);
            return;
        }
        if (n > 0 && (p->requestHeld += static_cast<std::size_t>(n)) == sizeof request)
            Watch(epfd, EPOLL_CTL_MOD, p, EPOLLOUT);
        return;
    }
    std::size_t budget = kTurnBytes;
    while (budget > 0 && p->sent < ex.bytes.size()) {
        const std::size_t want = std::min(budget, ex.bytes.size() - p->sent);
        const ssize_t n = ::send(p->fd, ex.bytes.data() + p->sent, want, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return;
            Drop(p);
            return;
        }
        p->sent += static_cast<std::size_t>(n);
        budget -= static_cast<std::size_t>(n);
    }
    // Nothing unread is left in the receive queue, so close() ends in order
    // and the kernel still delivers what is queued.
    if (p->sent == ex.bytes.size())
        Drop(p);
}

[[noreturn]] void Serve(int listenFd, const Exchange& ex) {
    const int epfd = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = nullptr;
    ::epoll_ctl(epfd, EPOLL_CTL_ADD, listenFd, &ev);
    epoll_event events[256];
    for (;;) {
        const int n = ::epoll_wait(epfd, events, 256, -1);
        for (int i = 0; i < n; ++i) {
            if (events[i].data.ptr == nullptr)
                Accept(listenFd, epfd, ex);
            else
                OnEvent(static_cast<Peer*>(events[i].data.ptr), epfd, ex);
        }
    }
}

} // namespace

bool BareSender::Start(const Exchange& ex, std::string& error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    m_addr.sin_family = AF_INET;
    m_addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof m_addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&m_addr), sizeof m_addr) != 0 ||
        ::listen(fd, 4096) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&m_addr), &len) != 0) {
        error = std::string("bare sender: cannot listen: ") + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(0);
        Serve(fd, ex);
    }
    ::close(fd);
    if (m_pid < 0) {
        error = std::string("bare sender: fork: ") + std::strerror(errno);
        return false;
    }
    return true;
}

BareSender::~BareSender() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace loadbench
