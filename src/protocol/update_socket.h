// The update connection: a blocking framework socket whose notifications go to
// the progress window that owns the exchange.
#pragma once

#include "platform/socket.h"

class CUpdateDlg;

class CUpdateSocket : public CSocket {
  public:
    CUpdateSocket();
    ~CUpdateSocket() override;

    // Connects; on success records the local address and the owner window.
    BOOL ConnectTo(CUpdateDlg* pOwner, const char* lpszAddress, UINT nPort);
    // Sends all of the buffer; FALSE as soon as one send moves nothing.
    BOOL SendAll(const void* lpBuf, int nLength);
    // Drops the owner first, so late notifications of this connection reach
    // nobody.
    void Close() override;

    void OnReceive(int nErrorCode) override;
    void OnClose(int nErrorCode) override;

    // Local IPv4 address of the connection, network byte order.
    ULONG m_nLocalAddr = 0;
    CUpdateDlg* m_pOwner = nullptr; // not owned
};
