// Host backend: the full-screen terminal front end (ncursesw).
//
// Divisions:
//   1. Terminal restore on every way out (normal exit, exit() elsewhere,
//      fatal signals)
//   2. Text measured in terminal cells (Korean is two cells wide)
//   3. Drawing a dialog from its template, and message boxes
//   4. Keys
//
// Layout: one cell is 4 horizontal and 8 vertical dialog units, so the
// 217 x 99 unit dialogs take 54 x 12 cells inside their frame.
#define NCURSES_WIDECHAR 1
#include "platform/host/event_loop.h"
#include "platform/host/frontends.h"
#include "platform/host/window.h"

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <curses.h>
#include <cwchar>
#include <fcntl.h>
#include <langinfo.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tvhost {

namespace {

// ---- 1. Restore --------------------------------------------------------------

volatile sig_atomic_t g_cursesActive = 0;
struct termios g_savedTermios;
bool g_haveSavedTermios = false;
// The standard error stream while it is parked on /dev/null (-1: not parked).
volatile sig_atomic_t g_savedStderr = -1;

// NOTE: the decompressor writes its diagnostics to stderr, which a Windows
// program's user never sees; on the screen that curses draws they would stay
// as stray text over the dialogs. While curses owns the terminal, stderr is
// parked on /dev/null if it is that same terminal.
void ParkStderr() {
    struct stat out, err;
    if (g_savedStderr >= 0 || ::fstat(STDOUT_FILENO, &out) != 0 ||
        ::fstat(STDERR_FILENO, &err) != 0 || !S_ISCHR(err.st_mode) || out.st_rdev != err.st_rdev)
        return;
    int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0 && ::dup2(null, STDERR_FILENO) >= 0)
        g_savedStderr = saved;
    else if (saved >= 0)
        ::close(saved);
    if (null >= 0)
        ::close(null);
}

// Async-signal-safe.
void UnparkStderr() {
    int saved = g_savedStderr;
    if (saved < 0)
        return;
    g_savedStderr = -1;
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
}

// Async-signal-safe: the saved terminal modes and the escape sequences that
// leave the alternate screen and show the cursor again.
void RawRestore() {
    UnparkStderr();
    if (g_haveSavedTermios)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTermios);
    static const char kReset[] = "\033[0m\033[?25h\033[?1049l";
    ssize_t r = ::write(STDOUT_FILENO, kReset, sizeof kReset - 1);
    (void)r;
}

void OnFatalSignal(int sig) {
    if (g_cursesActive) {
        g_cursesActive = 0;
        RawRestore();
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void AtExitRestore() {
    if (g_cursesActive) {
        g_cursesActive = 0;
        endwin();
    }
    UnparkStderr();
}

void InstallRestoreHandlers() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    std::atexit(AtExitRestore);
    struct sigaction sa {};
    sa.sa_handler = OnFatalSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGQUIT, SIGHUP})
        sigaction(sig, &sa, nullptr);
}

// ---- 2. Cells ----------------------------------------------------------------

std::wstring Wide(const std::string& utf8) {
    std::wstring out;
    std::mbstate_t st{};
    const char* p = utf8.c_str();
    const char* end = p + utf8.size();
    while (p < end) {
        wchar_t wc;
        std::size_t n = std::mbrtowc(&wc, p, static_cast<std::size_t>(end - p), &st);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            out += L'?'; // not valid UTF-8: one replacement per byte
            st = {};
            ++p;
            continue;
        }
        out += n == 0 ? L'\0' : wc;
        p += n == 0 ? 1 : n;
    }
    return out;
}

int CellWidth(wchar_t c) {
    int w = ::wcwidth(c);
    return w < 0 ? 1 : w;
}

int CellWidth(const std::wstring& s) {
    int w = 0;
    for (wchar_t c : s)
        w += CellWidth(c);
    return w;
}

// The longest prefix of s that fits in `cells`.
std::wstring Fit(const std::wstring& s, int cells) {
    int w = 0;
    std::size_t i = 0;
    for (; i < s.size(); ++i) {
        int cw = CellWidth(s[i]);
        if (w + cw > cells)
            break;
        w += cw;
    }
    return s.substr(0, i);
}

std::vector<std::wstring> Lines(const std::string& utf8) {
    std::vector<std::wstring> lines;
    std::wstring all = Wide(utf8), cur;
    for (wchar_t c : all) {
        if (c == L'\n') {
            lines.push_back(cur);
            cur.clear();
        } else if (c != L'\r') {
            cur += c;
        }
    }
    lines.push_back(cur);
    return lines;
}

void Put(int row, int col, const std::wstring& s, int cells, attr_t attr = A_NORMAL) {
    if (row < 0 || row >= LINES || cells <= 0)
        return;
    std::wstring fitted = Fit(s, cells);
    attron(attr);
    mvaddnwstr(row, std::max(col, 0), fitted.c_str(), static_cast<int>(fitted.size()));
    attroff(attr);
}

// ---- 3. Drawing --------------------------------------------------------------

struct Box {
    int row, col, height, width; // outer, frame included
};

