// Win32 backend: the application object, message boxes, the busy cursor and
// socket start-up.
#include "platform/app.h"

#include "platform/common/app_state.h"
#include "platform/common/window_text.h"
#include "platform/win32/event_loop.h"
#include "platform/win32/syscalls.h"
#include "platform/win32/window.h"

#include <string>

namespace {

// The executable's base name without its extension, as UTF-8.
std::string ModuleBaseName() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return {};
    std::wstring name(path, n);
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        name.erase(0, slash + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0)
        name.erase(dot);
    return tvplatform::FromWindowText(name.c_str());
}

// The command line after the program name, as the runtime hands it to an
// ANSI WinMain: the program name ends at its closing quote, or at the first
// blank when it is not quoted; the blanks after it are skipped.
std::string ArgumentsAfterProgramName() {
    const char* p = GetCommandLineA();
    if (p == nullptr)
        return {};
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t')
            ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

void ShowCursorState() {
    SetCursor(LoadCursorW(nullptr, tvwin32::g_waitCursorDepth > 0 ? IDC_WAIT : IDC_ARROW));
}

} // namespace

namespace tvplatform {

// NOTE: leaked on purpose (see event_loop.cpp): the caption is read by
// message boxes a worker may show while the process ends.
std::string& ApplicationName() {
    static auto* name = new std::string(ModuleBaseName());
    return *name;
}

std::string& ApplicationCommandLine() {
    static auto* cmd = new std::string(ArgumentsAfterProgramName());
    return *cmd;
}

} // namespace tvplatform

HICON CWinApp::LoadIcon(UINT nIDResource) const {
    return ::LoadIconW(tvwin32::Instance(), MAKEINTRESOURCEW(nIDResource));
}

void CWinApp::DoWaitCursor(int nCode) {
    if (nCode > 0)
        ++tvwin32::g_waitCursorDepth;
    else if (nCode < 0 && tvwin32::g_waitCursorDepth > 0)
        --tvwin32::g_waitCursorDepth;
    ShowCursorState();
}

void AfxEnableControlContainer() {
    // No control in the program's templates is hosted through ActiveX.
}

BOOL AfxSocketInit(WSADATA* lpwsaData) {
    WSADATA data;
    if (tvwin32::syscalls.WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return FALSE;
    if (data.wVersion != MAKEWORD(1, 1)) {
        WSACleanup();
        return FALSE;
    }
    if (lpwsaData)
        *lpwsaData = data;
    return TRUE;
}

// Shown by the calling thread. On a worker the box is owned by the
// user-interface thread's innermost modal dialog, which its wait for the
// worker keeps serving (platform/thread.h); the box's own loop runs here.
int AfxMessageBox(const char* lpszText, UINT nType, UINT) {
    // The framework's presentation: an OK box without an icon warns.
    if ((nType & MB_ICONMASK) == 0 &&
        ((nType & MB_TYPEMASK) == MB_OK || (nType & MB_TYPEMASK) == MB_OKCANCEL))
        nType |= MB_ICONEXCLAMATION;
    HWND hOwner = tvwin32::MessageBoxOwner();
    if (hOwner == nullptr && tvwin32::IsUiThread())
        nType |= MB_TASKMODAL;
    const tvplatform::WindowString text = tvplatform::ToWindowText(lpszText);
    const tvplatform::WindowString caption = tvplatform::ToWindowText(AfxGetAppName());
    return MessageBoxW(hOwner, text.c_str(), caption.c_str(), nType);
}
