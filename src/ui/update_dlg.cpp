// The progress window: construction, data exchange, start-up, painting,
// destruction and the progress operations. The receive state machine lives
// in protocol/update_receive.cpp, the install and finish steps in
// install/install_step.cpp. Operating-system independent code only.
#include "ui/update_dlg.h"

#include "app/settings.h"
#include "platform/app.h"
#include "ui/resource.h"

#include <charconv>
#include <cstring>

namespace {

const char kVersionFile[] = "File.ver";

// The text "%d/%d" would give, without the printf machinery: the labels are
// rebuilt twice for every piece received, and the progress display must not
// slow the transfer. The string keeps its buffer from one call to the next.
void FormatCount(CString& str, int nDone, int nOf) {
    const int kMax = 24; // two 11-character numbers, the slash and a zero
    char* p = str.GetBuffer(kMax);
    char* end = std::to_chars(p, p + kMax, nDone).ptr;
    *end++ = '/';
    end = std::to_chars(end, p + kMax, nOf).ptr;
    str.ReleaseBuffer(static_cast<int>(end - p));
}

} // namespace

CString DiskFullText(unsigned long long nNeeded) {
    const unsigned long long kMegabyte = 1u << 20;
    CString strFormat;
    strFormat.LoadString(IDS_DISK_FULL);
    CString strMegabytes;
    strMegabytes.Format("%llu", (nNeeded + kMegabyte - 1) / kMegabyte);
    CString strText;
    strText.Format(strFormat, strMegabytes.GetString());
    return strText;
}

CUpdateDlg::CUpdateDlg(CWnd* pParent) : CDialog(IDD_UPDATE_DIALOG, pParent), m_waitDlg(nullptr) {
    m_strFileCount = "0/0";
    m_strFileName = "";
    m_strCurrent = "0/0";
    m_strTotal = "0/0";
    std::memset(m_recvBuf, 0, sizeof m_recvBuf);
    m_waitDlg.m_hThread = nullptr;
    m_hIcon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
}

CUpdateDlg::~CUpdateDlg() {
    // A body cut off mid-way stays on disk as it is; it is not in the list of
    // received files, so nothing installs it.
    if (m_pOutFile != nullptr) {
        std::fclose(m_pOutFile);
        m_pOutFile = nullptr;
    }
}

void CUpdateDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_TOTAL_PROGRESS, m_totalBar);
    DDX_Control(pDX, IDC_FILE_PROGRESS, m_fileBar);
    DDX_Text(pDX, IDC_FILE_COUNT, m_strFileCount);
    DDX_Text(pDX, IDC_FILE_NAME, m_strFileName);
    DDX_Text(pDX, IDC_CURRENT, m_strCurrent);
    DDX_Text(pDX, IDC_TOTAL, m_strTotal);
}

BOOL CUpdateDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    GetWindowText(m_strTitle);
    m_strCaption = m_strTitle;
    if (!ConnectToServer())
        return FALSE;
    m_waitDlg.Create(IDD_WAIT_DIALOG, this);
    m_waitDlg.CenterWindow(this);
    return TRUE;
}

// The connection step: FALSE only when the socket cannot be created. A
// failed connect is reported here and closes the window through a posted
// close request.
BOOL CUpdateDlg::ConnectToServer() {
    if (!m_socket.Create(0, SOCK_STREAM,
                         FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE, nullptr))
        return FALSE;
    if (m_socket.ConnectTo(this, g_strServerAddr, g_nServerPort)) {
        m_nRecvLen = 0;
        m_nState = WaitVersionReply;
        std::memset(m_recvBuf, 0, sizeof m_recvBuf);
        StartWatching();
    } else {
        AfxMessageBox(IDS_CONNECT_FAILED, MB_ICONERROR);
        PostMessage(WM_CLOSE);
    }
    return TRUE;
}

void CUpdateDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    CRect rect;
    GetClientRect(&rect);
    const int x = (rect.Width() - cxIcon + 1) / 2;
    const int y = (rect.Height() - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CUpdateDlg::OnQueryDragIcon() {
    return m_hIcon;
}

void CUpdateDlg::OnDestroy() {
    InstallReceivedFiles();
    CDialog::OnDestroy();
}

void CUpdateDlg::BeginTotalProgress(int nTotal) {
    m_totalBar.SetRange32(0, nTotal);
    m_totalBar.SetPos(0);
}

void CUpdateDlg::BeginFileProgress(int nSize) {
    m_fileBar.SetRange32(0, nSize);
    m_fileBar.SetPos(0);
}

void CUpdateDlg::AdvanceProgress(int nCount) {
    m_fileBar.OffsetPos(nCount);
    m_totalBar.OffsetPos(nCount);
}

void CUpdateDlg::RefreshLabels() {
    const INT_PTR nDone = m_receivedFiles.GetSize();
    FormatCount(m_strFileCount, static_cast<int>(nDone + 1),
                static_cast<int>(nDone + 1 + m_nGroupFiles[0] + m_nGroupFiles[1]));
    int nLow = 0, nHigh = 0;
    m_fileBar.GetRange(nLow, nHigh);
    FormatCount(m_strCurrent, m_fileBar.GetPos(), nHigh);
    m_totalBar.GetRange(nLow, nHigh);
    FormatCount(m_strTotal, m_totalBar.GetPos(), nHigh);
    UpdateData(FALSE);
}

VersionRecordStatus CUpdateDlg::ReadVersionRecord() {
    return ReadVersionRecordFile(kVersionFile, m_nVersion);
}

BOOL CUpdateDlg::WriteVersionRecord() {
    return WriteVersionRecordFile(kVersionFile, m_nVersion);
}
