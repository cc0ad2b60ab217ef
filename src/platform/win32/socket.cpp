// Win32 backend: CAsyncSocket and CSocket over Windows Sockets 1.1, the
// framework's classic design: WSAAsyncSelect posts every socket's
// notifications to one hidden window of the user-interface thread, which turns
// them into OnReceive / OnClose ... calls.
//
// Divisions:
//   1. The notification window and the queue of notifications
//   2. Restricted waits: the blocking calls and the name lookup
//   3. CAsyncSocket
//   4. CSocket
//
// Delivery rules:
//   - every notification passes through one first-in first-out queue and is
//     delivered from the window's procedure, one at a time; a handler that
//     runs a modal loop (the server list) gets the later ones inside it;
//   - a blocking call of CSocket takes the notifications out of the system
//     queue while it waits, keeps the ones it does not wait for in order, and
//     has them delivered from the loop after it has returned;
//   - FD_CLOSE with data still waiting is held until that data has been read,
//     so an orderly close never cuts off bytes the peer sent before it;
//   - after Close nothing is delivered, also not what was already queued: a
//     socket created next may reuse the handle value.
#include "platform/socket.h"

#include "platform/win32/event_loop.h"
#include "platform/win32/syscalls.h"

#include <algorithm>
#include <deque>
#include <unordered_map>
#include <vector>

struct CAsyncSocket::State {
    CAsyncSocket* owner = nullptr;
    long lEvent = 0;        // the notifications the caller asked for
    bool closeHeld = false; // an orderly FD_CLOSE waits for the data to be read
};

using tvwin32::syscalls;

namespace {

const int kConnectTimeoutMs = 20000;
const DWORD kRestrictedPollMs = 100;
// What the blocking calls need from Winsock, whatever the caller asked for;
// the rest is filtered out at delivery.
const long kAlwaysSelected = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;

struct Notification {
    SOCKET s;
    LPARAM lParam; // WSAGETSELECTEVENT / WSAGETSELECTERROR
};

// NOTE: leaked on purpose (see event_loop.cpp): touched from window
// procedures that may still run while a worker ends the process.
std::unordered_map<SOCKET, CAsyncSocket*>& Sockets() {
    static auto* map = new std::unordered_map<SOCKET, CAsyncSocket*>;
    return *map;
}

std::deque<Notification>& Queue() {
    static auto* queue = new std::deque<Notification>;
    return *queue;
}

HWND g_notifyWnd = nullptr;
bool g_drainPosted = false;

// ---- 1. Notification window ---------------------------------------------------

bool DataWaiting(SOCKET s) {
    u_long n = 0;
    return syscalls.ioctlsocket(s, FIONREAD, &n) == 0 && n > 0;
}

void PostDrain() {
    if (!g_drainPosted && !Queue().empty() && g_notifyWnd) {
        g_drainPosted = true;
        PostMessageW(g_notifyWnd, tvwin32::kSocketDrainMessage, 0, 0);
    }
}

void Deliver(const Notification& n) {
    auto it = Sockets().find(n.s);
    if (it == Sockets().end())
        return;
    CAsyncSocket* sock = it->second;
    CAsyncSocket::State* st = sock->m_pState;
    const long event = WSAGETSELECTEVENT(n.lParam);
    const int error = WSAGETSELECTERROR(n.lParam);
    if (!(st->lEvent & event))
        return;
    switch (event) {
    case FD_READ:
        sock->OnReceive(error);
        break;
    case FD_WRITE:
        sock->OnSend(error);
        break;
    case FD_OOB:
        sock->OnOutOfBandData(error);
        break;
    case FD_ACCEPT:
        sock->OnAccept(error);
        break;
    case FD_CONNECT:
        sock->OnConnect(error);
        break;
    case FD_CLOSE:
        // Windows posts an orderly close as soon as the peer's FIN arrives,
        // also while data is still waiting; the FD_READ for that data is
        // queued or follows the next receive, and Receive lets the close go.
        if (error == 0 && (st->lEvent & FD_READ) && DataWaiting(n.s)) {
            st->closeHeld = true;
            break;
        }
        sock->OnClose(error);
        break;
    default:
        break;
    }
}

// Delivers the queue from the front, one notification at a time; a handler
// may close sockets or run a modal loop that delivers the rest. Nothing is
// delivered inside a restricted wait (a blocking call's or the install
// worker's): the queue keeps its order for the loop.
void Drain() {
    while (!tvwin32::InRestrictedWait() && !Queue().empty()) {
        const Notification n = Queue().front();
        Queue().pop_front();
        Deliver(n);
    }
}

void ForgetLookup(HANDLE task);

// NOTE: under Wine a thread with windows on the X display that has taken
// some 200 messages without waiting for one looks for X events every time it
// looks for a message (five system calls or so), until it next waits. A
// transfer keeps the queue busy for its whole length: ten calls per
// notification, more than the notification's own. A wait that returns at
// once (handling those events then) every kInputLookInterval notifications
// keeps the thread below that mark. On Windows it only returns.
const unsigned kInputLookInterval = 64;

void LookAtInputNowAndThen() {
    static unsigned s_notifications = 0;
    if (++s_notifications % kInputLookInterval == 0)
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT);
}

