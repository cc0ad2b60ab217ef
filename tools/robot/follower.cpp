// The robot's watch over the program: every step (at most kStepMs apart) it
// looks at the program's visible top-level windows, prints what changed the
// way the host client's line mode prints it, and answers whatever waits for
// the player: a message box with OK, "Server Select" with a line of stdin, a
// close request with the close box. Between steps a cheap look every
// kWatchMs catches a window shown, a panel shown or the window hidden, which
// may last less than a step (an install of a few small files), and takes a
// step at once.
#include "robot.h"

#include <algorithm>
#include <memory>
#include <set>

namespace robot {

namespace {

constexpr ULONGLONG kStepMs = 10;
constexpr DWORD kWatchMs = 2;
// As often as the host's line mode prints a changing window.
constexpr ULONGLONG kLineIntervalMs = 250;
constexpr ULONGLONG kDoubleRequestMs = 300;

class Follower {
  public:
    Follower(const PROCESS_INFORMATION& p, Relay& relay, DWORD timeoutMs, DWORD holdMs)
        : m_process(p), m_relay(relay), m_deadline(GetTickCount64() + timeoutMs),
          m_timeoutMs(timeoutMs), m_holdMs(holdMs) {}
    int Run();

  private:
    bool SomethingChanged();
    int TimedOut();
    void Step();
    void Meet(HWND source);
    void FollowLine(HWND source);
    std::wstring LineOf(HWND holder) const;
    void FinalLine();
    void Emit(const std::wstring& line);
    void EmitIfNew(const std::wstring& line);
    void FlushPending();
    void AnswerBox(HWND box);
    void ReleaseHeldBoxes();
    void AskForListItem(HWND dlg);
    void TakeAnswer();
    void ActOnAnswer(bool answered, const std::string& line);
    void TakeCloseRequest(const std::vector<HWND>& windows);
    int Finish();

    PROCESS_INFORMATION m_process;
    Relay& m_relay;
    ULONGLONG m_deadline;
    DWORD m_timeoutMs;
    DWORD m_holdMs;
    bool m_sawWindow = false;
    bool m_closeRequested = false;
    HWND m_top = nullptr; // the topmost top-level window, and whether shown
    bool m_topShown = false;

    // The window whose texts make the progress lines, its last line printed
    // (at first, what it opened with) and the newest one seen (printed when
    // the interval allows, or before anything else is printed, or when the
    // window goes).
    HWND m_source = nullptr;
    HWND m_holder = nullptr;    // the source itself, or its panel
    std::wstring m_title;       // its caption without a status
    std::vector<HWND> m_panels; // the source's child dialogs
    ULONGLONG m_lastStep = 0;
    std::wstring m_emitted, m_pending;
    ULONGLONG m_lastEmit = 0;

    ULONGLONG m_lastCloseAt = 0; // when a close request was last acted on

