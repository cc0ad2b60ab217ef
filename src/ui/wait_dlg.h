// The please-wait panel shown over the progress window while received files
// are installed.
#pragma once

#include "platform/wnd.h"

class CWaitDlg : public CDialog {
  public:
    explicit CWaitDlg(CWnd* pParent = nullptr);

    HANDLE m_hThread = nullptr; // the running install worker, if any
};
