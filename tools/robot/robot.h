// torvane-robot: plays the player of a Windows program through its windows.
// It starts the program, watches the top-level windows of that process and
// answers them with the window messages a user's clicks and keys produce,
// printing what it sees the way the host client's line mode does. Nothing
// is injected into the program.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

namespace robot {

// The robot's own failures (bad usage, no window, timeout) end it with this
// code, which a client of this kind does not use.
constexpr int kRobotFailure = 125;

// ---- console_io.cpp: the robot's standard streams -------------------------

std::string Utf8(const std::wstring& text);
void WriteOut(const std::string& utf8); // stdout, flushed
void WriteErr(const std::string& utf8); // stderr, flushed
// "torvane-robot: error: TEXT" on stderr.
void Fail(const std::string& utf8);
// Whether stdin is an interactive console (which echoes what is typed).
bool StdinIsConsole();

// Reads one line of stdin on a thread of its own, so the robot keeps
// watching the program (and the close signals) while the player thinks.
class LineReader {
  public:
    LineReader();
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    void Start();
    // Signalled when the line (or the end of input) has arrived.
    HANDLE Done() const { return m_done; }
    // After Done: false at the end of input with nothing read.
    bool Answered() const { return m_answered; }
    const std::string& Line() const { return m_line; }

  private:
    static DWORD WINAPI Run(void* self);
    HANDLE m_done = nullptr;
    HANDLE m_thread = nullptr;
    bool m_answered = false;
    std::string m_line;
};

// Console control events (Ctrl+C, Ctrl+Break, and under Wine the SIGINT a
// Linux process receives) set this event instead of ending the robot.
HANDLE CloseRequests();

// ---- relay.cpp: the client's own output ------------------------------------

class Relay {
  public:
    Relay() = default;
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Makes the pipes; childOut and childErr are the client's ends
    // (inheritable).
    bool Open(HANDLE& childOut, HANDLE& childErr);
    // Passes on what is waiting, without blocking.
    void Pump();

  private:
    HANDLE m_out = nullptr;
    HANDLE m_err = nullptr;
};

// ---- windows.cpp: reading and working the program's windows ---------------

enum class WindowKind { MessageBox, ListDialog, Other };

struct Control {
    HWND hwnd;
    std::wstring cls; // window class, as GetClassNameW gives it
    int id;
    LONG style;
    RECT rect; // screen coordinates
};

// The process's visible top-level windows, topmost first.
std::vector<HWND> VisibleTopWindows(DWORD pid);
// Direct children (not grandchildren).
std::vector<Control> Children(HWND parent);
// The same, as first read for this window (see windows.cpp): the style's
// WS_VISIBLE may be old.
std::vector<Control> Controls(HWND parent);
// The controls (and their controls) read so far for this window, as read,
// with no look at the window now.
std::vector<HWND> KnownControls(HWND parent);
// Drops what was read of windows that are gone.
void ForgetClosedWindows();
WindowKind Classify(HWND hwnd);
// The text a window (a control, a caption) shows.
std::wstring TextOf(HWND hwnd);
bool IsClass(const Control& c, const wchar_t* cls);
// Where a dialog keeps its texts: a visible child dialog (a panel shown
// over the window) stands in for the window's own controls.
HWND TextHolder(HWND dlg);
// The static texts of a window in reading order: a row joined by spaces,
// rows by ", ".
std::wstring TextsLine(HWND holder);
// The message box's text, line breaks as '\n'.
std::wstring MessageBoxText(HWND box);
std::vector<std::wstring> ListItems(HWND list);
int ListSelection(HWND list);
// As a click on the item would: select it and notify the dialog.
void SelectListItem(HWND dlg, const Control& list, int index);
// The button a click on which ends the dialog the way its name says.
HWND DefaultButton(HWND dlg);
HWND CancelButton(HWND dlg);
HWND OkButton(HWND box);
void Click(HWND button);
// As a click on the caption's close box would.
void PressCloseBox(HWND hwnd);

// ---- box_icon.cpp: which icon a message box shows --------------------------

// Connects to the window system and draws the system icons once, before the
// client starts: the first look at the client's windows is then as quick as
// the others (a first look costs a fifth of a second under Wine, long enough
// to miss a short-lived panel).
void WarmUp();
// "error", "information", "warning" or "question" by the pixels on screen
// compared with the system's icons; "none" when the box shows no icon;
// "unknown" when the picture cannot be read (no display).
std::string BoxIconName(HWND box);

// ---- timings.cpp: when things happened (--timings FILE) -------------------

// Records to path from now on; false when the file cannot be made.
bool OpenTimings(const std::wstring& path);
// The moment the times count from: the client's start.
void StartClock();
// With no file open these do nothing.
void Mark(const std::string& event); // "event MS EVENT"
double ClockMs();                    // 0 with no file open
void NoteLook(double waitedMs);      // each look, after a wait of waitedMs
void NoteStepStart();                // a whole step (see follower.cpp)
void NoteStepEnd();
// Writes the events and the gaps between looks and steps.
void WriteTimings();

// ---- follower.cpp ----------------------------------------------------------

// Follows the started process until it ends, passing on its output; returns
// the robot's exit code. A message box is answered holdMs after its line.
int Follow(const PROCESS_INFORMATION& process, Relay& relay, DWORD timeoutMs, DWORD holdMs);

} // namespace robot
