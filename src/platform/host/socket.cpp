// Host backend: CAsyncSocket and CSocket over non-blocking BSD sockets.
//
// Divisions:
//   1. The socket's entry in the event loop: readiness -> notifications
//   2. Address resolution with a deadline
//   3. CAsyncSocket
//   4. CSocket: the blocking calls as restricted waits
//
// Notification rules, as Windows Sockets posts them:
//   - FD_READ is re-enabled by each Receive: after an OnReceive the socket is
//     not watched for data again until the handler (or anyone) calls Receive,
//     so one receive per notification drains the socket over successive ones;
//   - FD_CLOSE comes once, after the data that preceded the peer's close has
//     been read; 0 for an orderly close, the WSA error number for a reset;
//   - nothing after Close.
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "platform/host/errors.h"
#include "platform/host/event_loop.h"
#include "platform/host/frontend.h"
#include "platform/host/syscalls.h"
#include "platform/host/winsock_addr.h"
#include "platform/socket.h"

#include <cstring>

namespace {

std::atomic<int> g_connectTimeoutMs{20000};

int SocketError(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    if (tvhost::syscalls.getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    return err;
}

int Fail(int wsaError) {
    WSASetLastError(wsaError);
    return SOCKET_ERROR;
}

} // namespace

// ---- 1. Loop entry -------------------------------------------------------------

struct CAsyncSocket::State : tvhost::SocketEntry {
    CAsyncSocket* owner = nullptr;
    long lEvent = 0;
    bool readArmed = true;   // FD_READ / FD_CLOSE may be reported
    bool writeArmed = false; // FD_WRITE may be reported (after a blocked send)
    bool connecting = false; // an asynchronous connect is in progress
    bool closeReported = false;

    short Interest() const override {
        if (closeReported)
            return 0;
        short ev = 0;
        if (connecting)
            return POLLOUT;
        if (readArmed && (lEvent & (FD_READ | FD_CLOSE)))
            ev |= POLLIN | POLLRDHUP;
        if (writeArmed && (lEvent & FD_WRITE))
            ev |= POLLOUT;
        return ev;
    }

