// The install and finish steps of the progress window: the received ".gz"
// files are decompressed on a worker thread while the user-interface thread
// shows the please-wait panel and waits, then the version reached is
// recorded. Operating-system independent code only.
#include "install/install_step.h"

#include "gunzip/gunzip.h"
#include "install/disk_room.h"
#include "platform/app.h"
#include "platform/thread.h"
#include "ui/server_select_dlg.h"
#include "ui/update_dlg.h"

#include <atomic>

namespace {

// Read by the install worker, set by tests before any install step starts.
std::atomic<InstallDecompressor> g_decompressor{decompress_file};
std::atomic<bool> g_bInline{false};

// The name a received File.ver is stored under; it is kept as received and
// never decompressed over anything.
const char kVersionRecordCopy[] = "null.dat";

// Also the decompressor's last word before a fatal error ends the process:
// the player learns which file could not be installed, instead of seeing the
// window vanish.
void TellCannotDecompress(const char* lpszPath) {
    CString strText;
    strText.Format("Can't decompress %s", lpszPath);
    AfxMessageBox(strText, MB_ICONERROR);
}

// The ".gz" path of every listed file that is to be decompressed.
void ListPathsToDecompress(const CUpdateDlg* pDlg, CStringArray& paths) {
    for (INT_PTR i = 0; i < pDlg->m_receivedFiles.GetSize(); ++i) {
        const CString& strName = pDlg->m_receivedFiles[i];
        if (strName.CompareNoCase(kVersionRecordCopy) == 0)
            continue;
        CString strPath;
        strPath.Format("%s.gz", strName.GetString());
        paths.Add(strPath);
    }
}

// What the please-wait panel shows of an install that takes longer than a
// second: the files done and the plain bytes written so far. Fed by the
// decompressor on the worker thread and sent to the panel at most a few times
// a second.
class InstallProgress {
  public:
    InstallProgress(CWaitDlg& panel, int nFiles, std::uint64_t nExpected)
        : m_panel(panel), m_nStart(GetTickCount64()) {
        m_progress = {0, nFiles, 0, nExpected};
        s_pRunning = this;
        set_gunzip_progress_notice(OnWritten);
    }
    ~InstallProgress() {
        set_gunzip_progress_notice(nullptr);
        s_pRunning = nullptr;
    }
    InstallProgress(const InstallProgress&) = delete;
    InstallProgress& operator=(const InstallProgress&) = delete;

    void FileDone() {
        ++m_progress.nDone;
        Show();
    }

  private:
    static const ULONGLONG kQuietMs = 1000; // a short install shows nothing
    static const ULONGLONG kEveryMs = 100;

    static void OnWritten(unsigned nBytes) {
        s_pRunning->m_progress.nBytes += nBytes;
        s_pRunning->Show();
    }
    void Show() {
        const ULONGLONG nNow = GetTickCount64();
        if (nNow - m_nStart < kQuietMs || nNow - m_nShown < kEveryMs)
            return;
        m_nShown = nNow;
        if (IsWindow(m_panel.GetSafeHwnd()))
            m_panel.SendMessage(WM_WAIT_PROGRESS, 0, reinterpret_cast<LPARAM>(&m_progress));
    }

