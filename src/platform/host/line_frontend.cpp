// Host backend: the line front end, used when stdin or stdout is not a
// terminal (scripts, CI, the end-to-end tests). Message boxes go to stderr as
// "CAPTION: ICON: TEXT" and are dismissed at once; a dialog's texts (and the
// status its caption carries) go to stdout as one line once they differ from
// what the dialog opened with, at most four times a second and always in
// their final state; SIGINT and SIGTERM act as the close box (event_loop.cpp); a dialog
// with a list box prints the list and takes one line from stdin.
#include "platform/host/event_loop.h"
#include "platform/host/frontends.h"
#include "platform/host/window.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace tvhost {

namespace {

constexpr std::int64_t kLineIntervalMs = 250;

bool IsTextControl(HWND c) {
    const Window& w = *Win(c);
    return w.type == WindowType::Control &&
           (w.kind == ControlKind::StaticLeft || w.kind == ControlKind::StaticRight);
}

HWND ShownChildPanel(HWND dlg) {
    for (HWND c : Win(dlg)->children)
        if (Win(c)->type == WindowType::Dialog && Win(c)->visible)
            return c;
    return nullptr;
}

HWND FirstList(HWND dlg) {
    for (HWND c : Win(dlg)->children)
        if (Win(c)->type == WindowType::Control && Win(c)->kind == ControlKind::ListBox)
            return c;
    return nullptr;
}

bool ReadLine(std::string& line) {
    line.clear();
    for (;;) {
        char c;
        ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            return false; // a close signal: treated as cancel
        if (n <= 0)
            return !line.empty();
        if (c == '\n')
            return true;
        if (c != '\r')
            line += c;
    }
}

class LineFrontEnd : public FrontEnd {
  public:
    void Start() override;
    void Stop() override;
    bool Paint(bool bForce) override;
    void OnModalStart(HWND hDlg) override;
    void OnModalEnd(HWND hDlg) override;
    int OnMessageBox(HWND hBox, const MessageBoxEvent& box) override;

  private:
    void Emit(const std::string& line);
    // Prints the current state if a throttled change is still unprinted, so
    // that what follows (a message box, the list prompt) comes after it.
    void FlushPending();
    void AskForListItem(HWND dlg, HWND list);
    // The line of the dialog on top; false when there is none to print, or
    // when this is the first look at that dialog.
    bool CurrentLine(std::string& line);

