// The please-wait panel. Operating-system independent code only.
#include "ui/wait_dlg.h"

#include "ui/resource.h"

#include <algorithm>

namespace {

const int kBarRange = 1000;

} // namespace

CWaitDlg::CWaitDlg(CWnd* pParent) : CDialog(IDD_WAIT_DIALOG, pParent) {}

LRESULT CWaitDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_WAIT_PROGRESS) {
        ShowProgress(*reinterpret_cast<const WaitProgress*>(lParam));
        return 0;
    }
    return CDialog::WindowProc(message, wParam, lParam);
}

void CWaitDlg::ShowProgress(const WaitProgress& progress) {
    CWnd* pText = GetDlgItem(IDC_WAIT_PROGRESS);
    CWnd* pBar = GetDlgItem(IDC_WAIT_BAR);
    if (pText == nullptr || pBar == nullptr)
        return;
    CString str;
    str.Format("%d/%d files - %.1f MB", progress.nDone, progress.nFiles,
               static_cast<double>(progress.nBytes) / (1024.0 * 1024.0));
    pText->SetWindowText(str);
    pText->ShowWindow(SW_SHOW);
    // A file may decode to more than it declared: the bar then stays full.
    const std::uint64_t nExpected = std::max<std::uint64_t>(progress.nExpected, 1);
    const std::uint64_t nPos = std::min(progress.nBytes, nExpected) * kBarRange / nExpected;
    pBar->SendMessage(PBM_SETRANGE32, 0, kBarRange);
    pBar->SendMessage(PBM_SETPOS, static_cast<WPARAM>(nPos));
    pBar->ShowWindow(SW_SHOW);
}

void CWaitDlg::HideProgress() {
    for (int nID : {IDC_WAIT_PROGRESS, IDC_WAIT_BAR})
        if (CWnd* p = GetDlgItem(nID))
            p->ShowWindow(SW_HIDE);
}
