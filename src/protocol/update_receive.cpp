// The receive state machine of the update exchange: one pass per data
// notification over the fixed 2048-byte buffer. Between passes the unparsed
// bytes lie at the start of m_recvBuf; bodies are streamed to their ".gz"
// files piece by piece and never held whole. Operating-system independent
// code only.
#include "app/settings.h"
#include "install/disk_room.h"
#include "install/output_file.h"
#include "platform/app.h"
#include "protocol/wire.h"
#include "ui/resource.h"
#include "ui/update_dlg.h"

#include <algorithm>
#include <cstring>

namespace {

// A server that keeps sending redirects (to itself or in a ring) would hold
// the client for ever; past this many the run fails like a failed connect.
const int kMaxRedirects = 8;

// Names the exchange must never install under: the updater itself (it is
// running) and the local version record.
CString SubstituteName(const char* lpszName) {
    const CString name(lpszName);
    if (name.CompareNoCase("Update.exe") == 0)
        return CString("Update0.exe");
    if (name.CompareNoCase("File.ver") == 0)
        return CString("null.dat");
    return name;
}

} // namespace

void CUpdateDlg::OnSocketReceive() {
    if (m_bFinishing) {
        DropPendingData();
        return;
    }
    const int nRead = m_socket.Receive(m_recvBuf + m_nRecvLen, UPDATE_RECV_BUFFER - m_nRecvLen, 0);
    if (nRead > 0) {
        m_nRecvLen += nRead;
        m_bDataSinceTick = TRUE;
    }

    const unsigned char* p = m_recvBuf;
    BOOL bAgain = TRUE;
    while (bAgain) {
        switch (m_nState) {
        case WaitVersionReply:
            bAgain = StepVersionReply(p);
            break;
        case WaitListHeader:
            bAgain = StepListHeader(p);
            break;
        case WaitFileHeader:
            bAgain = StepFileHeader(p);
            break;
        case ReceiveFileBody:
            bAgain = StepFileBody(p);
            break;
        default:
            bAgain = FALSE;
            break;
        }
    }
    // NOTE: a step that waits for more bytes has already moved the unparsed
    // tail to the start of the buffer; every other ending leaves nothing that
    // is still needed.
}

void CUpdateDlg::OnSocketClose(int nErrorCode) {
    StopWatching();
    UpdateWindow();
    InstallReceivedFiles();
    if (nErrorCode != 0) {
        AfxMessageBox(IDS_CONNECTION_LOST, MB_ICONERROR);
        EndDialog(0);
    }
}

// Data that arrives once the finish step has begun belongs to no message of
// the exchange: it is read, so the socket stops signalling, and dropped.
void CUpdateDlg::DropPendingData() {
    m_socket.Receive(m_recvBuf, UPDATE_RECV_BUFFER, 0);
    m_nRecvLen = 0;
}

namespace {

// The next message is incomplete: keep its bytes at the start of the buffer.
BOOL WaitForMore(unsigned char* pBuf, const unsigned char* p, int nHeld) {
    if (p != pBuf)
        std::memmove(pBuf, p, static_cast<size_t>(nHeld));
    return FALSE;
}

} // namespace

BOOL CUpdateDlg::StepVersionReply(const unsigned char*& p) {
    if (m_nRecvLen < wire::kVersionReplySize)
        return WaitForMore(m_recvBuf, p, m_nRecvLen);
    const wire::VersionReply reply = wire::DecodeVersionReply(p);
    if (reply.tag != wire::kTag) {
        FailExchange(IDS_VERSION_MISMATCH, MB_ICONERROR);
        return FALSE;
    }
    m_nRecvLen = 0; // nothing may follow the reply before our request

    switch (ReadVersionRecord()) {
    case VersionRecordStatus::Damaged:
        FailExchange(IDS_DAMAGED_FILE, MB_ICONERROR);
        return FALSE;
    case VersionRecordStatus::WrongFormat:
        FailExchange(IDS_VERSION_MISMATCH, MB_ICONERROR);
        return FALSE;
    case VersionRecordStatus::Absent:
    case VersionRecordStatus::Valid:
        break;
    }
    if (reply.version[0] <= m_nVersion[0] && reply.version[1] <= m_nVersion[1]) {
        FinishUpdate();
        return FALSE;
    }
    // NOTE: a client on the loopback address talks to a local test server,
    // which may name a download server it cannot reach; it stays put.
    if (reply.redirectAddr != 0 && m_socket.m_nLocalAddr != wire::kLoopbackAddr) {
        FollowRedirect(reply.redirectAddr);
        return FALSE;
    }
    SendVersionRequest();
    return FALSE;
}

BOOL CUpdateDlg::FollowRedirect(ULONG nAddr) {
    if (++m_nRedirects > kMaxRedirects) {
        FailExchange(IDS_CONNECT_FAILED, MB_ICONERROR);
        return FALSE;
    }
    m_socket.Close();
    if (!m_socket.Create(0, SOCK_STREAM,
                         FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE,
                         nullptr)) {
        EndDialog(0);
        return FALSE;
    }
    IN_ADDR addr;
    addr.S_un.S_addr = nAddr;
    const CString strAddr(inet_ntoa(addr));
    if (!m_socket.ConnectTo(this, strAddr, wire::kRedirectPort)) {
        AfxMessageBox(IDS_CONNECT_FAILED, MB_ICONERROR);
        EndDialog(0);
        return FALSE;
    }
    m_nRecvLen = 0;
    m_nState = WaitVersionReply;
    StartWatching();
    return TRUE;
}

