// Platform layer, shared code: the progress bar and the list box as the
// messages of the system's common controls (PBM_*, LB_*). The same on every
// backend; the controls themselves are the backend's.
#include "platform/wnd.h"

#include "platform/common/window_message.h"
#include "platform/common/window_text.h"

#include <vector>

void CProgressCtrl::SetRange32(int nLower, int nUpper) {
    SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(nLower), nUpper);
}

void CProgressCtrl::GetRange(int& nLower, int& nUpper) const {
    PBRANGE r{0, 0};
    tvplatform::SendToWindow(m_hWnd, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&r));
    nLower = r.iLow;
    nUpper = r.iHigh;
}

int CProgressCtrl::SetPos(int nPos) {
    return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(nPos), 0));
}

int CProgressCtrl::GetPos() const {
    return static_cast<int>(tvplatform::SendToWindow(m_hWnd, PBM_GETPOS, 0, 0));
}

int CProgressCtrl::OffsetPos(int nPos) {
    return static_cast<int>(SendMessage(PBM_DELTAPOS, static_cast<WPARAM>(nPos), 0));
}

int CListBox::AddString(const char* lpszItem) {
    tvplatform::WindowString text = tvplatform::ToWindowText(lpszItem);
    return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

int CListBox::GetCount() const {
    return static_cast<int>(::SendMessage(m_hWnd, LB_GETCOUNT, 0, 0));
}

int CListBox::GetCurSel() const {
    return static_cast<int>(::SendMessage(m_hWnd, LB_GETCURSEL, 0, 0));
}

int CListBox::SetCurSel(int nSelect) {
    return static_cast<int>(SendMessage(LB_SETCURSEL, static_cast<WPARAM>(nSelect), 0));
}

// Returns the text's length in bytes of UTF-8, or LB_ERR for a bad index.
int CListBox::GetText(int nIndex, CString& rString) const {
    LRESULT n = ::SendMessage(m_hWnd, LB_GETTEXTLEN, static_cast<WPARAM>(nIndex), 0);
    if (n < 0) {
        rString.Empty();
        return LB_ERR;
    }
    std::vector<TCHAR> buf(static_cast<std::size_t>(n) + 1, TCHAR{});
    ::SendMessage(m_hWnd, LB_GETTEXT, static_cast<WPARAM>(nIndex),
                  reinterpret_cast<LPARAM>(buf.data()));
    rString = tvplatform::FromWindowText(buf.data());
    return rString.GetLength();
}

DWORD_PTR CListBox::GetItemData(int nIndex) const {
    // NOTE: LB_ERR comes back as the 32-bit pattern 0xFFFFFFFF, as on Win32,
    // so an address taken from a bad index reads as INADDR_NONE.
    LRESULT r = ::SendMessage(m_hWnd, LB_GETITEMDATA, static_cast<WPARAM>(nIndex), 0);
    return r == LB_ERR ? 0xFFFFFFFFu : static_cast<DWORD_PTR>(r);
}

int CListBox::SetItemData(int nIndex, DWORD_PTR dwItemData) {
    return static_cast<int>(
        SendMessage(LB_SETITEMDATA, static_cast<WPARAM>(nIndex), static_cast<LPARAM>(dwItemData)));
}

void CListBox::ResetContent() {
    SendMessage(LB_RESETCONTENT, 0, 0);
}
