// Host backend: the window model and the controls' window procedures.
//
// Divisions:
//   1. The set of live windows (validity of handles)
//   2. Creation from templates and destruction
//   3. The default window procedure: text, icons, progress bar, list box
//   4. SendMessage / PostMessage / IsWindow
#include "platform/host/window.h"

#include "platform/host/event_loop.h"
#include "platform/wnd.h"

#include <algorithm>
#include <cstring>

namespace tvhost {

namespace {

// ---- 1. Live windows -------------------------------------------------------

// NOTE: a destroyed window's record is kept (emptied, marked dead) and never
// reused, so a stale handle, such as the target of a message posted before
// the window went away, is recognised in O(1) without a lookup and can never
// reach a newer window. A record is a few hundred bytes; a run creates dozens.
std::vector<HWND>& Graveyard() {
    static auto* dead = new std::vector<HWND>;
    return *dead;
}

std::vector<HWND>& TopLevel() {
    static auto* top = new std::vector<HWND>;
    return *top;
}

HWND NewWindow(WindowType type, HWND parent) {
    HWND h = new HWND__;
    h->type = type;
    h->parent = parent;
    h->alive = true;
    return h;
}

// ---- 2. Creation -----------------------------------------------------------

HWND CreateControl(HWND dlg, const DialogControl& c) {
    HWND h = NewWindow(WindowType::Control, dlg);
    h->ctl = &c;
    h->nID = c.nID;
    h->kind = c.kind;
    h->text = c.text ? c.text : "";
    h->visible = (c.style & WS_VISIBLE) != 0;
    return h;
}

} // namespace

HWND CreateDialogWindow(const DialogTemplate* tmpl, HWND parent, CWnd* pOwner) {
    bool child = (tmpl->style & WS_CHILD) != 0 && parent != nullptr;
    HWND h = NewWindow(WindowType::Dialog, child ? parent : nullptr);
    h->tmpl = tmpl;
    h->nID = static_cast<int>(tmpl->nID);
    h->text = tmpl->title ? tmpl->title : "";
    h->visible = (tmpl->style & WS_VISIBLE) != 0;
    h->pWnd = pOwner;
    for (int i = 0; i < tmpl->nControls; ++i) {
        HWND c = CreateControl(h, tmpl->controls[i]);
        h->children.push_back(c);
        if (h->focus < 0 && (tmpl->controls[i].style & WS_TABSTOP))
            h->focus = i;
    }
    if (child)
        parent->children.push_back(h);
    else
        TopLevel().push_back(h);
    MarkDirty();
    return h;
}

HWND CreateMessageBoxWindow(const MessageBoxEvent& box) {
    HWND h = NewWindow(WindowType::MessageBox, nullptr);
    h->text = box.caption;
    h->box = box;
    h->visible = true;
    TopLevel().push_back(h);
    MarkDirty();
    return h;
}

void DestroyWindowTree(HWND h) {
    if (!IsLiveWindow(h) || h->destroying)
        return;
    h->destroying = true;
    // As on Windows: the window gets WM_DESTROY before its children do.
    ::SendMessage(h, WM_DESTROY, 0, 0);
    std::vector<HWND> kids = h->children;
    for (HWND c : kids)
        DestroyWindowTree(c);
    KillWindowTimers(h);
    if (h->pWnd && h->pWnd->m_hWnd == h)
        h->pWnd->m_hWnd = nullptr;
    if (h->standIn)
        h->standIn->m_hWnd = nullptr;
    if (h->parent) {
        auto& sib = h->parent->children;
        sib.erase(std::remove(sib.begin(), sib.end(), h), sib.end());
    }
    auto& top = TopLevel();
    top.erase(std::remove(top.begin(), top.end(), h), top.end());
    h->alive = false;
    h->children = {};
    h->items = {};
    h->text = {};
    h->standIn.reset();
    h->pWnd = nullptr;
    h->parent = nullptr;
    Graveyard().push_back(h);
    MarkDirty();
}

bool IsLiveWindow(HWND h) {
    return h != nullptr && h->alive;
}

const std::vector<HWND>& TopLevelWindows() {
    return TopLevel();
}

HWND FindChild(HWND dlg, int nID) {
    if (!IsLiveWindow(dlg))
        return nullptr;
    for (HWND c : dlg->children)
        if (c->nID == nID)
            return c;
    return nullptr;
}

UINT DialogTemplateId(HWND h) {
    while (h && h->type == WindowType::Control)
        h = h->parent;
    return (h && h->tmpl) ? h->tmpl->nID : 0;
}

void SetWindowTextInternal(HWND h, const std::string& text) {
    if (h->text == text)
        return;
    h->text = text;
    MarkDirty();
    GetFrontEnd().OnTextChanged(h);
}

// ---- 3. Default window procedure -------------------------------------------

namespace {

// Raised to the low limit first, then lowered to the high one, as the common
// controls do; so a reversed range pins the position at its high limit.
void CoercePos(HWND h) {
    if (h->pos < h->low)
        h->pos = h->low;
    if (h->pos > h->high)
        h->pos = h->high;
}

void ProgressChanged(HWND h) {
    MarkDirty();
    GetFrontEnd().OnProgressChanged(h);
}

int Clamp64(long long v) {
    return static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

LRESULT ProgressProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    int old = h->pos;
    switch (message) {
    case PBM_SETRANGE:
    case PBM_SETRANGE32: {
        LRESULT prev = MAKELONG(h->low, h->high);
        h->low = message == PBM_SETRANGE ? LOWORD(lParam) : static_cast<int>(wParam);
        h->high = message == PBM_SETRANGE ? HIWORD(lParam) : static_cast<int>(lParam);
        CoercePos(h);
        ProgressChanged(h);
        return prev;
    }
    case PBM_SETPOS:
        h->pos = static_cast<int>(wParam);
        CoercePos(h);
        ProgressChanged(h);
        return old;
    case PBM_DELTAPOS:
        h->pos = Clamp64(static_cast<long long>(h->pos) + static_cast<int>(wParam));
        CoercePos(h);
        ProgressChanged(h);
        return old;
    case PBM_GETPOS:
        return h->pos;
    case PBM_GETRANGE:
        if (lParam) {
            auto* r = reinterpret_cast<PBRANGE*>(lParam);
            r->iLow = h->low;
            r->iHigh = h->high;
        }
        return wParam ? h->low : h->high;
    default:
        return 0;
    }
}

bool ValidItem(HWND h, WPARAM wParam) {
    auto i = static_cast<INT_PTR>(wParam);
    return i >= 0 && i < static_cast<INT_PTR>(h->items.size());
}

LRESULT ListProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case LB_ADDSTRING:
        h->items.push_back({lParam ? reinterpret_cast<const char*>(lParam) : "", 0});
        MarkDirty();
        return static_cast<LRESULT>(h->items.size() - 1);
    case LB_GETCOUNT:
        return static_cast<LRESULT>(h->items.size());
    case LB_GETCURSEL:
        return h->sel;
    case LB_SETCURSEL:
        if (static_cast<INT_PTR>(wParam) == -1) {
            h->sel = -1;
            MarkDirty();
            return LB_ERR;
        }
        if (!ValidItem(h, wParam))
            return LB_ERR;
        h->sel = static_cast<int>(wParam);
        MarkDirty();
        return h->sel;
    case LB_GETTEXT:
    case LB_GETTEXTLEN: {
        if (!ValidItem(h, wParam))
            return LB_ERR;
        const std::string& t = h->items[wParam].text;
        if (message == LB_GETTEXT && lParam)
            std::memcpy(reinterpret_cast<char*>(lParam), t.c_str(), t.size() + 1);
        return static_cast<LRESULT>(t.size());
    }
    case LB_GETITEMDATA:
        return ValidItem(h, wParam) ? static_cast<LRESULT>(h->items[wParam].data) : LB_ERR;
    case LB_SETITEMDATA:
        if (!ValidItem(h, wParam))
            return LB_ERR;
        h->items[wParam].data = static_cast<DWORD_PTR>(lParam);
        return LB_OKAY;
    case LB_RESETCONTENT:
        h->items.clear();
        h->sel = -1;
        MarkDirty();
        return LB_OKAY;
    default:
        return 0;
    }
}

} // namespace

