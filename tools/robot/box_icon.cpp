// Which icon a message box shows, told the way a person tells it: by the
// picture. The icon handle the box holds belongs to the other process and
// cannot be compared or read from here (each process loads its own copy of
// the system icons), but the pixels on screen can: the robot draws each
// system icon itself and compares it with the box's icon control, pixel by
// pixel where the icon is opaque.
#include "robot.h"

#include <cstdlib>

namespace robot {

namespace {

struct Pixels {
    int w = 0, h = 0;
    std::vector<DWORD> bgr; // 0x00RRGGBB, top row first
};

struct Known {
    const char* name;
    LPCWSTR id;
};

const Known kIcons[] = {
    {"error", IDI_ERROR},
    {"information", IDI_INFORMATION},
    {"warning", IDI_WARNING},
    {"question", IDI_QUESTION},
};

// A box is on screen a moment before its icon is painted.
constexpr int kPaintWaitMs = 1500;
constexpr int kPaintPollMs = 20;
// Channel difference still counted as the same colour (scaling, dithering).
constexpr int kTolerance = 40;
// Share of the opaque pixels that must match.
constexpr double kMatchShare = 0.9;

HWND IconControl(HWND box) {
    for (const Control& c : Children(box))
        if (IsClass(c, L"Static") && (c.style & SS_TYPEMASK) == SS_ICON)
            return c.hwnd;
    return nullptr;
}

// A w x h picture made by draw(memory DC, screen DC); empty when it fails.
template <typename Draw> Pixels Capture(int w, int h, Draw draw) {
    Pixels p;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h; // top row first
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (mem != nullptr && bmp != nullptr) {
        HGDIOBJ old = SelectObject(mem, bmp);
        if (draw(mem, screen)) {
            GdiFlush();
            const auto* px = static_cast<const DWORD*>(bits);
            p.w = w;
            p.h = h;
            p.bgr.assign(px, px + static_cast<size_t>(w) * static_cast<size_t>(h));
        }
        SelectObject(mem, old);
    }
    if (bmp != nullptr)
        DeleteObject(bmp);
    if (mem != nullptr)
        DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return p;
}

Pixels Screen(const RECT& r) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    return Capture(w, h, [&](HDC mem, HDC screen) {
        return BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != 0;
    });
}

Pixels IconOn(HICON icon, int w, int h, COLORREF background) {
    return Capture(w, h, [&](HDC mem, HDC) {
        HBRUSH brush = CreateSolidBrush(background);
        RECT all{0, 0, w, h};
        FillRect(mem, &all, brush);
        DeleteObject(brush);
        // The static control draws an icon at its own size, at its corner.
        return DrawIconEx(mem, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL) != 0;
    });
}

bool Near(DWORD a, DWORD b) {
    for (int shift = 0; shift < 24; shift += 8)
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) -
                     static_cast<int>((b >> shift) & 0xFF)) > kTolerance)
            return false;
    return true;
}

// The share of the icon's opaque pixels (those that come out the same on a
// black and on a white background) that the screen shows.
double Match(const Pixels& shown, HICON icon) {
    const Pixels black = IconOn(icon, shown.w, shown.h, RGB(0, 0, 0));
    const Pixels white = IconOn(icon, shown.w, shown.h, RGB(255, 255, 255));
    if (black.bgr.size() != shown.bgr.size() || white.bgr.size() != shown.bgr.size())
        return 0;
    size_t opaque = 0, same = 0;
    for (size_t i = 0; i < shown.bgr.size(); ++i) {
        if ((black.bgr[i] & 0xFFFFFF) != (white.bgr[i] & 0xFFFFFF))
            continue;
        ++opaque;
        if (Near(black.bgr[i], shown.bgr[i]))
            ++same;
    }
    return opaque == 0 ? 0 : static_cast<double>(same) / static_cast<double>(opaque);
}

const char* BestMatch(const Pixels& shown) {
    const char* best = nullptr;
    double bestShare = kMatchShare;
    for (const Known& k : kIcons) {
        const double share = Match(shown, LoadIconW(nullptr, k.id));
        if (share >= bestShare) {
            best = k.name;
            bestShare = share;
        }
    }
    return best;
}

// A box wider than the screen (a long unbroken text) is centred with its
// icon off the screen's edge: it is dragged until the icon shows, as a
// person would drag it to read it.
void BringIntoView(HWND box, HWND icon) {
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    RECT r{}, b{};
    GetWindowRect(icon, &r);
    GetWindowRect(box, &b);
    const LONG dx = r.left < screen.left     ? screen.left - r.left
                    : r.right > screen.right ? screen.right - r.right
                                             : 0;
    const LONG dy = r.top < screen.top         ? screen.top - r.top
                    : r.bottom > screen.bottom ? screen.bottom - r.bottom
                                               : 0;
    if (dx != 0 || dy != 0)
        SetWindowPos(box, nullptr, b.left + dx, b.top + dy, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

void WarmUp() {
    VisibleTopWindows(GetCurrentProcessId());
    for (const Known& k : kIcons)
        IconOn(LoadIconW(nullptr, k.id), 32, 32, RGB(0, 0, 0));
}

std::string BoxIconName(HWND box) {
    HWND icon = IconControl(box);
    DWORD_PTR handle = 0;
    if (icon == nullptr || !IsWindowVisible(icon) ||
        (SendMessageTimeoutW(icon, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &handle) &&
         handle == 0))
        return "none";
    BringIntoView(box, icon);
    for (int waited = 0; waited < kPaintWaitMs; waited += kPaintPollMs) {
        RECT r{};
        GetWindowRect(icon, &r);
        if (r.right <= r.left || r.bottom <= r.top)
            return "none";
        const Pixels shown = Screen(r);
        if (shown.bgr.empty())
            break;
        if (const char* name = BestMatch(shown))
            return name;
        // Perhaps another window covers it: raise the box, as a click would.
        SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        Sleep(kPaintPollMs);
    }
    return "unknown";
}

} // namespace robot
