// Host backend: the window model and the controls' window procedures.
//
// Divisions:
//   1. The set of live windows (validity of handles)
//   2. Creation from templates and destruction
//   3. The default window procedure: text, icons, progress bar, list box
//   4. SendMessage / PostMessage / IsWindow
#include "platform/host/window.h"

#include "platform/common/window_message.h"
#include "platform/host/event_loop.h"
#include "platform/wnd.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace tvhost {

namespace {

// ---- 1. Live windows -------------------------------------------------------

// A handle packs (generation << kIndexBits) | (slot + 1): never null, and a
// slot's generation moves on when its window is destroyed, so an old handle
// stops matching the moment its record is freed. Generations wrap only after
// 2^44 reuses of one slot, far beyond any run.
constexpr unsigned kIndexBits = 20;
constexpr std::uintptr_t kIndexMask = (std::uintptr_t{1} << kIndexBits) - 1;

struct Slot {
    std::unique_ptr<Window> rec;
    std::uintptr_t generation = 1;
};

struct WindowTable {
    std::vector<Slot> slots;
    std::vector<std::size_t> free; // slots without a record, reused first
    // Records of destroyed windows, emptied, for the next windows created: a
    // harness that creates the same dialogs many thousand times then makes
    // no allocation per control. At most as many as were ever live at once.
    std::vector<std::unique_ptr<Window>> spare;
};

WindowTable& Table() {
    static auto* table = new WindowTable;
    return *table;
}

HWND HandleOf(std::size_t index, std::uintptr_t generation) {
    return reinterpret_cast<HWND>((generation << kIndexBits) | (index + 1));
}

std::vector<HWND>& TopLevel() {
    static auto* top = new std::vector<HWND>;
    return *top;
}

std::pair<HWND, Window*> NewWindow(WindowType type, HWND parent) {
    WindowTable& t = Table();
    std::size_t index;
    if (!t.free.empty()) {
        index = t.free.back();
        t.free.pop_back();
    } else {
        index = t.slots.size();
        if (index > kIndexMask - 1)
            std::abort(); // a million live windows: a runaway creation loop
        t.slots.emplace_back();
    }
    Slot& slot = t.slots[index];
    if (t.spare.empty()) {
        slot.rec = std::make_unique<Window>();
    } else {
        slot.rec = std::move(t.spare.back());
        t.spare.pop_back();
    }
    slot.rec->type = type;
    slot.rec->parent = parent;
    return {HandleOf(index, slot.generation), slot.rec.get()};
}

void FreeWindow(HWND h) {
    WindowTable& t = Table();
    auto index = (reinterpret_cast<std::uintptr_t>(h) & kIndexMask) - 1;
    Slot& slot = t.slots[index];
    // Moved out first: what the record owns (a stand-in CWnd) is destroyed
    // while the handle already reads as gone.
    std::unique_ptr<Window> rec = std::move(slot.rec);
    ++slot.generation;
    t.free.push_back(index);
    // Emptied as a new record, with everything it owned (the stand-in too: a
    // pointer kept to it must not come to mean another window).
    *rec = Window{};
    t.spare.push_back(std::move(rec));
}

// ---- 2. Creation -----------------------------------------------------------

HWND CreateControl(HWND dlg, const DialogControl& c) {
    auto [h, w] = NewWindow(WindowType::Control, dlg);
    w->ctl = &c;
    w->nID = c.nID;
    w->kind = c.kind;
    w->text = c.text ? c.text : "";
    w->visible = (c.style & WS_VISIBLE) != 0;
    return h;
}

} // namespace

HWND CreateDialogWindow(const DialogTemplate* tmpl, HWND parent, CWnd* pOwner) {
    bool child = (tmpl->style & WS_CHILD) != 0 && parent != nullptr;
    auto [h, w] = NewWindow(WindowType::Dialog, child ? parent : nullptr);
    w->tmpl = tmpl;
    w->nID = static_cast<int>(tmpl->nID);
    w->text = tmpl->title ? tmpl->title : "";
    w->visible = (tmpl->style & WS_VISIBLE) != 0;
    w->pWnd = pOwner;
    w->children.reserve(static_cast<std::size_t>(tmpl->nControls));
    for (int i = 0; i < tmpl->nControls; ++i) {
        HWND c = CreateControl(h, tmpl->controls[i]);
        w->children.push_back(c);
        if (w->focus < 0 && (tmpl->controls[i].style & WS_TABSTOP))
            w->focus = i;
    }
    if (child)
        Win(parent)->children.push_back(h);
    else
        TopLevel().push_back(h);
    MarkDirty();
    return h;
}

HWND CreateMessageBoxWindow(const MessageBoxEvent& box) {
    auto [h, w] = NewWindow(WindowType::MessageBox, nullptr);
    w->text = box.caption;
    w->box = box;
    w->visible = true;
    TopLevel().push_back(h);
    MarkDirty();
    return h;
}

