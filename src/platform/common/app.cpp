// Platform layer, shared code: the application object's life and the message
// box by string id. The same on every backend; names, icons, the cursor and
// the boxes themselves are the backend's.
#include "platform/app.h"

#include "platform/common/app_state.h"
#include "platform/resources.h"

namespace {

CWinApp* g_app = nullptr;

} // namespace

CWinApp::CWinApp(const char* lpszAppName) {
    g_app = this;
    std::string& name = tvplatform::ApplicationName();
    if (lpszAppName)
        name = lpszAppName;
    m_pszAppName = name.c_str();
    m_pszExeName = name.c_str();
    m_lpCmdLine = tvplatform::ApplicationCommandLine().data();
}

CWinApp::~CWinApp() {
    if (g_app == this)
        g_app = nullptr;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::ExitInstance() {
    return 0;
}

CWinApp* AfxGetApp() {
    return g_app;
}

const char* AfxGetAppName() {
    return tvplatform::ApplicationName().c_str();
}

int AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp) {
    const char* text = AfxFindString(nIDPrompt);
    return AfxMessageBox(text ? text : "", nType, nIDHelp);
}