void CUpdateDlg::SendVersionRequest() {
    wire::VersionRequest request;
    request.version[0] = m_nVersion[0];
    request.version[1] = m_nVersion[1];
    wire::Encode(request, m_recvBuf);
    m_nState = WaitListHeader;
    // NOTE: a request that cannot be sent is not an error here: the server
    // then closes or stays silent, and the close notification or the user
    // ends the window.
    m_socket.SendAll(m_recvBuf, wire::kVersionRequestSize);
}

BOOL CUpdateDlg::StepListHeader(const unsigned char*& p) {
    if (m_nRecvLen < wire::kListHeaderSize)
        return WaitForMore(m_recvBuf, p, m_nRecvLen);
    const wire::ListHeader list = wire::DecodeListHeader(p);
    p += wire::kListHeaderSize;
    m_nRecvLen -= wire::kListHeaderSize;
    m_nGroupFiles[0] = list.groupFiles[0];
    m_nGroupFiles[1] = list.groupFiles[1];
    m_nTotalSize = list.totalSize;
    if (m_nTotalSize > wire::kMaxTotalSize && m_socket.m_nLocalAddr != wire::kLoopbackAddr) {
        FailExchange(IDS_TOO_MANY_FILES, MB_ICONINFORMATION);
        return FALSE;
    }
    if (!HasRoomToDownload())
        return FALSE;
    m_nGroup = 0;
    BeginTotalProgress(m_nTotalSize);
    BeginTransferFigures();
    m_nState = WaitFileHeader;
    return TRUE; // an empty list finishes at once, even with no bytes left
}

// A download that cannot fit would fail half-way with "Can't create file";
// the player is told at once what to free instead.
BOOL CUpdateDlg::HasRoomToDownload() {
    std::uint64_t nFree = 0;
    if (!QueryWorkingDirFreeSpace(nFree))
        return TRUE;
    const std::uint64_t nNeeded =
        static_cast<std::uint64_t>(std::max(m_nTotalSize, 0)) + kDiskMargin;
    if (nFree >= nNeeded)
        return TRUE;
    FailExchange(DiskFullText(nNeeded), MB_ICONERROR);
    return FALSE;
}

BOOL CUpdateDlg::StepFileHeader(const unsigned char*& p) {
    while (m_nGroupFiles[m_nGroup] == 0) {
        if (m_nGroup == 1) {
            FinishUpdate();
            return FALSE;
        }
        ++m_nGroup;
    }
    wire::FileHeader header;
    switch (wire::DecodeFileHeader(p, m_nRecvLen, header)) {
    case wire::HeaderResult::NeedMore:
        return WaitForMore(m_recvBuf, p, m_nRecvLen);
    case wire::HeaderResult::Invalid:
        FailExchange(IDS_VERSION_MISMATCH, MB_ICONERROR);
        return FALSE;
    case wire::HeaderResult::Complete:
        break;
    }
    --m_nGroupFiles[m_nGroup];
    m_nFileVersion = header.version;
    m_nFileRemain = header.bodyLength;
    const bool bContained = IsContainedName(header.name);
    m_strFileName = SubstituteName(header.name);
    p += header.length;
    m_nRecvLen -= header.length;

    BeginFileProgress(m_nFileRemain);
    CString strPath;
    strPath.Format("%s.gz", m_strFileName.GetString());
    // A name that leaves the working directory is refused like a file that
    // cannot be created; it never reaches the file functions.
    m_pOutFile = bContained ? OpenOutputFile(strPath) : nullptr;
    if (m_pOutFile == nullptr) {
        FailCreateFile(strPath);
        return FALSE;
    }
    m_nState = ReceiveFileBody;
    return TRUE;
}

BOOL CUpdateDlg::StepFileBody(const unsigned char*& p) {
    RefreshLabels();
    if (m_nFileRemain != 0) {
        if (m_nRecvLen == 0)
            return FALSE;
        const int n = std::min(m_nFileRemain, m_nRecvLen);
        if (std::fwrite(p, 1, static_cast<size_t>(n), m_pOutFile) != static_cast<size_t>(n)) {
            FailWriteFile();
            return FALSE;
        }
        m_nFileRemain -= n;
        m_nRecvLen -= n;
        p += n;
        CountBodyBytes(n);
        AdvanceProgress(n);
        return TRUE;
    }
    FILE* pFile = m_pOutFile;
    m_pOutFile = nullptr;
    if (std::fclose(pFile) != 0) {
        FailWriteFile();
        return FALSE;
    }
    m_nVersion[m_nGroup] = m_nFileVersion;
    m_nState = WaitFileHeader;
    m_receivedFiles.Add(m_strFileName);
    return TRUE;
}

void CUpdateDlg::FailExchange(UINT nIDPrompt, UINT nIcon) {
    m_socket.Close();
    StopWatching();
    AfxMessageBox(nIDPrompt, nIcon);
    EndDialog(0);
}

void CUpdateDlg::FailExchange(const char* lpszText, UINT nIcon) {
    m_socket.Close();
    StopWatching();
    AfxMessageBox(lpszText, nIcon);
    EndDialog(0);
}

void CUpdateDlg::FailCreateFile(const CString& strPath) {
    CString strText;
    strText.Format("Can't create file %s", strPath.GetString());
    FailExchange(strText, MB_ICONERROR);
}

// A body that cannot be written in full (a full disk) must not count as
// received: the partial file stays, but it is not listed for installing.
void CUpdateDlg::FailWriteFile() {
    if (m_pOutFile != nullptr) {
        std::fclose(m_pOutFile);
        m_pOutFile = nullptr;
    }
    CString strPath;
    strPath.Format("%s.gz", m_strFileName.GetString());
    FailCreateFile(strPath);
}
