// Platform layer contract: the framework's socket classes over Windows Sockets
// 1.1. Notifications arrive as virtual calls on the user-interface thread, one
// at a time, from its event loop. The Windows Sockets names themselves
// (SOCKET, SOCKADDR_IN, FD_*, WSAE*, inet_addr ...) are the system's: the SDK
// wrapper declares them on Windows, host/winsock_host.h on the host. Only what
// the project defines itself lives here, in operating-system independent
// declarations.
#pragma once

#include "platform/wintypes.h"

// NOTE: on the host only the files that use sockets see the stand-ins: their
// inet_addr clashes with the C library's <arpa/inet.h>, which the Linux tools
// include beside the client's headers.
#if !defined(_WIN32)
#include "platform/host/winsock_host.h"
#endif

class CAsyncSocket {
  public:
    SOCKET m_hSocket = INVALID_SOCKET;

    CAsyncSocket();
    virtual ~CAsyncSocket();
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;

    BOOL Create(UINT nSocketPort = 0, int nSocketType = SOCK_STREAM,
                long lEvent = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE,
                const char* lpszSocketAddress = nullptr);
    // Non-blocking: FALSE with WSAEWOULDBLOCK while in progress, then OnConnect.
    virtual BOOL Connect(const char* lpszHostAddress, UINT nHostPort);
    virtual int Receive(void* lpBuf, int nBufLen, int nFlags = 0);
    virtual int Send(const void* lpBuf, int nBufLen, int nFlags = 0);
    virtual void Close();
    BOOL GetSockName(SOCKADDR* lpSockAddr, int* lpSockAddrLen);
    BOOL GetPeerName(SOCKADDR* lpSockAddr, int* lpSockAddrLen);
    static int GetLastError() { return WSAGetLastError(); }

    // Notifications. OnReceive is delivered while data is waiting, again after
    // each Receive that leaves data waiting. OnClose carries 0 for an orderly
    // close by the peer, a WSA error number otherwise. After Close, nothing.
    virtual void OnReceive(int nErrorCode);
    virtual void OnSend(int nErrorCode);
    virtual void OnOutOfBandData(int nErrorCode);
    virtual void OnAccept(int nErrorCode);
    virtual void OnConnect(int nErrorCode);
    virtual void OnClose(int nErrorCode);

    // The backend's bookkeeping of the socket (readiness interest, held
    // notifications ...); opaque here, each backend defines it.
    struct State;
    State* m_pState = nullptr;
};

// The blocking variant: Connect, Send and a Receive with nothing waiting run a
// restricted loop that only paints; notifications of any socket that arrive
// meanwhile are held and delivered after the call has returned.
class CSocket : public CAsyncSocket {
  public:
    CSocket();
    ~CSocket() override;

    BOOL Create(UINT nSocketPort = 0, int nSocketType = SOCK_STREAM,
                const char* lpszSocketAddress = nullptr);
    BOOL Create(UINT nSocketPort, int nSocketType, long lEvent, const char* lpszSocketAddress) {
        return CAsyncSocket::Create(nSocketPort, nSocketType, lEvent, lpszSocketAddress);
    }
    // Blocks (painting) until connected or failed; gives up after about 20
    // seconds (WSAETIMEDOUT).
    BOOL Connect(const char* lpszHostAddress, UINT nHostPort) override;
    int Receive(void* lpBuf, int nBufLen, int nFlags = 0) override;
    int Send(const void* lpBuf, int nBufLen, int nFlags = 0) override;
    void Close() override;
    BOOL IsBlocking() const { return m_bBlocking; }

  private:
    BOOL m_bBlocking = FALSE;
};