LRESULT HostDefWindowProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsLiveWindow(h))
        return 0;
    switch (message) {
    case WM_SETTEXT:
        SetWindowTextInternal(h, lParam ? reinterpret_cast<const char*>(lParam) : "");
        return TRUE;
    case WM_GETTEXT: {
        if (wParam == 0 || !lParam)
            return 0;
        std::size_t n = std::min<std::size_t>(h->text.size(), wParam - 1);
        std::memcpy(reinterpret_cast<char*>(lParam), h->text.data(), n);
        reinterpret_cast<char*>(lParam)[n] = '\0';
        return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(h->text.size());
    case WM_SETICON: {
        HICON& slot = wParam == ICON_BIG ? h->bigIcon : h->smallIcon;
        HICON old = slot;
        slot = reinterpret_cast<HICON>(lParam);
        return reinterpret_cast<LRESULT>(old);
    }
    case WM_CLOSE:
        DestroyWindowTree(h);
        return 0;
    default:
        break;
    }
    if (h->type != WindowType::Control)
        return 0;
    if (h->kind == ControlKind::ProgressBar)
        return ProgressProc(h, message, wParam, lParam);
    if (h->kind == ControlKind::ListBox)
        return ListProc(h, message, wParam, lParam);
    return 0;
}

} // namespace tvhost

// ---- 4. Messages -----------------------------------------------------------

LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!tvhost::IsUiThread()) {
        LRESULT r = 0;
        tvhost::RunOnUiThread([&] { r = SendMessage(hWnd, message, wParam, lParam); });
        return r;
    }
    if (!tvhost::IsLiveWindow(hWnd))
        return 0;
    if (hWnd->pWnd)
        return hWnd->pWnd->WindowProc(message, wParam, lParam);
    return tvhost::HostDefWindowProc(hWnd, message, wParam, lParam);
}

BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (hWnd == nullptr)
        return FALSE;
    tvhost::PostWindowMessage(hWnd, message, wParam, lParam);
    return TRUE;
}

BOOL IsWindow(HWND hWnd) {
    BOOL live = FALSE;
    tvhost::RunOnUiThread([&] { live = tvhost::IsLiveWindow(hWnd); });
    return live;
}

int GetSystemMetrics(int nIndex) {
    return (nIndex == SM_CXICON || nIndex == SM_CYICON) ? 32 : 0;
}
