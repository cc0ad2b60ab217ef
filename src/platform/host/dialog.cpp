// Host backend: CWnd, CDialog, the two controls and data exchange. The
// classes hold no window state of their own; they send messages to the
// window behind m_hWnd (host/window.cpp), as the framework does on Windows.
#include "platform/host/event_loop.h"
#include "platform/host/window.h"
#include "platform/wnd.h"

#include <vector>

// ---- CDC / CPaintDC ----------------------------------------------------------

BOOL CDC::DrawIcon(int, int, HICON) {
    return TRUE; // the terminal shows no icons
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd ? pWnd->m_hWnd : nullptr) {}

CPaintDC::~CPaintDC() = default;

// ---- CWnd --------------------------------------------------------------------

CWnd::~CWnd() {
    HWND h = m_hWnd;
    if (!tvhost::IsLiveWindow(h))
        return;
    if (h->pWnd == this) {
        h->pWnd = nullptr;
        if (h->type != WindowType::Control)
            tvhost::DestroyWindowTree(h); // a dialog object outliving nothing
    }
    m_hWnd = nullptr;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!tvhost::IsLiveWindow(hWnd))
        return nullptr;
    if (hWnd->pWnd)
        return hWnd->pWnd;
    if (!hWnd->standIn) {
        hWnd->standIn = std::make_unique<CWnd>();
        hWnd->standIn->m_hWnd = hWnd;
    }
    return hWnd->standIn.get();
}

CWnd* CWnd::GetDlgItem(int nID) const {
    return FromHandle(tvhost::FindChild(m_hWnd, nID));
}

CWnd* CWnd::GetParent() const {
    return tvhost::IsLiveWindow(m_hWnd) ? FromHandle(m_hWnd->parent) : nullptr;
}

void CWnd::SetWindowText(const char* lpszString) {
    ::SendMessage(m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpszString ? lpszString : ""));
}

void CWnd::GetWindowText(CString& rString) const {
    int n = GetWindowTextLength();
    std::vector<char> buf(static_cast<std::size_t>(n) + 1, '\0');
    ::SendMessage(m_hWnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    rString = buf.data();
}

int CWnd::GetWindowTextLength() const {
    return static_cast<int>(::SendMessage(m_hWnd, WM_GETTEXTLENGTH, 0, 0));
}

void CWnd::SetDlgItemText(int nID, const char* lpszString) {
    if (CWnd* p = GetDlgItem(nID))
        p->SetWindowText(lpszString);
}

BOOL CWnd::ShowWindow(int nCmdShow) {
    if (!tvhost::IsLiveWindow(m_hWnd))
        return FALSE;
    BOOL was = m_hWnd->visible;
    m_hWnd->visible = nCmdShow != SW_HIDE;
    if (was != m_hWnd->visible)
        tvhost::MarkDirty();
    return was;
}

BOOL CWnd::IsWindowVisible() const {
    for (HWND h = m_hWnd; tvhost::IsLiveWindow(h); h = h->parent) {
        if (!h->visible)
            return FALSE;
        if (!h->parent)
            return TRUE;
    }
    return FALSE;
}

BOOL CWnd::IsIconic() const {
    return FALSE; // a terminal window is never minimised
}

void CWnd::UpdateWindow() {
    if (tvhost::IsLiveWindow(m_hWnd))
        tvhost::PaintNow();
}

void CWnd::Invalidate(BOOL) {
    tvhost::MarkDirty();
}

void CWnd::CenterWindow(CWnd*) {
    if (tvhost::IsLiveWindow(m_hWnd)) {
        m_hWnd->centered = true;
        tvhost::MarkDirty();
    }
}

void CWnd::GetClientRect(LPRECT lpRect) const {
    const DialogTemplate* t = tvhost::IsLiveWindow(m_hWnd) ? m_hWnd->tmpl : nullptr;
    // Dialog units at the template font: 1 unit = 1.5 pixels across, 1.625 down
    // for a 9-point face; only the proportions matter here.
    *lpRect = {0, 0, t ? t->cx * 3 / 2 : 0, t ? t->cy * 13 / 8 : 0};
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    return reinterpret_cast<HICON>(::SendMessage(
        m_hWnd, WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

BOOL CWnd::DestroyWindow() {
    if (!tvhost::IsLiveWindow(m_hWnd))
        return FALSE;
    tvhost::DestroyWindowTree(m_hWnd);
    return TRUE;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessage(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessage(m_hWnd, message, wParam, lParam);
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
    case WM_COMMAND:
        if (OnCommand(LOWORD(wParam), HIWORD(wParam)))
            return 0;
        break;
    default:
        break;
    }
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return tvhost::HostDefWindowProc(m_hWnd, message, wParam, lParam);
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

BOOL CWnd::OnCommand(UINT, UINT) {
    return FALSE;
}

// ---- Controls ----------------------------------------------------------------

void CProgressCtrl::SetRange32(int nLower, int nUpper) {
    SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(nLower), nUpper);
}

void CProgressCtrl::GetRange(int& nLower, int& nUpper) const {
    PBRANGE r{0, 0};
    ::SendMessage(m_hWnd, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&r));
    nLower = r.iLow;
    nUpper = r.iHigh;
}

int CProgressCtrl::SetPos(int nPos) {
    return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(nPos), 0));
}

int CProgressCtrl::GetPos() const {
    return static_cast<int>(::SendMessage(m_hWnd, PBM_GETPOS, 0, 0));
}

int CProgressCtrl::OffsetPos(int nPos) {
    return static_cast<int>(SendMessage(PBM_DELTAPOS, static_cast<WPARAM>(nPos), 0));
}

int CListBox::AddString(const char* lpszItem) {
    return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lpszItem)));
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