    void Dispatch(short revents) override;
};

void CAsyncSocket::State::Dispatch(short revents) {
    // NOTE: every notification is the last use of this entry: the handler may
    // close or delete the socket.
    CAsyncSocket* s = owner;
    if (connecting) {
        connecting = false;
        int err = SocketError(fd);
        if (err == 0)
            writeArmed = true;
        if (lEvent & FD_CONNECT)
            s->OnConnect(err ? tvhost::WsaErrorFromErrno(err) : 0);
        return;
    }
    if (revents & POLLERR) {
        int err = SocketError(fd);
        closeReported = true;
        s->OnClose(tvhost::WsaErrorFromErrno(err ? err : ECONNRESET));
        return;
    }
    if (revents & (POLLIN | POLLRDHUP | POLLHUP)) {
        int waiting = 0;
        if ((revents & (POLLRDHUP | POLLHUP)) &&
            tvhost::syscalls.ioctl_fionread(fd, &waiting) == 0 && waiting == 0) {
            closeReported = true;
            if (lEvent & FD_CLOSE)
                s->OnClose(0);
            return;
        }
        readArmed = false;
        if (lEvent & FD_READ)
            s->OnReceive(0);
        return;
    }
    if (revents & POLLOUT) {
        writeArmed = false;
        s->OnSend(0);
    }
}

// ---- 2. Resolution -------------------------------------------------------------

namespace {

// A host name lookup on its own thread, so that a dead name server cannot
// hold the caller past its deadline. The thread owns a share of the state and
// may finish after the caller has given up.
struct Lookup {
    std::mutex mu;
    bool done = false;
    int wsaError = 0;
    in_addr_t addr = 0;
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ~Lookup() {
        if (fd >= 0)
            ::close(fd);
    }
};

void RunLookup(const std::shared_ptr<Lookup>& l, const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int rc = tvhost::syscalls.getaddrinfo(host.c_str(), nullptr, &hints, &res);
    std::lock_guard lock(l->mu);
    if (rc == 0 && res) {
        l->addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
    } else {
        l->wsaError = WSAHOST_NOT_FOUND;
    }
    if (res)
        ::freeaddrinfo(res);
    l->done = true;
    std::uint64_t one = 1;
    ssize_t w = ::write(l->fd, &one, sizeof one);
    (void)w;
}

// The IPv4 address of a dotted text or a host name; 0 with the WSA error set
// on failure.
bool Resolve(const char* text, std::int64_t deadlineMs, in_addr_t& out) {
    if (!text || !*text) {
        WSASetLastError(WSAHOST_NOT_FOUND);
        return false;
    }
    // NOTE: not inet_addr, which cannot tell 255.255.255.255 from a text
    // that is no address: the name lookup it would lead to gives the same
    // address back, after a thread started and waited for.
    ULONG dotted;
    if (tvhost::ParseDottedAddress(text, dotted)) {
        out = dotted;
        return true;
    }
    auto l = std::make_shared<Lookup>();
    try {
        std::thread(RunLookup, l, std::string(text)).detach();
    } catch (const std::system_error&) {
        WSASetLastError(WSAENOBUFS);
        return false;
    }
    tvhost::WaitRestricted(l->fd, POLLIN, deadlineMs);
    std::lock_guard lock(l->mu);
    if (!l->done) {
        WSASetLastError(WSAETIMEDOUT);
        return false;
    }
    if (l->wsaError) {
        WSASetLastError(l->wsaError);
        return false;
    }
    out = l->addr;
    return true;
}

} // namespace

void tvhost::SetConnectTimeoutMs(int ms) {
    g_connectTimeoutMs.store(ms);
}

// ---- 3. CAsyncSocket -----------------------------------------------------------

BOOL CAsyncSocket::Create(UINT nSocketPort, int nSocketType, long lEvent,
                          const char* lpszSocketAddress) {
    if (m_pState || nSocketType != SOCK_STREAM) {
        WSASetLastError(WSAEINVAL);
        return FALSE;
    }
    tvhost::BindUiThreadIfUnbound();
    int fd = tvhost::syscalls.socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        WSASetLastError(tvhost::WsaErrorFromErrno(errno));
        return FALSE;
    }
    if (nSocketPort != 0 || (lpszSocketAddress && *lpszSocketAddress)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<uint16_t>(nSocketPort));
        local.sin_addr.s_addr =
            lpszSocketAddress && *lpszSocketAddress ? inet_addr(lpszSocketAddress) : INADDR_ANY;
        if (tvhost::syscalls.bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            WSASetLastError(tvhost::WsaErrorFromErrno(errno));
            tvhost::syscalls.close(fd);
            return FALSE;
        }
    }
    auto* st = new State;
    st->fd = fd;
    st->owner = this;
    st->lEvent = lEvent;
    m_pState = st;
    m_hSocket = static_cast<SOCKET>(fd);
    tvhost::AddSocket(st);
    return TRUE;
}

namespace {

// Starts a non-blocking connect; 0, or the errno of an immediate failure.
int StartConnect(int fd, in_addr_t addr, UINT port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    peer.sin_addr.s_addr = addr;
    if (tvhost::syscalls.connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0)
        return 0;
    return errno == EINPROGRESS ? 0 : errno;
}

} // namespace

BOOL CAsyncSocket::Connect(const char* lpszHostAddress, UINT nHostPort) {
    if (!m_pState) {
        WSASetLastError(WSAENOTSOCK);
        return FALSE;
    }
    in_addr_t addr;
    if (!Resolve(lpszHostAddress, tvhost::NowMs() + g_connectTimeoutMs.load(), addr))
        return FALSE;
    int err = StartConnect(m_pState->fd, addr, nHostPort);
    if (err != 0) {
        WSASetLastError(tvhost::WsaErrorFromErrno(err));
        return FALSE;
    }
    m_pState->connecting = true; // OnConnect follows from the loop
    WSASetLastError(WSAEWOULDBLOCK);
    return FALSE;
}

int CAsyncSocket::Receive(void* lpBuf, int nBufLen, int nFlags) {
    if (!m_pState)
        return Fail(WSAENOTSOCK);
    m_pState->readArmed = true;
    if (nBufLen <= 0)
        return nBufLen == 0 ? 0 : Fail(WSAEFAULT);
    ssize_t n = tvhost::syscalls.recv(m_pState->fd, lpBuf, static_cast<size_t>(nBufLen), nFlags);
    if (n < 0)
        return Fail(tvhost::WsaErrorFromErrno(errno));
    return static_cast<int>(n);
}

int CAsyncSocket::Send(const void* lpBuf, int nBufLen, int nFlags) {
    if (!m_pState)
        return Fail(WSAENOTSOCK);
    if (nBufLen <= 0)
        return nBufLen == 0 ? 0 : Fail(WSAEFAULT);
    ssize_t n = tvhost::syscalls.send(m_pState->fd, lpBuf, static_cast<size_t>(nBufLen),
                                      nFlags | MSG_NOSIGNAL);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            m_pState->writeArmed = true;
        return Fail(tvhost::WsaErrorFromErrno(errno));
    }
    return static_cast<int>(n);
}

