// Win32 backend: the link between real windows and the framework objects.
// A dialog's window procedure is replaced by one that hands every message to
// the attached object's WindowProc, whose DefWindowProc is the dialog
// manager's; controls attached by data exchange keep their own procedures
// (the framework only sends them messages). Touched on the user-interface
// thread only.
#pragma once

#include "platform/wnd.h"

namespace tvwin32 {

// Attaches pWnd to hWnd; with bRoute the window's messages go to
// pWnd->WindowProc from now on.
void AttachWindow(HWND hWnd, CWnd* pWnd, bool bRoute);
// The attached object, nullptr when there is none.
CWnd* AttachedWindow(HWND hWnd);
// Forgets hWnd and everything attached to windows that no longer exist.
void DetachWindow(HWND hWnd);

// Busy cursor depth of the application (CWinApp::DoWaitCursor).
extern int g_waitCursorDepth;

} // namespace tvwin32
