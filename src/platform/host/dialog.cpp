// Host backend: the window-model side of CWnd and CDialog (handles, lookup,
// visibility, attaching controls, the modal run). The classes hold no window
// state of their own: it lives in the window behind m_hWnd (host/window.cpp);
// what is the same on every backend is in common/.
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

BOOL CWnd::DestroyWindow() {
    if (!tvhost::IsLiveWindow(m_hWnd))
        return FALSE;
    tvhost::DestroyWindowTree(m_hWnd);
    return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return tvhost::HostDefWindowProc(m_hWnd, message, wParam, lParam);
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

// ---- CDialog -----------------------------------------------------------------

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
