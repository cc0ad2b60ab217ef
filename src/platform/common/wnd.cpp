// Platform layer, shared code: CWnd's member functions as window messages and
// the dispatch of its window procedure to the virtual handlers. The same on
// every backend; the window behind m_hWnd (its creation, lookup, visibility,
// default procedure) is the backend's.
#include "platform/wnd.h"

#include "platform/common/window_message.h"
#include "platform/common/window_text.h"

#include <vector>

void CWnd::SetWindowText(const char* lpszString) {
    tvplatform::WindowString text = tvplatform::ToWindowText(lpszString);
    tvplatform::SendToWindow(m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void CWnd::GetWindowText(CString& rString) const {
    LRESULT n = tvplatform::SendToWindow(m_hWnd, WM_GETTEXTLENGTH, 0, 0);
    std::vector<TCHAR> buf(static_cast<std::size_t>(n > 0 ? n : 0) + 1, TCHAR{});
    tvplatform::SendToWindow(m_hWnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    rString = tvplatform::FromWindowText(buf.data());
}

void CWnd::SetDlgItemText(int nID, const char* lpszString) {
    if (CWnd* p = GetDlgItem(nID))
        p->SetWindowText(lpszString);
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    return reinterpret_cast<HICON>(::SendMessage(
        m_hWnd, WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return tvplatform::SendToWindow(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessage(m_hWnd, message, wParam, lParam);
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse,
                        void(CALLBACK* lpfnTimer)(HWND, UINT, UINT_PTR, DWORD)) {
    return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) {
    return ::KillTimer(m_hWnd, nIDEvent);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(OnQueryDragIcon());
    case WM_TIMER:
        OnTimer(static_cast<UINT_PTR>(wParam));
        return 0;
    case WM_COMMAND:
        if (OnCommand(LOWORD(wParam), HIWORD(wParam)))
            return 0;
        break;
    default:
        break;
    }
    return DefWindowProc(message, wParam, lParam);
}

void CWnd::OnPaint() {
    CPaintDC dc(this);
}

void CWnd::OnDestroy() {}

void CWnd::OnClose() {
    DefWindowProc(WM_CLOSE, 0, 0);
}

HCURSOR CWnd::OnQueryDragIcon() {
    return nullptr;
}

void CWnd::OnTimer(UINT_PTR) {}

BOOL CWnd::OnCommand(UINT, UINT) {
    return FALSE;
}