void Frame(const Box& b, const std::wstring& title, bool closeBox) {
    for (int r = b.row; r < b.row + b.height; ++r)
        mvhline(r, b.col, ' ', b.width);
    attron(A_BOLD);
    mvhline(b.row, b.col + 1, ACS_HLINE, b.width - 2);
    mvhline(b.row + b.height - 1, b.col + 1, ACS_HLINE, b.width - 2);
    mvvline(b.row + 1, b.col, ACS_VLINE, b.height - 2);
    mvvline(b.row + 1, b.col + b.width - 1, ACS_VLINE, b.height - 2);
    mvaddch(b.row, b.col, ACS_ULCORNER);
    mvaddch(b.row, b.col + b.width - 1, ACS_URCORNER);
    mvaddch(b.row + b.height - 1, b.col, ACS_LLCORNER);
    mvaddch(b.row + b.height - 1, b.col + b.width - 1, ACS_LRCORNER);
    attroff(A_BOLD);
    if (!title.empty()) {
        std::wstring t = L" " + Fit(title, b.width - 10) + L" ";
        Put(b.row, b.col + (b.width - CellWidth(t)) / 2, t, b.width - 2, A_BOLD);
    }
    if (closeBox)
        Put(b.row, b.col + b.width - 5, L"[x]", 3);
}

Box DialogBox(HWND dlg) {
    const DialogTemplate* t = Win(dlg)->tmpl;
    int w = t->cx / 4 + 2, h = t->cy / 8 + 2;
    return {std::max(0, (LINES - h) / 2), std::max(0, (COLS - w) / 2), h, w};
}

void DrawProgress(HWND c, int row, int col, int width) {
    const Window& cw = *Win(c);
    long long span = static_cast<long long>(cw.high) - cw.low;
    long long done = static_cast<long long>(cw.pos) - cw.low;
    int fill = span > 0 ? static_cast<int>(done * width / span) : 0;
    std::wstring bar(static_cast<std::size_t>(fill), L'█');
    bar.append(static_cast<std::size_t>(width - fill), L'░');
    Put(row, col, bar, width);
}

void DrawList(HWND dlg, HWND c, int row, int col, int width, int height) {
    const Window& cw = *Win(c);
    const Window& dw = *Win(dlg);
    int n = static_cast<int>(cw.items.size());
    int top = cw.sel >= height ? cw.sel - height + 1 : 0;
    bool focused = dw.focus >= 0 && dw.children[static_cast<std::size_t>(dw.focus)] == c;
    for (int i = 0; i < height; ++i) {
        int item = top + i;
        std::wstring text = item < n ? Wide(cw.items[static_cast<std::size_t>(item)].text) : L"";
        text = L" " + text;
        text.append(static_cast<std::size_t>(std::max(0, width - CellWidth(text))), L' ');
        attr_t attr = item == cw.sel ? (focused ? A_REVERSE : A_UNDERLINE) : A_NORMAL;
        Put(row + i, col, text, width, attr);
    }
}

void DrawControl(HWND dlg, HWND c, int originRow, int originCol) {
    const Window& cw = *Win(c);
    const Window& dw = *Win(dlg);
    const DialogControl* t = cw.ctl;
    if (!t || !cw.visible)
        return;
    int row = originRow + t->y / 8, col = originCol + t->x / 4;
    int width = std::max(1, t->cx / 4), height = std::max(1, t->cy / 8);
    bool focused = dw.focus >= 0 && dw.children[static_cast<std::size_t>(dw.focus)] == c;
    switch (cw.kind) {
    case ControlKind::StaticLeft:
    case ControlKind::StaticRight: {
        std::vector<std::wstring> lines = Lines(cw.text);
        for (int i = 0; i < height && i < static_cast<int>(lines.size()); ++i) {
            int pad =
                cw.kind == ControlKind::StaticRight ? std::max(0, width - CellWidth(lines[i])) : 0;
            Put(row + i, col + pad, lines[i], width - pad);
        }
        return;
    }
    case ControlKind::ProgressBar:
        DrawProgress(c, row, col, width);
        return;
    case ControlKind::ListBox:
        DrawList(dlg, c, row, col, width, height);
        return;
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        bool def = cw.kind == ControlKind::DefPushButton;
        std::wstring label = (def ? L"< " : L"[ ") + Wide(cw.text) + (def ? L" >" : L" ]");
        Put(row, col + std::max(0, (width - CellWidth(label)) / 2), label, width,
            focused ? A_REVERSE : A_NORMAL);
        return;
    }
    }
}

void DrawDialog(HWND dlg) {
    const Window& dw = *Win(dlg);
    Box b = DialogBox(dlg);
    bool caption = (dw.tmpl->style & WS_CAPTION) == WS_CAPTION;
    Frame(b, Wide(dw.text), caption && (dw.tmpl->style & WS_SYSMENU));
    HWND panel = nullptr;
    for (HWND c : dw.children)
        if (Win(c)->type == WindowType::Dialog && Win(c)->visible)
            panel = c;
    HWND shown = panel ? panel : dlg;
    for (HWND c : Win(shown)->children)
        if (Win(c)->type == WindowType::Control)
            DrawControl(shown, c, b.row + 1, b.col + 1);
}

