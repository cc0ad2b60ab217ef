// The update connection. Operating-system independent code only.
#include "protocol/update_socket.h"

#include "ui/update_dlg.h"

CUpdateSocket::CUpdateSocket() = default;

CUpdateSocket::~CUpdateSocket() {
    m_pOwner = nullptr;
}

BOOL CUpdateSocket::ConnectTo(CUpdateDlg* pOwner, const char* lpszAddress, UINT nPort) {
    if (!Connect(lpszAddress, nPort))
        return FALSE;
    SOCKADDR_IN local = {};
    int len = sizeof local;
    GetSockName(reinterpret_cast<SOCKADDR*>(&local), &len);
    m_nLocalAddr = local.sin_addr.S_un.S_addr;
    m_pOwner = pOwner;
    return TRUE;
}

BOOL CUpdateSocket::SendAll(const void* lpBuf, int nLength) {
    const char* p = static_cast<const char*>(lpBuf);
    while (nLength > 0) {
        const int n = Send(p, nLength, 0);
        if (n <= 0)
            return FALSE;
        p += n;
        nLength -= n;
    }
    return TRUE;
}

void CUpdateSocket::Close() {
    m_pOwner = nullptr;
    CSocket::Close();
}

void CUpdateSocket::OnReceive(int /*nErrorCode*/) {
    // NOTE: after Close no owner is set and no data can arrive; a stray
    // notification is dropped rather than trusted.
    if (m_pOwner != nullptr)
        m_pOwner->OnSocketReceive();
}

void CUpdateSocket::OnClose(int nErrorCode) {
    if (m_pOwner != nullptr)
        m_pOwner->OnSocketClose(nErrorCode);
}
