// The please-wait panel shown over the progress window while received files
// are installed.
#pragma once

#include "platform/wnd.h"

#include <cstdint>

// How far an install has come, for the panel.
struct WaitProgress {
    int nDone;               // files installed
    int nFiles;              // files to install
    std::uint64_t nBytes;    // plain bytes written so far
    std::uint64_t nExpected; // plain bytes the files declare in all (0: unknown)
};

// Sent (from the install worker too) with a WaitProgress in lParam.
#define WM_WAIT_PROGRESS (WM_APP + 1)

class CWaitDlg : public CDialog {
  public:
    explicit CWaitDlg(CWnd* pParent = nullptr);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Hides the progress again, for the next install.
    void HideProgress();

    HANDLE m_hThread = nullptr; // the running install worker, if any

  private:
    // The figures below the notice, and a bar; the notice itself stays as it
    // is.
    void ShowProgress(const WaitProgress& progress);
};
