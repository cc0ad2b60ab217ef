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
    tvhost::Window* w = tvhost::Win(h);
    if (!w)
        return;
    if (w->pWnd == this) {
        w->pWnd = nullptr;
        if (w->type != WindowType::Control)
            tvhost::DestroyWindowTree(h); // a dialog object outliving nothing
    }
    m_hWnd = nullptr;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    tvhost::Window* w = tvhost::Win(hWnd);
    if (!w)
        return nullptr;
    if (w->pWnd)
        return w->pWnd;
    if (!w->standIn) {
        w->standIn = std::make_unique<CWnd>();
        w->standIn->m_hWnd = hWnd;
    }
    return w->standIn.get();
}

CWnd* CWnd::GetDlgItem(int nID) const {
    return FromHandle(tvhost::FindChild(m_hWnd, nID));
}

CWnd* CWnd::GetParent() const {
    tvhost::Window* w = tvhost::Win(m_hWnd);
    return w ? FromHandle(w->parent) : nullptr;
}

BOOL CWnd::ShowWindow(int nCmdShow) {
    tvhost::Window* w = tvhost::Win(m_hWnd);
    if (!w)
        return FALSE;
    BOOL was = w->visible;
    w->visible = nCmdShow != SW_HIDE;
    if (was != w->visible)
        tvhost::MarkDirty();
    return was;
}

BOOL CWnd::IsWindowVisible() const {
    for (tvhost::Window* w = tvhost::Win(m_hWnd); w; w = tvhost::Win(w->parent)) {
        if (!w->visible)
            return FALSE;
        if (!w->parent)
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
        tvhost::Win(m_hWnd)->centered = true;
        tvhost::MarkDirty();
    }
}

void CWnd::GetClientRect(LPRECT lpRect) const {
    tvhost::Window* w = tvhost::Win(m_hWnd);
    const DialogTemplate* t = w ? w->tmpl : nullptr;
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
    tvhost::Win(h)->pWnd = &rControl;
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
    tvhost::Win(h)->modal = true;
    OnInitDialog();
    // Records are looked up again after every call that may destroy the window.
    tvhost::Window* w = tvhost::Win(h);
    INT_PTR result = w ? w->result : -1;
    if (w && !w->endRequested) {
        w->visible = true;
        tvhost::MarkDirty();
        tvhost::GetFrontEnd().OnModalStart(h);
        tvhost::RunModal(h);
    }
    if ((w = tvhost::Win(h)) != nullptr) {
        result = w->result;
        tvhost::GetFrontEnd().OnModalEnd(h);
        w->visible = false;
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
    tvhost::Window* w = tvhost::Win(h);
    if (!w)
        return;
    w->result = nResult;
    if (w->modal)
        w->endRequested = true;
    else
        ShowWindow(SW_HIDE);
}