const wchar_t* IconWord(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Error:
        return L"(x) Error";
    case BoxIcon::Information:
        return L"(i) Information";
    case BoxIcon::Question:
        return L"(?) Question";
    case BoxIcon::Warning:
        break;
    }
    return L"(!) Warning";
}

void DrawMessageBox(HWND hBox) {
    const MessageBoxEvent& box = Win(hBox)->box;

    std::vector<std::wstring> lines = Lines(box.text);
    std::wstring icon = IconWord(box.icon);
    int inner = std::max(CellWidth(icon), CellWidth(Wide(box.caption)) + 6);
    for (const std::wstring& l : lines)
        inner = std::max(inner, CellWidth(l));
    inner = std::min(inner + 4, std::max(10, COLS - 2));
    int h = static_cast<int>(lines.size()) + 6, w = inner + 2;
    Box b{std::max(0, (LINES - h) / 2), std::max(0, (COLS - w) / 2), h, w};
    Frame(b, Wide(box.caption), true);
    Put(b.row + 1, b.col + 3, icon, inner - 2, A_BOLD);
    for (std::size_t i = 0; i < lines.size(); ++i)
        Put(b.row + 3 + static_cast<int>(i), b.col + 3, lines[i], inner - 2);
    Put(b.row + h - 2, b.col + (w - 6) / 2, L"[ OK ]", 6, A_REVERSE);
}

// ---- 4. The front end --------------------------------------------------------

class TerminalFrontEnd : public FrontEnd {
  public:
    void Start() override;
    void Stop() override;
    int InputFd() const override { return g_cursesActive ? STDIN_FILENO : -1; }
    void OnInput() override;
    bool Paint(bool bForce) override;
    int OnMessageBox(HWND, const MessageBoxEvent& box) override;
};

void TerminalFrontEnd::Start() {
    if (g_cursesActive)
        return;
    std::setlocale(LC_ALL, "");
    // NOTE: Korean texts need a UTF-8 locale for ncursesw to measure and draw
    // them; a terminal started under "C" or "POSIX" gets C.UTF-8 instead.
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
        std::setlocale(LC_ALL, "C.UTF-8");
    g_haveSavedTermios = ::tcgetattr(STDIN_FILENO, &g_savedTermios) == 0;
    InstallRestoreHandlers();
    if (!newterm(nullptr, stdout, stdin))
        return;
    g_cursesActive = 1;
    ParkStderr();
    raw(); // Ctrl-C arrives as a key: the close box
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(25);
    curs_set(0);
    EnableCloseSignals(true);
    MarkDirty();
}

void TerminalFrontEnd::Stop() {
    EnableCloseSignals(false);
    if (g_cursesActive) {
        g_cursesActive = 0;
        endwin();
    }
    UnparkStderr();
}

void TerminalFrontEnd::OnInput() {
    wint_t ch;
    int rc;
    while ((rc = get_wch(&ch)) != ERR) {
        if (rc == KEY_CODE_YES) {
            switch (ch) {
            case KEY_UP:
                PostKey(Key::Up);
                break;
            case KEY_DOWN:
                PostKey(Key::Down);
                break;
            case KEY_BTAB:
                PostKey(Key::BackTab);
                break;
            case KEY_ENTER:
                PostKey(Key::Enter);
                break;
            case KEY_RESIZE:
                MarkDirty();
                break;
            default:
                break;
            }
            continue;
        }
        switch (ch) {
        case L'\r':
        case L'\n':
            PostKey(Key::Enter);
            break;
        case 27:
            PostKey(Key::Escape);
            break;
        case L' ':
            PostKey(Key::Space);
            break;
        case L'\t':
            PostKey(Key::Tab);
            break;
        case 3: // Ctrl-C
            PostKey(Key::Close);
            break;
        default:
            break;
        }
    }
}

int TerminalFrontEnd::OnMessageBox(HWND, const MessageBoxEvent& box) {
    if (g_cursesActive) {
        MarkDirty();
        return -1; // open until a key answers it
    }
    // The terminal could not be taken over: report as the line front end does.
    std::string out = box.caption + ": " + BoxIconName(box.icon) + ": " + box.text + "\n";
    ssize_t r = ::write(STDERR_FILENO, out.data(), out.size());
    (void)r;
    return IDOK;
}

bool TerminalFrontEnd::Paint(bool) {
    if (!g_cursesActive)
        return true;
    erase();
    for (HWND h : TopLevelWindows()) {
        const Window& w = *Win(h);
        if (!w.visible)
            continue;
        if (w.type == WindowType::MessageBox)
            DrawMessageBox(h);
        else if (w.type == WindowType::Dialog && w.tmpl)
            DrawDialog(h);
    }
    refresh();
    return true;
}

} // namespace

std::unique_ptr<FrontEnd> MakeTerminalFrontEnd() {
    return std::make_unique<TerminalFrontEnd>();
}

std::unique_ptr<FrontEnd> ChooseFrontEnd() {
    if (::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO))
        return MakeTerminalFrontEnd();
    return MakeLineFrontEnd();
}

} // namespace tvhost
