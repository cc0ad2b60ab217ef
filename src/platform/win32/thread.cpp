// Win32 backend: the user-interface thread's wait for a worker, and the
// parking of that thread when the worker ends the process.
//
// The worker is the C runtime's own _beginthreadex. While the user-interface
// thread waits here it serves only messages other threads send to its windows
// and painting: a message box the worker shows is the worker's own window,
// owned by the dialog, and its modal loop runs on the worker; showing it
// disables and activates the owner through sent messages, which this wait
// serves. Input, socket notifications and posted requests stay queued and are
// taken when the modal run has control again.
#include "platform/thread.h"

#include "platform/win32/event_loop.h"

#include <cstdlib>

namespace {

HANDLE g_parkRequest = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE g_parkTaken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
const DWORD kParkTimeoutMs = 2000;
const DWORD kPollMs = 100;

// NOTE: the decompressor ends the process with exit() on the worker while the
// user-interface thread waits for it. exit() runs the exit handlers and the
// destructors of statics before the system ends the other threads; this
// handler runs first of them (it is registered last, when the first wait
// begins) and returns once the user-interface thread has stopped for good, so
// nothing of the user interface runs while the runtime tears down.
void ParkUiThreadAtExit() {
    if (tvwin32::IsUiThread())
        return;
    SetEvent(g_parkRequest);
    WaitForSingleObject(g_parkTaken, kParkTimeoutMs);
}

[[noreturn]] void Park() {
    SetEvent(g_parkTaken);
    for (;;)
        Sleep(INFINITE);
}

} // namespace

DWORD AfxWaitForWorker(HANDLE hThread) {
    if (!tvwin32::IsUiThread())
        return WaitForSingleObject(hThread, INFINITE);
    static const bool s_registered = std::atexit(ParkUiThreadAtExit) == 0;
    (void)s_registered;
    HANDLE handles[2] = {hThread, g_parkRequest};
    const tvwin32::RestrictedWait wait;
    tvwin32::ServeSentAndPaint(); // the window shows its last state while it waits
    for (;;) {
        const DWORD r =
            MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, tvwin32::kRestrictedWake);
        if (r == WAIT_OBJECT_0)
            return WAIT_OBJECT_0;
        if (r == WAIT_OBJECT_0 + 1)
            Park();
        if (r != WAIT_OBJECT_0 + 2)
            return WAIT_FAILED; // an invalid handle, never signalled
        tvwin32::ServeSentAndPaint();
    }
}
