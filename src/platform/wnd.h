// Platform layer contract: windows, dialogs and the two common controls the
// client uses. Message maps are replaced by virtual handlers; everything else
// keeps the framework's names and signatures. Texts are UTF-8 (see
// platform/README.md). Only what the project defines itself lives here, in
// operating-system independent declarations; what is the same on every backend
// is defined in common/, the rest in each backend.
#pragma once

#include "platform/cstring.h"
#include "platform/wintypes.h"

class CWnd;
class CDataExchange;

class CRect : public RECT {
  public:
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(LONG l, LONG t, LONG r, LONG b) : RECT{l, t, r, b} {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    operator LPRECT() { return this; }
};

class CDC {
  public:
    HDC m_hDC = nullptr;
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON hIcon);
};

// A paint context for the duration of a WM_PAINT handler.
class CPaintDC : public CDC {
  public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HWND m_hWnd; // the window being painted
};

class CWnd {
  public:
    HWND m_hWnd = nullptr;

    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // The object attached to hWnd, or a framework-owned stand-in that lives as
    // long as the window (as MFC's temporary map, without the idle cleanup).
    static CWnd* FromHandle(HWND hWnd);

    CWnd* GetDlgItem(int nID) const;
    CWnd* GetParent() const;
    void SetWindowText(const char* lpszString);
    void GetWindowText(CString& rString) const;
    void SetDlgItemText(int nID, const char* lpszString);
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    // Paints now whatever changed, instead of at the next frame.
    void UpdateWindow();
    void Invalidate(BOOL bErase = TRUE);
    void CenterWindow(CWnd* pAlternateOwner = nullptr);
    void GetClientRect(LPRECT lpRect) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    BOOL DestroyWindow();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // WM_TIMER with nIDEvent every nElapse milliseconds, to OnTimer.
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse,
                      void(CALLBACK* lpfnTimer)(HWND, UINT, UINT_PTR, DWORD));
    BOOL KillTimer(UINT_PTR nIDEvent);

    // The window procedure: dispatches to the handlers below. Override to
    // handle private messages (WM_USER/WM_APP ranges) and call the base.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  protected:
    virtual void OnPaint();
    virtual void OnDestroy();
    virtual void OnClose();
    virtual HCURSOR OnQueryDragIcon();
    virtual void OnTimer(UINT_PTR nIDEvent);
    // WM_COMMAND: buttons (BN_CLICKED) and list notifications (LBN_DBLCLK ...).
    // Returns TRUE when handled.
    virtual BOOL OnCommand(UINT nID, UINT nCode);
};

class CProgressCtrl : public CWnd {
  public:
    void SetRange32(int nLower, int nUpper);
    void GetRange(int& nLower, int& nUpper) const;
    int SetPos(int nPos);
    int GetPos() const;
    int OffsetPos(int nPos);
};

class CListBox : public CWnd {
  public:
    int AddString(const char* lpszItem);
    int GetCount() const;
    int GetCurSel() const;
    int SetCurSel(int nSelect);
    int GetText(int nIndex, CString& rString) const;
    DWORD_PTR GetItemData(int nIndex) const;
    int SetItemData(int nIndex, DWORD_PTR dwItemData);
    void ResetContent();
};

class CDataExchange {
  public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate; // TRUE: controls -> members
    CWnd* m_pDlgWnd;
};

// Attaches a member control object to dialog control nIDC (once).
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);

class CDialog : public CWnd {
  public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // A nested run of the one event loop; returns the EndDialog result, or -1
    // when the template is unknown.
    virtual INT_PTR DoModal();
    // A modeless child panel (shown only when its template says visible).
    virtual BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    // Ends the innermost modal run of this dialog. From another thread the
    // request is queued to the user-interface thread.
    void EndDialog(int nResult);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();

  protected:
    void OnClose() override;
    BOOL OnCommand(UINT nID, UINT nCode) override;

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
};
