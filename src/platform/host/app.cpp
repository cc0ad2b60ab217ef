// Host backend: the application object, message boxes and start-up seams.
#include "platform/app.h"

#include "platform/host/event_loop.h"
#include "platform/host/frontend.h"
#include "platform/host/window.h"
#include "platform/resources.h"
#include "platform/socket.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

CWinApp* g_app = nullptr;
std::atomic<bool> g_socketInitFails{false};
int g_waitCursor = 0;

std::string& AppName() {
    // NOTE: program_invocation_short_name is argv[0]'s base name; start-up
    // replaces it with the name without extension (see host_main.cpp).
    static auto* name = new std::string(program_invocation_short_name);
    return *name;
}

std::string& CmdLine() {
    static auto* cmd = new std::string;
    return *cmd;
}

int ShowMessageBox(const char* text, UINT nType, bool fromWorker) {
    tvhost::MessageBoxEvent ev{AfxGetAppName(), text ? text : "", tvhost::BoxIconFromType(nType),
                               nType, fromWorker};
    HWND h = tvhost::CreateMessageBoxWindow(ev);
    int r = tvhost::GetFrontEnd().OnMessageBox(h, ev);
    if (r < 0) {
        tvhost::RunModal(h);
        r = tvhost::IsLiveWindow(h) ? static_cast<int>(h->result) : IDCANCEL;
    }
    tvhost::DestroyWindowTree(h);
    return r;
}

} // namespace

namespace tvhost {

void SetAppName(const char* name) {
    AppName() = name ? name : "";
    if (g_app) {
        g_app->m_pszAppName = AppName().c_str();
        g_app->m_pszExeName = AppName().c_str();
    }
}

void SetSocketInitFails(bool fails) {
    g_socketInitFails.store(fails);
}

void SetCommandLine(const char* cmdLine) {
    CmdLine() = cmdLine ? cmdLine : "";
    if (g_app)
        g_app->m_lpCmdLine = CmdLine().data();
}

} // namespace tvhost

CWinApp::CWinApp(const char* lpszAppName) {
    g_app = this;
    if (lpszAppName)
        AppName() = lpszAppName;
    m_pszAppName = AppName().c_str();
    m_pszExeName = AppName().c_str();
    m_lpCmdLine = CmdLine().data();
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

HICON CWinApp::LoadIcon(UINT nIDResource) const {
    // Icons are not drawn on the host; the handle only has to be non-null.
    return reinterpret_cast<HICON>(static_cast<std::uintptr_t>(0x10000u + nIDResource));
}

void CWinApp::DoWaitCursor(int nCode) {
    if (nCode > 0)
        ++g_waitCursor;
    else if (nCode < 0 && g_waitCursor > 0)
        --g_waitCursor;
    tvhost::MarkDirty();
}

CWinApp* AfxGetApp() {
    return g_app;
}

const char* AfxGetAppName() {
    return AppName().c_str();
}

void AfxEnableControlContainer() {}

BOOL AfxSocketInit(WSAData* lpwsaData) {
    // The host's sockets need no start-up; they behave as Windows Sockets 1.1.
    if (g_socketInitFails.load())
        return FALSE;
    if (lpwsaData) {
        *lpwsaData = {};
        lpwsaData->wVersion = 0x0101;
        lpwsaData->wHighVersion = 0x0202;
        std::strcpy(lpwsaData->szDescription, "Host sockets");
        std::strcpy(lpwsaData->szSystemStatus, "Running");
    }
    return TRUE;
}

int AfxMessageBox(const char* lpszText, UINT nType, UINT) {
    if (tvhost::IsUiThread())
        return ShowMessageBox(lpszText, nType, false);
    int r = IDOK;
    tvhost::RunOnUiThread([&] { r = ShowMessageBox(lpszText, nType, true); });
    return r;
}

int AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp) {
    const char* text = AfxFindString(nIDPrompt);
    return AfxMessageBox(text ? text : "", nType, nIDHelp);
}