LRESULT CALLBACK NotifyProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case tvwin32::kSocketMessage:
        LookAtInputNowAndThen();
        Queue().push_back({static_cast<SOCKET>(wParam), lParam});
        Drain();
        return 0;
    case tvwin32::kSocketDrainMessage:
        g_drainPosted = false;
        Drain();
        return 0;
    case tvwin32::kHostLookupMessage:
        ForgetLookup(reinterpret_cast<HANDLE>(wParam)); // one its caller gave up on
        return 0;
    default:
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
}

bool EnsureNotifyWindow() {
    if (g_notifyWnd)
        return true;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = NotifyProc;
    wc.hInstance = tvwin32::Instance();
    wc.lpszClassName = L"TorvaneSocketNotify";
    RegisterClassW(&wc); // fails harmlessly when already registered
    g_notifyWnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  tvwin32::Instance(), nullptr);
    return g_notifyWnd != nullptr;
}

// Takes every queued notification of the system queue into ours, in order.
void TakeQueued() {
    MSG msg;
    while (PeekMessageW(&msg, g_notifyWnd, tvwin32::kSocketMessage, tvwin32::kSocketMessage,
                        PM_REMOVE))
        Queue().push_back({static_cast<SOCKET>(msg.wParam), msg.lParam});
}

// ---- 2. Restricted waits --------------------------------------------------------

// Runs the restricted pump until match(msg) accepts a message of the
// notification window, or the deadline (GetTickCount64, 0: none) passes.
// Socket notifications it does not accept are kept in order for later.
template <typename Match> bool WaitRestricted(ULONGLONG deadline, Match match) {
    const tvwin32::RestrictedWait wait;
    bool matched = false;
    for (;;) {
        tvwin32::ServeSentAndPaint();
        // NOTE: every PeekMessage clears the wake bit of what is already
        // queued, so the peek for the awaited messages comes last before the
        // wait; the wait is also bounded, as a second line of defence.
        MSG msg;
        while (!matched && PeekMessageW(&msg, g_notifyWnd, tvwin32::kSocketMessage,
                                        tvwin32::kHostLookupMessage, PM_REMOVE)) {
            if (match(msg))
                matched = true;
            else if (msg.message == tvwin32::kSocketMessage)
                Queue().push_back({static_cast<SOCKET>(msg.wParam), msg.lParam});
            else if (msg.message == tvwin32::kHostLookupMessage)
                ForgetLookup(reinterpret_cast<HANDLE>(msg.wParam));
            else
                g_drainPosted = false; // taken here; posted again below
        }
        if (matched)
            break;
        DWORD timeout = kRestrictedPollMs;
        if (deadline != 0) {
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                break;
            timeout = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, timeout));
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout,
                                  QS_POSTMESSAGE | tvwin32::kRestrictedWake);
    }
    // What is still in the system queue comes after what was kept here.
    TakeQueued();
    PostDrain(); // delivered by the loop, once this wait is over
    return matched;
}

// Waits for one of events on s; the notification's lParam, or false on
// timeout. An FD_CLOSE that ends the wait is also kept for delivery.
bool WaitForSocket(SOCKET s, long events, ULONGLONG deadline, LPARAM& lParam) {
    return WaitRestricted(deadline, [&](const MSG& msg) {
        if (msg.message != tvwin32::kSocketMessage || static_cast<SOCKET>(msg.wParam) != s ||
            !(WSAGETSELECTEVENT(msg.lParam) & events))
            return false;
        lParam = msg.lParam;
        if (WSAGETSELECTEVENT(msg.lParam) == FD_CLOSE)
            Queue().push_back({s, msg.lParam});
        return true;
    });
}

struct Lookup {
    HANDLE task = nullptr;
    char buf[MAXGETHOSTSTRUCT];
};

std::vector<Lookup*>& Abandoned() {
    static auto* list = new std::vector<Lookup*>;
    return *list;
}

