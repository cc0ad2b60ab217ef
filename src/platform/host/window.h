// Host backend: the window model behind HWND. Every window (dialog, control,
// message box) is one Window record owned by the host; its state (text,
// progress range and position, list items, visibility) lives here, as it lives
// in the window on Windows, so the framework classes only send messages.
// Touched only on the user-interface thread.
//
// An HWND is not the record's address: it is a slot index and that slot's
// generation, so a destroyed window's record is emptied at once (and kept for
// a later window) and its slot reused, while a late message to the old handle
// still finds nothing.
#pragma once

#include "platform/host/frontend.h"
#include "platform/resources.h"
#include "platform/wintypes.h"

#include <memory>
#include <string>
#include <vector>

class CWnd;

enum class WindowType { Dialog, Control, MessageBox };

struct ListItem {
    std::string text;
    DWORD_PTR data = 0;
};

namespace tvhost {

struct Window {
    WindowType type = WindowType::Dialog;
    const DialogTemplate* tmpl = nullptr; // dialogs: their template
    const DialogControl* ctl = nullptr;   // controls: their template entry
    int nID = 0;                          // controls: id; dialogs: template id
    ControlKind kind = ControlKind::StaticLeft;
    std::string text; // caption or control text (UTF-8)
    bool visible = false;
    bool centered = false; // child panel: centred on its parent
    HWND parent = nullptr;
    std::vector<HWND> children;    // controls and child dialogs
    CWnd* pWnd = nullptr;          // attached framework object, if any
    std::unique_ptr<CWnd> standIn; // FromHandle object for unattached windows
    // Progress bar: range and position (position always inside the range).
    int low = 0, high = 100, pos = 0;
    // List box: items and the selection (-1: none).
    std::vector<ListItem> items;
    int sel = -1;
    // Dialogs: the focused control (index into children, -1 none), modal state.
    int focus = -1;
    bool modal = false;
    bool endRequested = false;
    INT_PTR result = 0;
    HICON bigIcon = nullptr, smallIcon = nullptr;
    // Message boxes.
    tvhost::MessageBoxEvent box{};
    bool destroying = false;
};

// The record behind a handle; nullptr for a null, stale or foreign handle.
Window* Win(HWND hWnd);

// Creates a dialog window and its controls from a template (hidden unless the
// template says visible); pOwner becomes the attached object.
HWND CreateDialogWindow(const DialogTemplate* tmpl, HWND parent, CWnd* pOwner);
HWND CreateMessageBoxWindow(const MessageBoxEvent& box);
// WM_DESTROY to the window (then to its children), detaches every attached
// object and frees the windows.
void DestroyWindowTree(HWND hWnd);
bool IsLiveWindow(HWND hWnd);
// The host's window procedure for everything the framework object does not
// handle: control messages (PBM_*, LB_*, WM_SETTEXT ...), WM_SETICON.
LRESULT HostDefWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
HWND FindChild(HWND hDlg, int nID);
// Top-level windows (dialogs and message boxes) in creation order.
const std::vector<HWND>& TopLevelWindows();
// Sets the dialog's text control nID like WM_SETTEXT, notifying the front end.
void SetWindowTextInternal(HWND hWnd, const std::string& text);
// Template id of the dialog a window belongs to (0 for a message box).
UINT DialogTemplateId(HWND hWnd);

} // namespace tvhost
