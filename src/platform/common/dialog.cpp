// Platform layer, shared code: the dialog's data exchange and command handling
// (Enter, Escape and the close box reaching OnOK / OnCancel). The same on every
// backend; creating the dialog, its modal run and EndDialog are the backend's.
#include "platform/wnd.h"

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    CWnd* p = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!p)
        return;
    if (pDX->m_bSaveAndValidate)
        p->GetWindowText(value);
    else
        p->SetWindowText(value);
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
    DestroyWindow();
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
