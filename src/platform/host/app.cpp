// Host backend: the application object, message boxes and start-up seams.
#include "platform/app.h"

#include "platform/common/app_state.h"
#include "platform/host/event_loop.h"
#include "platform/host/frontend.h"
#include "platform/host/window.h"
#include "platform/socket.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

std::atomic<bool> g_socketInitFails{false};
int g_waitCursor = 0;

int ShowMessageBox(const char* text, UINT nType, bool fromWorker) {
    tvhost::MessageBoxEvent ev{AfxGetAppName(), text ? text : "", tvhost::BoxIconFromType(nType),
                               nType, fromWorker};
    HWND h = tvhost::CreateMessageBoxWindow(ev);
    int r = tvhost::GetFrontEnd().OnMessageBox(h, ev);
    if (r < 0) {
        tvhost::RunModal(h);
        r = tvhost::IsLiveWindow(h) ? static_cast<int>(tvhost::Win(h)->result) : IDCANCEL;
    }
    tvhost::DestroyWindowTree(h);
    return r;
}

} // namespace

namespace tvplatform {

std::string& ApplicationName() {
    // NOTE: program_invocation_short_name is argv[0]'s base name; start-up
    // replaces it with the name without extension (see host_main.cpp).
    static auto* name = new std::string(program_invocation_short_name);
    return *name;
}

std::string& ApplicationCommandLine() {
    static auto* cmd = new std::string;
    return *cmd;
}

} // namespace tvplatform

namespace tvhost {

void SetAppName(const char* name) {
    std::string& appName = tvplatform::ApplicationName();
    appName = name ? name : "";
    if (CWinApp* app = AfxGetApp()) {
        app->m_pszAppName = appName.c_str();
        app->m_pszExeName = appName.c_str();
    }
}

void SetSocketInitFails(bool fails) {
    g_socketInitFails.store(fails);
}

void SetCommandLine(const char* cmdLine) {
    std::string& line = tvplatform::ApplicationCommandLine();
    line = cmdLine ? cmdLine : "";
    if (CWinApp* app = AfxGetApp())
        app->m_lpCmdLine = line.data();
}

} // namespace tvhost

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
