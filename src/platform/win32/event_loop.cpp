// Win32 backend: the user-interface thread, the modal stack and the
// restricted pump.
#include "platform/win32/event_loop.h"

#include "platform/win32/control_paint.h"

#include <atomic>
#include <vector>

namespace tvwin32 {

namespace {

std::atomic<DWORD> g_uiThread{0};
// The innermost visible modal dialog, readable from a worker that shows a
// message box while the user-interface thread waits for it.
std::atomic<HWND> g_boxOwner{nullptr};
// Restricted waits in progress (user-interface thread only).
int g_restrictedDepth = 0;

// NOTE: leaked on purpose, as every static of this backend that a window
// procedure touches: a worker may end the process while the user-interface
// thread still runs, and no destructor may pull this away from under it.
struct ModalRun {
    HWND hDlg;
    bool ended; // EndDialog was called: it is going away
};

std::vector<ModalRun>& ModalStack() {
    static auto* stack = new std::vector<ModalRun>;
    return *stack;
}

void UpdateOwner() {
    HWND owner = nullptr;
    for (auto it = ModalStack().rbegin(); it != ModalStack().rend(); ++it)
        if (!it->ended && IsWindow(it->hDlg)) {
            owner = it->hDlg;
            break;
        }
    g_boxOwner.store(owner);
}

} // namespace

bool IsUiThread() {
    return g_uiThread.load() == GetCurrentThreadId();
}

void BindUiThread() {
    g_uiThread.store(GetCurrentThreadId());
}

void BindUiThreadIfUnbound() {
    DWORD none = 0;
    g_uiThread.compare_exchange_strong(none, GetCurrentThreadId());
}

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

void PushModal(HWND hDlg) {
    ModalStack().push_back({hDlg, false});
    UpdateOwner();
}

void PopModal(HWND hDlg) {
    auto& stack = ModalStack();
    for (auto it = stack.rbegin(); it != stack.rend(); ++it)
        if (it->hDlg == hDlg) {
            stack.erase(std::next(it).base());
            break;
        }
    UpdateOwner();
}

bool IsModal(HWND hDlg) {
    for (const ModalRun& run : ModalStack())
        if (run.hDlg == hDlg)
            return true;
    return false;
}

void MarkModalEnded(HWND hDlg) {
    for (ModalRun& run : ModalStack())
        if (run.hDlg == hDlg)
            run.ended = true;
    UpdateOwner();
}

HWND MessageBoxOwner() {
    if (IsUiThread())
        UpdateOwner(); // a window may have gone since the last change
    HWND owner = g_boxOwner.load();
    return owner && IsWindow(owner) ? owner : nullptr;
}

RestrictedWait::RestrictedWait() {
    ++g_restrictedDepth;
}

RestrictedWait::~RestrictedWait() {
    --g_restrictedDepth;
}

bool InRestrictedWait() {
    return g_restrictedDepth > 0;
}

void ServeSentAndPaint() {
    ShowPendingFrames();
    MSG msg;
    // A peek for sent messages only runs them; nothing posted is removed.
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    // NOTE: bounded, so a window that never validates itself cannot hold the
    // thread here.
    for (int i = 0; i < 64 && PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE); ++i)
        DispatchMessageW(&msg);
}

} // namespace tvwin32