int CListBox::GetText(int nIndex, CString& rString) const {
    int n = static_cast<int>(::SendMessage(m_hWnd, LB_GETTEXTLEN, static_cast<WPARAM>(nIndex), 0));
    if (n < 0) {
        rString.Empty();
        return LB_ERR;
    }
    std::vector<char> buf(static_cast<std::size_t>(n) + 1, '\0');
    ::SendMessage(m_hWnd, LB_GETTEXT, static_cast<WPARAM>(nIndex),
                  reinterpret_cast<LPARAM>(buf.data()));
    rString = buf.data();
    return n;
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

// ---- Data exchange -----------------------------------------------------------

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.m_hWnd != nullptr)
        return;
    HWND h = tvhost::FindChild(pDX->m_pDlgWnd->m_hWnd, nIDC);
    if (!h)
        return;
    h->pWnd = &rControl;
    rControl.m_hWnd = h;
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    CWnd* p = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!p)
        return;
    if (pDX->m_bSaveAndValidate)
        p->GetWindowText(value);
    else
        p->SetWindowText(value);
}

// ---- CDialog -----------------------------------------------------------------

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
    DestroyWindow();
}

INT_PTR CDialog::DoModal() {
    const DialogTemplate* t = AfxFindDialogTemplate(m_nIDTemplate);
    if (!t || m_hWnd != nullptr)
        return -1;
    if (!tvhost::IsUiThread())
        return -1; // modal runs belong to the user-interface thread
    HWND h = tvhost::CreateDialogWindow(t, nullptr, this);
    m_hWnd = h;
    h->modal = true;
    OnInitDialog();
    INT_PTR result = h->result;
    if (tvhost::IsLiveWindow(h) && !h->endRequested) {
        h->visible = true;
        tvhost::MarkDirty();
        tvhost::GetFrontEnd().OnModalStart(h);
        tvhost::RunModal(h);
    }
    if (tvhost::IsLiveWindow(h)) {
        result = h->result;
        tvhost::GetFrontEnd().OnModalEnd(h);
        h->visible = false;
        tvhost::DestroyWindowTree(h);
    }
    return result;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd) {
    const DialogTemplate* t = AfxFindDialogTemplate(nIDTemplate);
    if (!t || m_hWnd != nullptr)
        return FALSE;
    m_nIDTemplate = nIDTemplate;
    m_pParentWnd = pParentWnd;
    m_hWnd = tvhost::CreateDialogWindow(t, pParentWnd ? pParentWnd->m_hWnd : nullptr, this);
    OnInitDialog();
    return m_hWnd != nullptr;
}

void CDialog::EndDialog(int nResult) {
    HWND h = m_hWnd;
    if (!tvhost::IsUiThread()) {
        ::PostMessage(h, tvhost::kEndDialogMessage, static_cast<WPARAM>(nResult), 0);
        return;
    }
    if (!tvhost::IsLiveWindow(h))
        return;
    h->result = nResult;
    if (h->modal)
        h->endRequested = true;
    else
        ShowWindow(SW_HIDE);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::OnClose() {
    OnCancel();
}

BOOL CDialog::OnCommand(UINT nID, UINT nCode) {
    if (nCode != BN_CLICKED)
        return FALSE;
    if (nID == IDOK) {
        OnOK();
        return TRUE;
    }
    if (nID == IDCANCEL) {
        OnCancel();
        return TRUE;
    }
    return FALSE;
}