// A lookup whose caller gave up finishes later: its buffer is freed then.
void ForgetLookup(HANDLE task) {
    auto& list = Abandoned();
    for (auto it = list.begin(); it != list.end(); ++it)
        if ((*it)->task == task) {
            delete *it;
            list.erase(it);
            return;
        }
}

// The IPv4 address of a dotted text or a host name, by the asynchronous
// lookup of Windows Sockets 1.1, so a dead name server cannot hold the window
// past the deadline.
bool Resolve(const char* text, ULONGLONG deadline, ULONG& addr) {
    if (!text || !*text) {
        WSASetLastError(WSAHOST_NOT_FOUND);
        return false;
    }
    addr = inet_addr(text);
    if (addr != INADDR_NONE)
        return true;
    auto* lookup = new Lookup;
    lookup->task = syscalls.WSAAsyncGetHostByName(g_notifyWnd, tvwin32::kHostLookupMessage, text,
                                                  lookup->buf, sizeof lookup->buf);
    if (!lookup->task) {
        delete lookup;
        return false;
    }
    LPARAM result = 0;
    const bool done = WaitRestricted(deadline, [&](const MSG& msg) {
        if (msg.message != tvwin32::kHostLookupMessage ||
            reinterpret_cast<HANDLE>(msg.wParam) != lookup->task)
            return false;
        result = msg.lParam;
        return true;
    });
    if (!done) {
        if (WSACancelAsyncRequest(lookup->task) == 0)
            delete lookup;
        else
            Abandoned().push_back(lookup);
        WSASetLastError(WSAETIMEDOUT);
        return false;
    }
    const hostent* host = reinterpret_cast<const hostent*>(lookup->buf);
    const int error = WSAGETASYNCERROR(result);
    const bool found = error == 0 && host->h_addrtype == AF_INET && host->h_addr_list[0];
    if (found)
        addr = *reinterpret_cast<const ULONG*>(host->h_addr_list[0]);
    delete lookup;
    if (!found)
        WSASetLastError(error ? error : WSAHOST_NOT_FOUND);
    return found;
}

// Starts a connect; true when it is under way or done (WSAEWOULDBLOCK counts
// as under way).
bool StartConnect(SOCKET s, ULONG addr, UINT port) {
    sockaddr_in peer = {};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<u_short>(port));
    peer.sin_addr.s_addr = addr;
    if (syscalls.connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return true;
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

} // namespace

// ---- 3. CAsyncSocket ------------------------------------------------------------

BOOL CAsyncSocket::Create(UINT nSocketPort, int nSocketType, long lEvent,
                          const char* lpszSocketAddress) {
    if (m_pState || nSocketType != SOCK_STREAM) {
        WSASetLastError(WSAEINVAL);
        return FALSE;
    }
    tvwin32::BindUiThreadIfUnbound();
    if (!tvwin32::IsUiThread() || !EnsureNotifyWindow()) {
        WSASetLastError(WSAEINVAL);
        return FALSE;
    }
    SOCKET s = syscalls.socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return FALSE;
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(nSocketPort));
    local.sin_addr.s_addr =
        lpszSocketAddress && *lpszSocketAddress ? inet_addr(lpszSocketAddress) : INADDR_ANY;
    if (syscalls.bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        syscalls.WSAAsyncSelect(s, g_notifyWnd, tvwin32::kSocketMessage,
                                lEvent | kAlwaysSelected) != 0) {
        const int error = WSAGetLastError();
        closesocket(s);
        WSASetLastError(error);
        return FALSE;
    }
    m_pState = new State;
    m_pState->owner = this;
    m_pState->lEvent = lEvent;
    m_hSocket = s;
    Sockets()[s] = this;
    return TRUE;
}

BOOL CAsyncSocket::Connect(const char* lpszHostAddress, UINT nHostPort) {
    if (!m_pState) {
        WSASetLastError(WSAENOTSOCK);
        return FALSE;
    }
    ULONG addr;
    if (!Resolve(lpszHostAddress, GetTickCount64() + kConnectTimeoutMs, addr))
        return FALSE;
    if (!StartConnect(m_hSocket, addr, nHostPort))
        return FALSE;
    WSASetLastError(WSAEWOULDBLOCK); // OnConnect follows
    return FALSE;
}