    static InstallProgress* s_pRunning; // the worker's (there is one at a time)
    CWaitDlg& m_panel;
    WaitProgress m_progress;
    ULONGLONG m_nStart;
    ULONGLONG m_nShown = 0;
};

InstallProgress* InstallProgress::s_pRunning = nullptr;

// An install that runs out of room half-way fails on a file the player can
// do nothing about; checked first, it changes nothing and the next run, after
// the player made room, gets the same files again. The list is emptied so
// that the install step at the window's end does not say it a second time.
BOOL HasRoomToInstall(CUpdateDlg* pDlg, const CStringArray& paths, std::uint64_t& nPlainTotal) {
    const std::uint64_t nNeeded = SpaceToDecompress(paths, &nPlainTotal);
    std::uint64_t nFree = 0;
    if (!QueryWorkingDirFreeSpace(nFree) || nFree >= nNeeded)
        return TRUE;
    AfxMessageBox(DiskFullText(nNeeded), MB_ICONERROR);
    pDlg->m_receivedFiles.RemoveAll();
    pDlg->EndDialog(0);
    return FALSE;
}

// Decompresses every listed file; FALSE (after telling the user) at the first
// one that fails, leaving the list as it is so a later install step retries.
BOOL DecompressReceivedFiles(CUpdateDlg* pDlg, const CStringArray& paths,
                             std::uint64_t nPlainTotal) {
    set_gunzip_fatal_notice(TellCannotDecompress);
    const InstallDecompressor decompress = g_decompressor.load();
    InstallProgress progress(pDlg->m_waitDlg, static_cast<int>(paths.GetSize()), nPlainTotal);
    for (INT_PTR i = 0; i < paths.GetSize(); ++i) {
        const CString& strPath = paths[i];
        // NOTE: a status of 2 (a warning, e.g. bytes after the last member)
        // counts as a failure too: the record must not claim a version whose
        // files may not be what the server meant.
        if (decompress(strPath) != 0) {
            TellCannotDecompress(strPath);
            pDlg->EndDialog(0);
            return FALSE;
        }
        progress.FileDone();
    }
    return TRUE;
}

} // namespace

void SetInstallDecompressor(InstallDecompressor fn) {
    g_decompressor.store(fn ? fn : decompress_file);
}

void SetInstallInline(bool bInline) {
    g_bInline.store(bInline);
}

// Runs on the worker thread. The user-interface thread touches neither the
// list nor the version pair until this has returned, so neither is locked.
// Its message boxes and its request to end the window are marshalled to the
// user-interface thread by the platform.
unsigned __stdcall InstallWorker(void* pParam) {
    CUpdateDlg* pDlg = static_cast<CUpdateDlg*>(pParam);
    if (pDlg->m_receivedFiles.GetSize() == 0)
        return 0;
    CStringArray paths;
    ListPathsToDecompress(pDlg, paths);
    std::uint64_t nPlainTotal = 0;
    if (!HasRoomToInstall(pDlg, paths, nPlainTotal) ||
        !DecompressReceivedFiles(pDlg, paths, nPlainTotal))
        return 0;
    pDlg->m_receivedFiles.RemoveAll();
    if (!pDlg->WriteVersionRecord()) {
        AfxMessageBox("Can't create File.ver", MB_ICONERROR);
        pDlg->EndDialog(0);
    }
    return 0;
}

void CUpdateDlg::InstallReceivedFiles() {
    AfxGetApp()->BeginWaitCursor();
    const bool bInline = g_bInline.load();
    unsigned nThreadId = 0;
    HANDLE hThread = bInline ? nullptr
                             : reinterpret_cast<HANDLE>(
                                   _beginthreadex(nullptr, 0, InstallWorker, this, 0, &nThreadId));
    m_waitDlg.m_hThread = hThread;
    // The panel exists only when the window's start-up got that far.
    const BOOL bPanel = IsWindow(m_waitDlg.GetSafeHwnd());
    if (bPanel) {
        // What the window still has to draw is drawn now, beneath the panel:
        // drawn later, it would go over it.
        UpdateWindow();
        m_waitDlg.ShowWindow(SW_SHOW);
        m_waitDlg.UpdateWindow();
    }
    if (hThread != nullptr) {
        AfxWaitForWorker(hThread);
        CloseHandle(hThread);
    } else {
        // Also when the worker cannot be started (the system is out of
        // threads): the install runs here, the window unanswered meanwhile,
        // rather than being left to the window's destruction, after the
        // server list and perhaps the game have started.
        InstallWorker(this);
    }
    m_waitDlg.m_hThread = nullptr;
    if (bPanel && IsWindow(m_waitDlg.GetSafeHwnd())) {
        m_waitDlg.ShowWindow(SW_HIDE);
        m_waitDlg.HideProgress();
    }
    AfxGetApp()->EndWaitCursor();
}

// The window's modal run ends only when control is back in it, that is after
// the server selection has closed.
void CUpdateDlg::FinishUpdate() {
    m_bFinishing = TRUE;
    StopWatching();
    InstallReceivedFiles();
    EndDialog(0);
    CServerSelectDlg dlg(nullptr);
    dlg.DoModal();
}
