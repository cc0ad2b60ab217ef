// Platform layer, shared code: what the socket classes do the same on every
// backend. The sockets themselves, notifications and the blocking waits are
// the backend's.
#include "platform/socket.h"

CAsyncSocket::CAsyncSocket() = default;

CAsyncSocket::~CAsyncSocket() {
    CAsyncSocket::Close();
}

// A notification nobody overrides is dropped, as the framework's are.
void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}
void CAsyncSocket::OnOutOfBandData(int) {}
void CAsyncSocket::OnAccept(int) {}
void CAsyncSocket::OnConnect(int) {}
void CAsyncSocket::OnClose(int) {}

CSocket::CSocket() = default;

CSocket::~CSocket() {
    CSocket::Close();
}

BOOL CSocket::Create(UINT nSocketPort, int nSocketType, const char* lpszSocketAddress) {
    return CAsyncSocket::Create(nSocketPort, nSocketType,
                                FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE,
                                lpszSocketAddress);
}

void CSocket::Close() {
    CAsyncSocket::Close();
}
