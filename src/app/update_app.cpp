// Start-up of the update client. Operating-system independent code only.
#include "app/update_app.h"

#include "app/settings.h"
#include "ui/resource.h"
#include "ui/update_dlg.h"

// No name of its own: the platform names the application after the
// executable, and that name is the caption of every message box.
CUpdateApp::CUpdateApp() : CWinApp(nullptr) {}

BOOL CUpdateApp::InitInstance() {
    RegisterUpdateResources();
    LoadConfig();
    if (!AfxSocketInit()) {
        AfxMessageBox(IDS_SOCKETS_INIT_FAILED);
        return FALSE;
    }
    AfxEnableControlContainer();
    Enable3dControls();

    CUpdateDlg* pDlg = new CUpdateDlg(nullptr);
    m_pMainWnd = pDlg;
    pDlg->DoModal();
    m_pMainWnd = nullptr;
    delete pDlg;
    return FALSE;
}
