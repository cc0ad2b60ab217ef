// Win32 backend: the user-interface thread and its restricted waits. The
// message loops themselves are the system's (the dialog manager's modal loop,
// the message box's); what the backend adds is the binding of the one
// user-interface thread, the stack of modal dialogs (owners of message
// boxes) and the restricted pump that only paints.
#pragma once

#include "platform/wintypes.h"

namespace tvwin32 {

// The thread that runs the windows. Bound by the program entry, or by the
// first window, socket or wait made on a thread while none is bound (tests).
bool IsUiThread();
void BindUiThread();
void BindUiThreadIfUnbound();

// The module whose resources (icon 130, the version) the program has.
HINSTANCE Instance();

// Private messages. Socket notifications go to the hidden socket window; the
// end request to the dialog whose run a worker ends; the first paint to a
// dialog just shown; a frame that is due to its dialog.
constexpr UINT kSocketMessage = WM_APP + 0x3F00;
constexpr UINT kSocketDrainMessage = WM_APP + 0x3F01;
constexpr UINT kHostLookupMessage = WM_APP + 0x3F02;
constexpr UINT kEndDialogMessage = WM_APP + 0x3F03;
// A dialog shown draws itself whole once, whatever its run is busy with.
constexpr UINT kPaintShownMessage = WM_APP + 0x3F04;
// A dialog's frame of changed texts and bars is due: shown once the message
// that changed them has been handled whole.
constexpr UINT kShowFrameMessage = WM_APP + 0x3F05;

// Modal dialogs of the user-interface thread, innermost last. The innermost
// one that is not ending owns every message box, also the ones a worker
// shows; a box while none is left (the window's destruction) has no owner.
void PushModal(HWND hDlg);
void PopModal(HWND hDlg);
bool IsModal(HWND hDlg);
// EndDialog was called on it.
void MarkModalEnded(HWND hDlg);
HWND MessageBoxOwner();

// One round of the restricted pump: shows the changes waiting for their
// frame, serves messages other threads send to this thread's windows and
// paints what is invalid; takes nothing from the posted queue (input, socket
// notifications, posted requests stay there).
void ServeSentAndPaint();
// Held by a restricted wait for its length. What changes inside one (through
// the messages it serves) is shown at once: no posted request and no timer
// is taken there, and the wait may last (the install).
class RestrictedWait {
  public:
    RestrictedWait();
    ~RestrictedWait();
    RestrictedWait(const RestrictedWait&) = delete;
    RestrictedWait& operator=(const RestrictedWait&) = delete;
};
bool InRestrictedWait();
// The wake mask of a restricted wait: sent messages and painting.
constexpr DWORD kRestrictedWake = QS_SENDMESSAGE | QS_PAINT;

} // namespace tvwin32