int CAsyncSocket::Receive(void* lpBuf, int nBufLen, int nFlags) {
    if (!m_pState) {
        WSASetLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    const int n = syscalls.recv(m_hSocket, static_cast<char*>(lpBuf), nBufLen, nFlags);
    if (m_pState->closeHeld) {
        const int error = WSAGetLastError();
        if (!DataWaiting(m_hSocket)) {
            m_pState->closeHeld = false;
            Queue().push_back({m_hSocket, WSAMAKESELECTREPLY(FD_CLOSE, 0)});
            PostDrain();
        }
        WSASetLastError(error);
    }
    return n;
}

int CAsyncSocket::Send(const void* lpBuf, int nBufLen, int nFlags) {
    if (!m_pState) {
        WSASetLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    return syscalls.send(m_hSocket, static_cast<const char*>(lpBuf), nBufLen, nFlags);
}

void CAsyncSocket::Close() {
    if (!m_pState)
        return;
    const SOCKET s = m_hSocket;
    syscalls.WSAAsyncSelect(s, g_notifyWnd, 0, 0);
    closesocket(s);
    Sockets().erase(s);
    // Notifications already posted for this handle must not reach a socket
    // that gets the same handle value next.
    TakeQueued();
    std::erase_if(Queue(), [s](const Notification& n) { return n.s == s; });
    PostDrain();
    delete m_pState;
    m_pState = nullptr;
    m_hSocket = INVALID_SOCKET;
}

BOOL CAsyncSocket::GetSockName(SOCKADDR* lpSockAddr, int* lpSockAddrLen) {
    if (!m_pState) {
        WSASetLastError(WSAENOTSOCK);
        return FALSE;
    }
    return syscalls.getsockname(m_hSocket, lpSockAddr, lpSockAddrLen) == 0;
}

BOOL CAsyncSocket::GetPeerName(SOCKADDR* lpSockAddr, int* lpSockAddrLen) {
    if (!m_pState) {
        WSASetLastError(WSAENOTSOCK);
        return FALSE;
    }
    return syscalls.getpeername(m_hSocket, lpSockAddr, lpSockAddrLen) == 0;
}

// ---- 4. CSocket -----------------------------------------------------------------

BOOL CSocket::Connect(const char* lpszHostAddress, UINT nHostPort) {
    if (!m_pState) {
        WSASetLastError(WSAENOTSOCK);
        return FALSE;
    }
    const ULONGLONG deadline = GetTickCount64() + kConnectTimeoutMs;
    ULONG addr;
    if (!Resolve(lpszHostAddress, deadline, addr))
        return FALSE;
    if (!StartConnect(m_hSocket, addr, nHostPort))
        return FALSE;
    m_bBlocking = TRUE;
    LPARAM result = 0;
    const bool done = WaitForSocket(m_hSocket, FD_CONNECT | FD_CLOSE, deadline, result);
    m_bBlocking = FALSE;
    int error = done ? WSAGETSELECTERROR(result) : WSAETIMEDOUT;
    if (done && error == 0 && WSAGETSELECTEVENT(result) == FD_CLOSE)
        error = WSAECONNREFUSED;
    if (error != 0) {
        WSASetLastError(error);
        return FALSE;
    }
    return TRUE;
}

// NOTE: the blocking receive and send try again at least every
// kRestrictedPollMs, so a readiness notification that never comes (or comes
// late, as under Wine) cannot hold them for good.
int CSocket::Receive(void* lpBuf, int nBufLen, int nFlags) {
    for (;;) {
        const int n = CAsyncSocket::Receive(lpBuf, nBufLen, nFlags);
        if (n != SOCKET_ERROR || WSAGetLastError() != WSAEWOULDBLOCK)
            return n;
        m_bBlocking = TRUE;
        LPARAM ignored;
        WaitForSocket(m_hSocket, FD_READ | FD_CLOSE, GetTickCount64() + kRestrictedPollMs, ignored);
        m_bBlocking = FALSE;
    }
}

int CSocket::Send(const void* lpBuf, int nBufLen, int nFlags) {
    int left = nBufLen;
    const char* p = static_cast<const char*>(lpBuf);
    while (left > 0) {
        const int n = CAsyncSocket::Send(p, left, nFlags);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                return SOCKET_ERROR;
            m_bBlocking = TRUE;
            LPARAM result = 0;
            const bool woke = WaitForSocket(m_hSocket, FD_WRITE | FD_CLOSE,
                                            GetTickCount64() + kRestrictedPollMs, result);
            m_bBlocking = FALSE;
            if (woke && WSAGETSELECTEVENT(result) == FD_CLOSE) {
                const int error = WSAGETSELECTERROR(result);
                WSASetLastError(error ? error : WSAECONNRESET);
                return SOCKET_ERROR;
            }
            continue;
        }
        p += n;
        left -= n;
    }
    return nBufLen - left;
}
