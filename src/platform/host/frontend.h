// Host backend: the front-end seam. The host presents its windows through one
// front end chosen at start-up: the terminal front end (stdin and stdout are
// terminals), the line front end (otherwise), or the recording front end that
// component tests install. Host-only: a Win32 backend has no front ends.
#pragma once

#include "platform/wintypes.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tvhost {

// User input as the host understands it, whatever device it came from.
enum class Key {
    Enter,   // default button, or IDOK on a dialog without buttons
    Escape,  // IDCANCEL
    Close,   // the caption's close box (WM_CLOSE)
    Space,   // presses the focused button
    Tab,     // next button
    BackTab, // previous button
    Up,      // list selection
    Down,
};

enum class BoxIcon { Error, Information, Warning, Question };
// "error", "information", "warning", "question".
const char* BoxIconName(BoxIcon icon);
// The icon a message box of type nType shows (OK-only without a flag: warning).
BoxIcon BoxIconFromType(UINT nType);

struct MessageBoxEvent {
    std::string caption;
    std::string text;
    BoxIcon icon;
    UINT type;
    bool fromWorker; // asked for on another thread than the user-interface one
};

// What the host tells a front end. Every call is made on the user-interface
// thread. Windows are read through the accessors of host/window.h.
class FrontEnd {
  public:
    virtual ~FrontEnd() = default;

    virtual void Start() {}
    // Must restore the terminal (or whatever it took over); may run twice.
    virtual void Stop() {}

    // A descriptor the loop polls for user input during full modal runs (-1:
    // none), and the call made when it is readable.
    virtual int InputFd() const { return -1; }
    virtual void OnInput() {}

    // Draws the current state. Called at most once per frame while something
    // changed, and at once from UpdateWindow (bForce). Returns false to be
    // called again at a later frame (a throttled front end holding a change).
    virtual bool Paint(bool bForce) {
        (void)bForce;
        return true;
    }

    // A dialog's modal run starts (after OnInitDialog) or ends (before its
    // window is destroyed).
    virtual void OnModalStart(HWND hDlg) { (void)hDlg; }
    virtual void OnModalEnd(HWND hDlg) { (void)hDlg; }
    // A window's text or a progress bar's range or position was set.
    virtual void OnTextChanged(HWND hWnd) { (void)hWnd; }
    virtual void OnProgressChanged(HWND hWnd) { (void)hWnd; }

    // A message box is up (hBox is its window). Return a result to dismiss it
    // at once, or -1 to leave it open until input ends it (EndMessageBox).
    virtual int OnMessageBox(HWND hBox, const MessageBoxEvent& box) = 0;
};

// Installs the front end used from now on (the previous one is stopped).
void SetFrontEnd(std::unique_ptr<FrontEnd> frontEnd);
FrontEnd& GetFrontEnd();

// User input, callable from any thread: queued to the user-interface loop and
// acted on during a full modal run, at the topmost modal window (message box
// or dialog). A test injects keys this way; the front ends translate their
// devices' input into these.
void PostKey(Key key);
// Selects item nIndex of the list box of the topmost modal dialog, as Up and
// Down would.
void PostListSelection(int nIndex);

// The recording front end for component tests: captures every message box,
// every text pushed to a control and every progress-bar range and position,
// dismisses message boxes at once (IDOK, or what the script answers).
class RecordingFrontEnd : public FrontEnd {
  public:
    struct TextEvent {
        UINT nIDTemplate; // dialog the control belongs to
        int nID;          // control id (0 for a dialog's own caption)
        std::string text;
    };
    struct ProgressEvent {
        UINT nIDTemplate;
        int nID;
        int low, high, pos;
    };

    std::vector<MessageBoxEvent> MessageBoxes() const;
    std::vector<TextEvent> Texts() const;
    // Every distinct text control nID took, in order (repeats of the same
    // text in a row are recorded once).
    std::vector<std::string> TextHistory(int nID) const;
    // The last text of control nID ("" when never set).
    std::string Text(int nID) const;
    std::vector<ProgressEvent> Progress(int nID) const;
    std::vector<UINT> ModalRuns() const; // template ids, in start order
    void Clear();

    // Answers message boxes (default: IDOK at once).
    void SetMessageBoxScript(std::function<int(const MessageBoxEvent&)> script);
    // Called on the user-interface thread when a dialog's modal run starts;
    // it may call PostKey / PostListSelection to drive the dialog.
    void SetModalStartScript(std::function<void(UINT nIDTemplate, HWND hDlg)> script);

    int OnMessageBox(HWND hBox, const MessageBoxEvent& box) override;
    void OnModalStart(HWND hDlg) override;
    void OnTextChanged(HWND hWnd) override;
    void OnProgressChanged(HWND hWnd) override;

  private:
    mutable std::mutex m_mutex;
    std::vector<MessageBoxEvent> m_boxes;
    std::vector<TextEvent> m_texts;
    std::vector<ProgressEvent> m_progress;
    std::vector<UINT> m_modalRuns;
    std::function<int(const MessageBoxEvent&)> m_boxScript;
    std::function<void(UINT, HWND)> m_modalScript;
};

// Installs a fresh recording front end and returns it (owned by the host).
RecordingFrontEnd& InstallRecordingFrontEnd();

// Test seams of the start-up path.
void SetAppName(const char* name);        // the message box caption
void SetSocketInitFails(bool fails);      // AfxSocketInit reports failure
void SetCommandLine(const char* cmdLine); // m_lpCmdLine of the application
void SetConnectTimeoutMs(int ms);         // CSocket::Connect's limit (20000)

} // namespace tvhost
