// The server selection and the game launch. Operating-system independent
// code only.
#include "ui/server_select_dlg.h"

#include "app/settings.h"
#include "install/version_record.h"
#include "platform/app.h"
#include "platform/files.h"
#include "platform/socket.h"
#include "platform/wintypes.h"
#include "ui/resource.h"

#include <cstdio>
#include <random>

namespace {

const char kServerFile[] = "Server.cnv";
const char kSection[] = "Server";
const DWORD kValueBuffer = 128; // names and addresses keep at most 127 characters
const DWORD kBlockSize = 256;   // Server.cnv is unscrambled block by block
// A shared temporary directory may already hold a file of any name we pick;
// a few fresh random names make a clash by chance practically impossible.
const int kNameAttempts = 8;
// Count comes from a local file; beyond this many entries it can only be
// damage, and reading it through would hold the player for ever.
const int kMaxServers = 4096;

// A name another user cannot guess in advance, so cannot plant a file under.
CString UniqueListName() {
    std::random_device rd;
    const unsigned long long nRandom =
        (static_cast<unsigned long long>(rd()) << 32) ^ static_cast<unsigned long long>(rd());
    CString strName;
    strName.Format("Server-%016llx.lst", nRandom);
    return strName;
}

// FALSE when a block cannot be read or written in full: a shortened copy
// would silently drop servers.
BOOL CopyUnscrambled(HANDLE hSource, HANDLE hDestination) {
    char buf[kBlockSize + 1];
    for (;;) {
        DWORD nRead = 0;
        if (!ReadFile(hSource, buf, kBlockSize, &nRead, nullptr))
            return FALSE;
        if (nRead == 0)
            return TRUE;
        buf[nRead] = '\0';
        UnscrambleText(buf);
        DWORD nWritten = 0;
        if (!WriteFile(hDestination, buf, nRead, &nWritten, nullptr) || nWritten != nRead)
            return FALSE;
    }
}

} // namespace

CServerSelectDlg::CServerSelectDlg(CWnd* pParent) : CDialog(IDD_SERVER_SELECT, pParent) {
    m_hIcon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
}

void CServerSelectDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_SERVER_LIST, m_serverList);
}

BOOL CServerSelectDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    if (!LoadServerList())
        EndDialog(0);
    return TRUE;
}

BOOL CServerSelectDlg::OnCommand(UINT nID, UINT nCode) {
    if ((nID == IDC_CONNECT && nCode == BN_CLICKED) ||
        (nID == IDC_SERVER_LIST && nCode == LBN_DBLCLK)) {
        OnConnect();
        return TRUE;
    }
    if (nID == IDC_CANCEL && nCode == BN_CLICKED) {
        EndDialog(0);
        return TRUE;
    }
    return CDialog::OnCommand(nID, nCode);
}

void CServerSelectDlg::OnConnect() {
    LaunchClient();
    EndDialog(0);
}

BOOL CServerSelectDlg::LoadServerList() {
    CString strPath;
    BOOL bConverted = FALSE;
    for (int i = 0; i < kNameAttempts && !bConverted; ++i) {
        strPath = GetTempFilePath(UniqueListName());
        bConverted = UnscrambleFile(kServerFile, strPath);
        if (!bConverted && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (!bConverted) {
        AfxMessageBox(IDS_DAMAGED_FILE, MB_ICONERROR);
        return FALSE;
    }
    ReadServerEntries(strPath);
    m_serverList.SetCurSel(0);
    DeleteFileA(strPath);
    return TRUE;
}

void CServerSelectDlg::ReadServerEntries(const char* lpszListPath) {
    int nCount = static_cast<int>(GetPrivateProfileIntA(kSection, "Count", 0, lpszListPath));
    if (nCount > kMaxServers)
        nCount = kMaxServers;
    char value[kValueBuffer];
    CString strKey;
    for (int i = 0; i < nCount; ++i) {
        strKey.Format("Name%d", i);
        GetPrivateProfileStringA(kSection, strKey, "", value, kValueBuffer, lpszListPath);
        const int nItem = m_serverList.AddString(value);
        strKey.Format("IP%d", i);
        GetPrivateProfileStringA(kSection, strKey, "", value, kValueBuffer, lpszListPath);
        m_serverList.SetItemData(nItem, inet_addr(value));
    }
}

CString CServerSelectDlg::GetTempFilePath(const char* lpszName) {
    char dir[MAX_PATH];
    const DWORD nLength = GetTempPathA(MAX_PATH, dir);
    // With its terminating zero the path must leave room in MAX_PATH bytes.
    if (nLength == 0 || nLength + 1 >= MAX_PATH)
        return CString();
    const char* p = lpszName;
    if (*p == '\\')
        ++p;
    if (p[0] == '.' && p[1] == '\\')
        p += 2;
    return CString(dir) + p;
}

BOOL CServerSelectDlg::UnscrambleFile(const char* lpszSource, const char* lpszDestination) {
    HANDLE hSource = CreateFileA(lpszSource, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hSource == INVALID_HANDLE_VALUE)
        return FALSE;
    // NOTE: never an existing file: in a shared temporary directory it may be
    // a link another user placed, or stale text from an earlier run.
    HANDLE hDestination = CreateFileA(lpszDestination, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (hDestination == INVALID_HANDLE_VALUE) {
        const DWORD nError = GetLastError();
        CloseHandle(hSource);
        SetLastError(nError);
        return FALSE;
    }
    const BOOL bCopied = CopyUnscrambled(hSource, hDestination);
    CloseHandle(hSource);
    CloseHandle(hDestination);
    if (!bCopied) {
        DeleteFileA(lpszDestination);
        SetLastError(ERROR_GEN_FAILURE);
    }
    return bCopied;
}

BOOL CServerSelectDlg::LaunchClient() {
    IN_ADDR addr;
    // With nothing selected the list box's error value is taken as the
    // address: 255.255.255.255.
    addr.S_un.S_addr = static_cast<ULONG>(m_serverList.GetItemData(m_serverList.GetCurSel()));
    CString strArguments;
    strArguments.Format("-Update /IP:%s", inet_ntoa(addr));
    return StartClientProcess(strArguments);
}

BOOL CServerSelectDlg::StartClientProcess(const char* lpszArguments) {
    CString strProgram = g_strClient;
    const int nSlash = strProgram.ReverseFind('\\');
    if (nSlash >= 0) {
        SetCurrentDirectoryA(strProgram.Left(nSlash));
        strProgram = strProgram.Mid(nSlash + 1);
    }
    const char* lpszOwn = AfxGetApp()->m_lpCmdLine;
    CString strCommandLine;
    strCommandLine.Format("%s %s %s", strProgram.GetString(), lpszArguments,
                          lpszOwn != nullptr ? lpszOwn : "");

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWDEFAULT;
    PROCESS_INFORMATION pi = {};
    char* lpszCommandLine = strCommandLine.GetBuffer(strCommandLine.GetLength());
    const BOOL bStarted = CreateProcessA(nullptr, lpszCommandLine, nullptr, nullptr, FALSE,
                                         NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si, &pi);
    strCommandLine.ReleaseBuffer();
    if (!bStarted) {
        AfxMessageBox(IDS_CLIENT_START_FAILED, MB_ICONERROR);
        EndDialog(0);
        return FALSE;
    }
    // The game runs on its own; nothing here waits for it.
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return TRUE;
}
