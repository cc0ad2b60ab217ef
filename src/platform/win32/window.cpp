// Win32 backend: the window side of CWnd, and the routing of real window
// messages to the framework objects.
//
// Divisions:
//   1. The map of windows to objects and the routing procedure
//   2. CWnd over the real window functions
//   3. CDC / CPaintDC
#include "platform/win32/window.h"

#include "platform/common/window_message.h"
#include "platform/win32/control_paint.h"
#include "platform/win32/event_loop.h"

#include <memory>
#include <unordered_map>

namespace tvwin32 {

int g_waitCursorDepth = 0;

namespace {

// ---- 1. Map and routing ---------------------------------------------------------

struct Entry {
    CWnd* pWnd = nullptr;
    WNDPROC original = nullptr;    // set when the window's messages are routed
    std::unique_ptr<CWnd> standIn; // FromHandle's object for an unattached window
    // A dialog's controls by id, as found. NOTE: under Wine every GetDlgItem
    // lists the children through the Wine server, and data exchange looks up
    // every label each time the counters change.
    std::unordered_map<int, HWND> items;
};

// NOTE: leaked on purpose (see event_loop.cpp).
std::unordered_map<HWND, Entry>& Windows() {
    static auto* map = new std::unordered_map<HWND, Entry>;
    return *map;
}

Entry* Find(HWND hWnd) {
    auto it = Windows().find(hWnd);
    return it == Windows().end() ? nullptr : &it->second;
}

// Child windows die after their parent's WM_DESTROY and before its
// WM_NCDESTROY; their entries go when it does.
void ForgetDeadWindows() {
    for (auto it = Windows().begin(); it != Windows().end();) {
        if (IsWindow(it->first)) {
            ++it;
            continue;
        }
        if (it->second.pWnd && it->second.pWnd->m_hWnd == it->first)
            it->second.pWnd->m_hWnd = nullptr;
        if (it->second.standIn)
            it->second.standIn->m_hWnd = nullptr;
        it = Windows().erase(it);
    }
}

LRESULT CALLBACK RoutingProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Entry* e = Find(hWnd);
    if (!e || !e->original)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    const WNDPROC original = e->original;
    LRESULT held;
    if (AnswerOnUiThread(hWnd, message, wParam, lParam, held))
        return held; // the caption, kept with the frame of its window
    switch (message) {
    case WM_NCDESTROY: {
        const LRESULT r = CallWindowProcW(original, hWnd, message, wParam, lParam);
        ForgetFrame(hWnd);
        DetachWindow(hWnd);
        return r;
    }
    case WM_SETCURSOR:
        if (g_waitCursorDepth > 0) {
            SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            return TRUE;
        }
        break;
    case kEndDialogMessage:
        // An end request a worker queued: taken once the modal run has
        // control again.
        if (IsModal(hWnd)) {
            MarkModalEnded(hWnd);
            EndDialog(hWnd, static_cast<INT_PTR>(wParam));
        } else {
            ShowWindow(hWnd, SW_HIDE);
        }
        return 0;
    case kPaintShownMessage:
        RedrawWindow(hWnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        return 0;
    default:
        break;
    }
    if (e->pWnd)
        return e->pWnd->WindowProc(message, wParam, lParam);
    return CallWindowProcW(original, hWnd, message, wParam, lParam);
}

} // namespace

void AttachWindow(HWND hWnd, CWnd* pWnd, bool bRoute) {
    Entry& e = Windows()[hWnd];
    if (e.standIn) {
        e.standIn->m_hWnd = nullptr;
        e.standIn.reset();
    }
    e.pWnd = pWnd;
    pWnd->m_hWnd = hWnd;
    if (bRoute && !e.original)
        e.original = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RoutingProc)));
}

CWnd* AttachedWindow(HWND hWnd) {
    Entry* e = Find(hWnd);
    return e ? e->pWnd : nullptr;
}

void DetachWindow(HWND hWnd) {
    if (Entry* e = Find(hWnd)) {
        if (e->original && IsWindow(hWnd))
            SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(e->original));
        if (e->pWnd && e->pWnd->m_hWnd == hWnd)
            e->pWnd->m_hWnd = nullptr;
        if (e->standIn)
            e->standIn->m_hWnd = nullptr;
        Windows().erase(hWnd);
    }
    ForgetDeadWindows();
}

namespace {

// NOTE: the windows whose state the backend keeps are found without the
// system (under Wine IsWindow and SendMessage each pass into the system's
// Unix side, and data exchange makes dozens of them per piece received).
bool Exists(HWND hWnd) {
    return IsLiveControl(hWnd) || ::IsWindow(hWnd);
}

} // namespace

} // namespace tvwin32

LRESULT tvplatform::SendToWindow(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result;
    if (tvwin32::IsUiThread() && tvwin32::AnswerOnUiThread(hWnd, message, wParam, lParam, result))
        return result;
    return ::SendMessageW(hWnd, message, wParam, lParam);
}