void CAsyncSocket::Close() {
    if (!m_pState)
        return;
    tvhost::RemoveSocket(m_pState);
    tvhost::syscalls.close(m_pState->fd);
    delete m_pState;
    m_pState = nullptr;
    m_hSocket = INVALID_SOCKET;
}

namespace {

BOOL CopyName(int rc, const sockaddr_in& a, SOCKADDR* lpSockAddr, int* lpSockAddrLen) {
    if (rc != 0) {
        WSASetLastError(tvhost::WsaErrorFromErrno(errno));
        return FALSE;
    }
    if (!lpSockAddr || !lpSockAddrLen || *lpSockAddrLen < static_cast<int>(sizeof(SOCKADDR_IN))) {
        WSASetLastError(WSAEFAULT);
        return FALSE;
    }
    SOCKADDR_IN out{};
    out.sin_family = AF_INET; // 2 in the C library and in Windows Sockets alike
    out.sin_port = a.sin_port;
    out.sin_addr.S_un.S_addr = a.sin_addr.s_addr;
    std::memcpy(lpSockAddr, &out, sizeof out);
    *lpSockAddrLen = sizeof out;
    return TRUE;
}

} // namespace

BOOL CAsyncSocket::GetSockName(SOCKADDR* lpSockAddr, int* lpSockAddrLen) {
    if (!m_pState) {
        WSASetLastError(WSAENOTSOCK);
        return FALSE;
    }
    sockaddr_in a{};
    socklen_t len = sizeof a;
    int rc = tvhost::syscalls.getsockname(m_pState->fd, reinterpret_cast<sockaddr*>(&a), &len);
    return CopyName(rc, a, lpSockAddr, lpSockAddrLen);
}

BOOL CAsyncSocket::GetPeerName(SOCKADDR* lpSockAddr, int* lpSockAddrLen) {
    if (!m_pState) {
        WSASetLastError(WSAENOTSOCK);
        return FALSE;
    }
    sockaddr_in a{};
    socklen_t len = sizeof a;
    int rc = tvhost::syscalls.getpeername(m_pState->fd, reinterpret_cast<sockaddr*>(&a), &len);
    return CopyName(rc, a, lpSockAddr, lpSockAddrLen);
}

// ---- 4. CSocket ----------------------------------------------------------------

BOOL CSocket::Connect(const char* lpszHostAddress, UINT nHostPort) {
    if (!m_pState) {
        WSASetLastError(WSAENOTSOCK);
        return FALSE;
    }
    std::int64_t deadline = tvhost::NowMs() + g_connectTimeoutMs.load();
    in_addr_t addr;
    if (!Resolve(lpszHostAddress, deadline, addr))
        return FALSE;
    int fd = m_pState->fd;
    int err = StartConnect(fd, addr, nHostPort);
    if (err == 0) {
        m_bBlocking = TRUE;
        short rev = tvhost::WaitRestricted(fd, POLLOUT, deadline);
        m_bBlocking = FALSE;
        err = rev == 0 ? ETIMEDOUT : SocketError(fd);
    }
    if (err != 0) {
        WSASetLastError(tvhost::WsaErrorFromErrno(err));
        return FALSE;
    }
    return TRUE;
}

int CSocket::Receive(void* lpBuf, int nBufLen, int nFlags) {
    for (;;) {
        int n = CAsyncSocket::Receive(lpBuf, nBufLen, nFlags);
        if (n != SOCKET_ERROR || WSAGetLastError() != WSAEWOULDBLOCK)
            return n;
        m_bBlocking = TRUE;
        tvhost::WaitRestricted(m_pState->fd, POLLIN | POLLRDHUP, 0);
        m_bBlocking = FALSE;
    }
}

int CSocket::Send(const void* lpBuf, int nBufLen, int nFlags) {
    int left = nBufLen;
    const char* p = static_cast<const char*>(lpBuf);
    while (left > 0) {
        int n = CAsyncSocket::Send(p, left, nFlags);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                return SOCKET_ERROR;
            m_bBlocking = TRUE;
            tvhost::WaitRestricted(m_pState->fd, POLLOUT, 0);
            m_bBlocking = FALSE;
            continue;
        }
        p += n;
        left -= n;
    }
    if (m_pState)
        m_pState->writeArmed = false;
    return nBufLen - left;
}
