// The please-wait panel. Operating-system independent code only.
#include "ui/wait_dlg.h"

#include "ui/resource.h"

CWaitDlg::CWaitDlg(CWnd* pParent) : CDialog(IDD_WAIT_DIALOG, pParent) {}
