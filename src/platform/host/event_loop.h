// Host backend: the one user-interface event loop. It polls the sockets, the
// front end's input, a wake descriptor for posted messages and marshalled
// calls, and keeps a frame timer for coalesced painting. Readiness becomes an
// event dispatched after the poll returns, one event per poll, so a handler may
// close sockets or open a modal run (a nested run of the same loop) safely.
#pragma once

#include "platform/host/frontend.h"
#include "platform/wintypes.h"

#include <cstdint>
#include <functional>

namespace tvhost {

struct SocketEntry;

// A socket's place in the loop. The loop asks Interest() for the poll events
// to watch and calls Dispatch() with what poll reported.
struct SocketEntry {
    int fd = -1;
    virtual short Interest() const = 0;
    virtual void Dispatch(short revents) = 0;
    virtual ~SocketEntry() = default;
};

// The thread that runs the loop. Bound by the first loop use (or explicitly by
// host start-up); a call from any other thread is marshalled to it.
bool IsUiThread();
void BindUiThread();
// Binds the calling thread when no thread is bound yet.
void BindUiThreadIfUnbound();

// Posted messages (any thread). A message to a window that no longer exists is
// dropped.
void PostWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// Runs fn on the user-interface thread and returns when it has run (at once
// when called there). Served by every loop, restricted ones included.
void RunOnUiThread(const std::function<void()>& fn);

// For a process exit that starts on another thread than the user-interface
// one (a worker calling exit()): stops the user-interface thread in a
// marshalled call that never returns, so it no longer paints or touches what
// the exit handlers restore and destroy. Waits at most timeoutMs for it to be
// taken; does nothing on the user-interface thread.
void ParkUiThreadForExit(int timeoutMs);

// Runs the loop until hWnd->endRequested. Takes user input at the topmost
// modal window; takes socket notifications and posted messages unless a
// restricted wait is in progress further out (then they stay held).
void RunModal(HWND hWnd);

// A restricted wait: until fd reports one of events, or the deadline passes
// (steady-clock milliseconds, 0: none). Only paints and serves marshalled
// calls. Returns the revents, 0 on timeout.
short WaitRestricted(int fd, short events, std::int64_t deadlineMs);

// SIGINT/SIGTERM as the close box (front ends that own a terminal or run
// unattended turn this on).
void EnableCloseSignals(bool on);

void AddSocket(SocketEntry* entry);
void RemoveSocket(SocketEntry* entry);

// Painting: MarkDirty schedules a frame; PaintNow draws at once.
void MarkDirty();
void PaintNow();

// Drops the timers of a window that is being destroyed.
void KillWindowTimers(HWND hWnd);

// User input at the topmost modal window (user-interface thread).
void HandleKey(Key key);
void HandleListSelection(int nIndex);

std::int64_t NowMs();

// Internal message: end the modal run of a dialog (posted by EndDialog from
// another thread).
constexpr UINT kEndDialogMessage = WM_APP + 0x3F00;

} // namespace tvhost