    std::set<HWND> m_answeredBoxes;
    struct HeldBox {
        HWND box;
        ULONGLONG due;
    };
    std::vector<HeldBox> m_heldBoxes; // seen and printed, OK not pressed yet
    std::set<HWND> m_askedLists;
    HWND m_asking = nullptr; // the list dialog waiting for stdin
    std::unique_ptr<LineReader> m_reader;
    std::vector<std::unique_ptr<LineReader>> m_abandoned;
};

int Follower::Run() {
    HANDLE close = CloseRequests();
    for (;;) {
        HANDLE waits[3] = {m_process.hProcess, close, m_reader ? m_reader->Done() : nullptr};
        const double before = ClockMs();
        const DWORD r = WaitForMultipleObjects(m_reader ? 3 : 2, waits, FALSE, kWatchMs);
        NoteLook(ClockMs() - before);
        if (r == WAIT_OBJECT_0)
            return Finish();
        if (r == WAIT_OBJECT_0 + 1)
            m_closeRequested = true;
        if (r != WAIT_TIMEOUT || SomethingChanged() || GetTickCount64() - m_lastStep >= kStepMs)
            Step();
        if (GetTickCount64() >= m_deadline)
            return TimedOut();
    }
}

// A few calls that ask the window manager only, not the program. A window
// shown goes to the top: met at once, before the program changes what it
// opened with (a line the robot would otherwise take for the opening state).
bool Follower::SomethingChanged() {
    HWND top = GetTopWindow(nullptr);
    const bool topShown = top != nullptr && IsWindowVisible(top);
    if (top != m_top || topShown != m_topShown) {
        m_top = top;
        m_topShown = topShown;
        return true;
    }
    if (m_source == nullptr)
        return false;
    if (!IsWindowVisible(m_source))
        return true;
    HWND holder = m_source;
    for (HWND panel : m_panels)
        if (holder == m_source && IsWindowVisible(panel))
            holder = panel;
    return holder != m_holder;
}

int Follower::TimedOut() {
    const std::string limit = std::to_string(m_timeoutMs / 1000) + " s; it was ended";
    Fail(m_sawWindow ? "the client did not end within " + limit
                     : "the client showed no window within " + limit);
    TerminateProcess(m_process.hProcess, kRobotFailure);
    Mark("timeout");
    return kRobotFailure;
}

void Follower::Step() {
    NoteStepStart();
    m_lastStep = GetTickCount64();
    ForgetClosedWindows();
    m_relay.Pump();
    const std::vector<HWND> windows = VisibleTopWindows(m_process.dwProcessId);
    m_sawWindow = m_sawWindow || !windows.empty();
    std::vector<HWND> boxes, lists;
    HWND source = nullptr;
    for (HWND w : windows) {
        switch (Classify(w)) {
        case WindowKind::MessageBox:
            boxes.push_back(w);
            break;
        case WindowKind::ListDialog:
            lists.push_back(w);
            break;
        case WindowKind::Other:
            if (source == nullptr)
                source = w;
            break;
        }
    }
    FollowLine(source);
    for (HWND box : boxes)
        if (m_answeredBoxes.insert(box).second)
            AnswerBox(box);
    ReleaseHeldBoxes();
    for (HWND dlg : lists)
        if (m_asking == nullptr && m_askedLists.insert(dlg).second)
            AskForListItem(dlg);
    if (m_reader && WaitForSingleObject(m_reader->Done(), 0) == WAIT_OBJECT_0)
        TakeAnswer();
    if (m_closeRequested)
        TakeCloseRequest(windows);
    NoteStepEnd();
}

// The window's texts (or its panel's), then the status its caption carries
// when the caption goes on from the title: "TITLE - 34 % - 3.2 MB/s".
std::wstring Follower::LineOf(HWND holder) const {
    const std::wstring caption = TextOf(m_source);
    const std::wstring lead = m_title + L" - ";
    std::wstring status;
    if (caption.size() > lead.size() && caption.compare(0, lead.size(), lead) == 0)
        status = caption.substr(m_title.size());
    return TextsLine(holder) + status;
}

// A new window: what it shows at first is only what it opened with, not worth
// a line; the lines are its changes. A caption that already carries a status
// says the robot came late (a loaded machine): the window has changed since
// it opened, and what it shows now is the first line.
void Follower::Meet(HWND source) {
    m_source = source;
    m_holder = TextHolder(source);
    m_panels.clear();
    for (const Control& c : Controls(source))
        if (IsClass(c, L"#32770"))
            m_panels.push_back(c.hwnd);
    const std::wstring caption = TextOf(source);
    const size_t status = caption.find(L" - ");
    m_title = caption.substr(0, status);
    m_emitted = status == std::wstring::npos ? LineOf(m_holder) : std::wstring();
    Mark("window " + Utf8(caption));
    m_pending.clear();
}

void Follower::FollowLine(HWND source) {
    if (source != m_source) {
        FinalLine();
        if (m_source != nullptr)
            Mark("window-gone");
        m_pending.clear();
        m_source = nullptr;
        if (source != nullptr)
            Meet(source);
        return;
    }
    if (source == nullptr)
        return;
    HWND holder = TextHolder(source);
    const bool switched = holder != m_holder;
    if (switched) {
        Mark(holder != source ? "panel" : "panel-gone");
        // A panel shown or hidden redraws the whole window at once: what
        // was there before it (for a panel shown, the window's texts as
        // they stand beneath it), then what is there now.
        if (holder != source)
            EmitIfNew(LineOf(source));
        else
            FlushPending();
    }
    m_holder = holder;
    const std::wstring line = LineOf(holder);
    if (line.empty() || line == m_emitted) {
        m_pending.clear();
        return;
    }
    if (line != m_pending)
        Mark("change " + Utf8(line));
    m_pending = line;
    if (switched || GetTickCount64() - m_lastEmit >= kLineIntervalMs)
        Emit(line);
}

// The window that went shows its final state: a hidden window's controls
// still hold it; of a destroyed one, the last state seen. A window being
// destroyed loses its controls one by one, and what is left of it is no
// state it showed.
void Follower::FinalLine() {
    if (m_source == nullptr || !IsWindow(m_source)) {
        FlushPending();
        return;
    }
    const std::vector<HWND> known = KnownControls(m_source);
    const std::wstring line = LineOf(TextHolder(m_source));
    if (std::all_of(known.begin(), known.end(), [](HWND h) { return IsWindow(h) != FALSE; }))
        EmitIfNew(line);
    else
        FlushPending();
}

void Follower::EmitIfNew(const std::wstring& line) {
    if (!line.empty() && line != m_emitted)
        Emit(line);
}

void Follower::Emit(const std::wstring& line) {
    m_emitted = line;
    m_pending.clear();
    m_lastEmit = GetTickCount64();
    WriteOut(Utf8(line) + "\n");
}

void Follower::FlushPending() {
    EmitIfNew(m_pending);
}

void Follower::AnswerBox(HWND box) {
    FlushPending();
    m_relay.Pump(); // what the client wrote before it showed the box
    const std::string caption = Utf8(TextOf(box));
    const std::string text = Utf8(MessageBoxText(box));
    WriteErr(caption + ": " + BoxIconName(box) + ": " + text + "\n");
    Mark("box " + caption);
    m_heldBoxes.push_back({box, GetTickCount64() + m_holdMs});
}

void Follower::ReleaseHeldBoxes() {
    const ULONGLONG now = GetTickCount64();
    for (auto i = m_heldBoxes.begin(); i != m_heldBoxes.end();) {
        if (i->due > now) {
            ++i;
            continue;
        }
        if (IsWindow(i->box))
            if (HWND ok = OkButton(i->box))
                Click(ok);
        i = m_heldBoxes.erase(i);
    }
}

void Follower::AskForListItem(HWND dlg) {
    FlushPending();
    HWND list = nullptr;
    for (const Control& c : Children(dlg))
        if (list == nullptr && IsClass(c, L"ListBox"))
            list = c.hwnd;
    const std::vector<std::wstring> items = ListItems(list);
    std::string out = Utf8(TextOf(dlg)) + "\n";
    for (size_t i = 0; i < items.size(); ++i)
        out += "  " + std::to_string(i + 1) + ". " + Utf8(items[i]) + "\n";
    const int sel = ListSelection(list);
    out += sel >= 0 ? "Number (Enter: " + std::to_string(sel + 1) + ", q: cancel): "
                    : std::string("Enter to go on, q to cancel: ");
    WriteOut(out);
    Mark("list");
    m_asking = dlg;
    m_reader = std::make_unique<LineReader>();
    m_reader->Start();
}

void Follower::TakeAnswer() {
    const bool answered = m_reader->Answered();
    const std::string line = m_reader->Line();
    m_reader.reset();
    ActOnAnswer(answered, line);
}

// One answer decides: an empty line takes the current selection, a number
// picks that item, and anything else (a word, a bad number, end of input, a
// close request) cancels.
void Follower::ActOnAnswer(bool answered, const std::string& line) {
    HWND dlg = m_asking;
    m_asking = nullptr;
    // A console has echoed the answer; from a pipe it would be missing from
    // the output, and what follows would run on after the prompt.
    if (!StdinIsConsole())
        WriteOut((answered ? line : std::string()) + "\n");
    if (!IsWindow(dlg))
        return;
    const std::vector<Control> children = Children(dlg);
    const Control* list = nullptr;
    for (const Control& c : children)
        if (list == nullptr && IsClass(c, L"ListBox"))
            list = &c;
    const int n = list ? static_cast<int>(ListItems(list->hwnd).size()) : 0;
    char* end = nullptr;
    const long k = std::strtol(line.c_str(), &end, 10);
    const bool number = !line.empty() && *end == '\0' && k >= 1 && k <= n;
    if (answered && (line.empty() || number)) {
        if (number)
            SelectListItem(dlg, *list, static_cast<int>(k - 1));
        if (HWND connect = DefaultButton(dlg))
            Click(connect);
        Mark("answer connect");
        return;
    }
    if (HWND cancel = CancelButton(dlg))
        Click(cancel);
    Mark("answer cancel");
}

void Follower::TakeCloseRequest(const std::vector<HWND>& windows) {
    // One Ctrl+C from a terminal reaches both the robot and its Linux
    // launcher, which passes it on: the two are one request.
    const ULONGLONG now = GetTickCount64();
    if (m_lastCloseAt != 0 && now - m_lastCloseAt < kDoubleRequestMs) {
        m_closeRequested = false;
        return;
    }
    if (m_asking != nullptr) {
        // The read cannot be taken back: its thread keeps the reader.
        m_abandoned.push_back(std::move(m_reader));
        ActOnAnswer(false, {});
        m_closeRequested = false;
        m_lastCloseAt = now;
        return;
    }
    for (HWND w : windows) {
        if (Classify(w) == WindowKind::MessageBox)
            continue;
        PressCloseBox(w);
        m_closeRequested = false;
        m_lastCloseAt = now;
        return;
    }
    // No window yet: the request waits for one, as the close box would.
}

int Follower::Finish() {
    FlushPending();
    m_relay.Pump();
    DWORD code = 0;
    GetExitCodeProcess(m_process.hProcess, &code);
    Mark("exit " + std::to_string(code));
    if (!m_sawWindow) {
        Fail("the client ended (exit code " + std::to_string(code) + ") without showing a window");
        return kRobotFailure;
    }
    return static_cast<int>(code);
}

} // namespace

int Follow(const PROCESS_INFORMATION& process, Relay& relay, DWORD timeoutMs, DWORD holdMs) {
    Follower f(process, relay, timeoutMs, holdMs);
    return f.Run();
}

} // namespace robot