void DestroyWindowTree(HWND h) {
    Window* w = Win(h);
    if (!w || w->destroying)
        return;
    w->destroying = true;
    // As on Windows: the window gets WM_DESTROY before its children do.
    ::SendMessage(h, WM_DESTROY, 0, 0);
    std::vector<HWND> kids = Win(h)->children;
    for (HWND c : kids)
        DestroyWindowTree(c);
    KillWindowTimers(h);
    w = Win(h); // the handlers above may have grown the table
    if (w->pWnd && w->pWnd->m_hWnd == h)
        w->pWnd->m_hWnd = nullptr;
    if (w->standIn)
        w->standIn->m_hWnd = nullptr;
    if (Window* parent = Win(w->parent)) {
        auto& sib = parent->children;
        sib.erase(std::remove(sib.begin(), sib.end(), h), sib.end());
    }
    auto& top = TopLevel();
    top.erase(std::remove(top.begin(), top.end(), h), top.end());
    FreeWindow(h);
    MarkDirty();
}

Window* Win(HWND h) {
    auto value = reinterpret_cast<std::uintptr_t>(h);
    std::size_t index = (value & kIndexMask) - 1; // a null handle wraps past the end
    WindowTable& t = Table();
    if (index >= t.slots.size())
        return nullptr;
    Slot& slot = t.slots[index];
    return slot.rec &&
                   (value >> kIndexBits) == (slot.generation & (~std::uintptr_t{0} >> kIndexBits))
               ? slot.rec.get()
               : nullptr;
}

bool IsLiveWindow(HWND h) {
    return Win(h) != nullptr;
}

const std::vector<HWND>& TopLevelWindows() {
    return TopLevel();
}

HWND FindChild(HWND dlg, int nID) {
    Window* w = Win(dlg);
    if (!w)
        return nullptr;
    for (HWND c : w->children)
        if (Win(c)->nID == nID)
            return c;
    return nullptr;
}

UINT DialogTemplateId(HWND h) {
    Window* w = Win(h);
    while (w && w->type == WindowType::Control)
        w = Win(w->parent);
    return (w && w->tmpl) ? w->tmpl->nID : 0;
}

void SetWindowTextInternal(HWND h, const std::string& text) {
    Window* w = Win(h);
    if (!w || w->text == text)
        return;
    w->text = text;
    MarkDirty();
    GetFrontEnd().OnTextChanged(h);
}

// ---- 3. Default window procedure -------------------------------------------

namespace {

// Raised to the low limit first, then lowered to the high one, as the common
// controls do; so a reversed range pins the position at its high limit.
void CoercePos(Window* h) {
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

LRESULT ProgressProc(HWND hWnd, Window* h, UINT message, WPARAM wParam, LPARAM lParam) {
    int old = h->pos;
    switch (message) {
    case PBM_SETRANGE:
    case PBM_SETRANGE32: {
        LRESULT prev = MAKELONG(h->low, h->high);
        h->low = message == PBM_SETRANGE ? LOWORD(lParam) : static_cast<int>(wParam);
        h->high = message == PBM_SETRANGE ? HIWORD(lParam) : static_cast<int>(lParam);
        CoercePos(h);
        ProgressChanged(hWnd);
        return prev;
    }
    case PBM_SETPOS:
        h->pos = static_cast<int>(wParam);
        CoercePos(h);
        ProgressChanged(hWnd);
        return old;
    case PBM_DELTAPOS:
        h->pos = Clamp64(static_cast<long long>(h->pos) + static_cast<int>(wParam));
        CoercePos(h);
        ProgressChanged(hWnd);
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

bool ValidItem(const Window* h, WPARAM wParam) {
    auto i = static_cast<INT_PTR>(wParam);
    return i >= 0 && i < static_cast<INT_PTR>(h->items.size());
}

LRESULT ListProc(Window* h, UINT message, WPARAM wParam, LPARAM lParam) {
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

LRESULT HostDefWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* h = Win(hWnd);
    if (!h)
        return 0;
    switch (message) {
    case WM_SETTEXT:
        SetWindowTextInternal(hWnd, lParam ? reinterpret_cast<const char*>(lParam) : "");
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
        DestroyWindowTree(hWnd);
        return 0;
    default:
        break;
    }
    if (h->type != WindowType::Control)
        return 0;
    if (h->kind == ControlKind::ProgressBar)
        return ProgressProc(hWnd, h, message, wParam, lParam);
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
    tvhost::Window* w = tvhost::Win(hWnd);
    if (!w)
        return 0;
    if (w->pWnd)
        return w->pWnd->WindowProc(message, wParam, lParam);
    return tvhost::HostDefWindowProc(hWnd, message, wParam, lParam);
}

LRESULT tvplatform::SendToWindow(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessage(hWnd, message, wParam, lParam);
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