    std::string m_last;
    std::int64_t m_lastTime = 0;
    // Dialogs looked at already. The first look finds what the dialog opened
    // with (the "0/0" counters before anything arrived): nothing worth a
    // line, so it only becomes the line to differ from.
    std::vector<HWND> m_seen;
};

void LineFrontEnd::Start() {
    EnableCloseSignals(true);
}

void LineFrontEnd::Stop() {
    EnableCloseSignals(false);
}

bool LineFrontEnd::CurrentLine(std::string& line) {
    const auto& top = TopLevelWindows();
    for (auto it = top.rbegin(); it != top.rend(); ++it) {
        HWND h = *it;
        if (Win(h)->type != WindowType::Dialog || !Win(h)->visible || FirstList(h))
            continue;
        line = DialogLine(h);
        if (std::find(m_seen.begin(), m_seen.end(), h) == m_seen.end()) {
            m_seen.push_back(h);
            m_last = line;
            return false;
        }
        return !line.empty() && line != m_last;
    }
    return false;
}

void LineFrontEnd::Emit(const std::string& line) {
    m_last = line;
    m_lastTime = NowMs();
    std::string out = line + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

bool LineFrontEnd::Paint(bool bForce) {
    std::string line;
    if (!CurrentLine(line))
        return true;
    if (!bForce && NowMs() - m_lastTime < kLineIntervalMs)
        return false; // held: the loop calls again at a later frame
    Emit(line);
    return true;
}

void LineFrontEnd::FlushPending() {
    std::string line;
    if (CurrentLine(line))
        Emit(line);
}

void LineFrontEnd::OnModalStart(HWND hDlg) {
    if (HWND list = FirstList(hDlg)) {
        FlushPending();
        AskForListItem(hDlg, list);
    }
}

void LineFrontEnd::OnModalEnd(HWND hDlg) {
    if (FirstList(hDlg))
        return;
    // A dialog never looked at before (it ended within its first frame)
    // still leaves its final line.
    m_seen.erase(std::remove(m_seen.begin(), m_seen.end(), hDlg), m_seen.end());
    std::string line = DialogLine(hDlg);
    if (!line.empty() && line != m_last)
        Emit(line);
}

// One answer decides: an empty line takes the current selection, a number
// picks that item, and anything else ("q", a bad number, end of input, a
// close signal) cancels. A script that sent the wrong line must not have a
// later line of its input taken as the answer.
void LineFrontEnd::AskForListItem(HWND dlg, HWND list) {
    const Window& lw = *Win(list);
    std::string out = Win(dlg)->text + "\n";
    for (std::size_t i = 0; i < lw.items.size(); ++i)
        out += "  " + std::to_string(i + 1) + ". " + lw.items[i].text + "\n";
    int n = static_cast<int>(lw.items.size());
    out += lw.sel >= 0 ? "Number (Enter: " + std::to_string(lw.sel + 1) + ", q: cancel): "
                       : std::string("Enter to go on, q to cancel: ");
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    std::string line;
    const bool bAnswered = ReadLine(line);
    // A terminal has echoed the answer; from a pipe or a file it would be
    // missing from the output, and what follows would run on after the prompt.
    if (!::isatty(STDIN_FILENO)) {
        std::string echo = (bAnswered ? line : std::string()) + "\n";
        std::fwrite(echo.data(), 1, echo.size(), stdout);
        std::fflush(stdout);
    }
    if (!bAnswered) {
        PostKey(Key::Escape);
        return;
    }
    char* end = nullptr;
    long k = std::strtol(line.c_str(), &end, 10);
    if (line.empty() || (*end == '\0' && k >= 1 && k <= n)) {
        if (!line.empty())
            PostListSelection(static_cast<int>(k - 1));
        PostKey(Key::Enter);
        return;
    }
    PostKey(Key::Escape);
}

int LineFrontEnd::OnMessageBox(HWND, const MessageBoxEvent& box) {
    FlushPending();
    std::string out = box.caption + ": " + BoxIconName(box.icon) + ": " + box.text + "\n";
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
    return IDOK;
}

// A caption that goes on from the template's title ("Torvane Update - 34 %
// - 3.2 MB/s") carries a status: the part after the title.
std::string CaptionStatus(HWND dlg) {
    const Window* w = Win(dlg);
    if (!w || !w->tmpl || !w->tmpl->title)
        return {};
    const std::string title = std::string(w->tmpl->title) + " - ";
    if (w->text.size() <= title.size() || w->text.compare(0, title.size(), title) != 0)
        return {};
    return w->text.substr(title.size() - 3);
}

} // namespace

std::string DialogLine(HWND dlg) {
    const std::string status = CaptionStatus(dlg);
    if (HWND panel = ShownChildPanel(dlg))
        dlg = panel;
    std::vector<HWND> texts;
    for (HWND c : Win(dlg)->children)
        if (IsTextControl(c) && Win(c)->visible && Win(c)->ctl)
            texts.push_back(c);
    std::stable_sort(texts.begin(), texts.end(), [](HWND a, HWND b) {
        const DialogControl& ta = *Win(a)->ctl;
        const DialogControl& tb = *Win(b)->ctl;
        return ta.y != tb.y ? ta.y < tb.y : ta.x < tb.x;
    });
    std::string line;
    int rowY = -1;
    for (HWND c : texts) {
        if (Win(c)->text.empty())
            continue;
        if (!line.empty())
            line += Win(c)->ctl->y == rowY ? " " : ", ";
        line += Win(c)->text;
        rowY = Win(c)->ctl->y;
    }
    return line + status;
}

std::unique_ptr<FrontEnd> MakeLineFrontEnd() {
    return std::make_unique<LineFrontEnd>();
}

} // namespace tvhost