// ---- 2. CWnd --------------------------------------------------------------------

CWnd::~CWnd() {
    HWND h = m_hWnd;
    if (h == nullptr)
        return;
    tvwin32::Entry* e = tvwin32::Find(h);
    if (e && e->pWnd == this) {
        // A dialog object that goes first takes its window with it; a
        // control's window belongs to its dialog.
        const bool bRouted = e->original != nullptr;
        tvwin32::DetachWindow(h);
        if (bRouted && ::IsWindow(h) && tvwin32::IsUiThread())
            ::DestroyWindow(h);
    }
    m_hWnd = nullptr;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (hWnd == nullptr || !tvwin32::Exists(hWnd))
        return nullptr;
    auto& e = tvwin32::Windows()[hWnd];
    if (e.pWnd)
        return e.pWnd;
    if (!e.standIn) {
        e.standIn = std::make_unique<CWnd>();
        e.standIn->m_hWnd = hWnd;
    }
    return e.standIn.get();
}

CWnd* CWnd::GetDlgItem(int nID) const {
    tvwin32::Entry* e = tvwin32::Find(m_hWnd);
    if (e == nullptr || !e->original)
        return FromHandle(::GetDlgItem(m_hWnd, nID));
    auto it = e->items.find(nID);
    if (it == e->items.end() || !tvwin32::Exists(it->second))
        it = e->items.insert_or_assign(nID, ::GetDlgItem(m_hWnd, nID)).first;
    return FromHandle(it->second);
}

CWnd* CWnd::GetParent() const {
    return FromHandle(::GetParent(m_hWnd));
}

BOOL CWnd::ShowWindow(int nCmdShow) {
    return ::ShowWindow(m_hWnd, nCmdShow);
}

BOOL CWnd::IsWindowVisible() const {
    return ::IsWindowVisible(m_hWnd);
}

BOOL CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}

void CWnd::UpdateWindow() {
    if (tvwin32::IsUiThread())
        tvwin32::ShowPendingFrame(m_hWnd);
    // The controls are windows of their own: they are painted with it.
    RedrawWindow(m_hWnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void CWnd::Invalidate(BOOL bErase) {
    InvalidateRect(m_hWnd, nullptr, bErase);
}

// As the framework does it: a child is centred in its parent's client area;
// a top-level window over the given window or its owner when that is visible,
// otherwise on the work area of its monitor.
void CWnd::CenterWindow(CWnd* pAlternateOwner) {
    if (!::IsWindow(m_hWnd))
        return;
    RECT self, area;
    ::GetWindowRect(m_hWnd, &self);
    const bool bChild = (GetWindowLongPtrW(m_hWnd, GWL_STYLE) & WS_CHILD) != 0;
    HWND hCenter = pAlternateOwner ? pAlternateOwner->m_hWnd
                                   : (bChild ? ::GetParent(m_hWnd) : ::GetWindow(m_hWnd, GW_OWNER));
    if (bChild) {
        HWND hParent = ::GetParent(m_hWnd);
        ::GetClientRect(hParent, &area);
        if (hCenter && hCenter != hParent) {
            RECT r;
            ::GetWindowRect(hCenter, &r);
            MapWindowPoints(nullptr, hParent, reinterpret_cast<POINT*>(&r), 2);
            area = r;
        }
    } else {
        MONITORINFO mi = {};
        mi.cbSize = sizeof mi;
        GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
        area = mi.rcWork;
        if (hCenter && ::IsWindowVisible(hCenter) && !::IsIconic(hCenter))
            ::GetWindowRect(hCenter, &area);
    }
    const int cx = self.right - self.left, cy = self.bottom - self.top;
    const int x = (area.left + area.right - cx) / 2;
    const int y = (area.top + area.bottom - cy) / 2;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWnd::GetClientRect(LPRECT lpRect) const {
    if (!::GetClientRect(m_hWnd, lpRect))
        *lpRect = {0, 0, 0, 0};
}

BOOL CWnd::DestroyWindow() {
    if (m_hWnd == nullptr || !::IsWindow(m_hWnd))
        return FALSE;
    return ::DestroyWindow(m_hWnd);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    tvwin32::Entry* e = tvwin32::Find(m_hWnd);
    if (e && e->original)
        return CallWindowProcW(e->original, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

// ---- 3. Paint contexts ----------------------------------------------------------

BOOL CDC::DrawIcon(int x, int y, HICON hIcon) {
    return ::DrawIcon(m_hDC, x, y, hIcon);
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd ? pWnd->m_hWnd : nullptr) {
    PAINTSTRUCT ps;
    m_hDC = m_hWnd ? BeginPaint(m_hWnd, &ps) : nullptr;
}

CPaintDC::~CPaintDC() {
    if (m_hDC == nullptr)
        return;
    // NOTE: EndPaint releases the context named in the structure and shows
    // the caret again; nothing else of it is read.
    PAINTSTRUCT ps = {};
    ps.hdc = m_hDC;
    EndPaint(m_hWnd, &ps);
}
