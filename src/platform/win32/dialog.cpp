// Win32 backend: CDialog over the dialog manager. Each dialog is built from
// its template (platform/resources.h) as an in-memory DLGTEMPLATEEX; a modal
// run is the dialog manager's own (DialogBoxIndirectParam), so Enter, Escape
// and the close box reach the common command handling as WM_COMMAND IDOK /
// IDCANCEL and WM_CLOSE, and runs nest (a modal dialog opened by a socket
// notification inside another one's run).
#include "platform/win32/control_paint.h"
#include "platform/win32/dialog_template.h"
#include "platform/win32/event_loop.h"
#include "platform/win32/window.h"
#include "platform/wnd.h"

namespace {

struct InitParam {
    CDialog* pDlg;
    const DialogTemplate* tmpl;
    bool bModal;
    HWND hWnd = nullptr; // set once the window exists
};

// As the framework does for a dialog whose template gives no position: a
// top-level dialog that OnInitDialog did not move is centred.
void CenterIfNotMoved(CDialog* pDlg, HWND hWnd, const RECT& before) {
    if (!IsWindow(hWnd) || (GetWindowLongPtrW(hWnd, GWL_STYLE) & WS_CHILD))
        return;
    RECT after;
    GetWindowRect(hWnd, &after);
    if (EqualRect(&before, &after))
        pDlg->CenterWindow();
}

INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG)
        return FALSE; // everything else reaches the object through the routing
    auto* init = reinterpret_cast<InitParam*>(lParam);
    init->hWnd = hWnd;
    if (init->bModal)
        tvwin32::PushModal(hWnd);
    tvwin32::AttachWindow(hWnd, init->pDlg, true);
    tvwin32::CoalesceControlPainting(hWnd, *init->tmpl);
    RECT before;
    GetWindowRect(hWnd, &before);
    const BOOL bFocusDefault = init->pDlg->OnInitDialog();
    CenterIfNotMoved(init->pDlg, hWnd, before);
    // WM_PAINT waits for an empty queue, which a transfer started in
    // OnInitDialog may not leave for its whole length: the texts that never
    // change would stay undrawn. A posted request is taken in turn.
    if (!(GetWindowLongPtrW(hWnd, GWL_STYLE) & WS_CHILD))
        PostMessageW(hWnd, tvwin32::kPaintShownMessage, 0, 0);
    return bFocusDefault;
}

// The progress bar is a common control; the list box, buttons and texts are
// the system's own classes, drawn through common controls 6 by the manifest.
void EnsureCommonControls() {
    static const bool s_done = [] {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        return InitCommonControlsEx(&icc) != FALSE;
    }();
    (void)s_done;
}

HWND ParentWindow(CWnd* pParent) {
    return pParent && IsWindow(pParent->m_hWnd) ? pParent->m_hWnd : nullptr;
}

} // namespace

INT_PTR CDialog::DoModal() {
    const DialogTemplate* t = AfxFindDialogTemplate(m_nIDTemplate);
    tvwin32::BindUiThreadIfUnbound();
    if (!t || m_hWnd != nullptr || !tvwin32::IsUiThread())
        return -1;
    EnsureCommonControls();
    const tvwin32::DialogTemplateBytes bytes = tvwin32::BuildDialogTemplate(*t);
    InitParam init{this, t, true};
    // The dialog manager destroys the window before it returns.
    const INT_PTR result = DialogBoxIndirectParamW(
        tvwin32::Instance(), tvwin32::AsDialogTemplate(bytes), ParentWindow(m_pParentWnd),
        DialogProc, reinterpret_cast<LPARAM>(&init));
    if (init.hWnd)
        tvwin32::PopModal(init.hWnd);
    return result;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd) {
    const DialogTemplate* t = AfxFindDialogTemplate(nIDTemplate);
    tvwin32::BindUiThreadIfUnbound();
    if (!t || m_hWnd != nullptr || !tvwin32::IsUiThread())
        return FALSE;
    EnsureCommonControls();
    m_nIDTemplate = nIDTemplate;
    m_pParentWnd = pParentWnd;
    const tvwin32::DialogTemplateBytes bytes = tvwin32::BuildDialogTemplate(*t);
    InitParam init{this, t, false};
    HWND h = CreateDialogIndirectParamW(tvwin32::Instance(), tvwin32::AsDialogTemplate(bytes),
                                        ParentWindow(pParentWnd), DialogProc,
                                        reinterpret_cast<LPARAM>(&init));
    // A child dialog is a panel over its parent's controls, not beneath them.
    if (h != nullptr && (GetWindowLongPtrW(h, GWL_STYLE) & WS_CHILD))
        ::SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return h != nullptr;
}

void CDialog::EndDialog(int nResult) {
    HWND h = m_hWnd;
    if (h == nullptr)
        return;
    if (!tvwin32::IsUiThread()) {
        ::PostMessageW(h, tvwin32::kEndDialogMessage, static_cast<WPARAM>(nResult), 0);
        return;
    }
    if (tvwin32::IsModal(h)) {
        tvwin32::MarkModalEnded(h);
        ::EndDialog(h, nResult);
    } else
        ::ShowWindow(h, SW_HIDE);
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.m_hWnd != nullptr)
        return;
    HWND h = GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
    if (h != nullptr)
        tvwin32::AttachWindow(h, &rControl, false);
}
