// Platform layer contract: the application object, message boxes, the busy
// cursor and socket start-up. Only what the project defines itself lives here,
// in operating-system independent declarations.
#pragma once

#include "platform/wintypes.h"
#include "platform/wnd.h"

class CWinApp {
  public:
    // Without a name the application is named after its executable file
    // (the base name without directory and extension).
    explicit CWinApp(const char* lpszAppName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Start-up override. The program ends when it returns (no loop of its own
    // follows on this platform, whatever it returns).
    virtual BOOL InitInstance();
    virtual int ExitInstance();

    HICON LoadIcon(UINT nIDResource) const;
    void BeginWaitCursor() { DoWaitCursor(1); }
    void EndWaitCursor() { DoWaitCursor(-1); }
    // 1: push the busy cursor, -1: pop it, 0: show the current state again.
    virtual void DoWaitCursor(int nCode);
    BOOL Enable3dControls() { return TRUE; }

    const char* m_pszAppName = nullptr; // message box caption
    const char* m_pszExeName = nullptr;
    CWnd* m_pMainWnd = nullptr;
    // The command line after the program name ("" when there is none).
    char* m_lpCmdLine = nullptr;
};

CWinApp* AfxGetApp();
const char* AfxGetAppName();
void AfxEnableControlContainer();

// Asks for Windows Sockets 1.1; FALSE when the socket layer is unusable.
struct WSAData;
BOOL AfxSocketInit(WSAData* lpwsaData = nullptr);

// A modal box with an OK button, the application name as caption and the icon
// from nType (an OK-only box without an icon flag gets the warning icon).
// Callable from any thread: from a worker it is shown in front of the
// innermost dialog while the user-interface thread waits for that worker
// (AfxWaitForWorker), and the call returns when the user has dismissed it.
// (The host marshals the box to the user-interface thread; on Windows the
// worker shows it itself, owned by that dialog, as the framework does.)
int AfxMessageBox(const char* lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = static_cast<UINT>(-1));
